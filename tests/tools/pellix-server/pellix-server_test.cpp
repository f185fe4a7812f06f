// The host program as a user starts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace
{
struct tagRun
{
    int m_iExitCode;
    std::string m_oOutput;  // standard output and standard error together
};

tagRun RunServer(const std::string& roEnvironment, const std::string& roArguments)
{
    const std::string oCommand = roEnvironment + " " PELLIX_SERVER_PATH " " + roArguments + " 2>&1 </dev/null";
    tagRun oRun{-1, ""};
    FILE* poPipe = popen(oCommand.c_str(), "r");
    if (poPipe == nullptr)
        return oRun;
    char acBuffer[512];
    size_t uiRead = 0;
    while ((uiRead = fread(acBuffer, 1, sizeof(acBuffer), poPipe)) > 0)
        oRun.m_oOutput.append(acBuffer, uiRead);
    const int iStatus = pclose(poPipe);
    oRun.m_iExitCode = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    return oRun;
}
} // namespace

TEST(PellixServer, StreamsForItsDurationAndStopsCleanly)
{
    const tagRun oRun = RunServer("env -u PELLIX_LIBRARY -u PELLIX_PLATFORM_ROOT PELLIX_SIM_INPUT=1280x720p60",
                                  "--interface lo --duration 2");
    EXPECT_EQ(0, oRun.m_iExitCode) << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("framework version 0x00010000")) << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("Capture video mode: 1280x720@60fps, Progressive.")) << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("streaming at rtsp://127.0.0.1:8554/Video1280x720@60fps"))
        << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("2s streaming=yes")) << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("pellix-server: stopped\n")) << oRun.m_oOutput;
}

TEST(PellixServer, ALibraryThatCannotBeLoadedIsAnError)
{
    const tagRun oRun = RunServer("env PELLIX_LIBRARY=/nonexistent/libPellixServerTest.so", "");
    EXPECT_EQ(1, oRun.m_iExitCode);
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("cannot load /nonexistent/libPellixServerTest.so"))
        << oRun.m_oOutput;
}

TEST(PellixServer, HelpAndUnknownOptions)
{
    const tagRun oHelp = RunServer("env", "--help");
    EXPECT_EQ(0, oHelp.m_iExitCode);
    EXPECT_EQ(0u, oHelp.m_oOutput.find("Usage: pellix-server")) << oHelp.m_oOutput;
    const tagRun oUnknown = RunServer("env", "--no-such-option");
    EXPECT_EQ(2, oUnknown.m_iExitCode);
    EXPECT_NE(std::string::npos, oUnknown.m_oOutput.find("unknown option '--no-such-option'")) << oUnknown.m_oOutput;
    EXPECT_NE(std::string::npos, oUnknown.m_oOutput.find("Usage: pellix-server")) << oUnknown.m_oOutput;
    for (const char* szBad : {"--bitrate", "--bitrate 12x", "--volume 101 --audio", "--volume 50", "--input 1920x1080q60",
                              "--log-level ten", "--duration 0"})
    {
        const tagRun oBad = RunServer("env", szBad);
        EXPECT_EQ(2, oBad.m_iExitCode) << szBad << ": " << oBad.m_oOutput;
        EXPECT_NE(std::string::npos, oBad.m_oOutput.find("Usage: pellix-server")) << szBad;
    }
}
