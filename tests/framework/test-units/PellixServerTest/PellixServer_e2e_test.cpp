// End to end: the library started as a host starts it, on the simulated platform, with real
// clients (ffprobe, ffmpeg, a raw RTSP client) on loopback. Each scenario runs in a process of
// its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "Eventually.h"
#include "FrameRate.h"
#include "OutputCapture.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "ServerTestSupport.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"

namespace
{
const char* const local_szDisplay = "OMX.TI.VPSSM3.VFDC";
const int local_iBitRate = 8000000;

// Starts streaming on the scenario's platform with standard output captured: roAddress receives
// the address, roPrinted what was printed.
::testing::AssertionResult Start(const CScenarioPlatform& roPlatform, std::string& roAddress, std::string& roPrinted)
{
    if (!roPlatform.IsPortFree())
        return ::testing::AssertionFailure() << "port " << g_uiServicePort << " stays taken";
    char szAddress[128] = {0};
    COutputCapture oOut(STDOUT_FILENO);
    const bool bStarted = StartStreaming(local_iBitRate, sizeof(szAddress), szAddress);
    roPrinted = oOut.Finish();
    roAddress = szAddress;
    if (!bStarted)
        return ::testing::AssertionFailure() << "StartStreaming failed after printing:\n" << roPrinted;
    return ::testing::AssertionSuccess();
}

// Waits until the display has shown uiFrames more frames; prints the rate seen.
void ExpectDisplayShows(unsigned long long uiFrames)
{
    const unsigned long long uiBefore = PellixTest_GetCounter(local_szDisplay, PellixCounter_FramesShown);
    const auto oStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(Eventually(
        [&] { return PellixTest_GetCounter(local_szDisplay, PellixCounter_FramesShown) >= uiBefore + uiFrames; }))
        << "the display showed " << PellixTest_GetCounter(local_szDisplay, PellixCounter_FramesShown) - uiBefore
        << " frames";
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    printf("display: %llu frames shown in %.2f s (%.1f frames/s)\n", uiFrames, dSeconds, uiFrames / dSeconds);
}

// The stream's one video stream is H.264 of that size and rate.
void ExpectVideoStream(const std::string& roUrl, unsigned uiWidth, unsigned uiHeight, double dRate)
{
    std::string oError;
    const auto aoStreams = ProbeStreams(roUrl, oError);
    EXPECT_EQ("", oError);
    ASSERT_EQ(1u, aoStreams.size());
    auto oStream = aoStreams[0];
    EXPECT_EQ("video", oStream["codec_type"]);
    EXPECT_EQ("h264", oStream["codec_name"]);
    EXPECT_EQ(std::to_string(uiWidth), oStream["width"]);
    EXPECT_EQ(std::to_string(uiHeight), oStream["height"]);
    EXPECT_NEAR(dRate, ParseFrameRate(oStream["r_frame_rate"]), dRate * g_dFrameRateTolerance) << oStream["r_frame_rate"];
}

// iFrames decoded pictures of 4:2:0 at that size, each a different picture.
void ExpectMovingPictures(const std::string& roUrl, int iFrames, unsigned uiWidth, unsigned uiHeight)
{
    const SDecodeResult oDecoded = DecodeWithFfmpeg(roUrl, "-frames:v " + std::to_string(iFrames));
    EXPECT_EQ(0, oDecoded.oRun.iExitCode);
    EXPECT_EQ("", oDecoded.oRun.oErr);
    ASSERT_EQ(static_cast<size_t>(iFrames), oDecoded.FramesOf(0));
    for (const SDecodedFrame& roFrame : oDecoded.aoFrames)
        EXPECT_EQ(static_cast<long>(uiWidth * uiHeight * 3 / 2), roFrame.lSize);
    // The pattern's bar moves and its counter counts: no two pictures alike.
    EXPECT_EQ(static_cast<size_t>(iFrames), oDecoded.DistinctDigestsOf(0));
}

// A decoded 1920 x 1080 picture stands as the input drew it: colour bars over the upper two
// thirds (white on the left), the grey ramp below them (dark on the left). A frame whose two
// fields were left one after the other would show the ramp at line 400 and the bars at line 900.
void ExpectPictureGeometry(const std::string& roUrl)
{
    std::string oError;
    const std::string oFrames = GrabRawFrames(roUrl, 2, "gray", oError);
    EXPECT_EQ("", oError);
    ASSERT_EQ(2u * 1920 * 1080, oFrames.size());
    const unsigned char* pLuma = reinterpret_cast<const unsigned char*>(oFrames.data()) + 1920 * 1080;
    EXPECT_GT(LineMedian(pLuma, 1920, 100, 20, 220), 200u);
    EXPECT_GT(LineMedian(pLuma, 1920, 400, 20, 220), 200u);
    EXPECT_GT(LineMedian(pLuma, 1920, 700, 20, 220), 200u);
    EXPECT_LT(LineMedian(pLuma, 1920, 760, 20, 220), 80u);
    EXPECT_LT(LineMedian(pLuma, 1920, 900, 20, 220), 80u);
    EXPECT_LT(LineMedian(pLuma, 1920, 1060, 20, 220), 80u);
}

void ExpectStoppedAndEmpty()
{
    EXPECT_TRUE(StopStreaming());
    EXPECT_FALSE(IsStreaming());
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}
} // namespace

TEST(ServerEndToEnd, Input1080p60IsCapturedShownAndServedToAClient)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("1920x1080p60");
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    EXPECT_NE(std::string::npos, oPrinted.find("Capture video mode: 1920x1080@60fps, Progressive.\n")) << oPrinted;
    EXPECT_NE(std::string::npos, oPrinted.find("Monitor: \"PELLIX HD60\", 1920x1080@60Hz\n")) << oPrinted;
    EXPECT_EQ(std::string::npos, oPrinted.find("Cannot capture")) << oPrinted;
    const std::string oUrl = ServiceUrl("/Video1920x1080@60fps");
    EXPECT_EQ(oUrl, oAddress);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));

    ExpectDisplayShows(120);
    ExpectVideoStream(oUrl, 1920, 1080, 60.0);
    ExpectMovingPictures(oUrl, 60, 1920, 1080);
    ExpectPictureGeometry(oUrl);
    EXPECT_TRUE(IsStreaming());
    ExpectStoppedAndEmpty();
}

TEST(ServerEndToEnd, WithoutSignalTheDefaultSourceIsServedWithItsMark)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("none");
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    EXPECT_NE(std::string::npos, oPrinted.find("Cannot capture video: Put default bitmap.\n")) << oPrinted;
    EXPECT_EQ(std::string::npos, oPrinted.find("Capture video mode")) << oPrinted;
    const std::string oUrl = ServiceUrl("/Video1024x768@60fps");
    EXPECT_EQ(oUrl, oAddress);
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_FALSE(g_poServer->m_bCapture);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));

    ExpectDisplayShows(60);
    ExpectVideoStream(oUrl, 1024, 768, 60.0);

    // The mark: 96 x 32 black pixels at x 32..127 on lines 0..31, that is chroma samples 16..63
    // on chroma lines 0..15, neutral; the rest of the default picture is not.
    std::string oError;
    const std::string oFrames = GrabRawFrames(oUrl, 3, "yuv420p", oError);
    EXPECT_EQ("", oError);
    const size_t uiFrameBytes = 1024 * 768 * 3 / 2;
    ASSERT_EQ(3 * uiFrameBytes, oFrames.size());
    for (size_t i = 0; i < 3; ++i)
    {
        const unsigned char* pY = reinterpret_cast<const unsigned char*>(oFrames.data()) + i * uiFrameBytes;
        const unsigned char* pU = pY + 1024 * 768;
        const unsigned char* pV = pU + 512 * 384;
        EXPECT_LE(PlaneAverage(pY, 1024, 32, 128, 0, 32), 20.0) << "frame " << i;
        for (const unsigned char* pChroma : {pU, pV})
        {
            EXPECT_NEAR(128.0, PlaneAverage(pChroma, 512, 17, 63, 1, 15), 6.0) << "frame " << i;
            // Left of it, right of it and below it.
            EXPECT_GT(std::abs(128.0 - PlaneAverage(pChroma, 512, 0, 14, 0, 16)), 40.0) << "frame " << i;
            EXPECT_GT(std::abs(128.0 - PlaneAverage(pChroma, 512, 66, 200, 0, 16)), 40.0) << "frame " << i;
            EXPECT_GT(std::abs(128.0 - PlaneAverage(pChroma, 512, 16, 64, 18, 100)), 40.0) << "frame " << i;
        }
    }
    ExpectStoppedAndEmpty();
}

TEST(ServerEndToEnd, Input1080i60IsServedDeinterlacedAt30FramesPerSecond)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("1920x1080i60");
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    EXPECT_NE(std::string::npos, oPrinted.find("Capture video mode: 1920x1080@30fps, Interlaced.\n")) << oPrinted;
    const std::string oUrl = ServiceUrl("/Video1920x1080@30fps");
    EXPECT_EQ(oUrl, oAddress);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));

    ExpectVideoStream(oUrl, 1920, 1080, 30.0);
    ExpectMovingPictures(oUrl, 30, 1920, 1080);
    ExpectPictureGeometry(oUrl);
    ExpectStoppedAndEmpty();
}

TEST(ServerEndToEnd, AudioIsThePayloadBeforeTheVideoBothDecodeAndTheVolumeIsSet)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("1920x1080p60");
    ActivateAudioServer(1);
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    const std::string oUrl = ServiceUrl("/Video1920x1080@60fps_audio");
    EXPECT_EQ(oUrl, oAddress);
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_NE(nullptr, g_poServer->m_poAudio);

    // The media as a client learns it: audio first (pay0, payload type 96), video second (pay1, 97).
    CRawRtspClient oClient;
    ASSERT_TRUE(oClient.Connect(g_uiServicePort));
    const std::string oDescribe = oClient.Request("DESCRIBE", oUrl, "Accept: application/sdp\r\n");
    oClient.Close();
    ASSERT_EQ(0u, oDescribe.find("RTSP/1.0 200 OK")) << oDescribe;
    const size_t uiAudio = oDescribe.find("m=audio 0 RTP/AVP 96\r\n");
    const size_t uiVideo = oDescribe.find("m=video 0 RTP/AVP 97\r\n");
    ASSERT_NE(std::string::npos, uiAudio) << oDescribe;
    ASSERT_NE(std::string::npos, uiVideo) << oDescribe;
    EXPECT_LT(uiAudio, uiVideo) << oDescribe;
    const std::string oAudioPart = oDescribe.substr(uiAudio, uiVideo - uiAudio);
    const std::string oVideoPart = oDescribe.substr(uiVideo);
    EXPECT_NE(std::string::npos, oAudioPart.find("a=control:stream=0")) << oDescribe;
    EXPECT_NE(std::string::npos, oAudioPart.find("a=rtpmap:96 MP4A-LATM/48000")) << oDescribe;
    EXPECT_NE(std::string::npos, oVideoPart.find("a=control:stream=1")) << oDescribe;
    EXPECT_NE(std::string::npos, oVideoPart.find("a=rtpmap:97 H264/90000")) << oDescribe;

    std::string oError;
    auto aoStreams = ProbeStreams(oUrl, oError);
    EXPECT_EQ("", oError);
    ASSERT_EQ(2u, aoStreams.size());
    EXPECT_EQ("audio", aoStreams[0]["codec_type"]);
    EXPECT_EQ("aac", aoStreams[0]["codec_name"]);
    EXPECT_EQ("48000", aoStreams[0]["sample_rate"]);
    EXPECT_EQ("2", aoStreams[0]["channels"]);
    EXPECT_EQ("video", aoStreams[1]["codec_type"]);
    EXPECT_EQ("h264", aoStreams[1]["codec_name"]);
    EXPECT_EQ("1920", aoStreams[1]["width"]);
    EXPECT_EQ("1080", aoStreams[1]["height"]);

    // Both decode: three seconds of each.
    const SDecodeResult oDecoded = DecodeWithFfmpeg(oUrl, "-t 3", "0");
    EXPECT_EQ(0, oDecoded.oRun.iExitCode);
    EXPECT_EQ("", oDecoded.oRun.oErr);
    EXPECT_GE(oDecoded.FramesOf(0), 100u);  // 1024 samples per AAC frame: 47 frames/s
    EXPECT_GE(oDecoded.FramesOf(1), 150u);
    EXPECT_GT(oDecoded.DistinctDigestsOf(0), 10u);
    EXPECT_EQ(oDecoded.FramesOf(1), oDecoded.DistinctDigestsOf(1));

    // The local playback's volume control (analog output, range 0..255), one value per channel.
    auto ReadVolume = [&] {
        std::istringstream oValues(oPlatform.AlsaFile("analog_volume"));
        std::vector<long> alValues;
        for (long lValue = 0; oValues >> lValue;)
            alValues.push_back(lValue);
        return alValues;
    };
    EXPECT_TRUE(SetEncoderPlaybackVolume(50));
    EXPECT_EQ((std::vector<long>{127, 127}), ReadVolume());
    EXPECT_TRUE(SetEncoderPlaybackVolume(100));
    EXPECT_EQ((std::vector<long>{255, 255}), ReadVolume());
    EXPECT_TRUE(SetEncoderPlaybackVolume(0));
    EXPECT_EQ((std::vector<long>{0, 0}), ReadVolume());
    ExpectStoppedAndEmpty();
}

TEST(ServerEndToEnd, StopWithThreeClientsConnectedEndsTheirStreams)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("1920x1080p60");
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    const std::string& oUrl = oAddress;

    // Three players that would play on for two minutes.
    std::vector<std::unique_ptr<CBackgroundCommand>> apoClients;
    for (int i = 0; i < 3; ++i)
        apoClients.push_back(std::make_unique<CBackgroundCommand>(
            "ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -map 0:v -t 120 -f framemd5 -", 140));
    for (auto& rpoClient : apoClients)
        EXPECT_TRUE(Eventually([&] { return CountOccurrences(rpoClient->Result().oOut, "\n0,") >= 30; },
                               std::chrono::seconds(60)))
            << rpoClient->Result().oErr;

    const auto oStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(StopStreaming());
    const double dStop = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    printf("StopStreaming with three clients: %.2f s\n", dStop);
    EXPECT_LT(dStop, 15.0);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());

    // Each player sees the end of its stream and ends by itself, long before its two minutes.
    for (auto& rpoClient : apoClients)
    {
        EXPECT_TRUE(rpoClient->Wait(30));
        const SRunResult oResult = rpoClient->Result();
        EXPECT_EQ(0, oResult.iExitCode) << oResult.oErr;
        EXPECT_GE(CountOccurrences(oResult.oOut, "\n0,"), 30u);
    }
    EXPECT_TRUE(CanBindPort(g_uiServicePort));
}

namespace
{
// What the host's callback received.
struct SModeChange
{
    int iDetected;
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiFrameRate;
    int iInterlaced;
    std::thread::id oThread;
    std::chrono::steady_clock::time_point oWhen;
};
std::mutex local_oModeMutex;
std::vector<SModeChange> local_aoModeChanges;

void HostModeCallback(int iDetected, unsigned uiWidth, unsigned uiHeight, unsigned uiFrameRate, int iInterlaced,
                      void* /*pvData*/)
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    local_aoModeChanges.push_back({iDetected, uiWidth, uiHeight, uiFrameRate, iInterlaced,
                                   std::this_thread::get_id(), std::chrono::steady_clock::now()});
}

size_t ModeChanges()
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    return local_aoModeChanges.size();
}

SModeChange ModeChange(size_t uiIndex)
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    return local_aoModeChanges.at(uiIndex);
}
} // namespace

TEST(ServerEndToEnd, InputModeChangeReachesTheHostsCallbackAndKeepsTheGraph)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CScenarioPlatform oPlatform("1920x1080p60");
    SetVideoModeChangeCallback(&HostModeCallback);
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oPlatform, oAddress, oPrinted));
    const std::string& oUrl = oAddress;
    const GStreamerEncodeServer* const poServer = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    EXPECT_EQ(6u, uiHandles);  // capture, receiver, deinterlacer, display, display controller, encoder

    COutputCapture oOut(STDOUT_FILENO);
    // The unchanged input is no change.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(0u, ModeChanges());

    const std::thread::id oHostThread = std::this_thread::get_id();
    auto ExpectChange = [&](const char* szSignal, SModeChange oExpected) {
        const size_t uiBefore = ModeChanges();
        const auto oSet = std::chrono::steady_clock::now();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(szSignal));
        ASSERT_TRUE(Eventually([&] { return ModeChanges() > uiBefore; })) << szSignal;
        const SModeChange oChange = ModeChange(uiBefore);
        fprintf(stderr, "%s reached the callback after %.2f s\n", szSignal,
               std::chrono::duration<double>(oChange.oWhen - oSet).count());
        EXPECT_EQ(oExpected.iDetected, oChange.iDetected) << szSignal;
        if (oExpected.iDetected)
        {
            EXPECT_EQ(oExpected.uiWidth, oChange.uiWidth) << szSignal;
            EXPECT_EQ(oExpected.uiHeight, oChange.uiHeight) << szSignal;
            EXPECT_EQ(oExpected.uiFrameRate, oChange.uiFrameRate) << szSignal;
            EXPECT_EQ(oExpected.iInterlaced, oChange.iInterlaced) << szSignal;
        }
        EXPECT_NE(oHostThread, oChange.oThread) << "the callback comes from the capture's polling thread";
        // Once per change.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        EXPECT_EQ(uiBefore + 1, ModeChanges()) << szSignal;
    };
    ExpectChange("1280x720p60", {1, 1280, 720, 60, 0, {}, {}});
    ExpectChange("none", {0, 0, 0, 0, 0, {}, {}});
    ExpectChange("1920x1080i60", {1, 1920, 1080, 30, 1, {}, {}});

    // The graph stays as it was built: same record, same components, same media, nothing printed
    // as at a start.
    EXPECT_EQ(poServer, g_poServer);
    EXPECT_TRUE(g_poServer->m_bCapture);
    EXPECT_EQ(uiHandles, PellixPlatform_LiveHandleCount());
    const std::string oPrintedMeanwhile = oOut.Finish();
    EXPECT_EQ(std::string::npos, oPrintedMeanwhile.find("Capture video mode")) << oPrintedMeanwhile;
    EXPECT_EQ(std::string::npos, oPrintedMeanwhile.find("Monitor:")) << oPrintedMeanwhile;
    CRawRtspClient oClient;
    ASSERT_TRUE(oClient.Connect(g_uiServicePort));
    const std::string oDescribe = oClient.Request("DESCRIBE", oUrl, "Accept: application/sdp\r\n");
    EXPECT_EQ(0u, oDescribe.find("RTSP/1.0 200 OK")) << oDescribe;
    EXPECT_NE(std::string::npos, oDescribe.find("m=video 0 RTP/AVP 96")) << oDescribe;
    oClient.Close();
    ExpectStoppedAndEmpty();
}
