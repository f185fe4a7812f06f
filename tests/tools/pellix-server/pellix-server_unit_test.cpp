// The host program as a user starts it, in the runs that never stream: help, refused options, the
// interface it takes by default, a library that cannot be loaded.
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <algorithm>

#include "ChildProcess.h"

namespace
{
SRunResult RunHost(const std::vector<std::string>& roArguments, const std::vector<std::string>& roEnvironment = {})
{
    std::vector<std::string> aoArguments = {PELLIX_SERVER_PATH};
    aoArguments.insert(aoArguments.end(), roArguments.begin(), roArguments.end());
    return Run(aoArguments, 30, roEnvironment);
}

// The interface the host takes by default: eth0 when it has an IPv4 address, else the first
// interface with one, loopback last.
std::string DefaultInterface()
{
    std::vector<std::string> aoNames;
    struct ifaddrs* poList = nullptr;
    for (const struct ifaddrs* po = getifaddrs(&poList) == 0 ? poList : nullptr; po != nullptr; po = po->ifa_next)
        if (po->ifa_addr != nullptr && po->ifa_addr->sa_family == AF_INET)
            aoNames.push_back(po->ifa_name);
    freeifaddrs(poList);
    std::stable_sort(aoNames.begin(), aoNames.end(), [](const std::string& roA, const std::string& roB) {
        return std::make_pair(roA != "eth0", roA == "lo") < std::make_pair(roB != "eth0", roB == "lo");
    });
    return aoNames.empty() ? "" : aoNames[0];
}
} // namespace

TEST(PellixServer, HelpPrintsTheUsageAndExitsZeroWithoutLoadingTheLibrary)
{
    const SRunResult oRun = RunHost({"--help"});
    EXPECT_EQ(0, oRun.iExitCode);
    EXPECT_EQ(0u, oRun.oOut.find("Usage: pellix-server [options]\n")) << oRun.oOut;
    for (const char* szOption : {"--bitrate BPS", "--audio", "--playback", "--volume PERCENT", "--log-level N", "--interface NAME",
                                 "--input SIGNAL", "--monitor MONITOR", "--duration SECONDS", "--help"})
        EXPECT_NE(std::string::npos, oRun.oOut.find(std::string("  ") + szOption)) << szOption;
    EXPECT_EQ("", oRun.oErr);
    EXPECT_EQ(std::string::npos, oRun.oOut.find("loaded")) << oRun.oOut;
}

TEST(PellixServer, BadOptionsAreRefusedWithTheReasonTheUsageAndExitCodeTwo)
{
    const std::pair<std::vector<std::string>, std::string> aoRefused[] = {
        {{"--no-such-option"}, "unknown option '--no-such-option'"},
        {{"--bitrate"}, "--bitrate needs a bit rate"},
        {{"--bitrate", "fast"}, "bad value 'fast' for --bitrate"},
        {{"--bitrate", "8000000x"}, "bad value '8000000x' for --bitrate"},
        {{"--audio", "--volume", "101"}, "bad value '101' for --volume"},
        {{"--volume", "50"}, "--volume needs --audio"},
        {{"--log-level", "10"}, "bad value '10' for --log-level"},
        {{"--duration", "0"}, "bad value '0' for --duration"},
        {{"--duration", "-5"}, "bad value '-5' for --duration"},
        {{"--interface", ""}, "empty value for --interface"},
        {{"--input", "1920x1080x60"}, "bad signal '1920x1080x60' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--input", "1920x1080p"}, "bad signal '1920x1080p' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--input", "file:"}, "bad signal 'file:' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--input", "1280x720p60:noise"}, "bad signal '1280x720p60:noise' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--input", "none:motion"}, "bad signal 'none:motion' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--input", "-1280x720p60"}, "bad signal '-1280x720p60' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)"},
        {{"--max-clients", "0"}, "bad value '0' for --max-clients"},
        {{"--display", "tv"}, "bad value 'tv' for --display (headless or window)"},
        {{"--monitor"}, "--monitor needs a monitor"},
        // One refused option refuses the whole run, also after good ones and before --help.
        {{"--audio", "--interface", "lo", "--bogus", "--help"}, "unknown option '--bogus'"},
    };
    for (const auto& roCase : aoRefused)
    {
        const SRunResult oRun = RunHost(roCase.first);
        EXPECT_EQ(2, oRun.iExitCode) << roCase.second;
        EXPECT_EQ(0u, oRun.oErr.find("pellix-server: " + roCase.second + "\nUsage: pellix-server [options]\n")) << oRun.oErr;
        EXPECT_NE(std::string::npos, oRun.oErr.find("  --duration SECONDS")) << roCase.second;
        EXPECT_EQ("", oRun.oOut) << roCase.second;
    }
}

// Without --interface it says which one it takes, before it loads the library; a library that
// cannot be loaded ends it.
TEST(PellixServer, WithoutInterfaceItTakesEth0OrTheFirstWithAnAddressAndALibraryThatCannotBeLoadedIsAnError)
{
    ASSERT_NE("", DefaultInterface());
    const SRunResult oRun = RunHost({"--input", "none", "--duration", "1"}, {"PELLIX_LIBRARY=/nonexistent/libPellixServerTest.so"});
    EXPECT_EQ(1, oRun.iExitCode);
    EXPECT_NE(std::string::npos, oRun.oErr.find("pellix-server: cannot load /nonexistent/libPellixServerTest.so")) << oRun.oErr;
    EXPECT_EQ("pellix-server: serving on interface " + DefaultInterface() + "\n", oRun.oOut);
}
