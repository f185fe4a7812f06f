#include "AudioTestSupport.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "AudioSignalCheck.h"

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
