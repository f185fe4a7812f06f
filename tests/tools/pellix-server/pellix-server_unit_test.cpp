// The host program as a user starts it, in the runs that never stream: help, refused options, a
// library that cannot be loaded.
#include <gtest/gtest.h>

#include "ChildProcess.h"

namespace
{
SRunResult RunHost(const std::vector<std::string>& roArguments, const std::vector<std::string>& roEnvironment = {})
{
    std::vector<std::string> aoArguments = {PELLIX_SERVER_PATH};
    aoArguments.insert(aoArguments.end(), roArguments.begin(), roArguments.end());
    CChildProcess oHost(aoArguments, 30, roEnvironment);
    EXPECT_TRUE(oHost.Wait(35));
    return oHost.Result();
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

TEST(PellixServer, ALibraryThatCannotBeLoadedIsAnError)
{
    const SRunResult oRun = RunHost({"--interface", "lo", "--duration", "1"}, {"PELLIX_LIBRARY=/nonexistent/libPellixServerTest.so"});
    EXPECT_EQ(1, oRun.iExitCode);
    EXPECT_NE(std::string::npos, oRun.oErr.find("pellix-server: cannot load /nonexistent/libPellixServerTest.so")) << oRun.oErr;
    EXPECT_EQ(std::string::npos, oRun.oOut.find("streaming")) << oRun.oOut;
}
