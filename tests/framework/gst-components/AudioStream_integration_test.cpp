// The audio stream in the running audio branch, without clients: the drain thread, its stop in
// every state, and a hundred starts and stops of the branch with the server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "AudioTestSupport.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "ti814x-framework.h"

namespace
{
class AudioStreamIntegration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("PELLIX_NET_INTERFACE", "lo", 1);
        SetInfoMessageLevel(0);
    }
    void TearDown() override { SetInfoMessageLevel(0); }

    CAlsaTestEnvironment m_oAlsa;
};
} // namespace

TEST_F(AudioStreamIntegration, WithoutAClientEveryEncodedBufferGoesBackAtOnce)
{
    SetInfoMessageLevel(1);
    COutputCapture oLog(STDOUT_FILENO);
    SAudioServingGraph oGraph(false);
    ASSERT_EQ(OMX_ErrorNone, oGraph.BuildChain());
    // The audio keeps its pace with nobody listening: frames keep coming, none piles up in the
    // stream, and the capture never waits for a buffer long enough to lose audio.
    ASSERT_TRUE(Eventually([&] { return oGraph.oAudio.iArrived >= 100; }));
    EXPECT_TRUE(Eventually([&] { return oGraph.oAudio.IsFifoEmpty(); }));
    EXPECT_EQ(0, oGraph.oAudio.iHandoffs.load());
    oGraph.Teardown();
    const std::string oText = oLog.Finish();
    EXPECT_EQ(0u, CountOccurrences(oText, "Timeout reached"));
    EXPECT_EQ(0u, CountOccurrences(oText, "Capture state :"));
    EXPECT_EQ(0u, CountOccurrences(oText, "Error from snd_pcm_readi()"));
}

TEST_F(AudioStreamIntegration, StopBufferProcessingWhileTheDrainThreadWaitsAndStartAgain)
{
    CH264TestSource::SConfig oConfig;
    oConfig.uiBufferSize = 4608;
    oConfig.uiBufferCount = 3;
    CH264TestSource oUpstream(oConfig);
    CObservedAudioComponent oStream;
    ASSERT_EQ(OMX_ErrorNone, oStream.Init());
    ASSERT_EQ(OMX_ErrorNone, oUpstream.Init());
    ASSERT_EQ(OMX_ErrorNone, oUpstream.ConnectTo(0, &oStream, 0));
    ASSERT_EQ(OMX_ErrorNone, oStream.Execute(0));

    for (int iRun = 0; iRun < 2; ++iRun)
    {
        ASSERT_EQ(OMX_ErrorNone, oStream.StartBufferProcessing());
        EXPECT_TRUE(oStream.IsDrainThreadRunning());
        // Headers arriving without a pipeline go straight back.
        const MUINT64 uiReturned = oUpstream.GetReturnedCount();
        for (MUINT32 i = 0; i < 3; ++i)
            EXPECT_EQ(OMX_ErrorNone, oStream.EmptyThisBuffer(oStream.UpstreamHeader(i)));
        EXPECT_TRUE(Eventually([&] { return oUpstream.GetReturnedCount() == uiReturned + 3; }));
        // Now the drain thread waits on the empty FIFO.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetInfoMessageLevel(2);
        COutputCapture oLog(STDOUT_FILENO);
        EXPECT_EQ(OMX_ErrorNone, oStream.StopBufferProcessing());
        const std::string oText = oLog.Finish();
        SetInfoMessageLevel(0);
        EXPECT_NE(std::string::npos, oText.find("Killing FakeHandoff thread\n"));
        EXPECT_NE(std::string::npos, oText.find("FakeHandoff thread stopped\n"));
        EXPECT_FALSE(oStream.IsDrainThreadRunning());
        EXPECT_FALSE(oStream.IsBufferProcessing());
    }
    oUpstream.Deinit();
    EXPECT_EQ(OMX_ErrorNone, oStream.Deinit());
}

TEST_F(AudioStreamIntegration, AHundredStartsAndStopsOfTheBranchWithTheServer)
{
    SAudioServingGraph oGraph(false);
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    ASSERT_TRUE(Eventually([&] { return oGraph.oAudio.iArrived >= 5; }));
    // The first cycle may start the helper threads of the libraries; the figures count after it.
    unsigned uiThreads = 0;
    unsigned uiFds = 0;
    for (int iCycle = 0; iCycle < 100; ++iCycle)
    {
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
        ASSERT_EQ(OMX_ErrorNone, oGraph.oCapture.Stop());
        if (iCycle == 1)
        {
            uiThreads = CountThreads();
            uiFds = CountFds();
        }
        ASSERT_EQ(OMX_ErrorNone, oGraph.oCapture.Start());
        ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StartServing(false));
    }
    const long iArrived = oGraph.oAudio.iArrived;
    EXPECT_TRUE(Eventually([&] { return oGraph.oAudio.iArrived >= iArrived + 20; }));
    ASSERT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    ASSERT_EQ(OMX_ErrorNone, oGraph.oCapture.Stop());
    // Stopped as after the second cycle: the same threads, the same descriptors.
    EXPECT_TRUE(Eventually([&] { return CountThreads() == uiThreads; })) << CountThreads() << " " << uiThreads;
    EXPECT_EQ(uiFds, CountFds());
    oGraph.Teardown();
}
