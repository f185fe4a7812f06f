// End to end: the served stream decoded by real clients on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "RtspTestSupport.h"
#include "ti814x-framework.h"

namespace
{
class RtspEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("PELLIX_NET_INTERFACE", "lo", 1);
        SetInfoMessageLevel(getenv("RTSP_TEST_LEVEL") ? atoi(getenv("RTSP_TEST_LEVEL")) : 0);
    }
};

// ffprobe's frames as "key_frame,width,height" lines.
std::vector<std::string> Lines(const std::string& roText)
{
    std::vector<std::string> aoLines;
    size_t uiStart = 0;
    while (uiStart < roText.size())
    {
        size_t uiEnd = roText.find('\n', uiStart);
        if (uiEnd == std::string::npos)
            uiEnd = roText.size();
        if (uiEnd > uiStart)
            aoLines.push_back(roText.substr(uiStart, uiEnd - uiStart));
        uiStart = uiEnd + 1;
    }
    return aoLines;
}
} // namespace

TEST_F(RtspEndToEnd, FfprobeOverTcpDecodes300FramesAtTheFedSize)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    const SRunResult oResult = RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v:0 "
                                          "-show_entries frame=key_frame,width,height -of csv=p=0 "
                                          "-read_intervals %+#300 " + oGraph.Url(), 60);
    EXPECT_EQ(0, oResult.iExitCode) << oResult.oErr;
    EXPECT_EQ("", oResult.oErr);
    const std::vector<std::string> aoFrames = Lines(oResult.oOut);
    ASSERT_EQ(300u, aoFrames.size());
    EXPECT_EQ("1,320,240", aoFrames.front());
    for (const std::string& roFrame : aoFrames)
        EXPECT_EQ(",320,240", roFrame.substr(1));
    oGraph.Teardown();
}

TEST_F(RtspEndToEnd, StopServingWithThreeClientsEndsTheirStreamsWithinTheWait)
{
    SServingGraph oGraph;
    ASSERT_EQ(OMX_ErrorNone, oGraph.Build(PickFreePort()));
    // Three clients, each playing until the stream ends: ffmpeg over TCP, ffmpeg over UDP, rtspsrc.
    CBackgroundCommand oTcp("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oGraph.Url() + " -f null -", 60);
    CBackgroundCommand oUdp("ffmpeg -nostdin -v error -rtsp_transport udp -i " + oGraph.Url() + " -f null -", 60);
    CBackgroundCommand oGst("gst-launch-1.0 -q rtspsrc location=" + oGraph.Url() +
                                " protocols=tcp ! rtph264depay ! h264parse ! openh264dec ! fakesink",
                            60);
    ASSERT_TRUE(oGraph.WaitPipeline(true, 20000));
    // Every client is receiving: some frames went out after the last one joined.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(1, oGraph.oVideo.iCreated.load());

    CStdoutCapture oCapture;
    SetInfoMessageLevel(2);
    EXPECT_EQ(OMX_ErrorNone, oGraph.oServer.StopServing());
    SetInfoMessageLevel(0);
    const std::string oLog = oCapture.Stop();

    if (getenv("RTSP_TEST_SHOW")) fprintf(stderr, "%s", oLog.c_str());
    EXPECT_NE(std::string::npos, oLog.find("Sent EOS event on element RTSPVideoServer.fakesrc")) << oLog;
    EXPECT_NE(std::string::npos, oLog.find("Waiting for clients to disconnect...")) << oLog;
    EXPECT_NE(std::string::npos, oLog.find("Waiting for 10 seconds...")) << oLog;
    EXPECT_NE(std::string::npos, oLog.find("Pipeline deleted.")) << oLog;
    EXPECT_EQ(std::string::npos, oLog.find("pipeline still exists")) << oLog;
    EXPECT_EQ(std::string::npos, oLog.find("Error occured while sending EOS events")) << oLog;
    EXPECT_EQ(1, oGraph.oVideo.iDeleted.load());

    // End-of-stream reached the clients: each ends by itself, without an error.
    for (CBackgroundCommand* poClient : {&oTcp, &oUdp, &oGst})
    {
        EXPECT_TRUE(poClient->Wait(20));
        const SRunResult oResult = poClient->Result();
        EXPECT_EQ(0, oResult.iExitCode) << oResult.oErr;
    }
    oGraph.Teardown();
}
