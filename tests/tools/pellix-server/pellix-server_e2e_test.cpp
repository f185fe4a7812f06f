// The host program as a user runs it on the simulated platform: it streams on port 8554 until its
// duration ends or a signal stops it, real clients watch what it serves, and it cleans up after
// itself.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "Eventually.h"
#include "RtspClients.h"
#include "TestClips.h"

namespace
{
// One run of the host with a private temporary folder (where it makes its platform root) and
// ALSA control folder, and nothing else of the platform's settings from the test's environment.
// The environment guard (EnvironmentGuard.c) ends a host that changes its environment while
// another thread runs.
struct SHostRun
{
    explicit SHostRun(std::vector<std::string> aoArguments)
    {
        EXPECT_TRUE(WaitPortFree(8554));
        aoArguments.insert(aoArguments.begin(), PELLIX_SERVER_PATH);
        poHost = std::make_unique<CChildProcess>(
            aoArguments, 170,
            std::vector<std::string>{"TMPDIR=" + oTemp.Path().string(), "PELLIX_ALSA_DIR=" + oAlsa.Path().string(),
                                     "-PELLIX_PLATFORM_ROOT", "-PELLIX_SIM_INPUT", "-PELLIX_SIM_MONITOR", "-PELLIX_SIM_DISPLAY",
                                     "-PELLIX_NET_INTERFACE", "-PELLIX_LIBRARY", "-ALSA_CONFIG_PATH", "-PELLIX_MAX_CLIENTS",
                                     PELLIX_ENVIRONMENT_GUARD});
    }
    // "pellix-server: streaming at <URL>", the last one printed.
    std::string Url() const
    {
        const std::string oOut = poHost->Out();
        const size_t uiAt = oOut.rfind("pellix-server: streaming at ");
        return uiAt == std::string::npos ? "" : oOut.substr(uiAt + 28, oOut.find('\n', uiAt) - uiAt - 28);
    }
    // A stop that cleans up: exit code 0, the stop reported, the platform root gone, the port free;
    // nothing on standard error but what the encoder says when a busy machine makes it code faster,
    // and a real source's end (bSourceEnds).
    void ExpectCleanEnd(int iSignal = 0, bool bSourceEnds = false)
    {
        if (iSignal != 0)
            poHost->Signal(iSignal);
        ASSERT_TRUE(poHost->Wait(60)) << poHost->Out();
        EXPECT_EQ(0, poHost->ExitCode()) << poHost->Out() << poHost->Err();
        EXPECT_TRUE(Has("pellix-server: stopping\n") && Has("pellix-server: stopped\n")) << poHost->Out();
        std::string oErr = poHost->Err();
        for (size_t uiAt; (uiAt = oErr.find("OMX.TI.DUCATI.VIDENC: coding ")) != std::string::npos;)
            oErr.erase(uiAt, oErr.find('\n', uiAt) + 1 - uiAt);
        EXPECT_TRUE(bSourceEnds || oErr.empty()) << poHost->Err();
        EXPECT_TRUE(std::filesystem::is_empty(oTemp.Path()));
        EXPECT_TRUE(CanBindPort(8554));
    }
    bool Has(const std::string& roText) const { return poHost->Out().find(roText) != std::string::npos; }

    CTempDir oTemp;
    CTempDir oAlsa;
    std::unique_ptr<CChildProcess> poHost;
};
} // namespace

TEST(PellixServerHost, ClientsWatchTheStreamAndSigtermStopsItWithExitZeroLeavingNothing)
{
    SHostRun oRun({"--interface", "lo"});
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: streaming at ", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
    EXPECT_EQ(0u, oRun.poHost->Out().find("pellix-server: serving on interface lo\n"));
    for (const char* szLine : {"framework version 0x00010000\n", "Capture video mode: 1920x1080@60fps, Progressive.\n",
                               "Monitor: \"PELLIX HD60\", 1920x1080@60Hz\n"})
        EXPECT_TRUE(oRun.Has(szLine)) << szLine << " in\n" << oRun.poHost->Out();
    const std::string oUrl = oRun.Url();
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps", oUrl);
    // The display driver's files are in the host's own platform root.
    std::vector<std::filesystem::path> aoRoots;
    for (const auto& roEntry : std::filesystem::directory_iterator(oRun.oTemp.Path()))
        aoRoots.push_back(roEntry.path());
    ASSERT_EQ(1u, aoRoots.size());
    EXPECT_EQ(0u, aoRoots[0].filename().string().find("pellix-platform-"));
    EXPECT_TRUE(std::filesystem::exists(aoRoots[0] / "sys/devices/platform/vpss/display0/timings"));
    // A second of the input, every picture new, drawn upright.
    ExpectMovingPictures(oUrl, 60);
    ExpectPatternUpright(oUrl);
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: 2s streaming=yes\n", 30)) << oRun.poHost->Out();
    oRun.ExpectCleanEnd(SIGTERM);
    EXPECT_FALSE(oRun.Has("streaming=no")) << oRun.poHost->Out();
}

TEST(PellixServerHost, AudioWithVolumeStreamsForItsDurationReportingOnceASecond)
{
    SHostRun oRun({"--interface", "lo", "--audio", "--volume", "40", "--duration", "2"});
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: streaming at ", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps_audio", oRun.Url());
    oRun.ExpectCleanEnd();
    EXPECT_TRUE(oRun.Has("pellix-server: playback volume 40%: set\n"));
    EXPECT_TRUE(oRun.Has("pellix-server: 1s streaming=yes\n") && oRun.Has("pellix-server: 2s streaming=yes\n") &&
                !oRun.Has("3s streaming=") && !oRun.Has("streaming=no"))
        << oRun.poHost->Out();
    EXPECT_EQ("102 102\n", oRun.oAlsa.Read("analog_volume"));  // 40 % of the analog output's 0..255, both channels
}

TEST(PellixServerHost, AStartThatFailsEndsItWithExitCodeOneLeavingNothing)
{
    SHostRun oRun({"--interface", "lo", "--input", "1920x1080p75", "--duration", "1"});
    ASSERT_TRUE(oRun.poHost->Wait(90));
    EXPECT_EQ(1, oRun.poHost->ExitCode());
    EXPECT_TRUE(oRun.Has("Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n")) << oRun.poHost->Out();
    EXPECT_NE(std::string::npos, oRun.poHost->Err().find("pellix-server: streaming did not start\n"));
    EXPECT_EQ("", oRun.Url());
    EXPECT_TRUE(std::filesystem::is_empty(oRun.oTemp.Path()));
}

// With --max-clients 2, two viewers decode while a third is answered 503 Service Unavailable at
// once; once a viewer has gone, even without a TEARDOWN, the next one is served. A viewer that
// joins the running stream gets a key frame among its first pictures, not only with the stream's
// next one (every 90 pictures, 3 s here), and decodes without a message.
TEST(PellixServerHost, BeyondMaxClientsAViewerIsAnswered503AndTheOthersDecodeOn)
{
    SHostRun oRun({"--interface", "lo", "--input", "640x480p30", "--max-clients", "2"});
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: streaming at ", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
    const std::string oUrl = oRun.Url();
    const auto Viewer = [&](const char* szFrames) {
        return std::make_unique<CChildProcess>(std::vector<std::string>{"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", "tcp", "-i",
                                                                        oUrl, "-frames:v", szFrames, "-f", "framecrc", "-"},
                                               120);
    };
    const auto Frames = [](const CChildProcess& roViewer) { return Occurrences("\n" + roViewer.Out(), "\n0,"); };
    const auto poFirst = Viewer("600");
    ASSERT_TRUE(Eventually([&] { return Frames(*poFirst) >= 10; }, std::chrono::seconds(60))) << poFirst->Err();
    // The second viewer plays over TCP and receives the stream.
    CRawRtspClient oSecond(oUrl);
    ASSERT_TRUE(oSecond.Play());
    int iPicturesBeforeKey = 0;
    std::string oPacket;
    while (!(oPacket = oSecond.NextPacket(10000)).empty() && H264NalType(oPacket) != 5)
        iPicturesBeforeKey += (oPacket[1] & 0x80) != 0;
    ASSERT_FALSE(oPacket.empty());
    EXPECT_LT(iPicturesBeforeKey, 10);

    const SRunResult oRefused = RunCommand("ffprobe -v error -rtsp_transport tcp " + oUrl, 60);
    EXPECT_NE(0, oRefused.iExitCode);
    EXPECT_NE(std::string::npos, oRefused.oErr.find("503 Service Unavailable")) << oRefused.oErr;

    // The second viewer goes without a TEARDOWN (its connection just closes): its place is free
    // for the next one while the first goes on.
    oSecond.Close();
    const auto poNext = Viewer("10");
    ASSERT_TRUE(poNext->Wait(70));
    EXPECT_EQ(0, poNext->ExitCode()) << poNext->Err();
    EXPECT_EQ(10u, Frames(*poNext)) << poNext->Err();
    EXPECT_EQ("", poNext->Err());
    EXPECT_TRUE(poFirst->IsRunning());
    ASSERT_TRUE(poFirst->Wait(90));
    EXPECT_EQ(0, poFirst->ExitCode());
    EXPECT_EQ("", poFirst->Err());
    EXPECT_EQ(600u, Frames(*poFirst));
    oRun.ExpectCleanEnd(SIGINT);
}

// Viewers that start together, over UDP and over TCP, all decode pictures and sound, round after
// round. (Such a round once failed every viewer: the media answered a PLAY with a seek that the
// live streams cannot make, or it never played, its stream's thread waiting in one client's sink
// while another client's sink waited for a first buffer.)
TEST(PellixServerHost, ViewersStartingTogetherOverUdpAndTcpAllDecodePicturesAndSound)
{
    SHostRun oRun({"--interface", "lo", "--audio", "--input", "640x480p30"});
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: streaming at ", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
    const std::string oUrl = oRun.Url();
    for (int iRound = 1; iRound <= 4; ++iRound)
    {
        SCOPED_TRACE(iRound);
        std::vector<std::unique_ptr<CChildProcess>> apoViewers;
        for (const char* szTransport : {"udp", "tcp", "udp", "tcp", "udp"})
            apoViewers.push_back(std::make_unique<CChildProcess>(
                std::vector<std::string>{"ffmpeg", "-nostdin", "-v", "error", "-rtsp_transport", szTransport, "-i", oUrl,
                                         "-map", "0:v", "-map", "0:a", "-frames:v", "30", "-f", "framecrc", "-"},
                60));
        for (const auto& poViewer : apoViewers)
        {
            ASSERT_TRUE(poViewer->Wait(60));
            const std::string oFrames = "\n" + poViewer->Out();
            EXPECT_EQ(0, poViewer->ExitCode()) << poViewer->Err();
            EXPECT_EQ(30u, Occurrences(oFrames, "\n0,")) << poViewer->Err();
            EXPECT_LT(0u, Occurrences(oFrames, "\n1,"));
            EXPECT_EQ("", poViewer->Err());
        }
    }
    oRun.ExpectCleanEnd(SIGINT);
}

// ---- Real sources as the input: clips made with ffmpeg, live GStreamer sources, devices ----------

namespace
{
class PellixServerSources : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_bClipsMade = MakeTestClips(s_poClips->Path()); }
    static void TearDownTestSuite() { s_poClips.reset(); }
    void SetUp() override { ASSERT_TRUE(s_bClipsMade); }

    static std::string Clip(const char* szName) { return "file:" + (s_poClips->Path() / szName).string(); }
    // The host on loopback with that input.
    static std::unique_ptr<SHostRun> Host(const std::string& roInput, const std::vector<std::string>& roMore = {})
    {
        std::vector<std::string> aoArguments = {"--interface", "lo", "--input", roInput};
        aoArguments.insert(aoArguments.end(), roMore.begin(), roMore.end());
        return std::make_unique<SHostRun>(aoArguments);
    }
    // ffprobe's view of the video stream: "codec_name=h264\nwidth=...\nheight=...\n".
    static std::string ProbeVideo(const std::string& roUrl)
    {
        return RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v -show_entries stream=codec_name,width,height -of default=nw=1 " + roUrl, 60).oOut;
    }
    static std::unique_ptr<CTempDir> s_poClips;
    static bool s_bClipsMade;
};
std::unique_ptr<CTempDir> PellixServerSources::s_poClips = std::make_unique<CTempDir>();
bool PellixServerSources::s_bClipsMade = false;
} // namespace

TEST_F(PellixServerSources, EachKindOfInputIsServedUnderThePathOfItsMode)
{
    const struct
    {
        std::string oInput;
        bool bAudio;
        const char* szPath;
        const char* szVideo;
    } aoCases[] = {
        {Clip("p720-tone.mp4"), true, "/Video1280x720@50fps_audio", "width=1280\nheight=720\n"},
        // Deinterlaced: 50 fields a second make 25 frames.
        {Clip("i1080.mkv"), false, "/Video1920x1080@25fps", "width=1920\nheight=1080\n"},
        // Its fields of 288 lines are below the 480 the library takes: no signal, the default picture.
        {Clip("i576.mkv"), false, "/Video1024x768@60fps", "width=1024\nheight=768\n"},
    };
    for (const auto& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.oInput);
        auto poRun = Host(roCase.oInput, roCase.bAudio ? std::vector<std::string>{"--audio"} : std::vector<std::string>{});
        ASSERT_TRUE(poRun->poHost->WaitForOutput("pellix-server: streaming at ", 90)) << poRun->poHost->Out() << poRun->poHost->Err();
        const std::string oUrl = poRun->Url();
        EXPECT_EQ(roCase.szPath, oUrl.substr(oUrl.rfind('/'))) << poRun->poHost->Out();
        EXPECT_EQ(std::string("codec_name=h264\n") + roCase.szVideo, ProbeVideo(oUrl));
        if (roCase.bAudio)
        {
            // The clip's own tone, not the device's test signal (997 Hz); a glitch on a busy
            // machine may add a crossing or two.
            const SRunResult oAudio = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -map 0:a -t 2 -ac 1 -f s16le -", 60);
            const auto* piSamples = reinterpret_cast<const int16_t*>(oAudio.oOut.data());
            const size_t uiSamples = oAudio.oOut.size() / 2;
            EXPECT_GT(uiSamples, 48000u) << oAudio.oErr;
            EXPECT_NEAR(440.0, ToneFrequency(piSamples + uiSamples / 4, uiSamples - uiSamples / 4, 1, 48000), 20.0);
        }
        poRun->ExpectCleanEnd(SIGINT, true);
    }
}

TEST_F(PellixServerSources, AChangeOfSizeHalfwayThroughAFileIsServedUnderItsNewPath)
{
    auto poRun = Host(Clip("change.ts"));
    CChildProcess& roHost = *poRun->poHost;
    ASSERT_TRUE(roHost.WaitForOutput("pellix-server: streaming at ", 90)) << roHost.Out() << roHost.Err();
    EXPECT_NE(std::string::npos, poRun->Url().find("/Video1280x720@25fps")) << roHost.Out();
    // After 3 s the picture is 800x600: the library's callback, then a restart on the new path.
    ASSERT_TRUE(roHost.WaitForOutput("/Video800x600@25fps\n", 60)) << roHost.Out() << roHost.Err();
    const std::string oOut = roHost.Out();
    const size_t uiChange = oOut.find("pellix-server: input mode changed: 800x600@25fps, progressive\n");
    const size_t uiRestart = oOut.find("pellix-server: restarting for the new input\n");
    EXPECT_NE(std::string::npos, uiChange) << oOut;
    EXPECT_LT(uiChange, uiRestart) << oOut;
    EXPECT_LT(uiRestart, oOut.find("Capture video mode: 800x600@25fps, Progressive.\n", uiRestart)) << oOut;
    EXPECT_EQ("codec_name=h264\nwidth=800\nheight=600\n", ProbeVideo(poRun->Url()));
    poRun->ExpectCleanEnd(SIGINT, true);
}

TEST_F(PellixServerSources, TheEndOfALiveSourceOrAMissingDeviceServesTheDefaultPicture)
{
    // 100 pictures at 50 a second: the source ends 2 s after it started, and does not come back.
    auto poRun = Host("gst:videotestsrc is-live=true num-buffers=100 ! video/x-raw,width=1280,height=720,framerate=50/1");
    CChildProcess& roHost = *poRun->poHost;
    ASSERT_TRUE(roHost.WaitForOutput("/Video1280x720@50fps\n", 90)) << roHost.Out() << roHost.Err();
    ASSERT_TRUE(roHost.WaitForOutput("/Video1024x768@60fps\n", 60)) << roHost.Out() << roHost.Err();
    const std::string oOut = roHost.Out();
    EXPECT_LT(oOut.find("pellix-server: input mode changed: no signal\n"), oOut.find("Cannot capture video: Put default bitmap.\n")) << oOut;
    EXPECT_NE(std::string::npos, roHost.Err().find("no signal: ended")) << roHost.Err();
    EXPECT_EQ("codec_name=h264\nwidth=1024\nheight=768\n", ProbeVideo(poRun->Url()));
    poRun->ExpectCleanEnd(SIGINT, true);

    // A capture device that is not there (yet) is no signal, said once at the start.
    auto poDevice = Host("v4l2:/dev/pellix-no-such-video", {"--duration", "2"});
    poDevice->ExpectCleanEnd(0, true);
    EXPECT_TRUE(poDevice->Has("pellix-server: input v4l2:/dev/pellix-no-such-video: no signal: Cannot identify device '/dev/pellix-no-such-video'."))
        << poDevice->poHost->Out();
    EXPECT_NE(std::string::npos, poDevice->Url().find("/Video1024x768@60fps")) << poDevice->poHost->Out();
}

// (Every reason an input cannot serve is the platform's; the host says it and ends.)
TEST_F(PellixServerSources, AnInputThatCannotServeEndsTheHostWithExitCodeTwoAndLeavesNothing)
{
    auto poRun = Host("gst:videotestsrc ! (", {"--duration", "30"});
    ASSERT_TRUE(poRun->poHost->Wait(60));
    EXPECT_EQ(2, poRun->poHost->ExitCode()) << poRun->poHost->Out() << poRun->poHost->Err();
    EXPECT_NE(std::string::npos, poRun->poHost->Err().find("pellix-server: input gst:videotestsrc ! (: does not parse")) << poRun->poHost->Err();
    EXPECT_FALSE(poRun->Has("pellix-server: streaming")) << poRun->poHost->Out();
    EXPECT_TRUE(std::filesystem::is_empty(poRun->oTemp.Path()));
}
