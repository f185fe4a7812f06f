// The server with real GStreamer and real threads: the pipeline notifications, stop and start
// cycles that leave no thread, socket or client connection behind.
#include <gtest/gtest.h>

#include <gst/gst.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "RtspTestSupport.h"
#include "RtspTestWatchdog.h"
#include "ti814x-framework.h"

namespace
{
class RtspIntegration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        gst_init(nullptr, nullptr);
        setenv("PELLIX_NET_INTERFACE", "lo", 1);
        SetInfoMessageLevel(0);
    }
};

// Plays the media over TCP with a raw client; returns once PLAY is answered.
bool Play(CRawRtspClient& roClient, const SServingGraph& roGraph)
{
    return roClient.Connect(roGraph.uiPort) &&
           roClient.Request("DESCRIBE", roGraph.Url(), "Accept: application/sdp\r\n").find("RTSP/1.0 200") == 0 &&
           roClient.Request("SETUP", roGraph.Url() + "/stream=0", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
                   .find("RTSP/1.0 200") == 0 &&
           roClient.Request("PLAY", roGraph.Url(), "Range: npt=0-\r\n").find("RTSP/1.0 200") == 0;
}

// The notification subscribed directly to a factory, for the contract of the subscription.
struct SNotifications
{
    std::atomic<int> iCreated{0};
    std::atomic<int> iDeleted{0};
    std::atomic<bool> bSourceFound{false};
    std::atomic<bool> bWasPipeline{false};
    std::atomic<GstState> eSourceState{GST_STATE_VOID_PENDING};

    static void CallbackNotified(GstElement* poPipeline, gpointer pvSelf)
    {
        auto* poSelf = static_cast<SNotifications*>(pvSelf);
        if (poPipeline == nullptr)
        {
            ++poSelf->iDeleted;
            return;
        }
        ++poSelf->iCreated;
        poSelf->bWasPipeline = GST_IS_PIPELINE(poPipeline);
        GstElement* poSource = gst_bin_get_by_name(GST_BIN(poPipeline), "source");
        poSelf->bSourceFound = poSource != nullptr;
        if (poSource != nullptr)
        {
            GstState eState = GST_STATE_VOID_PENDING;
            gst_element_get_state(poSource, &eState, nullptr, 0);
            poSelf->eSourceState = eState;
            gst_object_unref(poSource);
        }
    }
};
} // namespace

TEST_F(RtspIntegration, EveryPipelineIsReportedBeforeItsFirstBufferAndAfterItIsGone)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    int iHandoffsOfEarlierPipelines = 0;
    for (int iClient = 1; iClient <= 3; ++iClient)
    {
        CRawRtspClient oClient;
        ASSERT_TRUE(Play(oClient, oGraph));
        ASSERT_TRUE(oGraph.WaitPipeline(true, 10000));
        EXPECT_EQ(iClient, oGraph.oVideo.iCreated.load());
        // The component heard of the pipeline before any handoff of it.
        EXPECT_EQ(iHandoffsOfEarlierPipelines, oGraph.oVideo.iHandoffsAtCreation.load());
        const int iBefore = oGraph.oVideo.iHandoffsAtCreation.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_GT(oGraph.oVideo.iHandoffs.load(), iBefore);
        ASSERT_EQ(0u, oClient.Request("TEARDOWN", oGraph.Url()).find("RTSP/1.0 200"));
        oClient.Close();
        ASSERT_TRUE(oGraph.WaitPipeline(false, 10000));
        EXPECT_EQ(iClient, oGraph.oVideo.iDeleted.load());
        EXPECT_FALSE(oGraph.oServer.IsPlaying());
        iHandoffsOfEarlierPipelines = oGraph.oVideo.iHandoffs.load();
    }
    oGraph.Teardown();
}

TEST_F(RtspIntegration, TheSubscriptionIsCalledWithTheBuiltPipelineAndWithNullOnceItIsGone)
{
    GstRTSPServer* poServer = gst_rtsp_server_new();
    gst_rtsp_server_set_service(poServer, std::to_string(PickFreePort()).c_str());
    GstRTSPMediaFactory* poFactory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(poFactory, "( videotestsrc name=source is-live=true ! video/x-raw,width=64,height=48 "
                                                 "! rtpvrawpay name=pay0 pt=96 )");
    gst_rtsp_media_factory_set_shared(poFactory, TRUE);
    SNotifications oFirst;
    SNotifications oSecond;
    GstRtspMediaFactoryCallback oFirstRecord{SNotifications::CallbackNotified, &oFirst};
    GstRtspMediaFactoryCallback oSecondRecord{SNotifications::CallbackNotified, &oSecond};
    gst_rtsp_media_factory_subscribe_callback(poFactory, &oFirstRecord);
    gst_rtsp_media_factory_subscribe_callback(poFactory, &oSecondRecord);
    gst_rtsp_media_factory_subscribe_callback(poFactory, nullptr);
    gst_rtsp_media_factory_subscribe_callback(nullptr, &oFirstRecord);

    GstRTSPUrl* poUrl = nullptr;
    ASSERT_EQ(GST_RTSP_OK, gst_rtsp_url_parse("rtsp://127.0.0.1/test", &poUrl));
    for (int iRound = 1; iRound <= 2; ++iRound)
    {
        GstRTSPMedia* poMedia = gst_rtsp_media_factory_construct(poFactory, poUrl);
        ASSERT_NE(nullptr, poMedia);
        EXPECT_EQ(iRound, oFirst.iCreated.load());
        EXPECT_EQ(iRound, oSecond.iCreated.load());
        EXPECT_TRUE(oFirst.bWasPipeline.load());
        EXPECT_TRUE(oFirst.bSourceFound.load());
        // Built, not started.
        EXPECT_EQ(GST_STATE_NULL, oFirst.eSourceState.load());
        GstRTSPThreadPool* poPool = gst_rtsp_server_get_thread_pool(poServer);
        GstRTSPThread* poThread = gst_rtsp_thread_pool_get_thread(poPool, GST_RTSP_THREAD_TYPE_MEDIA, nullptr);
        g_object_unref(poPool);
        ASSERT_TRUE(gst_rtsp_media_prepare(poMedia, poThread));
        EXPECT_EQ(iRound - 1, oFirst.iDeleted.load());
        ASSERT_TRUE(gst_rtsp_media_unprepare(poMedia));
        for (int i = 0; i < 500 && oSecond.iDeleted.load() < iRound; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(iRound, oFirst.iDeleted.load());
        EXPECT_EQ(iRound, oSecond.iDeleted.load());
        // Reported once, not again when the media goes.
        g_object_unref(poMedia);
        EXPECT_EQ(iRound, oFirst.iDeleted.load());
    }
    gst_rtsp_url_free(poUrl);
    g_object_unref(poFactory);
    g_object_unref(poServer);
}

TEST_F(RtspIntegration, VerboseModePrintsThePipelinesPropertyChanges)
{
    SServingGraph oGraph;
    oGraph.oVideo.SetVerboseOn(1);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    CRawRtspClient oClient;
    CStdoutCapture oCapture;
    ASSERT_TRUE(Play(oClient, oGraph));
    ASSERT_TRUE(oGraph.WaitPipeline(true, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    oClient.Close();
    oGraph.Teardown();
    oCapture.Stop();
    // gst_object_default_deep_notify prints "/GstPipeline:...: property = value" lines.
    EXPECT_NE(std::string::npos, oCapture.Text().find("/GstPipeline:media-pipeline")) << oCapture.Text().substr(0, 2000);
}

TEST_F(RtspIntegration, FiftyStopsAndStartsOnOnePortLeaveNoThreadSocketOrConnection)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    // Warm up: the library's own pools and GStreamer's registry are made once.
    for (int i = 0; i < 2; ++i)
    {
        CBackgroundCommand oPlayer("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oGraph.Url() + " -f framecrc -", 60);
        ASSERT_TRUE(oGraph.WaitPipeline(true, 20000));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
        EXPECT_TRUE(oPlayer.Wait(20));
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StartServing(false));
    }
    const unsigned uiThreads = CountThreads();
    const unsigned uiFds = CountFds();
    for (int iCycle = 0; iCycle < 50; ++iCycle)
    {
        // One cycle in five with a real client decoding (it leaves on the end-of-stream), the
        // others with a client that only connected and asked for the options.
        CRawRtspClient oClient;
        std::unique_ptr<CBackgroundCommand> poPlayer;
        if (iCycle % 5 == 0)
        {
            poPlayer.reset(new CBackgroundCommand(
                "ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oGraph.Url() + " -f framecrc -", 60));
            for (int i = 0; i < 300 && poPlayer->Result().oOut.find("0,") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ASSERT_TRUE(oGraph.oVideo.bPipeline.load()) << iCycle;
        }
        ASSERT_TRUE(oClient.Connect(oGraph.uiPort));
        ASSERT_EQ(0u, oClient.Request("OPTIONS", oGraph.Url()).find("RTSP/1.0 200"));
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing()) << iCycle;
        // The server closed the client's connection and the listening socket.
        char abyData[4096];
        int iRead = 1;
        for (int i = 0; i < 200 && iRead != 0; ++i)
        {
            iRead = static_cast<int>(recv(oClient.Fd(), abyData, sizeof(abyData), MSG_DONTWAIT));
            if (iRead < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(0, iRead) << iCycle;
        EXPECT_TRUE(CanBindPort(oGraph.uiPort)) << iCycle;
        EXPECT_FALSE(oGraph.oVideo.bPipeline.load()) << iCycle;
        if (poPlayer)
        {
            EXPECT_TRUE(poPlayer->Wait(20)) << iCycle;
            EXPECT_EQ(0, poPlayer->Result().iExitCode) << iCycle << poPlayer->Result().oErr;
        }
        oClient.Close();
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StartServing(false)) << iCycle;
    }
    // The stream still flows after the cycles.
    {
        CRawRtspClient oClient;
        ASSERT_TRUE(Play(oClient, oGraph));
        ASSERT_TRUE(oGraph.WaitPipeline(true, 10000));
        const int iHandoffs = oGraph.oVideo.iHandoffs.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_GT(oGraph.oVideo.iHandoffs.load(), iHandoffs + 5);
        ASSERT_EQ(0u, oClient.Request("TEARDOWN", oGraph.Url()).find("RTSP/1.0 200"));
        oClient.Close();
        ASSERT_TRUE(oGraph.WaitPipeline(false, 10000));
        oGraph.oServer.StopServing();
        oGraph.oServer.StartServing(false);
    }
    // The media threads of the RTSP library are pooled and reused: the count may differ by them,
    // never by a thread per cycle.
    EXPECT_LE(CountThreads(), uiThreads + 2);
    EXPECT_EQ(uiFds, CountFds());
    oGraph.Teardown();
}

TEST_F(RtspIntegration, AClientLeavingBeforeItPlaysTakesThePipelineDownAndTheStopReturns)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    for (int iRound = 1; iRound <= 3; ++iRound)
    {
        // The pipeline is prerolled for the description, then the client goes without playing:
        // after the description alone, after the set-up, and after a pause that followed a play.
        CRawRtspClient oClient;
        ASSERT_TRUE(oClient.Connect(oGraph.uiPort));
        ASSERT_EQ(0u, oClient.Request("DESCRIBE", oGraph.Url(), "Accept: application/sdp\r\n").find("RTSP/1.0 200"));
        ASSERT_TRUE(oGraph.WaitPipeline(true, 10000));
        if (iRound >= 2)
        {
            ASSERT_EQ(0u, oClient.Request("SETUP", oGraph.Url() + "/stream=0",
                                          "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n").find("RTSP/1.0 200"));
        }
        if (iRound == 3)
        {
            ASSERT_EQ(0u, oClient.Request("PLAY", oGraph.Url(), "Range: npt=0-\r\n").find("RTSP/1.0 200"));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ASSERT_EQ(0u, oClient.Request("PAUSE", oGraph.Url()).find("RTSP/1.0 200"));
        }
        oClient.Close();
        EXPECT_TRUE(oGraph.WaitPipeline(false, 10000)) << iRound;
        EXPECT_EQ(iRound, oGraph.oVideo.iDeleted.load());
    }
    // And once more with the client still connected when the stop comes.
    CRawRtspClient oClient;
    ASSERT_TRUE(oClient.Connect(oGraph.uiPort));
    ASSERT_EQ(0u, oClient.Request("DESCRIBE", oGraph.Url(), "Accept: application/sdp\r\n").find("RTSP/1.0 200"));
    ASSERT_TRUE(oGraph.WaitPipeline(true, 10000));
    EXPECT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    EXPECT_FALSE(oGraph.oVideo.bPipeline.load());
    EXPECT_EQ(4, oGraph.oVideo.iDeleted.load());
    oGraph.Teardown();
}

TEST_F(RtspIntegration, AClientArrivingAsThePlayingClientLeavesIsServed)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    // Each round a client plays, tears down and goes; the next one asks for the description at
    // once, while the media of the first is being shut down. None may be refused, and the media
    // of every round is gone again.
    const int iRounds = 15;
    for (int iRound = 1; iRound <= iRounds; ++iRound)
    {
        CRawRtspClient oPlayer;
        ASSERT_TRUE(Play(oPlayer, oGraph)) << iRound;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(0u, oPlayer.Request("TEARDOWN", oGraph.Url()).find("RTSP/1.0 200")) << iRound;
        oPlayer.Close();
        CRawRtspClient oNext;
        ASSERT_TRUE(oNext.Connect(oGraph.uiPort));
        const std::string oAnswer = oNext.Request("DESCRIBE", oGraph.Url(), "Accept: application/sdp\r\n");
        EXPECT_EQ(0u, oAnswer.find("RTSP/1.0 200")) << "round " << iRound << ":\n" << oAnswer;
        oNext.Close();
        EXPECT_TRUE(oGraph.WaitPipeline(false, 10000)) << iRound;
    }
    EXPECT_EQ(oGraph.oVideo.iCreated.load(), oGraph.oVideo.iDeleted.load());
    EXPECT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    oGraph.Teardown();
}
