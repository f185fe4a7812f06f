// Helpers of the audio stream's tests: the audio stream with its handoffs and buffers counted,
// and the serving graph of the appliance's audio branch (ALSA capture -> AAC encoder -> audio
// stream), optionally beside the video stream fed by the H.264 test source, added to the server
// in the control API's order (audio first: pay0, pt 96; video: pay1, pt 97).
#ifndef AUDIO_TEST_SUPPORT_H
#define AUDIO_TEST_SUPPORT_H

#include <atomic>
#include <memory>
#include <string>

#include "AlsaTestEnvironment.h"
#include "AudioSignalCheck.h"
#include "RtspTestSupport.h"
#include "gen-components/ALSAAudioCapture.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "ti-components/DSPAudioEncoder.h"

class CObservedAudioComponent : public RTSPAudioServerComponent
{
public:
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override;
    OMX_ERRORTYPE Handoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* poPad) override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;

    bool IsFifoEmpty() const { return m_oFifoBuffer.IsEmpty(); }
    // A header of the upstream port this stream is connected to.
    OMX_BUFFERHEADERTYPE* UpstreamHeader(MUINT32 uiIndex) const { return m_oInput.GetRemotePort()->GetBufferHeader(uiIndex); }
    bool IsDrainThreadRunning() const { return m_bFakeHandoffThreadStarted != 0; }

    std::atomic<int> iCreated{0};
    std::atomic<int> iDeleted{0};
    std::atomic<bool> bPipeline{false};
    std::atomic<long> iHandoffs{0};
    std::atomic<long> iArrived{0};       // encoded buffers that reached the stream
    std::atomic<long> iDelivered{0};     // handoffs that delivered a frame
    std::atomic<long> iEmptyHandoffs{0}; // handoffs that sent an empty buffer
};

struct SAudioServingGraph
{
    SAudioServingGraph(bool bWithVideo, EPlaybackOutput ePlaybackOutput = AudioOut_Disabled);
    ~SAudioServingGraph();

    // Everything up to the running capture; no server.
    OMX_ERRORTYPE BuildChain();
    // The chain and the server on the given port.
    OMX_ERRORTYPE Build(unsigned uiPort, const char* szPath = "/Video320x240@60fps_audio");
    void Teardown();
    std::string Url() const;
    bool WaitPipeline(bool bExists, int iWaitMs);

    const bool bWithVideo;
    const EPlaybackOutput ePlaybackOutput;
    CALSAAudioCapture oCapture;
    CDSPAudioEncoder oEncoder;
    CObservedAudioComponent oAudio;
    std::unique_ptr<CH264TestSource> poVideoSource;
    std::unique_ptr<CObservedVideoComponent> poVideo;
    GStreamerRTSPServer oServer;
    unsigned uiPort = 0;
    std::string oPath;
    bool bChainBuilt = false;
    bool bServing = false;
};

// An RTSP client of the audio stream alone (stream=0), its RTP over UDP on loopback.
class CAudioRtpClient
{
public:
    ~CAudioRtpClient();
    // DESCRIBE, SETUP of the audio stream, PLAY; false when a step fails.
    bool Play(const std::string& roUrl, unsigned uiServerPort);
    void Close();
    const std::string& Sdp() const { return m_oSdp; }
    // The next RTP packet, whole; empty when none came within iTimeoutMs.
    std::string NextPacket(int iTimeoutMs);

private:
    CRawRtspClient m_oRtsp;
    int m_iRtpFd = -1;
    int m_iRtcpFd = -1;
    std::string m_oSdp;
};

// An RTP packet of the audio stream: header fields and the AAC frame inside its LATM payload.
struct SAudioRtpPacket
{
    bool bValid = false;
    unsigned uiPayloadType = 0;
    unsigned uiSequence = 0;
    uint32_t uiTimestamp = 0;
    bool bMarker = false;
    std::string oFrame;  // the frame, as the LATM length in front of it announces it
};
SAudioRtpPacket ParseAudioRtpPacket(const std::string& roPacket);

// The stream's frequency and level per channel, decoded by ffmpeg from the RTSP URL: seconds of
// audio after skipping the first fifth of a second.
struct SDecodedAudio
{
    SRunResult oRun;
    size_t uiFrames = 0;
    SToneMeasure aoChannel[2];
};
SDecodedAudio DecodeAudioWithFfmpeg(const std::string& roUrl, double dSeconds);

#endif // AUDIO_TEST_SUPPORT_H
