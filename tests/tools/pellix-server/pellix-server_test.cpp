// The host program as a user starts it, in the runs that never stream: help, refused options, a
// library that cannot be loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostProcess.h"

namespace
{
// A run that is refused: exit code 2, the reason and the usage on standard error, nothing on
// standard output.
void ExpectRefused(const std::vector<std::string>& roArguments, const std::string& roReason)
{
    CHostProcess oHost(roArguments);
    ASSERT_TRUE(oHost.Wait(30));
    EXPECT_EQ(2, oHost.ExitCode()) << oHost.All();
    EXPECT_EQ(0u, oHost.Err().find("pellix-server: " + roReason + "\nUsage: pellix-server [options]\n")) << oHost.Err();
    EXPECT_NE(std::string::npos, oHost.Err().find("  --duration SECONDS")) << oHost.Err();
    EXPECT_EQ("", oHost.Out());
}
} // namespace

TEST(PellixServer, HelpPrintsTheUsageAndExitsZero)
{
    CHostProcess oHost({"--help"});
    ASSERT_TRUE(oHost.Wait(30));
    EXPECT_EQ(0, oHost.ExitCode());
    const std::string oOut = oHost.Out();
    EXPECT_EQ(0u, oOut.find("Usage: pellix-server [options]\n")) << oOut;
    for (const char* szOption : {"--bitrate BPS", "--audio", "--playback", "--volume PERCENT", "--log-level N",
                                 "--interface NAME", "--input SIGNAL", "--monitor MONITOR", "--duration SECONDS",
                                 "--help"})
        EXPECT_NE(std::string::npos, oOut.find(std::string("  ") + szOption)) << szOption;
    EXPECT_EQ("", oHost.Err());
    // Nothing was started: the library was not even loaded.
    EXPECT_EQ(std::string::npos, oOut.find("loaded")) << oOut;
}

TEST(PellixServer, BadOptionsAreRefusedWithTheUsageAndExitCodeTwo)
{
    ExpectRefused({"--no-such-option"}, "unknown option '--no-such-option'");
    ExpectRefused({"--bitrate"}, "--bitrate needs a bit rate");
    ExpectRefused({"--bitrate", "fast"}, "bad value 'fast' for --bitrate");
    ExpectRefused({"--bitrate", "8000000x"}, "bad value '8000000x' for --bitrate");
    ExpectRefused({"--audio", "--volume", "101"}, "bad value '101' for --volume");
    ExpectRefused({"--volume", "50"}, "--volume needs --audio");
    ExpectRefused({"--log-level", "10"}, "bad value '10' for --log-level");
    ExpectRefused({"--duration", "0"}, "bad value '0' for --duration");
    ExpectRefused({"--duration", "-5"}, "bad value '-5' for --duration");
    ExpectRefused({"--interface", ""}, "empty value for --interface");
    ExpectRefused({"--input", "1920x1080x60"}, "bad signal '1920x1080x60' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)");
    ExpectRefused({"--input", "1920x1080p"}, "bad signal '1920x1080p' for --input (none, WxHpR, WxHiR, file:PATH, v4l2:DEVICE or gst:DESCRIPTION)");
    ExpectRefused({"--monitor"}, "--monitor needs a monitor");
    // A refused option refuses the whole run, also after good ones and before --help.
    ExpectRefused({"--audio", "--interface", "lo", "--bogus", "--help"}, "unknown option '--bogus'");
}

TEST(PellixServer, ALibraryThatCannotBeLoadedIsAnError)
{
    CHostProcess oHost({"--interface", "lo", "--duration", "1"},
                       {"PELLIX_LIBRARY=/nonexistent/libPellixServerTest.so"});
    ASSERT_TRUE(oHost.Wait(30));
    EXPECT_EQ(1, oHost.ExitCode());
    EXPECT_NE(std::string::npos, oHost.Err().find("pellix-server: cannot load /nonexistent/libPellixServerTest.so"))
        << oHost.All();
    EXPECT_EQ(std::string::npos, oHost.Out().find("streaming")) << oHost.Out();
}
