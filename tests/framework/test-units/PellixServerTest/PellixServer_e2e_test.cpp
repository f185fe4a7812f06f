// End to end: the library started as a host starts it on the simulated platform, with real
// clients (ffprobe, ffmpeg over TCP and UDP, GStreamer's rtspsrc, a raw RTSP/RTP client) on
// loopback. Each scenario runs in a process of its own.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "AudioSignalCheck.h"
#include "Eventually.h"
#include "FrameRate.h"
#include "LibraryLog.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "RtspClients.h"
#include "TestPlatform.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"

namespace
{
// Starts streaming with standard output captured: the address and what was printed.
::testing::AssertionResult Start(std::string& roAddress, std::string& roPrinted)
{
    if (!WaitPortFree(8554))
        return ::testing::AssertionFailure() << "port 8554 stays taken";
    char szAddress[128] = {0};
    bool bStarted = false;
    roPrinted = Logged(0, [&] { bStarted = StartStreaming(8000000, sizeof(szAddress), szAddress); });
    roAddress = szAddress;
    if (!bStarted)
        return ::testing::AssertionFailure() << "StartStreaming failed after printing:\n" << roPrinted;
    return ::testing::AssertionSuccess();
}

// The one video stream is H.264 of that size and rate, and iFrames decoded pictures of it are each
// a different picture (the pattern's bar moves and its counter counts).
void ExpectMovingVideo(const std::string& roUrl, unsigned uiWidth, unsigned uiHeight, double dRate, int iFrames)
{
    std::string oError;
    std::vector<TStreamInfo> aoStreams = ProbeStreams(roUrl, oError);
    EXPECT_EQ("", oError);
    ASSERT_EQ(1u, aoStreams.size());
    EXPECT_EQ("h264", aoStreams[0]["codec_name"]);
    EXPECT_EQ(std::to_string(uiWidth) + "x" + std::to_string(uiHeight), aoStreams[0]["width"] + "x" + aoStreams[0]["height"]);
    EXPECT_NEAR(dRate, ParseFrameRate(aoStreams[0]["r_frame_rate"]), dRate * g_dFrameRateTolerance);
    const SDecodeResult oDecoded = DecodeWithFfmpeg(roUrl, "-frames:v " + std::to_string(iFrames));
    EXPECT_EQ(0, oDecoded.oRun.iExitCode);
    EXPECT_EQ("", oDecoded.oRun.oErr);
    ASSERT_EQ(static_cast<size_t>(iFrames), oDecoded.FramesOf(0));
    EXPECT_EQ(static_cast<size_t>(iFrames), oDecoded.DistinctDigestsOf(0));
    for (const SDecodedFrame& roFrame : oDecoded.aoFrames)
        EXPECT_EQ(static_cast<long>(uiWidth * uiHeight * 3 / 2), roFrame.lSize);
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
    for (const auto& roLine : std::vector<std::pair<unsigned, bool>>{{100, true}, {400, true}, {700, true}, {760, false}, {900, false}, {1060, false}})
    {
        std::string oSamples = oFrames.substr(1920 * 1080 + roLine.first * 1920 + 20, 200);
        std::nth_element(oSamples.begin(), oSamples.begin() + 100, oSamples.end(), [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
        const unsigned uiMedian = static_cast<unsigned char>(oSamples[100]);
        EXPECT_TRUE(roLine.second ? uiMedian > 200 : uiMedian < 80) << "line " << roLine.first << ": " << uiMedian;
    }
}

void ExpectStoppedAndEmpty()
{
    EXPECT_TRUE(StopStreaming());
    EXPECT_FALSE(IsStreaming());
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(8554));
}

std::vector<std::string> FfmpegArguments(const std::string& roUrl, const char* szTransport, const char* szFormat)
{
    return {"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", szTransport, "-i", roUrl, "-map", "0:v", "-f", szFormat, "-"};
}
} // namespace

TEST(ServerEndToEnd, Input1080p60IsCapturedShownAndServedToAClient)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CTestPlatform oPlatform("1920x1080p60");
    std::string oAddress;
    std::string oPrinted;
    ASSERT_TRUE(Start(oAddress, oPrinted));
    EXPECT_TRUE(Has(oPrinted, "Capture video mode: 1920x1080@60fps, Progressive.\n")) << oPrinted;
    EXPECT_TRUE(Has(oPrinted, "Monitor: \"PELLIX HD60\", 1920x1080@60Hz\n")) << oPrinted;
    EXPECT_FALSE(Has(oPrinted, "Cannot capture")) << oPrinted;
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps", oAddress);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));
    // The display shows what comes in.
    const auto Shown = [] { return PellixTest_GetCounter("OMX.TI.VPSSM3.VFDC", PellixCounter_FramesShown); };
    const unsigned long long uiShown = Shown();
    EXPECT_TRUE(Eventually([&] { return Shown() >= uiShown + 120; }));
    ExpectMovingVideo(oAddress, 1920, 1080, 60.0, 60);
    ExpectPictureGeometry(oAddress);
    EXPECT_TRUE(IsStreaming());
    ExpectStoppedAndEmpty();
}

TEST(ServerEndToEnd, ClientsShareOnePipelineJoinAtAKeyFrameAndEndWithTheStop)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("640x480p60");
    std::string oUrl;
    std::string oPrinted;
    ASSERT_TRUE(Start(oUrl, oPrinted));
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video640x480@60fps", oUrl);
    RTSPVideoServerComponent& roVideo = g_poServer->m_oRTSPVideoServerComponent;
    CTempDir oDir;
    ASSERT_TRUE(roVideo.CreateOutFile((oDir.Path() / "copy.h264").c_str()));
    std::string oDescribe;
    std::string oLateJoin;
    double dStopSeconds = 0;
    MUINT64 auiStatistics[5] = {0};  // elapsed, bits, frames, bits and frames of the last second
    std::vector<std::unique_ptr<CChildProcess>> apoClients;
    // Three clients that play until the stream ends: ffmpeg over TCP and over UDP, and rtspsrc.
    const std::string oLog = Logged(2, [&] {
        apoClients.push_back(std::make_unique<CChildProcess>(FfmpegArguments(oUrl, "tcp", "framemd5"), 150));
        apoClients.push_back(std::make_unique<CChildProcess>(FfmpegArguments(oUrl, "udp", "framecrc"), 150));
        apoClients.push_back(std::make_unique<CChildProcess>(std::vector<std::string>{"/bin/sh", "-c", RtspsrcCommand(oUrl, "tcp", 100000)}, 150));
        Eventually([&] {
            return CountOccurrences(apoClients[0]->Out(), "\n0,") >= 30 && CountOccurrences(apoClients[1]->Out(), "\n0,") >= 30 &&
                   CountRtspsrcPictures(apoClients[2]->Out()) >= 30;
        }, std::chrono::seconds(60));
        {
            CRawRtspClient oRaw(oUrl);
            oDescribe = oRaw.Connect() ? oRaw.Request("DESCRIBE") : "";
        }
        // A client joining between two key frames (one every 90 pictures) of the running stream.
        oLateJoin = RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v:0 -show_entries frame=key_frame,pict_type "
                               "-of csv=p=0 -read_intervals %+#150 " + oUrl, 60).oOut;
        roVideo.GetStatistics(auiStatistics[0], auiStatistics[1], auiStatistics[2], auiStatistics[3], auiStatistics[4]);
        const auto oStart = std::chrono::steady_clock::now();
        StopStreaming();
        dStopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    });
    printf("StopStreaming with three clients: %.2f s\n", dStopSeconds);
    EXPECT_EQ(1u, CountOccurrences(oLog, "Pipeline created.\n")) << oLog;
    // End of stream on the source, the clients leave within the wait, the pipeline goes.
    for (const char* szLine : {"Sent EOS event on element RTSPVideoServer.fakesrc\n", "Waiting for clients to disconnect...\n",
                               "Waiting for 10 seconds...\n", "Pipeline deleted.\n"})
        EXPECT_TRUE(Has(oLog, szLine)) << szLine << " in\n" << oLog;
    EXPECT_FALSE(Has(oLog, "pipeline still exists") || Has(oLog, "Error occured while sending EOS events")) << oLog;
    // Each client decoded the stream and ended by itself.
    for (auto& rpoClient : apoClients)
    {
        EXPECT_TRUE(rpoClient->Wait(30));
        EXPECT_EQ(0, rpoClient->ExitCode()) << rpoClient->Err();
    }
    EXPECT_GE(CountOccurrences(apoClients[0]->Out(), " 460800, "), 30u);  // 640 x 480 x 1.5 bytes a picture
    EXPECT_EQ("", apoClients[0]->Err());
    EXPECT_TRUE(Has(apoClients[2]->Out(), "video/x-raw, format=(string)I420, width=(int)640, height=(int)480"));
    // The description: H.264 at 96 with the encoder's parameter sets (an SPS and a PPS).
    EXPECT_TRUE(Has(oDescribe, "a=rtpmap:96 H264/90000") && Has(oDescribe, "a=control:stream=0")) << oDescribe;
    const size_t uiSets = oDescribe.find("sprop-parameter-sets=");
    ASSERT_NE(std::string::npos, uiSets) << oDescribe;
    std::istringstream oUnits(oDescribe.substr(uiSets + 21, oDescribe.find_first_of(";\r", uiSets) - uiSets - 21));
    std::string oTypes;
    for (std::string oUnit; std::getline(oUnits, oUnit, ',');)
    {
        gsize uiLength = 0;
        guchar* pbyUnit = g_base64_decode(oUnit.c_str(), &uiLength);
        oTypes += std::to_string(uiLength > 0 ? pbyUnit[0] & 0x1F : 0) + " ";
        g_free(pbyUnit);
    }
    EXPECT_EQ("7 8 ", oTypes);
    // The late client saw nothing before a key frame, and the next one 90 pictures later.
    std::vector<std::string> aoFrames;
    std::istringstream oFrames(oLateJoin);
    for (std::string oLine; std::getline(oFrames, oLine);)
        aoFrames.push_back(oLine);
    ASSERT_GE(aoFrames.size(), 91u);
    EXPECT_EQ("1,I", aoFrames[0]);
    EXPECT_EQ("1,I", aoFrames[90]);
    // Statistics of the delivered stream (60 pictures a second), and its raw copy, which decodes.
    EXPECT_GT(auiStatistics[0], 1000000u);
    EXPECT_GE(auiStatistics[2], 60u);
    EXPECT_GT(auiStatistics[1], auiStatistics[2] * 8);
    EXPECT_TRUE(auiStatistics[4] > 20 && auiStatistics[4] <= 70) << auiStatistics[4];
    const SRunResult oCopy = RunCommand("ffmpeg -nostdin -v error -f h264 -i " + (oDir.Path() / "copy.h264").string() + " -f framecrc -", 60);
    EXPECT_EQ("", oCopy.oErr);
    EXPECT_GE(CountOccurrences(oCopy.oOut, "\n0,"), auiStatistics[2]);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(8554));
}

TEST(ServerEndToEnd, WithoutSignalTheDefaultSourceIsServedWithItsMarkToClientsWithCredentialsAndStopsPastADeafClient)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CTestPlatform oPlatform("none");
    std::string oUrl;
    std::string oPrinted;
    ASSERT_TRUE(Start(oUrl, oPrinted));
    EXPECT_TRUE(Has(oPrinted, "Cannot capture video: Put default bitmap.\n") && !Has(oPrinted, "Capture video mode")) << oPrinted;
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1024x768@60fps", oUrl);
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_FALSE(g_poServer->m_bCapture);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));
    // The mark: 96 x 32 black pixels at x 32..127 on lines 0..31, that is chroma samples 16..63 on
    // chroma lines 0..15, neutral; the rest of the default picture is not.
    std::string oError;
    const std::string oFrames = GrabRawFrames(oUrl, 3, "yuv420p", oError);
    EXPECT_EQ("", oError);
    const size_t uiFrameBytes = 1024 * 768 * 3 / 2;
    ASSERT_EQ(3 * uiFrameBytes, oFrames.size());
    const auto Average = [&](size_t uiPlane, unsigned uiWidth, unsigned x0, unsigned x1, unsigned y0, unsigned y1) {
        double dSum = 0;
        for (unsigned y = y0; y < y1; ++y)
            for (unsigned x = x0; x < x1; ++x)
                dSum += static_cast<unsigned char>(oFrames[uiPlane + y * uiWidth + x]);
        return dSum / ((x1 - x0) * (y1 - y0));
    };
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_LE(Average(i * uiFrameBytes, 1024, 32, 128, 0, 32), 20.0) << "frame " << i;
        for (size_t uiChroma : {i * uiFrameBytes + 1024 * 768, i * uiFrameBytes + 1024 * 768 + 512 * 384})
        {
            EXPECT_NEAR(128.0, Average(uiChroma, 512, 17, 63, 1, 15), 6.0) << "frame " << i;
            EXPECT_GT(std::abs(128.0 - Average(uiChroma, 512, 0, 14, 0, 16)), 40.0) << "frame " << i;
            EXPECT_GT(std::abs(128.0 - Average(uiChroma, 512, 66, 200, 0, 16)), 40.0) << "frame " << i;
            EXPECT_GT(std::abs(128.0 - Average(uiChroma, 512, 16, 64, 18, 100)), 40.0) << "frame " << i;
        }
    }
    ExpectMovingVideo(oUrl, 1024, 768, 60.0, 1);
    // Served again with authentication: only the user with its credentials plays.
    ASSERT_EQ(OMX_ErrorNone, g_poServer->m_oRTSPServer.StartServing(true));
    const std::string oPath = "@127.0.0.1:8554/Video1024x768@60fps";
    const SDecodeResult oRefused = DecodeWithFfmpeg(oUrl, "-frames:v 10");
    EXPECT_TRUE(oRefused.oRun.iExitCode != 0 && Has(oRefused.oRun.oErr, "401") && oRefused.aoFrames.empty()) << oRefused.oRun.oErr;
    EXPECT_TRUE(DecodeWithFfmpeg("rtsp://happyuser:wrong" + oPath, "-frames:v 10").aoFrames.empty());
    EXPECT_EQ(30u, DecodeWithFfmpeg("rtsp://happyuser:quietmapleriverstone" + oPath, "-frames:v 30").FramesOf(0));
    ASSERT_EQ(OMX_ErrorNone, g_poServer->m_oRTSPServer.StartServing(false));
    // A client that plays and then never reads nor answers: the stop counts down the wait for it,
    // then closes its connection, and the media goes with it.
    CRawRtspClient oDeaf(oUrl);
    ASSERT_TRUE(oDeaf.Play());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    bool bStopped = false;
    const std::string oLog = Logged(2, [&] { bStopped = StopStreaming(); });
    EXPECT_TRUE(bStopped);
    for (int iSecond = 10; iSecond >= 1; --iSecond)
        EXPECT_TRUE(Has(oLog, "Waiting for " + std::to_string(iSecond) + " seconds...\n")) << oLog;
    for (const char* szLine : {"Error while sending EOS event, pipeline still exists after 10 seconds\n",
                               "Error occured while sending EOS events\n", "Main loop thread join\n"})
        EXPECT_TRUE(Has(oLog, szLine)) << szLine;
    char acData[65536];
    EXPECT_TRUE(Eventually([&] { return recv(oDeaf.Fd(), acData, sizeof(acData), MSG_DONTWAIT) == 0; }));
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(8554));
}

namespace
{
// What the host's callback received, and on which thread.
struct SModeChange
{
    int iDetected;
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiFrameRate;
    int iInterlaced;
    std::thread::id oThread;
};
std::mutex local_oModeMutex;
std::vector<SModeChange> local_aoModeChanges;

void HostModeCallback(int iDetected, unsigned uiWidth, unsigned uiHeight, unsigned uiFrameRate, int iInterlaced, void*)
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    local_aoModeChanges.push_back({iDetected, uiWidth, uiHeight, uiFrameRate, iInterlaced, std::this_thread::get_id()});
}

std::vector<SModeChange> ModeChanges()
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    return local_aoModeChanges;
}
} // namespace

TEST(ServerEndToEnd, Input1080i60IsServedDeinterlacedAndModeChangesReachTheHostsCallbackWithoutRebuilding)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CTestPlatform oPlatform("1920x1080i60");
    SetVideoModeChangeCallback(&HostModeCallback);
    std::string oUrl;
    std::string oPrinted;
    ASSERT_TRUE(Start(oUrl, oPrinted));
    EXPECT_TRUE(Has(oPrinted, "Capture video mode: 1920x1080@30fps, Interlaced.\n")) << oPrinted;
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@30fps", oUrl);
    ExpectMovingVideo(oUrl, 1920, 1080, 30.0, 30);
    ExpectPictureGeometry(oUrl);
    const GStreamerEncodeServer* const poServer = g_poServer;
    EXPECT_EQ(6u, PellixPlatform_LiveHandleCount());  // capture, receiver, deinterlacer, display and its control, encoder
    // An unchanged input is no change; each change reaches the callback once, from the capture's
    // polling thread.
    std::string oMeanwhile = Logged(0, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        for (const char* szSignal : {"1280x720p60", "none", "1920x1080p60"})
        {
            const size_t uiBefore = ModeChanges().size();
            PellixTest_SetSimulatedInput(szSignal);
            Eventually([&] { return ModeChanges().size() > uiBefore; });
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        }
    });
    const std::vector<SModeChange> aoChanges = ModeChanges();
    ASSERT_EQ(3u, aoChanges.size());
    const SModeChange aoExpected[] = {{1, 1280, 720, 60, 0, {}}, {0, 0, 0, 0, 0, {}}, {1, 1920, 1080, 60, 0, {}}};
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(aoExpected[i].iDetected, aoChanges[i].iDetected) << i;
        if (aoExpected[i].iDetected)
        {
            EXPECT_EQ(std::vector<unsigned>({aoExpected[i].uiWidth, aoExpected[i].uiHeight, aoExpected[i].uiFrameRate}),
                      std::vector<unsigned>({aoChanges[i].uiWidth, aoChanges[i].uiHeight, aoChanges[i].uiFrameRate}));
        }
        EXPECT_EQ(aoExpected[i].iInterlaced, aoChanges[i].iInterlaced) << i;
        EXPECT_NE(std::this_thread::get_id(), aoChanges[i].oThread);
    }
    // The graph stays as it was built: nothing printed as at a start, the same media described.
    EXPECT_EQ(poServer, g_poServer);
    EXPECT_TRUE(g_poServer->m_bCapture);
    EXPECT_EQ(6u, PellixPlatform_LiveHandleCount());
    EXPECT_FALSE(Has(oMeanwhile, "Capture video mode") || Has(oMeanwhile, "Monitor:")) << oMeanwhile;
    CRawRtspClient oClient(oUrl);
    ASSERT_TRUE(oClient.Connect());
    const std::string oDescribe = oClient.Request("DESCRIBE");
    EXPECT_TRUE(IsOk(oDescribe) && Has(oDescribe, "m=video 0 RTP/AVP 96")) << oDescribe;
    oClient.Close();
    ExpectStoppedAndEmpty();
}

namespace
{
void ExpectTheSignal(const std::string& roPcm, size_t uiMinimumFrames)
{
    const std::vector<int16_t> aiSamples = PcmSamples(roPcm);
    EXPECT_GE(aiSamples.size() / 2, uiMinimumFrames);
    for (unsigned uiChannel : {0u, 1u})
    {
        // After a fifth of a second, as the capture's signal: 997 Hz at half scale left, 1499 Hz
        // at a quarter right.
        const SToneMeasure oTone = MeasureTone(aiSamples, 2, uiChannel, 48000, 9600);
        EXPECT_NEAR(uiChannel ? 1499.0 : 997.0, oTone.dFrequency, 1.0);
        EXPECT_NEAR(uiChannel ? 8192.0 : 16384.0, oTone.dAmplitude, (uiChannel ? 8192.0 : 16384.0) * 0.03);
    }
}
} // namespace

TEST(ServerEndToEnd, AudioIsThePayloadBeforeTheVideoEachFrameRawInOrderBothDecodeAndTheVolumeIsSet)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("640x480p60");
    ActivateAudioServer(1);
    std::string oUrl;
    std::string oPrinted;
    ASSERT_TRUE(Start(oUrl, oPrinted));
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video640x480@60fps_audio", oUrl);
    ASSERT_NE(nullptr, g_poServer->m_poAudio);
    // A client over UDP: the media as it learns it, audio first (pay0, 96, stream 0), video second
    // (pay1, 97, stream 1); one raw AAC frame a packet (no ADTS header), numbered and stamped in
    // order, the first within a second of the play.
    CRawRtspClient oClient(oUrl);
    ASSERT_TRUE(oClient.Play(2, true));
    const auto oPlayed = std::chrono::steady_clock::now();
    std::string oPacket = oClient.NextPacket(10000);
    EXPECT_LT(std::chrono::steady_clock::now() - oPlayed, std::chrono::seconds(1));
    const std::string& roSdp = oClient.Sdp();
    const size_t uiVideo = roSdp.find("m=video 0 RTP/AVP 97\r\n");
    ASSERT_NE(std::string::npos, uiVideo) << roSdp;
    const std::string oAudioPart = roSdp.substr(0, uiVideo);
    for (const char* szLine : {"m=audio 0 RTP/AVP 96\r\n", "a=rtpmap:96 MP4A-LATM/48000\r\n", "a=control:stream=0\r\n", "config=40002320"})
        EXPECT_TRUE(Has(oAudioPart, szLine)) << szLine << " in\n" << roSdp;
    EXPECT_TRUE(Has(roSdp.substr(uiVideo), "a=rtpmap:97 H264/90000\r\n") && Has(roSdp.substr(uiVideo), "a=control:stream=1\r\n")) << roSdp;
    unsigned uiLastTime = 0;
    unsigned uiLastSequence = 0;
    unsigned uiFrameSteps = 0;
    for (unsigned i = 0; i < 100; ++i, oPacket = oClient.NextPacket(5000))
    {
        const auto* pbyPacket = reinterpret_cast<const unsigned char*>(oPacket.data());
        ASSERT_GE(oPacket.size(), 16u);
        const unsigned uiTime = (pbyPacket[4] << 24) | (pbyPacket[5] << 16) | (pbyPacket[6] << 8) | pbyPacket[7];
        EXPECT_EQ(0xE0, pbyPacket[1]) << i;  // marker, payload type 96
        // 1024 samples a frame: the times advance by a frame's length (rounded to the next sample
        // at times), or further after a gap in the audio (a busy machine may hold the capture).
        EXPECT_TRUE(i == 0 || uiTime - uiLastTime >= 1023) << i << ": " << uiTime - uiLastTime;
        uiFrameSteps += i > 0 && uiTime - uiLastTime - 1023 <= 2 ? 1 : 0;
        uiLastTime = uiTime;
        // LATM: the frame's length (bytes of 255 and one below), then the frame, not an ADTS header.
        size_t uiAt = 12;
        size_t uiLength = 0;
        while (uiAt < oPacket.size() && pbyPacket[uiAt] == 255)
            uiLength += pbyPacket[uiAt++];
        uiLength += pbyPacket[uiAt++];
        EXPECT_EQ(oPacket.size(), uiAt + uiLength) << i;
        EXPECT_FALSE(pbyPacket[uiAt] == 0xFF && (pbyPacket[uiAt + 1] & 0xF6) == 0xF0) << i;
        const unsigned uiSequence = (pbyPacket[2] << 8) | pbyPacket[3];
        EXPECT_TRUE(i == 0 || uiSequence == ((uiLastSequence + 1) & 0xFFFF)) << i;
        uiLastSequence = uiSequence;
    }
    EXPECT_GT(uiFrameSteps, 50u);
    oClient.Close();
    std::string oError;
    std::vector<TStreamInfo> aoStreams = ProbeStreams(oUrl, oError);
    EXPECT_EQ("", oError);
    ASSERT_EQ(2u, aoStreams.size());
    EXPECT_EQ("aac LC 48000 2", aoStreams[0]["codec_name"] + " " + aoStreams[0]["profile"] + " " + aoStreams[0]["sample_rate"] + " " + aoStreams[0]["channels"]);
    EXPECT_EQ("h264 640", aoStreams[1]["codec_name"] + " " + aoStreams[1]["width"]);
    // ffmpeg and rtspsrc each decode both: the capture's signal and moving pictures.
    CTempDir oDir;
    const std::string oPcm = (oDir.Path() / "audio.raw").string();
    const SRunResult oFfmpeg = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -map 0:a -t 2.5 -f s16le -ac 2 -ar 48000 " +
                                              oPcm + " -map 0:v -t 2.5 -f framemd5 -", 60);
    EXPECT_EQ(0, oFfmpeg.iExitCode) << oFfmpeg.oErr;
    EXPECT_EQ("", oFfmpeg.oErr);
    EXPECT_GE(CountOccurrences(oFfmpeg.oOut, "\n0,"), 120u);
    ExpectTheSignal(oDir.Read("audio.raw"), 96000);
    const SRunResult oGst = RunCommand("gst-launch-1.0 -e -v rtspsrc location=" + oUrl + " protocols=tcp name=src src. ! "
                                       "application/x-rtp,media=audio ! rtpmp4adepay ! aacparse ! faad ! audioconvert ! "
                                       "audio/x-raw,format=S16LE,channels=2 ! identity eos-after=118 ! filesink location=" + oPcm +
                                       " src. ! application/x-rtp,media=video ! rtph264depay ! h264parse ! openh264dec ! "
                                       "identity eos-after=151 silent=false ! fakesink", 60);
    EXPECT_EQ(0, oGst.iExitCode) << oGst.oErr << oGst.oOut.substr(oGst.oOut.size() > 4000 ? oGst.oOut.size() - 4000 : 0);
    EXPECT_GE(CountOccurrences(oGst.oOut, "GstIdentity:identity1: last-message = chain"), 90u);
    ExpectTheSignal(oDir.Read("audio.raw"), 72000);
    // The local playback's volume control (analog output, 0..255), one value per channel.
    for (const std::pair<unsigned, const char*>& roVolume : std::vector<std::pair<unsigned, const char*>>{{50, "127 127"}, {100, "255 255"}, {0, "0 0"}})
    {
        EXPECT_TRUE(SetEncoderPlaybackVolume(roVolume.first));
        std::istringstream oValues(oPlatform.AlsaFile("analog_volume"));
        std::string oLeft;
        std::string oRight;
        oValues >> oLeft >> oRight;
        EXPECT_EQ(roVolume.second, oLeft + " " + oRight);
    }
    ExpectStoppedAndEmpty();
}
