// The RTSP side with real GStreamer, real threads and raw clients on loopback: every pipeline is
// reported before its first buffer and after it is gone, whatever the client does, a client
// arriving as another leaves is served, and a server stopped and started again serves. (The audio
// stream's drain thread, which hands buffers back while no pipeline plays, is the control API's
// twenty cycles with audio.)
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <thread>

#include "LibraryTestSupport.h"
#include "ServingGraph.h"

TEST(RtspServing, EveryPipelineIsReportedBeforeItsFirstBufferAndAfterItIsGoneWhateverTheClientDoes)
{
    SServingGraph oGraph(false, 1);
    // A client plays and tears down; one leaves after the description alone; one after the
    // set-up; one after a play and a pause.
    for (int iRound = 1; iRound <= 4; ++iRound)
    {
        SCOPED_TRACE(iRound);
        CRawRtspClient oClient(oGraph.oUrl);
        const int iHandoffs = oGraph.oVideo.iHandoffs;
        bool bStarted = false;
        {
            COutputCapture oVerbose(STDOUT_FILENO);  // verbose: the pipeline's property changes printed
            bStarted = iRound % 3 == 1 ? oClient.Play()
                                       : oClient.Connect() && IsOk(oClient.Request("DESCRIBE")) &&
                                             (iRound == 2 || IsOk(oClient.Request("SETUP", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", "/stream=0")));
            bStarted = bStarted && oGraph.WaitPipeline(true);
            EXPECT_TRUE(Has(oVerbose.Finish(), "/GstPipeline:media-pipeline"));
        }
        ASSERT_TRUE(bStarted);
        EXPECT_EQ(iRound, oGraph.oVideo.iCreated);
        EXPECT_EQ(iHandoffs, oGraph.oVideo.iHandoffsAtCreation);
        EXPECT_TRUE(iRound != 1 || (Eventually([&] { return oGraph.oVideo.iHandoffs > iHandoffs + 10; }) && IsOk(oClient.Request("TEARDOWN"))));
        std::this_thread::sleep_for(std::chrono::milliseconds(iRound == 4 ? 200 : 0));
        EXPECT_TRUE(iRound != 4 || IsOk(oClient.Request("PAUSE")));
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
        const std::string oAnswer = oNext.Connect() ? oNext.Request("DESCRIBE") : "";
        EXPECT_TRUE(IsOk(oAnswer)) << "round " << iRound << ":\n" << oAnswer;
        oNext.Close();
        EXPECT_TRUE(oGraph.WaitPipeline(false));
    }
    // A client still there at the stop: the pipeline goes with the stop.
    CRawRtspClient oLast(oGraph.oUrl);
    ASSERT_TRUE(oLast.Connect() && IsOk(oLast.Request("DESCRIBE")) && oGraph.WaitPipeline(true));
    EXPECT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    EXPECT_EQ(oGraph.oVideo.iCreated, oGraph.oVideo.iDeleted);
    // Served again (the stop left the stream disconnected from its FIFO), a player gets frames.
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StartServing(false));
    CRawRtspClient oAgain(oGraph.oUrl);
    MUINT64 auiCounts[5] = {0};
    EXPECT_TRUE(oAgain.Play() && Eventually([&] {
        oGraph.oVideo.GetStatistics(auiCounts[0], auiCounts[1], auiCounts[2], auiCounts[3], auiCounts[4]);
        return auiCounts[2] > 10;
    }));
}
