#include "RtspClients.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

#include "Eventually.h"

namespace
{
// A socket bound on loopback at uiPort (0: any port); its port, or 0.
unsigned local_Bind(int& riFd, int iType, unsigned uiPort)
{
    riFd = socket(AF_INET, iType, 0);
    sockaddr_in oAddress{};
    oAddress.sin_family = AF_INET;
    oAddress.sin_port = htons(static_cast<uint16_t>(uiPort));
    oAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t uiLength = sizeof(oAddress);
    const int iOn = 1;
    if (riFd >= 0)
        setsockopt(riFd, SOL_SOCKET, SO_REUSEADDR, &iOn, sizeof(iOn));
    if (riFd < 0 || bind(riFd, reinterpret_cast<sockaddr*>(&oAddress), sizeof(oAddress)) != 0 ||
        getsockname(riFd, reinterpret_cast<sockaddr*>(&oAddress), &uiLength) != 0)
    {
        if (riFd >= 0)
            close(riFd);
        riFd = -1;
        return 0;
    }
    return ntohs(oAddress.sin_port);
}

std::string local_Lines(const std::string& roCommand, int iBoundSec, std::string& roError)
{
    const SRunResult oRun = RunCommand(roCommand, iBoundSec);
    roError = oRun.oErr + (oRun.iExitCode != 0 ? "exit code " + std::to_string(oRun.iExitCode) : "");
    return oRun.oOut;
}
} // namespace

bool CanBindPort(unsigned uiPort)
{
    int iFd = -1;
    const bool bBound = local_Bind(iFd, SOCK_STREAM, uiPort) != 0 && listen(iFd, 1) == 0;
    if (iFd >= 0)
        close(iFd);
    return bBound;
}

bool WaitPortFree(unsigned uiPort)
{
    return Eventually([uiPort] { return CanBindPort(uiPort); }, std::chrono::seconds(30));
}

unsigned PickFreePort()
{
    int iFd = -1;
    const unsigned uiPort = local_Bind(iFd, SOCK_STREAM, 0);
    if (iFd >= 0)
        close(iFd);
    return uiPort;
}

size_t CountOccurrences(const std::string& roText, const std::string& roNeedle)
{
    size_t uiCount = 0;
    for (size_t uiAt = roText.find(roNeedle); uiAt != std::string::npos; uiAt = roText.find(roNeedle, uiAt + 1))
        ++uiCount;
    return uiCount;
}

// ---- Decoding clients ------------------------------------------------------------------------

std::vector<TStreamInfo> ProbeStreams(const std::string& roUrl, std::string& roError)
{
    std::vector<TStreamInfo> aoStreams;
    std::istringstream oLines(local_Lines("ffprobe -v error -rtsp_transport tcp -show_entries stream=index,codec_type,"
                                          "codec_name,profile,width,height,r_frame_rate,sample_rate,channels "
                                          "-of default=nw=0 " + roUrl,
                                          60, roError));
    for (std::string oLine; std::getline(oLines, oLine);)
    {
        if (oLine == "[STREAM]")
            aoStreams.emplace_back();
        else if (!aoStreams.empty() && oLine.find('=') != std::string::npos)
            aoStreams.back()[oLine.substr(0, oLine.find('='))] = oLine.substr(oLine.find('=') + 1);
    }
    return aoStreams;
}

size_t SDecodeResult::FramesOf(int iStream) const
{
    size_t uiCount = 0;
    for (const SDecodedFrame& roFrame : aoFrames)
        uiCount += roFrame.iStream == iStream ? 1 : 0;
    return uiCount;
}

size_t SDecodeResult::DistinctDigestsOf(int iStream) const
{
    std::set<std::string> oDigests;
    for (const SDecodedFrame& roFrame : aoFrames)
        if (roFrame.iStream == iStream)
            oDigests.insert(roFrame.oDigest);
    return oDigests.size();
}

SDecodeResult DecodeWithFfmpeg(const std::string& roUrl, const std::string& roLimit, const std::string& roMap,
                               const std::string& roTransport)
{
    SDecodeResult oResult;
    oResult.oRun = RunCommand("ffmpeg -nostdin -v error -rtsp_transport " + roTransport + " -i " + roUrl + " -map " +
                                  roMap + " " + roLimit + " -f framemd5 -",
                              60);
    // "stream, dts, pts, duration, size, hash" per decoded frame; '#' lines are the header.
    std::istringstream oLines(oResult.oRun.oOut);
    for (std::string oLine; std::getline(oLines, oLine);)
    {
        SDecodedFrame oFrame;
        char szDigest[80] = {0};
        long long llIgnored = 0;
        if (oLine[0] != '#' && sscanf(oLine.c_str(), "%d, %lld, %lld, %lld, %ld, %79s", &oFrame.iStream, &llIgnored,
                                      &llIgnored, &llIgnored, &oFrame.lSize, szDigest) == 6)
        {
            oFrame.oDigest = szDigest;
            oResult.aoFrames.push_back(oFrame);
        }
    }
    return oResult;
}

std::string GrabRawFrames(const std::string& roUrl, int iFrames, const std::string& roPixelFormat,
                          std::string& roError)
{
    return local_Lines("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + roUrl + " -map 0:v -frames:v " +
                           std::to_string(iFrames) + " -f rawvideo -pix_fmt " + roPixelFormat + " -",
                       60, roError);
}

std::string RtspsrcCommand(const std::string& roUrl, const std::string& roProtocols, int iPictures)
{
    // identity ends the stream at the buffer after the last one it lets through; -v prints caps.
    return "gst-launch-1.0 -v rtspsrc location=" + roUrl + " protocols=" + roProtocols +
           " ! rtph264depay ! h264parse ! openh264dec ! identity eos-after=" + std::to_string(iPictures + 1) +
           " silent=false ! fakesink";
}

size_t CountRtspsrcPictures(const std::string& roOutput)
{
    return CountOccurrences(roOutput, "/GstPipeline:pipeline0/GstIdentity:identity0: last-message = chain");
}

// ---- CRawRtspClient --------------------------------------------------------------------------

bool IsOk(const std::string& roResponse)
{
    return roResponse.compare(0, 12, "RTSP/1.0 200") == 0;
}

bool CRawRtspClient::Connect()
{
    Close();
    // rtsp://<address>:<port>/...
    const size_t uiHost = m_oUrl.find("://") + 3;
    const size_t uiColon = m_oUrl.find(':', uiHost);
    sockaddr_in oAddress{};
    oAddress.sin_family = AF_INET;
    oAddress.sin_port = htons(static_cast<uint16_t>(atoi(m_oUrl.c_str() + uiColon + 1)));
    inet_pton(AF_INET, m_oUrl.substr(uiHost, uiColon - uiHost).c_str(), &oAddress.sin_addr);
    m_iFd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(m_iFd, reinterpret_cast<sockaddr*>(&oAddress), sizeof(oAddress)) == 0)
        return true;
    Close();
    return false;
}

void CRawRtspClient::Close()
{
    for (int iFd : m_aiUdpFds)
        if (iFd >= 0)
            close(iFd);
    m_aiUdpFds.clear();
    m_iRtpFd = -1;
    if (m_iFd >= 0)
        close(m_iFd);
    m_iFd = -1;
    m_oPending.clear();
}

std::string CRawRtspClient::Request(const std::string& roMethod, const std::string& roHeaders,
                                    const std::string& roSuffix)
{
    std::string oRequest = roMethod + " " + m_oUrl + roSuffix + " RTSP/1.0\r\nCSeq: " + std::to_string(m_iCSeq++) + "\r\n";
    if (!m_oSession.empty())
        oRequest += "Session: " + m_oSession + "\r\n";
    oRequest += roHeaders + "\r\n";
    if (m_iFd < 0 || send(m_iFd, oRequest.data(), oRequest.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(oRequest.size()))
        return "";
    // Until a whole response (headers and announced body) is there; interleaved RTP ('$' frames)
    // before it is skipped.
    const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < oEnd)
    {
        size_t uiFrame = 0;
        while (m_oPending.size() >= 4 && m_oPending[0] == '$' &&
               m_oPending.size() >= (uiFrame = 4 + (size_t(static_cast<unsigned char>(m_oPending[2])) << 8) + static_cast<unsigned char>(m_oPending[3])))
            m_oPending.erase(0, uiFrame);
        const size_t uiHeaderEnd = m_oPending.find("\r\n\r\n");
        if (!m_oPending.empty() && m_oPending[0] != '$' && uiHeaderEnd != std::string::npos)
        {
            const size_t uiLength = m_oPending.find("Content-Length:");
            const size_t uiEnd = uiHeaderEnd + 4 +
                                 (uiLength < uiHeaderEnd ? strtoul(m_oPending.c_str() + uiLength + 15, nullptr, 10) : 0);
            if (m_oPending.size() >= uiEnd)
            {
                const std::string oResponse = m_oPending.substr(0, uiEnd);
                m_oPending.erase(0, uiEnd);
                const size_t uiSession = oResponse.find("Session:");
                if (uiSession < uiHeaderEnd)
                {
                    const size_t uiStart = oResponse.find_first_not_of(' ', uiSession + 8);
                    m_oSession = oResponse.substr(uiStart, oResponse.find_first_of(";\r", uiStart) - uiStart);
                }
                return oResponse;
            }
        }
        pollfd oPoll{m_iFd, POLLIN, 0};
        char acData[65536];
        ssize_t iRead = 1;
        if (poll(&oPoll, 1, 100) > 0 && (iRead = recv(m_iFd, acData, sizeof(acData), 0)) > 0)
            m_oPending.append(acData, static_cast<size_t>(iRead));
        if (iRead <= 0)
            return "";
    }
    return "";
}

bool CRawRtspClient::Play(int iStreams, bool bUdp)
{
    if (!Connect())
        return false;
    const std::string oDescribe = Request("DESCRIBE", "Accept: application/sdp\r\n");
    if (!IsOk(oDescribe))
        return false;
    m_oSdp = oDescribe.substr(oDescribe.find("\r\n\r\n") + 4);
    for (int i = 0; i < iStreams; ++i)
    {
        std::string oTransport = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(2 * i) + "-" + std::to_string(2 * i + 1);
        if (bUdp)
        {
            // An even port for RTP and the next one for RTCP; the ports tried meanwhile are kept
            // until the client closes, so that they are not offered again.
            int iRtp = -1;
            int iRtcp = -1;
            unsigned uiPort = 0;
            while ((uiPort = local_Bind(iRtp, SOCK_DGRAM, 0)) != 0 &&
                   (uiPort % 2 != 0 || local_Bind(iRtcp, SOCK_DGRAM, uiPort + 1) == 0))
                m_aiUdpFds.push_back(iRtp);
            m_aiUdpFds.insert(m_aiUdpFds.end(), {iRtp, iRtcp});
            m_iRtpFd = i == 0 ? iRtp : m_iRtpFd;
            oTransport = "RTP/AVP;unicast;client_port=" + std::to_string(uiPort) + "-" + std::to_string(uiPort + 1);
        }
        if (!IsOk(Request("SETUP", "Transport: " + oTransport + "\r\n", "/stream=" + std::to_string(i))))
            return false;
    }
    return IsOk(Request("PLAY", "Range: npt=0-\r\n"));
}

std::string CRawRtspClient::NextPacket(int iTimeoutMs)
{
    pollfd oPoll{m_iRtpFd, POLLIN, 0};
    char acPacket[65536];
    const ssize_t iRead = poll(&oPoll, 1, iTimeoutMs) > 0 ? recv(oPoll.fd, acPacket, sizeof(acPacket), 0) : 0;
    return iRead > 0 ? std::string(acPacket, static_cast<size_t>(iRead)) : std::string();
}
