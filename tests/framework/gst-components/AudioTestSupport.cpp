#include "AudioTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "AudioSignalCheck.h"

// ---- Race detector --------------------------------------------------------------------------
// What GLib and GStreamer do among themselves is left out (see tests/tsan.supp).
extern "C" const char* __tsan_default_options()
{
    return "suppressions=" PELLIX_SOURCE_DIR "/tests/tsan.supp";
}

#if defined(__SANITIZE_THREAD__)
namespace
{
// GLib's slice allocator hands memory from thread to thread through caches of its own, which the
// race detector cannot see: a GstBuffer's fields written by one handoff and, in a later buffer at
// the same place, by another would look like a race. With the slices taken from malloc every
// buffer is a new allocation to it. GLib reads the choice once, early, so the test program starts
// itself again with it.
__attribute__((constructor)) void local_SliceFromMalloc(int /*iArgc*/, char** aszArgv)
{
    if (getenv("G_SLICE") != nullptr)
        return;
    setenv("G_SLICE", "always-malloc", 1);
    execv("/proc/self/exe", aszArgv);
}
} // namespace
#endif

// ---- CObservedAudioComponent ----------------------------------------------------------------

OMX_ERRORTYPE CObservedAudioComponent::PipelineCreated(GstElement* poPipeline)
{
    if (poPipeline != nullptr)
        ++iCreated;
    const OMX_ERRORTYPE eError = RTSPAudioServerComponent::PipelineCreated(poPipeline);
    if (poPipeline == nullptr)
        ++iDeleted;
    bPipeline = poPipeline != nullptr;
    return eError;
}

OMX_ERRORTYPE CObservedAudioComponent::Handoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* poPad)
{
    ++iHandoffs;
    const OMX_ERRORTYPE eError = RTSPAudioServerComponent::Handoff(poFakesrc, poGstBuffer, poPad);
    if (gst_buffer_get_size(poGstBuffer) > 0 && m_bBufferProcessing)
        ++iDelivered;
    else
        ++iEmptyHandoffs;
    return eError;
}

OMX_ERRORTYPE CObservedAudioComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    ++iArrived;
    return RTSPAudioServerComponent::EmptyThisBuffer(poBufferHeader);
}

// ---- SAudioServingGraph ---------------------------------------------------------------------

SAudioServingGraph::SAudioServingGraph(bool bVideo, EPlaybackOutput ePlayback)
    : bWithVideo(bVideo), ePlaybackOutput(ePlayback)
{
    if (bWithVideo)
    {
        poVideoSource.reset(new CH264TestSource(CH264TestSource::SConfig()));
        poVideo.reset(new CObservedVideoComponent());
    }
}

SAudioServingGraph::~SAudioServingGraph()
{
    Teardown();
}

OMX_ERRORTYPE SAudioServingGraph::BuildChain()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    bChainBuilt = true;
    if ((eError = oServer.Init()) != OMX_ErrorNone)
        return eError;
    if (bWithVideo && ((eError = poVideo->Init()) != OMX_ErrorNone || (eError = poVideoSource->Init()) != OMX_ErrorNone ||
                       (eError = poVideoSource->ConnectTo(0, poVideo.get(), 0)) != OMX_ErrorNone))
        return eError;
    if ((eError = oAudio.Init()) != OMX_ErrorNone || (eError = oCapture.Init()) != OMX_ErrorNone ||
        (eError = oEncoder.Init()) != OMX_ErrorNone)
        return eError;
    oCapture.SetCaptureParams(ePlaybackOutput, SampleRate_48000Hz, NumChannels_Two);
    if ((eError = oCapture.ConnectTo(&oEncoder, 0)) != OMX_ErrorNone || (eError = oEncoder.ConnectTo(&oAudio, 0)) != OMX_ErrorNone)
        return eError;
    if (bWithVideo && (eError = poVideoSource->Start()) != OMX_ErrorNone)
        return eError;
    return oCapture.Start();
}

OMX_ERRORTYPE SAudioServingGraph::Build(unsigned uiServerPort, const char* szPath)
{
    OMX_ERRORTYPE eError = BuildChain();
    uiPort = uiServerPort;
    oPath = szPath;
    if (eError != OMX_ErrorNone || (eError = oServer.AddStreamingComponent(&oAudio)) != OMX_ErrorNone ||
        (bWithVideo && (eError = oServer.AddStreamingComponent(poVideo.get())) != OMX_ErrorNone) ||
        (eError = oServer.SetPortInfo(szPath, uiServerPort)) != OMX_ErrorNone)
        return eError;
    bServing = true;
    return oServer.StartServing(false);
}

void SAudioServingGraph::Teardown()
{
    if (!bChainBuilt)
        return;
    bChainBuilt = false;
    // As the control API stops: the server, the capture, the video head, then Deinit.
    if (bServing)
        oServer.StopServing();
    bServing = false;
    oCapture.Stop();
    if (bWithVideo)
        poVideoSource->Stop();
    oCapture.Deinit();
    oEncoder.Deinit();
    oAudio.Deinit();
    if (bWithVideo)
    {
        poVideoSource->Deinit();
        poVideo->Deinit();
    }
    oServer.Deinit();
}

std::string SAudioServingGraph::Url() const
{
    return "rtsp://127.0.0.1:" + std::to_string(uiPort) + oPath;
}

bool SAudioServingGraph::WaitPipeline(bool bExists, int iWaitMs)
{
    for (int i = 0; i < iWaitMs / 10 && oAudio.bPipeline.load() != bExists; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return oAudio.bPipeline.load() == bExists;
}

// ---- Decoding -------------------------------------------------------------------------------

SDecodedAudio DecodeAudioWithFfmpeg(const std::string& roUrl, double dSeconds)
{
    SDecodedAudio oDecoded;
    char szPath[] = "/tmp/pellix-audio-XXXXXX";
    const int iFd = mkstemp(szPath);
    if (iFd >= 0)
        close(iFd);
    char szDuration[32];
    snprintf(szDuration, sizeof(szDuration), "%.2f", dSeconds + 0.2);
    oDecoded.oRun = RunCommand("ffmpeg -nostdin -v error -y -rtsp_transport tcp -i " + roUrl + " -map 0:a -t " +
                                   szDuration + " -f s16le -acodec pcm_s16le -ac 2 -ar 48000 " + szPath,
                               60);
    std::ifstream oFile(szPath, std::ios::binary);
    std::stringstream oBytes;
    oBytes << oFile.rdbuf();
    unlink(szPath);
    const std::vector<int16_t> aiSamples = PcmSamples(oBytes.str());
    oDecoded.uiFrames = aiSamples.size() / 2;
    const size_t uiSkip = 48000 / 5;
    for (unsigned c = 0; c < 2; ++c)
        oDecoded.aoChannel[c] = MeasureTone(aiSamples, 2, c, 48000, uiSkip);
    return oDecoded;
}

// ---- CAudioRtpClient ------------------------------------------------------------------------

namespace
{
// A UDP socket on loopback at uiPort (0: any); its port, or 0 when it cannot be bound.
unsigned local_BindUdp(int& riFd, unsigned uiPort)
{
    riFd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in oAddr{};
    oAddr.sin_family = AF_INET;
    oAddr.sin_port = htons(static_cast<uint16_t>(uiPort));
    oAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t uiLength = sizeof(oAddr);
    if (riFd < 0 || bind(riFd, reinterpret_cast<sockaddr*>(&oAddr), sizeof(oAddr)) != 0 ||
        getsockname(riFd, reinterpret_cast<sockaddr*>(&oAddr), &uiLength) != 0)
    {
        if (riFd >= 0)
            close(riFd);
        riFd = -1;
        return 0;
    }
    return ntohs(oAddr.sin_port);
}
} // namespace

CAudioRtpClient::~CAudioRtpClient()
{
    Close();
}

void CAudioRtpClient::Close()
{
    m_oRtsp.Close();
    for (int* piFd : {&m_iRtpFd, &m_iRtcpFd})
    {
        if (*piFd >= 0)
            close(*piFd);
        *piFd = -1;
    }
}

bool CAudioRtpClient::Play(const std::string& roUrl, unsigned uiServerPort)
{
    // An even port for RTP and the next one for RTCP.
    unsigned uiRtpPort = 0;
    for (int iTry = 0; iTry < 50 && m_iRtcpFd < 0; ++iTry)
    {
        uiRtpPort = local_BindUdp(m_iRtpFd, 0);
        if (uiRtpPort == 0 || (uiRtpPort & 1) != 0 || local_BindUdp(m_iRtcpFd, uiRtpPort + 1) == 0)
        {
            if (m_iRtpFd >= 0)
                close(m_iRtpFd);
            m_iRtpFd = -1;
        }
    }
    if (m_iRtcpFd < 0 || !m_oRtsp.Connect(uiServerPort))
        return false;
    const std::string oDescribe = m_oRtsp.Request("DESCRIBE", roUrl, "Accept: application/sdp\r\n");
    const size_t uiBody = oDescribe.find("\r\n\r\n");
    if (oDescribe.find("RTSP/1.0 200") != 0 || uiBody == std::string::npos)
        return false;
    m_oSdp = oDescribe.substr(uiBody + 4);
    return m_oRtsp.Request("SETUP", roUrl + "/stream=0",
                           "Transport: RTP/AVP;unicast;client_port=" + std::to_string(uiRtpPort) + "-" +
                               std::to_string(uiRtpPort + 1) + "\r\n")
                   .find("RTSP/1.0 200") == 0 &&
           m_oRtsp.Request("PLAY", roUrl, "Range: npt=0-\r\n").find("RTSP/1.0 200") == 0;
}

std::string CAudioRtpClient::NextPacket(int iTimeoutMs)
{
    pollfd oPoll{m_iRtpFd, POLLIN, 0};
    if (m_iRtpFd < 0 || poll(&oPoll, 1, iTimeoutMs) <= 0)
        return "";
    char abyPacket[65536];
    const ssize_t iRead = recv(m_iRtpFd, abyPacket, sizeof(abyPacket), 0);
    return iRead > 0 ? std::string(abyPacket, static_cast<size_t>(iRead)) : std::string();
}

SAudioRtpPacket ParseAudioRtpPacket(const std::string& roPacket)
{
    SAudioRtpPacket oPacket;
    const auto* pbyData = reinterpret_cast<const unsigned char*>(roPacket.data());
    if (roPacket.size() < 12 || (pbyData[0] >> 6) != 2)
        return oPacket;
    size_t uiOffset = 12 + 4 * (pbyData[0] & 0x0F);
    if ((pbyData[0] & 0x10) != 0 && roPacket.size() >= uiOffset + 4)
        uiOffset += 4 + 4 * ((static_cast<size_t>(pbyData[uiOffset + 2]) << 8) | pbyData[uiOffset + 3]);
    oPacket.bMarker = (pbyData[1] & 0x80) != 0;
    oPacket.uiPayloadType = pbyData[1] & 0x7F;
    oPacket.uiSequence = (static_cast<unsigned>(pbyData[2]) << 8) | pbyData[3];
    oPacket.uiTimestamp = (static_cast<uint32_t>(pbyData[4]) << 24) | (static_cast<uint32_t>(pbyData[5]) << 16) |
                          (static_cast<uint32_t>(pbyData[6]) << 8) | pbyData[7];
    // LATM with the configuration out of band: the frame's length as bytes of 255 and a last
    // byte below 255, then the frame.
    size_t uiLength = 0;
    while (uiOffset < roPacket.size())
    {
        const unsigned char byLength = pbyData[uiOffset++];
        uiLength += byLength;
        if (byLength != 255)
            break;
    }
    if (uiOffset + uiLength != roPacket.size())
        return oPacket;
    oPacket.oFrame = roPacket.substr(uiOffset);
    oPacket.bValid = true;
    return oPacket;
}
