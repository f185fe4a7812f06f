#include "RtspClients.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>

#include "Eventually.h"

namespace
{
// A socket bound on loopback at uiPort (0: any), or -1; its port in ruiPort.
int local_Bind(int iType, unsigned uiPort, unsigned& ruiPort)
{
    const int iFd = socket(AF_INET, iType, 0);
    const int iOn = 1;
    sockaddr_in oAddress{AF_INET, htons(static_cast<uint16_t>(uiPort)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t uiLength = sizeof(oAddress);
    setsockopt(iFd, SOL_SOCKET, SO_REUSEADDR, &iOn, sizeof(iOn));
    if (bind(iFd, reinterpret_cast<sockaddr*>(&oAddress), sizeof(oAddress)) != 0 ||
        getsockname(iFd, reinterpret_cast<sockaddr*>(&oAddress), &uiLength) != 0)
    {
        close(iFd);
        return -1;
    }
    ruiPort = ntohs(oAddress.sin_port);
    return iFd;
}
} // namespace

bool CanBindPort(unsigned uiPort)
{
    unsigned uiBound = 0;
    const int iFd = local_Bind(SOCK_STREAM, uiPort, uiBound);
    const bool bBound = iFd >= 0 && listen(iFd, 1) == 0;
    close(iFd);
    return bBound;
}

bool WaitPortFree(unsigned uiPort)
{
    return Eventually([uiPort] { return CanBindPort(uiPort); }, std::chrono::seconds(30));
}

unsigned PickFreePort()
{
    unsigned uiPort = 0;
    close(local_Bind(SOCK_STREAM, 0, uiPort));
    return uiPort;
}

void ExpectMovingPictures(const std::string& roUrl, int iPictures)
{
    const SRunResult oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + roUrl + " -map 0:v -frames:v " +
                                           std::to_string(iPictures) + " -f framemd5 -", 60);
    // "stream, dts, pts, duration, size, hash" per decoded picture; '#' lines are the header.
    std::istringstream oLines(oRun.oOut);
    std::multiset<std::string> oDigests;
    for (std::string oLine; std::getline(oLines, oLine);)
        if (!oLine.empty() && oLine[0] != '#')
            oDigests.insert(oLine.substr(oLine.rfind(' ') + 1));
    EXPECT_EQ("", oRun.oErr) << roUrl;
    EXPECT_EQ(size_t(iPictures), oDigests.size()) << roUrl;
    EXPECT_EQ(size_t(iPictures), std::set<std::string>(oDigests.begin(), oDigests.end()).size()) << roUrl;
}

// Colour bars over the upper two thirds (white on the left), the grey ramp below them (dark on the
// left). A frame whose two fields were left one after the other would show the ramp at line 400
// and the bars at line 900.
void ExpectPatternUpright(const std::string& roUrl)
{
    std::string oError;
    const std::string oFrames = GrabRawFrames(roUrl, 2, "gray", oError);
    ASSERT_EQ(2u * 1920 * 1080, oFrames.size()) << oError;
    std::string oShades;
    for (unsigned uiLine : {100, 400, 700, 760, 900, 1060})
    {
        std::string oSamples = oFrames.substr(1920 * (1080 + uiLine) + 20, 200);
        std::sort(oSamples.begin(), oSamples.end(), [](char c1, char c2) { return uint8_t(c1) < uint8_t(c2); });
        oShades += uint8_t(oSamples[100]) > 200 ? "bright " : uint8_t(oSamples[100]) < 80 ? "dark " : "grey ";
    }
    EXPECT_EQ("bright bright bright dark dark dark ", oShades);
}

std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat, std::string& roError)
{
    const SRunResult oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + roUrl + " -map 0:v -frames:v " +
                                           std::to_string(iFrames) + " -f rawvideo -pix_fmt " + roPixelFormat + " -", 60);
    roError = oRun.oErr + (oRun.iExitCode != 0 ? "exit code " + std::to_string(oRun.iExitCode) : "");
    return oRun.oOut;
}

// ---- CRawRtspClient ------------------------------------------------------------------------------

bool IsOk(const std::string& roResponse)
{
    return roResponse.compare(0, 12, "RTSP/1.0 200") == 0;
}

bool CRawRtspClient::Connect()
{
    Close();
    // rtsp://127.0.0.1:<port>/...
    sockaddr_in oAddress{AF_INET, htons(static_cast<uint16_t>(atoi(m_oUrl.c_str() + m_oUrl.find(':', 7) + 1))),
                         {htonl(INADDR_LOOPBACK)}, {}};
    m_iFd = socket(AF_INET, SOCK_STREAM, 0);
    return connect(m_iFd, reinterpret_cast<sockaddr*>(&oAddress), sizeof(oAddress)) == 0;
}

void CRawRtspClient::Close()
{
    m_aiUdpFds.push_back(m_iFd);
    for (int iFd : m_aiUdpFds)
        if (iFd >= 0)
            close(iFd);
    m_aiUdpFds.clear();
    m_iFd = -1;
    m_oPending.clear();
}

std::string CRawRtspClient::Request(const std::string& roMethod, const std::string& roHeaders, const std::string& roSuffix)
{
    const std::string oRequest = roMethod + " " + m_oUrl + roSuffix + " RTSP/1.0\r\nCSeq: " + std::to_string(m_iCSeq++) +
                                 "\r\n" + (m_oSession.empty() ? "" : "Session: " + m_oSession + "\r\n") + roHeaders + "\r\n";
    if (send(m_iFd, oRequest.data(), oRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(oRequest.size()))
        return "";
    // Until a whole response (headers and announced body) is there; interleaved RTP ('$' frames)
    // before it is skipped.
    for (int iPoll = 0; iPoll < 100; ++iPoll)
    {
        size_t uiFrame = 0;
        while (m_oPending.size() >= 4 && m_oPending[0] == '$' &&
               m_oPending.size() >= (uiFrame = 4 + static_cast<size_t>(static_cast<unsigned char>(m_oPending[2]) << 8 | static_cast<unsigned char>(m_oPending[3]))))
            m_oPending.erase(0, uiFrame);
        const size_t uiHeaders = m_oPending.find("\r\n\r\n");
        const size_t uiLength = m_oPending.find("Content-Length:");
        const size_t uiEnd = uiHeaders + 4 + (uiLength < uiHeaders ? strtoul(m_oPending.c_str() + uiLength + 15, nullptr, 10) : 0);
        if (!m_oPending.empty() && m_oPending[0] != '$' && uiHeaders != std::string::npos && m_oPending.size() >= uiEnd)
        {
            const std::string oResponse = m_oPending.substr(0, uiEnd);
            m_oPending.erase(0, uiEnd);
            const size_t uiSession = oResponse.find("Session: ");
            if (uiSession < uiHeaders)
                m_oSession = oResponse.substr(uiSession + 9, oResponse.find_first_of(";\r", uiSession) - uiSession - 9);
            return oResponse;
        }
        pollfd oPoll{m_iFd, POLLIN, 0};
        if (poll(&oPoll, 1, 100) <= 0)
            continue;
        char acData[65536];
        const ssize_t iRead = recv(m_iFd, acData, sizeof(acData), 0);
        if (iRead <= 0)
            return "";
        m_oPending.append(acData, static_cast<size_t>(iRead));
    }
    return "";
}

bool CRawRtspClient::Play(int iStreams, bool bUdp)
{
    if (!Connect())
        return false;
    const std::string oDescribe = Request("DESCRIBE");
    bool bOk = IsOk(oDescribe);
    m_oSdp = bOk ? oDescribe.substr(oDescribe.find("\r\n\r\n") + 4) : "";
    for (int i = 0; i < iStreams && bOk; ++i)
    {
        std::string oTransport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * i) + "-" + std::to_string(2 * i + 1);
        if (bUdp)
        {
            // RTP and RTCP ports; the first is stream 0's RTP, which NextPacket reads.
            unsigned auiPorts[2] = {0, 0};
            for (unsigned& ruiPort : auiPorts)
                m_aiUdpFds.push_back(local_Bind(SOCK_DGRAM, 0, ruiPort));
            oTransport = "RTP/AVP;unicast;client_port=" + std::to_string(auiPorts[0]) + "-" + std::to_string(auiPorts[1]);
        }
        bOk = IsOk(Request("SETUP", "Transport: " + oTransport + "\r\n", "/stream=" + std::to_string(i)));
    }
    return bOk && IsOk(Request("PLAY", "Range: npt=0-\r\n"));
}

std::string CRawRtspClient::NextPacket(int iTimeoutMs)
{
    char acData[65536];
    if (!m_aiUdpFds.empty())
    {
        pollfd oPoll{m_aiUdpFds[0], POLLIN, 0};
        const ssize_t iRead = poll(&oPoll, 1, iTimeoutMs) > 0 ? recv(oPoll.fd, acData, sizeof(acData), 0) : 0;
        return std::string(acData, static_cast<size_t>(iRead > 0 ? iRead : 0));
    }
    // Interleaved: the next '$' frame of channel 0 on the connection.
    const auto oDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    for (;;)
    {
        size_t uiFrame = 0;
        while (m_oPending.size() >= 4 && m_oPending[0] == '$' &&
               m_oPending.size() >= (uiFrame = 4 + (static_cast<size_t>(static_cast<unsigned char>(m_oPending[2])) << 8 |
                                                    static_cast<unsigned char>(m_oPending[3]))))
        {
            const bool bChannel0 = m_oPending[1] == 0;
            std::string oPacket = m_oPending.substr(4, uiFrame - 4);
            m_oPending.erase(0, uiFrame);
            if (bChannel0)
                return oPacket;
        }
        const int iLeft = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               oDeadline - std::chrono::steady_clock::now()).count());
        pollfd oPoll{m_iFd, POLLIN, 0};
        if (iLeft <= 0 || poll(&oPoll, 1, iLeft) <= 0)
            return "";
        const ssize_t iRead = recv(m_iFd, acData, sizeof(acData), 0);
        if (iRead <= 0)
            return "";
        m_oPending.append(acData, static_cast<size_t>(iRead));
    }
}

int H264NalType(const std::string& roRtpPacket)
{
    if (roRtpPacket.size() < 12)
        return -1;
    const unsigned char* pbyPacket = reinterpret_cast<const unsigned char*>(roRtpPacket.data());
    size_t uiAt = 12 + 4 * (pbyPacket[0] & 0x0f);
    if ((pbyPacket[0] & 0x10) != 0 && roRtpPacket.size() >= uiAt + 4)
        uiAt += 4 + 4 * (pbyPacket[uiAt + 2] << 8 | pbyPacket[uiAt + 3]);
    if (roRtpPacket.size() < uiAt + 2)
        return -1;
    const int iType = pbyPacket[uiAt] & 0x1f;
    if (iType == 28)
        return pbyPacket[uiAt + 1] & 0x1f;  // a fragment: the type of the unit it cuts
    if (iType == 24 && roRtpPacket.size() >= uiAt + 4)
        return pbyPacket[uiAt + 3] & 0x1f;  // an aggregate: the type of its first unit
    return iType;
}
