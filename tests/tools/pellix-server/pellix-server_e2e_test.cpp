// The host program as a user runs it on the simulated platform: it streams on port 8554 until
// its duration ends or it is told to stop, real clients watch what it serves, and it cleans up
// after itself.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FrameRate.h"
#include "HostProcess.h"
#include "RtspTestSupport.h"
#include "TempDir.h"

namespace
{
const char* const local_szPort = "8554";

// What every run shares: loopback names the URL (unless a test chooses otherwise), a private
// temporary folder in which the host makes its platform root, a private ALSA control folder.
struct SHostSetting
{
    CTempDir oTemp;
    CTempDir oAlsa;
    std::vector<std::string> Environment() const
    {
        return {"TMPDIR=" + oTemp.Path().string(), "PELLIX_ALSA_DIR=" + oAlsa.Path().string(), "-PELLIX_PLATFORM_ROOT",
                "-PELLIX_SIM_INPUT", "-PELLIX_SIM_MONITOR", "-PELLIX_NET_INTERFACE", "-PELLIX_LIBRARY",
                "-ALSA_CONFIG_PATH"};
    }
    // The platform roots the host made in the temporary folder.
    std::vector<std::filesystem::path> PlatformRoots() const
    {
        std::vector<std::filesystem::path> aoRoots;
        for (const auto& roEntry : std::filesystem::directory_iterator(oTemp.Path()))
            if (roEntry.path().filename().string().rfind("pellix-platform-", 0) == 0)
                aoRoots.push_back(roEntry.path());
        return aoRoots;
    }
};

// Waits until nothing listens on the service port (another program may still be leaving it).
bool ServicePortFree()
{
    for (int iTry = 0; iTry < 300; ++iTry)
    {
        if (CanBindPort(8554))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The URL the host printed: "pellix-server: streaming at <URL>\n".
std::string PrintedUrl(const std::string& roOut)
{
    const std::string oPrefix = "pellix-server: streaming at ";
    const size_t uiAt = roOut.find(oPrefix);
    if (uiAt == std::string::npos)
        return "";
    const size_t uiEnd = roOut.find('\n', uiAt);
    return roOut.substr(uiAt + oPrefix.size(), uiEnd - uiAt - oPrefix.size());
}

// The status lines "pellix-server: <n>s streaming=yes|no", in order.
std::vector<std::string> StatusLines(const std::string& roOut)
{
    std::vector<std::string> aoLines;
    const std::regex oStatus("^pellix-server: [0-9]+s streaming=(yes|no)$");
    std::istringstream oLines(roOut);
    std::string oLine;
    while (std::getline(oLines, oLine))
        if (std::regex_match(oLine, oStatus))
            aoLines.push_back(oLine);
    return aoLines;
}

// IPv4 address of an interface; empty when it has none.
std::string AddressOf(const std::string& roInterface)
{
    struct ifaddrs* poAddresses = nullptr;
    std::string oAddress;
    if (getifaddrs(&poAddresses) != 0)
        return oAddress;
    for (const struct ifaddrs* po = poAddresses; po != nullptr && oAddress.empty(); po = po->ifa_next)
        if (po->ifa_addr != nullptr && po->ifa_addr->sa_family == AF_INET && roInterface == po->ifa_name)
        {
            char szText[INET_ADDRSTRLEN] = {0};
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(po->ifa_addr)->sin_addr, szText, sizeof(szText));
            oAddress = szText;
        }
    freeifaddrs(poAddresses);
    return oAddress;
}

// The interface the host takes by default: eth0 with an IPv4 address, else the first interface
// with one, loopback last.
std::string DefaultInterface()
{
    if (!AddressOf("eth0").empty())
        return "eth0";
    struct ifaddrs* poAddresses = nullptr;
    std::string oFirst;
    std::string oLoopback;
    if (getifaddrs(&poAddresses) != 0)
        return "";
    for (const struct ifaddrs* po = poAddresses; po != nullptr; po = po->ifa_next)
    {
        if (po->ifa_addr == nullptr || po->ifa_addr->sa_family != AF_INET)
            continue;
        std::string& roSlot = (po->ifa_flags & IFF_LOOPBACK) != 0 ? oLoopback : oFirst;
        if (roSlot.empty())
            roSlot = po->ifa_name;
    }
    freeifaddrs(poAddresses);
    return oFirst.empty() ? oLoopback : oFirst;
}

// A signal stops the host cleanly: exit code 0, the stop reported, its platform root removed,
// the port free.
void ExpectStopsOnSignal(CHostProcess& roHost, int iSignal, const SHostSetting& roSetting)
{
    roHost.Signal(iSignal);
    ASSERT_TRUE(roHost.Wait(30)) << roHost.Out();
    EXPECT_EQ(0, roHost.ExitCode()) << roHost.All();
    EXPECT_NE(std::string::npos, roHost.Out().find("pellix-server: stopping\npellix-server: stopped\n"));
    EXPECT_TRUE(roSetting.PlatformRoots().empty());
    EXPECT_TRUE(CanBindPort(8554));
}

std::string LoopbackUrl(const std::string& roPath)
{
    return "rtsp://" + AddressOf("lo") + ":" + local_szPort + roPath;
}
} // namespace

TEST(PellixServerHost, StreamsForItsDurationReportingOnceASecondAndLeavesNothingBehind)
{
    ASSERT_TRUE(ServicePortFree());
    SHostSetting oSetting;
    CHostProcess oHost({"--interface", "lo", "--duration", "3"}, oSetting.Environment());
    ASSERT_TRUE(oHost.Wait(90));
    const std::string oOut = oHost.Out();
    EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
    EXPECT_EQ(0u, oOut.find("pellix-server: serving on interface lo\n")) << oOut;
    EXPECT_NE(std::string::npos, oOut.find("framework version 0x00010000\n")) << oOut;
    EXPECT_NE(std::string::npos, oOut.find("Capture video mode: 1920x1080@60fps, Progressive.\n")) << oOut;
    EXPECT_NE(std::string::npos, oOut.find("Monitor: \"PELLIX HD60\", 1920x1080@60Hz\n")) << oOut;
    EXPECT_EQ(LoopbackUrl("/Video1920x1080@60fps"), PrintedUrl(oOut)) << oOut;
    EXPECT_EQ((std::vector<std::string>{"pellix-server: 1s streaming=yes", "pellix-server: 2s streaming=yes",
                                        "pellix-server: 3s streaming=yes"}),
              StatusLines(oOut))
        << oOut;
    EXPECT_NE(std::string::npos, oOut.find("pellix-server: stopping\npellix-server: stopped\n")) << oOut;
    EXPECT_EQ("", oHost.Err());
    // The private platform root is gone with the run; nothing else was left in the folder.
    EXPECT_TRUE(std::filesystem::is_empty(oSetting.oTemp.Path()));
    EXPECT_TRUE(CanBindPort(8554));
}

TEST(PellixServerHost, ClientsWatchTheStreamAndSigtermStopsItWithExitZero)
{
    ASSERT_TRUE(ServicePortFree());
    SHostSetting oSetting;
    CHostProcess oHost({"--interface", "lo"}, oSetting.Environment());
    ASSERT_TRUE(oHost.WaitForOutput("pellix-server: streaming at ", 90)) << oHost.All();
    const std::string oUrl = PrintedUrl(oHost.Out());
    EXPECT_EQ(LoopbackUrl("/Video1920x1080@60fps"), oUrl);

    // The display driver's files are in the host's own platform root.
    const auto aoRoots = oSetting.PlatformRoots();
    ASSERT_EQ(1u, aoRoots.size());
    EXPECT_TRUE(std::filesystem::exists(aoRoots[0] / "sys/devices/platform/vpss/display0/timings"));

    const SRunResult oProbe = RunCommand("ffprobe -v error -rtsp_transport tcp -show_entries "
                                         "stream=codec_name,width,height,r_frame_rate -of default=nw=1 " +
                                             oUrl,
                                         60);
    EXPECT_EQ(0, oProbe.iExitCode) << oProbe.oErr;
    const size_t uiRate = oProbe.oOut.find("r_frame_rate=");
    EXPECT_EQ("codec_name=h264\nwidth=1920\nheight=1080\n", oProbe.oOut.substr(0, uiRate)) << oProbe.oErr;
    ASSERT_NE(std::string::npos, uiRate) << oProbe.oOut;
    EXPECT_NEAR(60.0, ParseFrameRate(oProbe.oOut.substr(uiRate + 13)), 60.0 * g_dFrameRateTolerance) << oProbe.oOut;
    const SRunResult oDecode =
        RunCommand("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -frames:v 60 -f framemd5 -", 60);
    EXPECT_EQ(0, oDecode.iExitCode) << oDecode.oErr;
    EXPECT_EQ("", oDecode.oErr);
    EXPECT_EQ(60u, CountOccurrences(oDecode.oOut, " 3110400, ")) << oDecode.oOut.substr(0, 600);

    // Running: a status line a second, each "yes".
    ASSERT_TRUE(oHost.WaitForOutput("pellix-server: 2s streaming=yes\n", 30)) << oHost.Out();
    ExpectStopsOnSignal(oHost, SIGTERM, oSetting);
    for (const std::string& roLine : StatusLines(oHost.Out()))
        EXPECT_NE(std::string::npos, roLine.find("streaming=yes")) << roLine;
}

TEST(PellixServerHost, CtrlCStopsItWithExitZero)
{
    ASSERT_TRUE(ServicePortFree());
    SHostSetting oSetting;
    CHostProcess oHost({"--interface", "lo"}, oSetting.Environment());
    ASSERT_TRUE(oHost.WaitForOutput("pellix-server: 1s streaming=yes\n", 90)) << oHost.All();
    ExpectStopsOnSignal(oHost, SIGINT, oSetting);
}

TEST(PellixServerHost, AudioWithVolumeServesBothStreamsAndSetsThePlaybackControl)
{
    ASSERT_TRUE(ServicePortFree());
    SHostSetting oSetting;
    CHostProcess oHost({"--interface", "lo", "--audio", "--volume", "40", "--duration", "2"}, oSetting.Environment());
    ASSERT_TRUE(oHost.WaitForOutput("pellix-server: streaming at ", 90)) << oHost.All();
    const std::string oUrl = PrintedUrl(oHost.Out());
    EXPECT_EQ(LoopbackUrl("/Video1920x1080@60fps_audio"), oUrl);
    const SRunResult oProbe =
        RunCommand("ffprobe -v error -rtsp_transport tcp -show_entries stream=codec_name -of csv=p=0 " + oUrl, 60);
    EXPECT_EQ("aac\nh264\n", oProbe.oOut) << oProbe.oErr;
    ASSERT_TRUE(oHost.Wait(60));
    EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
    EXPECT_NE(std::string::npos, oHost.Out().find("pellix-server: playback volume 40%: set\n")) << oHost.Out();
    // 40 % of the analog output's range 0..255, on both channels.
    std::istringstream oValues(oSetting.oAlsa.Read("analog_volume"));
    std::vector<long> alValues;
    for (long lValue = 0; oValues >> lValue;)
        alValues.push_back(lValue);
    EXPECT_EQ((std::vector<long>{102, 102}), alValues);
}

TEST(PellixServerHost, SimulatedInputs720pNoSignalAndTooFastSignal)
{
    ASSERT_TRUE(ServicePortFree());
    SHostSetting oSetting;
    {
        CHostProcess oHost({"--interface", "lo", "--input", "1280x720p60", "--duration", "1"}, oSetting.Environment());
        ASSERT_TRUE(oHost.Wait(90));
        EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
        EXPECT_NE(std::string::npos, oHost.Out().find("Capture video mode: 1280x720@60fps, Progressive.\n"))
            << oHost.Out();
        EXPECT_EQ(LoopbackUrl("/Video1280x720@60fps"), PrintedUrl(oHost.Out()));
    }
    ASSERT_TRUE(ServicePortFree());
    {
        CHostProcess oHost({"--interface", "lo", "--input", "none", "--duration", "1"}, oSetting.Environment());
        ASSERT_TRUE(oHost.Wait(90));
        EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
        EXPECT_NE(std::string::npos, oHost.Out().find("Cannot capture video: Put default bitmap.\n")) << oHost.Out();
        EXPECT_EQ(LoopbackUrl("/Video1024x768@60fps"), PrintedUrl(oHost.Out()));
        EXPECT_EQ((std::vector<std::string>{"pellix-server: 1s streaming=yes"}), StatusLines(oHost.Out()));
    }
    ASSERT_TRUE(ServicePortFree());
    {
        CHostProcess oHost({"--interface", "lo", "--input", "1920x1080p75", "--duration", "1"}, oSetting.Environment());
        ASSERT_TRUE(oHost.Wait(90));
        EXPECT_EQ(1, oHost.ExitCode()) << oHost.All();
        EXPECT_NE(std::string::npos,
                  oHost.Out().find("Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n"))
            << oHost.Out();
        EXPECT_NE(std::string::npos, oHost.Err().find("pellix-server: streaming did not start\n")) << oHost.Err();
        EXPECT_EQ("", PrintedUrl(oHost.Out()));
    }
    EXPECT_TRUE(oSetting.PlatformRoots().empty());
}

TEST(PellixServerHost, WithoutInterfaceItTakesEth0OrTheFirstInterfaceWithAnAddressAndSaysWhich)
{
    ASSERT_TRUE(ServicePortFree());
    const std::string oInterface = DefaultInterface();
    ASSERT_FALSE(oInterface.empty());
    SHostSetting oSetting;
    CHostProcess oHost({"--duration", "1"}, oSetting.Environment());
    ASSERT_TRUE(oHost.Wait(90));
    EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
    EXPECT_EQ(0u, oHost.Out().find("pellix-server: serving on interface " + oInterface + "\n")) << oHost.Out();
    EXPECT_EQ("rtsp://" + AddressOf(oInterface) + ":8554/Video1920x1080@60fps", PrintedUrl(oHost.Out()));
}
