// The host program with real sources as its input: clips made with ffmpeg, a live GStreamer
// source, a capture device that is missing, inputs that cannot serve. Real clients (ffprobe,
// ffmpeg) watch what it serves on loopback; it follows its input's changes of mode.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "FrameRate.h"
#include "HostProcess.h"
#include "RtspTestSupport.h"
#include "TempDir.h"
#include "TestClips.h"

namespace
{
class PellixServerSources : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_poClips = new CTempDir();
        s_bClipsMade = MakeTestClips(s_poClips->Path());
    }
    static void TearDownTestSuite()
    {
        delete s_poClips;
        s_poClips = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_bClipsMade); }

    // Another program, or the last run, may still be leaving the service's port.
    static void WaitForServicePort()
    {
        for (int iTry = 0; iTry < 300 && !CanBindPort(8554); ++iTry)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    static std::string Clip(const char* szName) { return "file:" + (s_poClips->Path() / szName).string(); }
    // The host on loopback with that input, its platform root made in a private folder.
    std::unique_ptr<CHostProcess> Host(const std::string& roInput, const std::vector<std::string>& roMore = {})
    {
        WaitForServicePort();
        std::vector<std::string> aoArguments = {"--interface", "lo", "--input", roInput};
        aoArguments.insert(aoArguments.end(), roMore.begin(), roMore.end());
        return std::make_unique<CHostProcess>(
            aoArguments, std::vector<std::string>{"TMPDIR=" + m_oTemp.Path().string(), "PELLIX_ALSA_DIR=" + m_oAlsa.Path().string(),
                                                  "-PELLIX_PLATFORM_ROOT", "-PELLIX_SIM_INPUT", "-PELLIX_LIBRARY",
                                                  "-ALSA_CONFIG_PATH", "-PELLIX_SIM_DISPLAY"});
    }
    // The URL the host printed last.
    static std::string LastUrl(const std::string& roOut)
    {
        const std::string oPrefix = "pellix-server: streaming at ";
        const size_t uiAt = roOut.rfind(oPrefix);
        return uiAt == std::string::npos ? "" : roOut.substr(uiAt + oPrefix.size(), roOut.find('\n', uiAt) - uiAt - oPrefix.size());
    }
    // ffprobe's view of the video stream: "codec_name=h264\nwidth=...\nheight=...\n" and the rate.
    static std::string ProbeVideo(const std::string& roUrl, double& rdRate)
    {
        const SRunResult oProbe = RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v -show_entries "
                                             "stream=codec_name,width,height,r_frame_rate -of default=nw=1 " + roUrl,
                                             60);
        std::cout << "ffprobe " << roUrl << ":\n" << oProbe.oOut << oProbe.oErr;
        const size_t uiRate = oProbe.oOut.find("r_frame_rate=");
        rdRate = uiRate != std::string::npos ? ParseFrameRate(oProbe.oOut.substr(uiRate + 13)) : 0.0;
        return oProbe.oOut.substr(0, uiRate);
    }
    bool FolderEmpty() const { return std::filesystem::is_empty(m_oTemp.Path()); }

    static CTempDir* s_poClips;
    static bool s_bClipsMade;
    CTempDir m_oTemp;
    CTempDir m_oAlsa;
};
CTempDir* PellixServerSources::s_poClips = nullptr;
bool PellixServerSources::s_bClipsMade = false;

// Stops the host as Ctrl-C does: exit code 0.
void ExpectCleanStop(CHostProcess& roHost)
{
    roHost.Signal(SIGINT);
    ASSERT_TRUE(roHost.Wait(60)) << roHost.Out();
    EXPECT_EQ(0, roHost.ExitCode()) << roHost.All();
}
} // namespace

TEST_F(PellixServerSources, EachKindOfInputIsServedUnderThePathOfItsMode)
{
    struct SCase
    {
        std::string oInput;
        bool bAudio;
        const char* szPath;
        unsigned uiWidth, uiHeight, uiRate;
    };
    const SCase aoCases[] = {
        {Clip("p720-tone.mp4"), true, "/Video1280x720@50fps_audio", 1280, 720, 50},
        // Deinterlaced: 50 fields a second make 25 frames.
        {Clip("i1080.mkv"), false, "/Video1920x1080@25fps", 1920, 1080, 25},
        // Its fields of 288 lines are below the 480 the library takes: no signal, the default picture.
        {Clip("i576.mkv"), false, "/Video1024x768@60fps", 1024, 768, 60},
        {"gst:videotestsrc is-live=true pattern=ball ! video/x-raw,width=1280,height=720,framerate=50/1", false,
         "/Video1280x720@50fps", 1280, 720, 50},
    };
    for (const SCase& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.oInput);
        auto poHost = Host(roCase.oInput, roCase.bAudio ? std::vector<std::string>{"--audio"} : std::vector<std::string>{});
        ASSERT_TRUE(poHost->WaitForOutput("pellix-server: streaming at ", 90)) << poHost->All();
        const std::string oUrl = LastUrl(poHost->Out());
        EXPECT_EQ(roCase.szPath, oUrl.substr(oUrl.rfind('/'))) << poHost->Out();
        double dRate = 0.0;
        EXPECT_EQ("codec_name=h264\nwidth=" + std::to_string(roCase.uiWidth) + "\nheight=" + std::to_string(roCase.uiHeight) + "\n",
                  ProbeVideo(oUrl, dRate));
        EXPECT_NEAR(roCase.uiRate, dRate, roCase.uiRate * g_dFrameRateTolerance);
        if (roCase.bAudio)
        {
            // The clip's own tone, not the device's test signal (997 Hz); a glitch on a busy machine may
            // add a crossing or two.
            const SRunResult oAudio = RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl +
                                                     " -map 0:a -t 2 -ac 1 -f s16le -",
                                                 60);
            const auto* piSamples = reinterpret_cast<const int16_t*>(oAudio.oOut.data());
            const size_t uiSamples = oAudio.oOut.size() / 2;
            EXPECT_GT(uiSamples, 48000u) << oAudio.oErr;
            EXPECT_NEAR(440.0, ToneFrequency(piSamples + uiSamples / 4, uiSamples - uiSamples / 4, 1, 48000), 20.0);
        }
        ExpectCleanStop(*poHost);
    }
}

TEST_F(PellixServerSources, AChangeOfSizeHalfwayThroughAFileIsServedUnderItsNewPath)
{
    auto poHost = Host(Clip("change.ts"));
    ASSERT_TRUE(poHost->WaitForOutput("pellix-server: streaming at ", 90)) << poHost->All();
    EXPECT_NE(std::string::npos, LastUrl(poHost->Out()).find("/Video1280x720@25fps")) << poHost->Out();
    // After 3 s the picture is 800x600: the library's callback, then a restart on the new path.
    ASSERT_TRUE(poHost->WaitForOutput("/Video800x600@25fps\n", 60)) << poHost->All();
    const std::string oOut = poHost->Out();
    const size_t uiChange = oOut.find("pellix-server: input mode changed: 800x600@25fps, progressive\n");
    const size_t uiRestart = oOut.find("pellix-server: restarting for the new input\n");
    EXPECT_NE(std::string::npos, uiChange) << oOut;
    EXPECT_LT(uiChange, uiRestart) << oOut;
    EXPECT_LT(uiRestart, oOut.find("Capture video mode: 800x600@25fps, Progressive.\n", uiRestart)) << oOut;
    double dRate = 0.0;
    EXPECT_EQ("codec_name=h264\nwidth=800\nheight=600\n", ProbeVideo(LastUrl(oOut), dRate));
    ExpectCleanStop(*poHost);
}

TEST_F(PellixServerSources, TheEndOfALiveSourceOrAMissingDeviceServesTheDefaultPicture)
{
    // 100 pictures at 50 a second: the source ends 2 s after it started, and does not come back.
    auto poHost = Host("gst:videotestsrc is-live=true num-buffers=100 ! video/x-raw,width=1280,height=720,framerate=50/1");
    ASSERT_TRUE(poHost->WaitForOutput("/Video1280x720@50fps\n", 90)) << poHost->All();
    ASSERT_TRUE(poHost->WaitForOutput("/Video1024x768@60fps\n", 60)) << poHost->All();
    const std::string oOut = poHost->Out();
    EXPECT_LT(oOut.find("pellix-server: input mode changed: no signal\n"),
              oOut.find("Cannot capture video: Put default bitmap.\n"))
        << oOut;
    EXPECT_NE(std::string::npos, poHost->Err().find("no signal: ended")) << poHost->Err();
    double dRate = 0.0;
    EXPECT_EQ("codec_name=h264\nwidth=1024\nheight=768\n", ProbeVideo(LastUrl(oOut), dRate));
    ExpectCleanStop(*poHost);

    // A capture device that is not there (yet) is no signal, said once at the start.
    auto poDevice = Host("v4l2:/dev/pellix-no-such-video", {"--duration", "2"});
    ASSERT_TRUE(poDevice->Wait(60)) << poDevice->All();
    EXPECT_EQ(0, poDevice->ExitCode()) << poDevice->All();
    EXPECT_NE(std::string::npos, poDevice->Out().find("pellix-server: input v4l2:/dev/pellix-no-such-video: no signal: "
                                                      "Cannot identify device '/dev/pellix-no-such-video'."))
        << poDevice->Out();
    EXPECT_NE(std::string::npos, LastUrl(poDevice->Out()).find("/Video1024x768@60fps")) << poDevice->Out();
}

TEST_F(PellixServerSources, InputsThatCannotServeEndTheHostWithExitCodeTwoAndLeaveNothing)
{
    const std::string oText = m_oAlsa.Write("notes.mp4", "not a video").string();
    const struct
    {
        std::string oInput;
        const char* szReason;
    } aoCases[] = {
        {Clip("missing.mp4"), "Resource not found."},
        {"file:" + oText, "Could not determine type of stream."},
        {"gst:videotestsrc ! (", "does not parse"},
        {"gst:audiotestsrc is-live=true", "has no video"},
    };
    for (const auto& roCase : aoCases)
    {
        auto poHost = Host(roCase.oInput, {"--duration", "30"});
        ASSERT_TRUE(poHost->Wait(60)) << roCase.oInput;
        EXPECT_EQ(2, poHost->ExitCode()) << poHost->All();
        EXPECT_NE(std::string::npos, poHost->Err().find("pellix-server: input " + roCase.oInput + ": " + roCase.szReason))
            << poHost->Err();
        EXPECT_EQ(std::string::npos, poHost->Out().find("streaming")) << poHost->Out();
        EXPECT_TRUE(FolderEmpty()) << roCase.oInput;
    }
}
