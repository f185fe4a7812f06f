// End to end: the library started as a host starts it on the simulated platform, with real
// clients (ffprobe, ffmpeg over TCP and UDP, GStreamer's rtspsrc, a raw RTSP/RTP client) on
// loopback; the local monitor in a real window on a private X server (Xvfb), whose screenshot
// shows the picture of the display's snapshot at the rectangle the input was fitted to. Each
// scenario runs in a process of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "AudioSignalCheck.h"
#include "ControlApi.h"
#include "PellixTestControl.h"

TEST(ServerEndToEnd, ClientsShareOnePipelineJoinAtAKeyFrameAndEndWithTheStop)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("640x480p60");
    std::string oPrinted;
    const std::string oUrl = StartCaptured(&oPrinted);
    ASSERT_EQ("rtsp://127.0.0.1:8554/Video640x480@60fps", oUrl) << oPrinted;
    std::string oDescribe;
    std::string oLateJoin;
    std::vector<std::unique_ptr<CChildProcess>> apoClients;
    const auto Ffmpeg = [&](const char* szTransport) {
        return std::vector<std::string>{"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", szTransport, "-i", oUrl, "-f", "framemd5", "-"};
    };
    // Three clients that play until the stream ends: ffmpeg over TCP and over UDP, and rtspsrc.
    const std::string oLog = LogOf(2, [&] {
        apoClients.push_back(std::make_unique<CChildProcess>(Ffmpeg("tcp"), 150));
        apoClients.push_back(std::make_unique<CChildProcess>(Ffmpeg("udp"), 150));
        // rtspsrc decoding with openh264; identity prints every picture it passes (-v: and the caps).
        apoClients.push_back(std::make_unique<CChildProcess>(
            std::vector<std::string>{"gst-launch-1.0", "-v", "rtspsrc", "location=" + oUrl, "protocols=tcp", "!", "rtph264depay", "!",
                                     "h264parse", "!", "openh264dec", "!", "identity", "silent=false", "!", "fakesink"}, 150));
        Eventually([&] {
            return Occurrences(apoClients[0]->Out(), " 460800, ") >= 30 && Occurrences(apoClients[1]->Out(), " 460800, ") >= 30 &&
                   Occurrences(apoClients[2]->Out(), "GstIdentity:identity0: last-message = chain") >= 30;
        }, std::chrono::seconds(60));
        CRawRtspClient oRaw(oUrl);
        oDescribe = oRaw.Connect() ? oRaw.Request("DESCRIBE") : "";
        oRaw.Close();
        // A client joining between two key frames (one every 90 pictures) of the running stream.
        oLateJoin = RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v:0 -show_entries frame=key_frame,pict_type "
                               "-of csv=p=0 -read_intervals %+#150 " + oUrl, 60).oOut;
        StopStreaming();
    });
    // One pipeline for all; at the stop, end of stream on its source, the clients leave within
    // the wait and the pipeline goes.
    EXPECT_EQ(1u, Occurrences(oLog, "Pipeline created.\n")) << oLog;
    for (const char* szLine : {"Sent EOS event on element RTSPVideoServer.fakesrc\n", "Waiting for clients to disconnect...\n",
                               "Waiting for 7 seconds...\n", "Pipeline deleted.\n"})
        EXPECT_TRUE(Has(oLog, szLine)) << szLine << " in\n" << oLog;
    EXPECT_FALSE(Has(oLog, "pipeline still exists") || Has(oLog, "Error occured while sending EOS events")) << oLog;
    // (rtspsrc, shutting down after the end of the stream, may find the connection closed
    // already; gst-launch then reports the PAUSE it could not send.)
    for (auto& rpoClient : apoClients)
        EXPECT_TRUE(rpoClient->Wait(30) && (rpoClient->ExitCode() == 0 || Has(rpoClient->Out(), "Got EOS from element"))) << rpoClient->Err();
    EXPECT_EQ("", apoClients[0]->Err());
    // The description: H.264 at 96 with the encoder's parameter sets, an SPS then a PPS (in base64
    // their first bytes 0x67 and 0x68 begin with Z and a).
    EXPECT_TRUE(Has(oDescribe, "a=rtpmap:96 H264/90000") && Has(oDescribe, "a=control:stream=0") &&
                std::regex_search(oDescribe, std::regex("sprop-parameter-sets=Z[^,;\r]+,a[^,;\r]+[;\r]")))
        << oDescribe;
    // The late client saw nothing before a key frame, and the next one 90 pictures later.
    ASSERT_GE(oLateJoin.size(), 91u * 4) << oLateJoin;
    EXPECT_EQ(0u, oLateJoin.find("1,I\n")) << oLateJoin;
    EXPECT_EQ("1,I\n", oLateJoin.substr(90 * 4, 4)) << oLateJoin;
    ExpectNothingLeft();
}

TEST(ServerEndToEnd, WithoutSignalTheDefaultSourceIsServedWithItsMarkAndStopsPastADeafClient)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CTestPlatform oPlatform("none");
    std::string oPrinted;
    const std::string oUrl = StartCaptured(&oPrinted);
    ASSERT_EQ("rtsp://127.0.0.1:8554/Video1024x768@60fps", oUrl) << oPrinted;
    EXPECT_TRUE(Has(oPrinted, "Cannot capture video: Put default bitmap.\n") && !Has(oPrinted, "Capture video mode")) << oPrinted;
    EXPECT_FALSE(g_poServer->m_bCapture);
    // The mark: 96 x 32 black pixels at x 32..127 on lines 0..31, that is chroma samples 16..63 on
    // chroma lines 0..15, neutral; the rest of the default picture is not.
    std::string oError;
    const std::string oFrame = GrabRawFrames(oUrl, 1, "yuv420p", oError);
    ASSERT_EQ(1024u * 768 * 3 / 2, oFrame.size()) << oError;
    EXPECT_EQ("", oError);
    const auto Average = [&](size_t uiPlane, unsigned uiWidth, unsigned x0, unsigned x1, unsigned y0, unsigned y1) {
        double dSum = 0;
        for (unsigned y = y0; y < y1; ++y)
            for (unsigned x = x0; x < x1; ++x)
                dSum += uint8_t(oFrame[uiPlane + y * uiWidth + x]);
        return dSum / ((x1 - x0) * (y1 - y0));
    };
    EXPECT_LE(Average(0, 1024, 32, 128, 0, 32), 20.0);
    for (size_t uiChroma : {1024 * 768, 1024 * 768 + 512 * 384})
        EXPECT_TRUE(std::abs(128.0 - Average(uiChroma, 512, 17, 63, 1, 15)) < 6 && std::abs(128.0 - Average(uiChroma, 512, 0, 14, 0, 16)) > 40 &&
                    std::abs(128.0 - Average(uiChroma, 512, 66, 200, 0, 16)) > 40 && std::abs(128.0 - Average(uiChroma, 512, 16, 64, 18, 100)) > 40);
    // A client that plays, then never reads nor answers: the stop counts the wait for it down,
    // then closes its connection, and the media goes with it.
    CRawRtspClient oDeaf(oUrl);
    ASSERT_TRUE(oDeaf.Play());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    bool bStopped = false;
    const std::string oLog = LogOf(2, [&] { bStopped = StopStreaming(); });
    EXPECT_TRUE(bStopped);
    for (int iSecond = 7; iSecond >= 1; --iSecond)
        EXPECT_TRUE(Has(oLog, "Waiting for " + std::to_string(iSecond) + " seconds...\n")) << oLog;
    for (const char* szLine : {"Error while sending EOS event, pipeline still exists after 7 seconds\n",
                               "Error occured while sending EOS events\n", "Main loop thread join\n"})
        EXPECT_TRUE(Has(oLog, szLine)) << szLine;
    char acData[65536];
    EXPECT_TRUE(Eventually([&] { return recv(oDeaf.Fd(), acData, sizeof(acData), MSG_DONTWAIT) == 0; }));
    ExpectNothingLeft();
}

namespace
{
// What the host's callback was told, and whether from the test's own thread.
std::mutex local_oModeMutex;
std::string local_oModeChanges;
const std::thread::id local_oHostThread = std::this_thread::get_id();

void HostModeCallback(int iDetected, unsigned uiWidth, unsigned uiHeight, unsigned uiFrameRate, int iInterlaced, void*)
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    local_oModeChanges += iDetected ? std::to_string(uiWidth) + "x" + std::to_string(uiHeight) + "@" + std::to_string(uiFrameRate) +
                                          (iInterlaced ? "i" : "p")
                                    : "none";
    local_oModeChanges += std::this_thread::get_id() == local_oHostThread ? " on the host's thread\n" : "\n";
}

std::string ModeChanges()
{
    std::lock_guard<std::mutex> oLock(local_oModeMutex);
    return local_oModeChanges;
}
} // namespace

TEST(ServerEndToEnd, Input1080i60IsServedDeinterlacedAndModeChangesReachTheHostsCallbackWithoutRebuilding)
{
    PELLIX_RUN_IN_OWN_PROCESS(150);
    CTestPlatform oPlatform("1920x1080i60");
    SetVideoModeChangeCallback(&HostModeCallback);
    std::string oPrinted;
    const std::string oUrl = StartCaptured(&oPrinted);
    ASSERT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@30fps", oUrl) << oPrinted;
    EXPECT_TRUE(Has(oPrinted, "Capture video mode: 1920x1080@30fps, Interlaced.\n")) << oPrinted;
    ExpectMovingPictures(oUrl, 30);
    ExpectPatternUpright(oUrl);
    const GStreamerEncodeServer* const poServer = g_poServer;
    EXPECT_EQ(6u, PellixPlatform_LiveHandleCount());  // capture, receiver, deinterlacer, display and its control, encoder
    // An unchanged input is no change; each change reaches the callback once, from the capture's
    // polling thread; the graph stays as it was built, nothing is printed as at a start.
    const std::string oMeanwhile = LogOf(0, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        for (const char* szSignal : {"1280x720p60", "none", "1920x1080p60"})
        {
            const size_t uiBefore = ModeChanges().size();
            PellixTest_SetSimulatedInput(szSignal);
            Eventually([&] { return ModeChanges().size() > uiBefore; });
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        }
    });
    EXPECT_EQ("1280x720@60p\nnone\n1920x1080@60p\n", ModeChanges());
    EXPECT_FALSE(Has(oMeanwhile, "Capture video mode") || Has(oMeanwhile, "Monitor:")) << oMeanwhile;
    EXPECT_TRUE(poServer == g_poServer && g_poServer->m_bCapture);
    EXPECT_EQ(6u, PellixPlatform_LiveHandleCount());
    CRawRtspClient oClient(oUrl);
    EXPECT_TRUE(oClient.Connect() && Has(oClient.Request("DESCRIBE"), "m=video 0 RTP/AVP 96"));
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft();
}

namespace
{
// The capture's signal, 997 Hz at half scale left and 1499 Hz at a quarter right, in the decoded
// audio, measured half a second at a time (a busy machine may hold the capture and leave gaps in
// the audio, and a client ends its time-bounded run early after one; the rest is the signal).
void ExpectTheSignal(const std::string& roPcm)
{
    const std::vector<int16_t> aiSamples = PcmSamples(roPcm);
    std::string oWindows;
    unsigned uiSignal = 0;
    for (size_t uiFrame = 0; uiFrame + 24000 <= aiSamples.size() / 2; uiFrame += 24000)
    {
        const std::vector<int16_t> aiWindow(aiSamples.begin() + 2 * uiFrame, aiSamples.begin() + 2 * (uiFrame + 24000));
        const SToneMeasure oLeft = MeasureTone(aiWindow, 2, 0, 48000, 0);
        const SToneMeasure oRight = MeasureTone(aiWindow, 2, 1, 48000, 0);
        uiSignal += std::abs(oLeft.dFrequency - 997) <= 2 && std::abs(oRight.dFrequency - 1499) <= 2 &&
                    std::abs(oLeft.dAmplitude / 16384 - 1) < 0.03 && std::abs(oRight.dAmplitude / 8192 - 1) < 0.03;
        oWindows += std::to_string(int(oLeft.dFrequency)) + " Hz " + std::to_string(int(oLeft.dAmplitude)) + ", " +
                    std::to_string(int(oRight.dFrequency)) + " Hz " + std::to_string(int(oRight.dAmplitude)) + "\n";
    }
    EXPECT_GE(uiSignal, 1u) << oWindows;
}
} // namespace

TEST(ServerEndToEnd, AudioIsThePayloadBeforeTheVideoEachFrameRawInOrderAndBothDecode)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("640x480p60");
    ActivateAudioServer(1);
    std::string oPrinted;
    const std::string oUrl = StartCaptured(&oPrinted);
    ASSERT_EQ("rtsp://127.0.0.1:8554/Video640x480@60fps_audio", oUrl) << oPrinted;
    ASSERT_NE(nullptr, g_poServer->m_poAudio);
    // A client over UDP: the media as it learns it, audio first (pay0, 96, stream 0), video second
    // (pay1, 97, stream 1); one raw AAC frame a packet (no ADTS header), stamped in order, the
    // first within a second of the play.
    CRawRtspClient oClient(oUrl);
    ASSERT_TRUE(oClient.Play(2, true));
    const auto oPlayed = std::chrono::steady_clock::now();
    std::string oPacket = oClient.NextPacket(10000);
    EXPECT_LT(std::chrono::steady_clock::now() - oPlayed, std::chrono::seconds(1));
    const std::string& roSdp = oClient.Sdp();
    const size_t uiVideo = roSdp.find("m=video 0 RTP/AVP 97\r\n");
    for (const char* szLine : {"m=audio 0 RTP/AVP 96\r\n", "a=rtpmap:96 MP4A-LATM/48000\r\n", "a=control:stream=0\r\n", "config=40002320"})
        EXPECT_LT(roSdp.find(szLine), uiVideo) << szLine << " in\n" << roSdp;
    EXPECT_TRUE(Has(roSdp.substr(uiVideo), "a=rtpmap:97 H264/90000\r\n") && Has(roSdp.substr(uiVideo), "a=control:stream=1\r\n")) << roSdp;
    unsigned uiLastTime = 0;
    unsigned uiFrameSteps = 0;
    for (unsigned i = 0; i < 100; ++i, oPacket = oClient.NextPacket(5000))
    {
        const auto* pbyPacket = reinterpret_cast<const uint8_t*>(oPacket.data());
        ASSERT_GE(oPacket.size(), 16u);
        EXPECT_EQ(0xE0, pbyPacket[1]) << i;  // marker, payload type 96
        const unsigned uiTime = pbyPacket[4] << 24 | pbyPacket[5] << 16 | pbyPacket[6] << 8 | pbyPacket[7];
        // 1024 samples a frame: the times advance by a frame's length (rounded to the next sample
        // at times), or further after a gap in the audio (a busy machine may hold the capture).
        EXPECT_TRUE(i == 0 || uiTime - uiLastTime >= 1023) << i << ": " << uiTime - uiLastTime;
        uiFrameSteps += i > 0 && uiTime - uiLastTime - 1023 <= 2 ? 1 : 0;
        uiLastTime = uiTime;
        // LATM: the frame's length (bytes of 255 and one below), then the frame, no ADTS header.
        size_t uiAt = 12;
        size_t uiLength = 0;
        while (uiAt < oPacket.size() && pbyPacket[uiAt] == 255)
            uiLength += pbyPacket[uiAt++];
        uiLength += pbyPacket[uiAt++];
        EXPECT_EQ(oPacket.size(), uiAt + uiLength) << i;
        EXPECT_FALSE(pbyPacket[uiAt] == 0xFF && (pbyPacket[uiAt + 1] & 0xF6) == 0xF0) << i;
    }
    EXPECT_GT(uiFrameSteps, 50u);
    oClient.Close();
    EXPECT_EQ("aac,48000,2\nh264,640\n", RunCommand("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name,"
                                                    "sample_rate,channels,width -of csv=p=0 " + oUrl, 60).oOut);
    // ffmpeg and rtspsrc each decode both: the capture's signal and moving pictures.
    CTempDir oDir;
    const std::string oPcm = (oDir.Path() / "audio.raw").string();
    const SRunResult oFfmpeg = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -map 0:a -t 2.5 -f s16le -ac 2 -ar 48000 " +
                                              oPcm + " -map 0:v -t 2.5 -f framemd5 -", 60);
    EXPECT_EQ("", oFfmpeg.oErr);
    EXPECT_GE(Occurrences(oFfmpeg.oOut, " 460800, "), 60u);
    ExpectTheSignal(oDir.Read("audio.raw"));
    // rtspsrc within playbin, which links the streams' pads itself. (gst-launch linking two
    // branches to rtspsrc's pads through caps filters may link a pad to the other branch's filter
    // and unlink it again: that stream stops there for good, and the other stalls in preroll.)
    const SRunResult oGst = RunCommand("gst-launch-1.0 -e -v playbin uri=" + oUrl + " audio-sink=\"audioconvert ! "
                                       "audio/x-raw,format=S16LE,channels=2,rate=48000 ! identity eos-after=118 ! filesink location=" +
                                       oPcm + "\" video-sink=\"identity eos-after=151 silent=false ! fakesink\"", 60);
    EXPECT_TRUE(oGst.iExitCode == 0 || Has(oGst.oOut, "Got EOS from element")) << oGst.oErr << oGst.oOut.substr(oGst.oOut.size() > 4000 ? oGst.oOut.size() - 4000 : 0);
    EXPECT_GE(Occurrences(oGst.oOut, "GstIdentity:identity1: last-message = chain"), 90u);
    ExpectTheSignal(oDir.Read("audio.raw"));
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft();
}

namespace
{
// Mean absolute difference of two 1920-wide RGB pictures within [x0, x1) x [y0, y1), and the mean
// of the first there.
std::pair<double, double> Compare(const std::string& roA, const std::string& roB, unsigned x0, unsigned x1, unsigned y0,
                                  unsigned y1)
{
    double dDifference = 0.0, dSum = 0.0;
    for (unsigned y = y0; y < y1; ++y)
        for (unsigned x = 3 * x0; x < 3 * x1; ++x)
        {
            const int iA = uint8_t(roA[size_t(y) * 1920 * 3 + x]);
            dDifference += std::abs(iA - uint8_t(roB[size_t(y) * 1920 * 3 + x]));
            dSum += iA;
        }
    const double dCount = 3.0 * (x1 - x0) * (y1 - y0);
    return {dDifference / dCount, dSum / dCount};
}
} // namespace

TEST(DisplayWindow, AScreenshotOfTheWindowShowsTheSnapshotAtTheFittedRectangle)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    // A private X server with one 1920x1080 screen on the first free display number, which it
    // writes once it is ready. Without -noreset it would reset when its last client leaves (the
    // window's sink probing the X video extension first): a window opened meanwhile finds no
    // display.
    CChildProcess oXServer({"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                           160);
    ASSERT_TRUE(oXServer.WaitForOutput("\n", 30)) << oXServer.Err();
    const std::string oDisplay = ":" + oXServer.Out().substr(0, oXServer.Out().find('\n'));
    setenv("DISPLAY", oDisplay.c_str(), 1);
    setenv("PELLIX_SIM_DISPLAY", "window", 1);
    // Still colour bars of 1280x720 on a 1920x1080 monitor: fitted unscaled at (320, 180).
    const CTestPlatform oPlatform(
        "gst:videotestsrc is-live=true pattern=smpte100 ! video/x-raw,width=1280,height=720,framerate=30/1");
    ASSERT_NE("", StartCaptured());

    const CTempDir oFolder;
    const std::string oSnapshot = (oFolder.Path() / "snapshot.ppm").string();
    const std::string oGrab = "gst-launch-1.0 -q ximagesrc display-name=" + oDisplay +
                              " use-damage=false show-pointer=false num-buffers=1 ! videoconvert ! "
                              "video/x-raw,format=RGB ! fdsink";
    // The window comes up with its first refreshes. The snapshot's pixels end its file.
    std::pair<double, double> oInside(255.0, 0.0);
    std::string oSnapshotPixels, oScreenPixels;
    for (int iTry = 0; iTry < 40 && oInside.first > 4.0; ++iTry)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(oSnapshot.c_str()));
        oSnapshotPixels = oFolder.Read("snapshot.ppm");
        oSnapshotPixels.erase(0, oSnapshotPixels.size() - std::min<size_t>(oSnapshotPixels.size(), 1920 * 1080 * 3));
        oScreenPixels = RunCommand(oGrab, 30).oOut;
        ASSERT_TRUE(oScreenPixels.size() == 1920u * 1080 * 3 && oSnapshotPixels.size() == 1920u * 1080 * 3);
        oInside = Compare(oScreenPixels, oSnapshotPixels, 320, 1600, 180, 900);
    }
    // Inside the rectangle the bars, as the snapshot has them; outside black in both (the bands
    // above and below the rectangle; the others are alike).
    const auto oAbove = Compare(oScreenPixels, oSnapshotPixels, 0, 1920, 0, 180);
    const auto oBelow = Compare(oScreenPixels, oSnapshotPixels, 0, 1920, 900, 1080);
    EXPECT_LT(oInside.first, 4.0) << "display " << oDisplay << "; the X server said: " << oXServer.Err();
    EXPECT_GT(oInside.second, 60.0);
    EXPECT_TRUE(oAbove.first < 1.0 && oAbove.second < 1.0 && oBelow.second < 1.0);
    EXPECT_TRUE(StopStreaming());
    oXServer.Signal(SIGTERM);  // a server ending of its own removes its display's lock
    EXPECT_TRUE(oXServer.Wait(10));
}
