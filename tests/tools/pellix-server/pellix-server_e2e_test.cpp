// The host program as a user runs it on the simulated platform: it streams on port 8554 until its
// duration ends or a signal stops it, real clients watch what it serves, and it cleans up after
// itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "RtspClients.h"

namespace
{
// One run of the host with a private temporary folder (where it makes its platform root) and
// ALSA control folder, and nothing else of the platform's settings from the test's environment.
struct SHostRun
{
    explicit SHostRun(std::vector<std::string> aoArguments)
    {
        EXPECT_TRUE(WaitPortFree(8554));
        aoArguments.insert(aoArguments.begin(), PELLIX_SERVER_PATH);
        poHost = std::make_unique<CChildProcess>(
            aoArguments, 120,
            std::vector<std::string>{"TMPDIR=" + oTemp.Path().string(), "PELLIX_ALSA_DIR=" + oAlsa.Path().string(),
                                     "-PELLIX_PLATFORM_ROOT", "-PELLIX_SIM_INPUT", "-PELLIX_SIM_MONITOR",
                                     "-PELLIX_NET_INTERFACE", "-PELLIX_LIBRARY", "-ALSA_CONFIG_PATH"});
    }
    // "pellix-server: streaming at <URL>".
    std::string Url() const
    {
        const std::string oOut = poHost->Out();
        const size_t uiAt = oOut.find("pellix-server: streaming at ");
        return uiAt == std::string::npos ? "" : oOut.substr(uiAt + 28, oOut.find('\n', uiAt) - uiAt - 28);
    }
    // "pellix-server: <n>s streaming=yes|no" lines.
    std::string StatusLines() const
    {
        std::string oLines;
        std::istringstream oOut(poHost->Out());
        for (std::string oLine; std::getline(oOut, oLine);)
            oLines += oLine.find("s streaming=") != std::string::npos ? oLine + "\n" : "";
        return oLines;
    }
    // A stop that cleans up: exit code 0, the stop reported, the platform root gone, the port free.
    void ExpectCleanEnd(int iSignal = 0)
    {
        if (iSignal != 0)
            poHost->Signal(iSignal);
        ASSERT_TRUE(poHost->Wait(60)) << poHost->Out();
        EXPECT_EQ(0, poHost->ExitCode()) << poHost->Out() << poHost->Err();
        EXPECT_TRUE(Has("pellix-server: stopping\n") && Has("pellix-server: stopped\n")) << poHost->Out();
        EXPECT_EQ("", poHost->Err());
        EXPECT_TRUE(std::filesystem::is_empty(oTemp.Path()));
        EXPECT_TRUE(CanBindPort(8554));
    }
    bool Has(const std::string& roText) const { return poHost->Out().find(roText) != std::string::npos; }

    CTempDir oTemp;
    CTempDir oAlsa;
    std::unique_ptr<CChildProcess> poHost;
};

// The interface the host takes by default and its IPv4 address: eth0 when it has one, else the
// first interface with one, loopback last.
std::pair<std::string, std::string> DefaultInterface()
{
    std::vector<std::pair<std::string, std::string>> aoChoices;
    struct ifaddrs* poList = nullptr;
    for (const struct ifaddrs* po = getifaddrs(&poList) == 0 ? poList : nullptr; po != nullptr; po = po->ifa_next)
    {
        char szText[INET_ADDRSTRLEN] = {0};
        if (po->ifa_addr != nullptr && po->ifa_addr->sa_family == AF_INET)
            aoChoices.emplace_back(po->ifa_name, inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(po->ifa_addr)->sin_addr, szText, sizeof(szText)));
    }
    freeifaddrs(poList);
    std::stable_sort(aoChoices.begin(), aoChoices.end(), [](const auto& roA, const auto& roB) {
        return std::make_pair(roA.first != "eth0", roA.first == "lo") < std::make_pair(roB.first != "eth0", roB.first == "lo");
    });
    return aoChoices.empty() ? std::make_pair(std::string(), std::string()) : aoChoices[0];
}
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
    std::string oError;
    std::vector<TStreamInfo> aoStreams = ProbeStreams(oUrl, oError);
    ASSERT_EQ(1u, aoStreams.size()) << oError;
    EXPECT_EQ("h264 1920x1080", aoStreams[0]["codec_name"] + " " + aoStreams[0]["width"] + "x" + aoStreams[0]["height"]);
    EXPECT_EQ(30u, DecodeWithFfmpeg(oUrl, "-frames:v 30").FramesOf(0));
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: 2s streaming=yes\n", 30)) << oRun.poHost->Out();
    oRun.ExpectCleanEnd(SIGTERM);
    EXPECT_EQ(std::string::npos, oRun.StatusLines().find("streaming=no")) << oRun.StatusLines();
}

TEST(PellixServerHost, AudioWithVolumeStreamsForItsDurationReportingOnceASecond)
{
    SHostRun oRun({"--interface", "lo", "--audio", "--volume", "40", "--duration", "2"});
    ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: streaming at ", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
    EXPECT_EQ("rtsp://127.0.0.1:8554/Video1920x1080@60fps_audio", oRun.Url());
    EXPECT_EQ("aac\nh264\n", RunCommand("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name -of csv=p=0 " + oRun.Url(), 60).oOut);
    oRun.ExpectCleanEnd();
    EXPECT_TRUE(oRun.Has("pellix-server: playback volume 40%: set\n"));
    EXPECT_EQ("pellix-server: 1s streaming=yes\npellix-server: 2s streaming=yes\n", oRun.StatusLines());
    // 40 % of the analog output's range 0..255, on both channels.
    std::istringstream oValues(oRun.oAlsa.Read("analog_volume"));
    std::string oLeft;
    std::string oRight;
    oValues >> oLeft >> oRight;
    EXPECT_EQ("102 102", oLeft + " " + oRight);
}

TEST(PellixServerHost, CtrlCStopsItWithExitZeroAndInputsChooseWhatIsServed)
{
    {
        SHostRun oRun({"--interface", "lo", "--input", "none"});
        ASSERT_TRUE(oRun.poHost->WaitForOutput("pellix-server: 1s streaming=yes\n", 90)) << oRun.poHost->Out() << oRun.poHost->Err();
        EXPECT_TRUE(oRun.Has("Cannot capture video: Put default bitmap.\n"));
        EXPECT_EQ("rtsp://127.0.0.1:8554/Video1024x768@60fps", oRun.Url());
        oRun.ExpectCleanEnd(SIGINT);
    }
    {
        SHostRun oRun({"--interface", "lo", "--input", "1280x720p60", "--duration", "1"});
        oRun.ExpectCleanEnd();
        EXPECT_TRUE(oRun.Has("Capture video mode: 1280x720@60fps, Progressive.\n"));
        EXPECT_EQ("rtsp://127.0.0.1:8554/Video1280x720@60fps", oRun.Url());
    }
    SHostRun oRun({"--interface", "lo", "--input", "1920x1080p75", "--duration", "1"});
    ASSERT_TRUE(oRun.poHost->Wait(90));
    EXPECT_EQ(1, oRun.poHost->ExitCode());
    EXPECT_TRUE(oRun.Has("Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n")) << oRun.poHost->Out();
    EXPECT_NE(std::string::npos, oRun.poHost->Err().find("pellix-server: streaming did not start\n"));
    EXPECT_EQ("", oRun.Url());
    EXPECT_TRUE(std::filesystem::is_empty(oRun.oTemp.Path()));
}

TEST(PellixServerHost, WithoutInterfaceItTakesEth0OrTheFirstInterfaceWithAnAddressLoopbackLast)
{
    const std::pair<std::string, std::string> oExpected = DefaultInterface();
    ASSERT_FALSE(oExpected.first.empty());
    SHostRun oRun({"--duration", "1"});
    oRun.ExpectCleanEnd();
    EXPECT_EQ(0u, oRun.poHost->Out().find("pellix-server: serving on interface " + oExpected.first + "\n")) << oRun.poHost->Out();
    EXPECT_EQ("rtsp://" + oExpected.second + ":8554/Video1920x1080@60fps", oRun.Url());
}
