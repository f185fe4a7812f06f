// The RTSP side with real GStreamer, real threads and raw clients on loopback: every pipeline is
// reported before its first buffer and after it is gone, whatever the client does; the factory's
// subscriptions; stops and starts that leave no thread, socket or connection behind; the audio
// stream's drain thread stopped in every state.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <thread>

#include "H264TestSource.h"
#include "LibraryLog.h"
#include "ProcessResources.h"
#include "RtspClients.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "gst-components/RTSPVideoServerComponent.h"

namespace
{
// The video stream with its notifications and handoffs counted.
class CObservedVideo : public RTSPVideoServerComponent
{
public:
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override
    {
        if (poPipeline != nullptr)
        {
            iHandoffsAtCreation = iHandoffs.load();
            ++iCreated;
        }
        const OMX_ERRORTYPE eError = RTSPVideoServerComponent::PipelineCreated(poPipeline);
        iDeleted += poPipeline == nullptr ? 1 : 0;
        bPipeline = poPipeline != nullptr;
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
    std::atomic<bool> bPipeline{false};
};

// Test source -> observed video stream -> server on a free port of loopback, torn down as the
// control API does: the server, the head of the chain, then every Deinit.
struct SServingGraph
{
    SServingGraph()
    {
        gst_init(nullptr, nullptr);
        SetInfoMessageLevel(0);
        EXPECT_EQ(OMX_ErrorNone, oServer.Init());
        EXPECT_EQ(OMX_ErrorNone, oVideo.Init());
        EXPECT_EQ(OMX_ErrorNone, oSource.Init());
        EXPECT_EQ(OMX_ErrorNone, oSource.ConnectTo(0, &oVideo, 0));
        EXPECT_EQ(OMX_ErrorNone, oSource.Start());
        EXPECT_EQ(OMX_ErrorNone, oServer.AddStreamingComponent(&oVideo));
        EXPECT_EQ(OMX_ErrorNone, oServer.SetPortInfo("/Video320x240@60fps", uiPort));
        EXPECT_EQ(OMX_ErrorNone, oServer.StartServing(false));
    }
    ~SServingGraph()
    {
        oServer.StopServing();
        oSource.Stop();
        oSource.Deinit();
        oVideo.Deinit();
        oServer.Deinit();
    }
    bool WaitPipeline(bool bExists)
    {
        return Eventually([&] { return oVideo.bPipeline == bExists; });
    }

    CH264TestSource oSource;
    CObservedVideo oVideo;
    GStreamerRTSPServer oServer;
    const unsigned uiPort = PickFreePort();
    const std::string oUrl = "rtsp://127.0.0.1:" + std::to_string(uiPort) + "/Video320x240@60fps";
};

const char* const local_szTcp = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
} // namespace

TEST(RtspServing, EveryPipelineIsReportedBeforeItsFirstBufferAndAfterItIsGoneWhateverTheClientDoes)
{
    SServingGraph oGraph;
    oGraph.oVideo.SetVerboseOn(1);
    // A client plays and tears down; one leaves after the description alone; one after the
    // set-up; one after a play and a pause.
    for (int iRound = 1; iRound <= 4; ++iRound)
    {
        SCOPED_TRACE(iRound);
        CRawRtspClient oClient(oGraph.oUrl);
        const int iHandoffs = oGraph.oVideo.iHandoffs;
        bool bStarted = false;
        {
            // Verbose: the pipeline's property changes are printed.
            COutputCapture oVerbose(STDOUT_FILENO);
            bStarted = (iRound == 1 || iRound == 4) ? oClient.Play()
                                                    : oClient.Connect() && IsOk(oClient.Request("DESCRIBE")) &&
                                                          (iRound == 2 || IsOk(oClient.Request("SETUP", local_szTcp, "/stream=0")));
            bStarted = bStarted && oGraph.WaitPipeline(true);
            EXPECT_TRUE(Has(oVerbose.Finish(), "/GstPipeline:media-pipeline"));
        }
        ASSERT_TRUE(bStarted);
        EXPECT_EQ(iRound, oGraph.oVideo.iCreated);
        EXPECT_EQ(iHandoffs, oGraph.oVideo.iHandoffsAtCreation);
        if (iRound == 1)
        {
            EXPECT_TRUE(Eventually([&] { return oGraph.oVideo.iHandoffs > iHandoffs + 10; }));
            EXPECT_TRUE(IsOk(oClient.Request("TEARDOWN")));
        }
        if (iRound == 4)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(IsOk(oClient.Request("PAUSE")));
        }
        oClient.Close();
        ASSERT_TRUE(oGraph.WaitPipeline(false));
        EXPECT_EQ(iRound, oGraph.oVideo.iDeleted);
        EXPECT_FALSE(oGraph.oServer.IsPlaying());
    }
    // A client that asks just as the playing one leaves gets the description, never a refusal.
    for (int iRound = 0; iRound < 8; ++iRound)
    {
        CRawRtspClient oPlayer(oGraph.oUrl);
        ASSERT_TRUE(oPlayer.Play());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(IsOk(oPlayer.Request("TEARDOWN")));
        oPlayer.Close();
        CRawRtspClient oNext(oGraph.oUrl);
        ASSERT_TRUE(oNext.Connect());
        const std::string oAnswer = oNext.Request("DESCRIBE");
        EXPECT_TRUE(IsOk(oAnswer)) << "round " << iRound << ":\n" << oAnswer;
        oNext.Close();
        EXPECT_TRUE(oGraph.WaitPipeline(false));
    }
    EXPECT_EQ(oGraph.oVideo.iCreated, oGraph.oVideo.iDeleted);
    // A client still there at the stop: the pipeline goes with the stop.
    CRawRtspClient oLast(oGraph.oUrl);
    ASSERT_TRUE(oLast.Connect() && IsOk(oLast.Request("DESCRIBE")));
    ASSERT_TRUE(oGraph.WaitPipeline(true));
    EXPECT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    EXPECT_FALSE(oGraph.oVideo.bPipeline);
    EXPECT_EQ(oGraph.oVideo.iCreated, oGraph.oVideo.iDeleted);
}

namespace
{
// A subscriber of a factory: what it was told.
struct SSubscriber
{
    std::atomic<int> iCreated{0};
    std::atomic<int> iDeleted{0};
    std::atomic<bool> bBuiltNotStarted{false};
    GstRtspMediaFactoryCallback oRecord{CallbackNotified, this};

    static void CallbackNotified(GstElement* poPipeline, gpointer pvSelf)
    {
        auto* poSelf = static_cast<SSubscriber*>(pvSelf);
        if (poPipeline == nullptr)
        {
            ++poSelf->iDeleted;
            return;
        }
        ++poSelf->iCreated;
        // A pipeline built from the launch line, its source there and not started.
        GstElement* poSource = GST_IS_PIPELINE(poPipeline) ? gst_bin_get_by_name(GST_BIN(poPipeline), "source") : nullptr;
        GstState eState = GST_STATE_VOID_PENDING;
        if (poSource != nullptr)
        {
            gst_element_get_state(poSource, &eState, nullptr, 0);
            gst_object_unref(poSource);
        }
        poSelf->bBuiltNotStarted = eState == GST_STATE_NULL;
    }
};
} // namespace

TEST(RtspServing, TheFactoryTellsEverySubscriberOfTheBuiltPipelineAndOnceOfItsEnd)
{
    gst_init(nullptr, nullptr);
    GstRTSPServer* poServer = gst_rtsp_server_new();
    GstRTSPMediaFactory* poFactory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(poFactory, "( videotestsrc name=source is-live=true ! video/x-raw,width=64,height=48 "
                                                 "! rtpvrawpay name=pay0 pt=96 )");
    gst_rtsp_media_factory_set_shared(poFactory, TRUE);
    SSubscriber aoSubscribers[2];
    for (SSubscriber& roSubscriber : aoSubscribers)
        gst_rtsp_media_factory_subscribe_callback(poFactory, &roSubscriber.oRecord);
    gst_rtsp_media_factory_subscribe_callback(poFactory, nullptr);
    gst_rtsp_media_factory_subscribe_callback(nullptr, &aoSubscribers[0].oRecord);
    GstRTSPUrl* poUrl = nullptr;
    ASSERT_EQ(GST_RTSP_OK, gst_rtsp_url_parse("rtsp://127.0.0.1/test", &poUrl));
    for (int iRound = 1; iRound <= 2; ++iRound)
    {
        GstRTSPMedia* poMedia = gst_rtsp_media_factory_construct(poFactory, poUrl);
        ASSERT_NE(nullptr, poMedia);
        for (SSubscriber& roSubscriber : aoSubscribers)
        {
            EXPECT_EQ(iRound, roSubscriber.iCreated);
            EXPECT_TRUE(roSubscriber.bBuiltNotStarted);
            EXPECT_EQ(iRound - 1, roSubscriber.iDeleted);
        }
        GstRTSPThreadPool* poPool = gst_rtsp_server_get_thread_pool(poServer);
        ASSERT_TRUE(gst_rtsp_media_prepare(poMedia, gst_rtsp_thread_pool_get_thread(poPool, GST_RTSP_THREAD_TYPE_MEDIA, nullptr)));
        g_object_unref(poPool);
        ASSERT_TRUE(gst_rtsp_media_unprepare(poMedia));
        EXPECT_TRUE(Eventually([&] { return aoSubscribers[1].iDeleted == iRound; }));
        g_object_unref(poMedia);  // told once, not again when the media goes
        for (SSubscriber& roSubscriber : aoSubscribers)
            EXPECT_EQ(iRound, roSubscriber.iDeleted);
    }
    gst_rtsp_url_free(poUrl);
    g_object_unref(poFactory);
    g_object_unref(poServer);
}

TEST(RtspServing, StopsAndStartsOnOnePortLeaveNoThreadSocketOrConnection)
{
    SServingGraph oGraph;
    const std::vector<std::string> aoPlayer = {"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp",
                                               "-i", oGraph.oUrl, "-f", "framecrc", "-"};
    SProcessResources oBefore;
    for (int iCycle = 0; iCycle < 10; ++iCycle)
    {
        SCOPED_TRACE(iCycle);
        // Every other cycle a real client decodes and leaves on the end-of-stream; the others only
        // ask for the options. The first cycle makes what the libraries keep for good.
        std::unique_ptr<CChildProcess> poPlayer;
        if (iCycle % 2 == 0)
        {
            poPlayer = std::make_unique<CChildProcess>(aoPlayer, 60);
            ASSERT_TRUE(Eventually([&] { return CountOccurrences(poPlayer->Out(), "\n0,") > 5; })) << poPlayer->Err();
        }
        CRawRtspClient oClient(oGraph.oUrl);
        ASSERT_TRUE(oClient.Connect() && IsOk(oClient.Request("OPTIONS")));
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
        // The stop closed the client's connection and the listening socket; the media is gone.
        char cByte = 0;
        EXPECT_TRUE(Eventually([&] { return recv(oClient.Fd(), &cByte, 1, MSG_DONTWAIT) == 0; }));
        EXPECT_TRUE(CanBindPort(oGraph.uiPort));
        EXPECT_FALSE(oGraph.oVideo.bPipeline);
        if (poPlayer)
        {
            EXPECT_TRUE(poPlayer->Wait(20));
            EXPECT_EQ(0, poPlayer->ExitCode()) << poPlayer->Err();
        }
        oClient.Close();
        poPlayer.reset();
        if (iCycle == 0)
            oBefore = CurrentResources();
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StartServing(false));
    }
    // The stream still flows.
    {
        CRawRtspClient oClient(oGraph.oUrl);
        ASSERT_TRUE(oClient.Play());
        const int iHandoffs = oGraph.oVideo.iHandoffs;
        EXPECT_TRUE(Eventually([&] { return oGraph.oVideo.iHandoffs > iHandoffs + 10; }));
    }
    ASSERT_TRUE(oGraph.WaitPipeline(false));
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    // The media threads of the RTSP library are pooled: the count may differ by them, never by a
    // thread a cycle.
    EXPECT_LE(CurrentResources().uiThreads, oBefore.uiThreads + 2) << Describe(CurrentResources()) << " against " << Describe(oBefore);
    EXPECT_EQ(oBefore.uiFds, CurrentResources().uiFds);
}

TEST(AudioStream, TheDrainThreadReturnsBuffersWithoutAPipelineAndStopsWhileItWaits)
{
    CH264TestSource oUpstream({320, 240, 60, 30, 4608, 3});
    RTSPAudioServerComponent oStream;
    ASSERT_EQ(OMX_ErrorNone, oStream.Init());
    ASSERT_EQ(OMX_ErrorNone, oUpstream.Init());
    ASSERT_EQ(OMX_ErrorNone, oUpstream.ConnectTo(0, &oStream, 0));
    ASSERT_EQ(OMX_ErrorNone, oStream.Execute(0));
    for (int iRun = 0; iRun < 2; ++iRun)
    {
        ASSERT_EQ(OMX_ErrorNone, oStream.StartBufferProcessing());
        const size_t uiReturned = oUpstream.Returned().size();
        for (MUINT32 i = 0; i < 3; ++i)
            EXPECT_EQ(OMX_ErrorNone, oStream.EmptyThisBuffer(oUpstream.Header(i)));
        EXPECT_TRUE(Eventually([&] { return oUpstream.Returned().size() == uiReturned + 3; }));
        // The drain thread now waits on the empty FIFO.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string oLog = Logged(2, [&] { EXPECT_EQ(OMX_ErrorNone, oStream.StopBufferProcessing()); });
        EXPECT_TRUE(Has(oLog, "Killing FakeHandoff thread\n") && Has(oLog, "FakeHandoff thread stopped\n")) << oLog;
        EXPECT_FALSE(oStream.IsBufferProcessing());
        EXPECT_FALSE(Has(Logged(2, [&] { oStream.KillFakeHandoffThread(); }), "Killing"));
    }
    oUpstream.Deinit();
    EXPECT_EQ(OMX_ErrorNone, oStream.Deinit());
}
