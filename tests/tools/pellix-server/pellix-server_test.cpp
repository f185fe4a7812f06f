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

TEST(PellixServer, LoadsTheLibraryAndReportsTheFrameworkVersion)
{
    const tagRun oRun = RunServer("env -u PELLIX_LIBRARY", "");
    EXPECT_EQ(0, oRun.m_iExitCode) << oRun.m_oOutput;
    EXPECT_NE(std::string::npos, oRun.m_oOutput.find("framework version 0x00010000")) << oRun.m_oOutput;
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
}
