// A serving graph of the RTSP side alone, for the tests that link the library:
//
//   SServingGraph oGraph;            // CH264TestSource -> SObservedVideo -> server on a free port
//   CRawRtspClient oClient(oGraph.oUrl); ... oGraph.WaitPipeline(true); oGraph.oVideo.iCreated ...
//   SServingGraph oSecured(true);    // the server asks for the user's credentials
//
// Teardown (also the destructor's) stops it as the control API does.
#ifndef PELLIX_TEST_SERVING_GRAPH_H
#define PELLIX_TEST_SERVING_GRAPH_H

#include <gst/gst.h>

#include <atomic>
#include <string>

#include "Eventually.h"
#include "H264TestSource.h"
#include "RtspClients.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPVideoServerComponent.h"
#include "ti814x-framework.h"

// The video stream with its notifications and handoffs counted.
struct SObservedVideo : public RTSPVideoServerComponent
{
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override
    {
        iHandoffsAtCreation = poPipeline != nullptr ? iHandoffs.load() : iHandoffsAtCreation.load();
        const OMX_ERRORTYPE eError = RTSPVideoServerComponent::PipelineCreated(poPipeline);
        ++(poPipeline != nullptr ? iCreated : iDeleted);
        return eError;
    }
    OMX_ERRORTYPE Handoff(GstElement* poSource, GstBuffer* poBuffer, GstPad* poPad) override
    {
        ++iHandoffs;
        return RTSPVideoServerComponent::Handoff(poSource, poBuffer, poPad);
    }
    std::atomic<int> iCreated{0};
    std::atomic<int> iDeleted{0};
    std::atomic<int> iHandoffs{0};
    std::atomic<int> iHandoffsAtCreation{-1};
};

// Test source -> observed video stream -> server on a free port of loopback, torn down as the
// control API does: the server, the head of the chain, then every Deinit.
struct SServingGraph
{
    // iVerbose: the video stream's verbose mode, set before anything serves.
    explicit SServingGraph(bool bAuthentication = false, int iVerbose = 0)
    {
        gst_init(nullptr, nullptr);
        SetInfoMessageLevel(0);
        EXPECT_TRUE(oServer.Init() == OMX_ErrorNone && oVideo.Init() == OMX_ErrorNone && oSource.Init() == OMX_ErrorNone);
        EXPECT_TRUE(oSource.ConnectTo(0, &oVideo, 0) == OMX_ErrorNone && oSource.Start() == OMX_ErrorNone);
        oVideo.SetVerboseOn(iVerbose);
        EXPECT_TRUE(oServer.AddStreamingComponent(&oVideo) == OMX_ErrorNone && oServer.SetPortInfo("/Video", uiPort) == OMX_ErrorNone);
        EXPECT_EQ(OMX_ErrorNone, oServer.StartServing(bAuthentication));
    }
    ~SServingGraph() { Teardown(); }
    void Teardown()
    {
        if (!m_bServing)
            return;
        m_bServing = false;
        oServer.StopServing();
        oSource.Stop();
        oSource.Deinit();
        oVideo.Deinit();
        oServer.Deinit();
    }
    bool WaitPipeline(bool bExists)
    {
        return Eventually([&] { return (oVideo.iCreated > oVideo.iDeleted) == bExists; });
    }

    CH264TestSource oSource;
    SObservedVideo oVideo;
    GStreamerRTSPServer oServer;
    const unsigned uiPort = PickFreePort();
    const std::string oUrl = "rtsp://127.0.0.1:" + std::to_string(uiPort) + "/Video";

private:
    bool m_bServing = true;
};

#endif // PELLIX_TEST_SERVING_GRAPH_H
