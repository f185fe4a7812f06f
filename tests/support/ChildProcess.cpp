#include "ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Eventually.h"
#include "OutputCapture.h"

namespace
{
std::vector<char*> local_Pointers(std::vector<std::string>& raoTexts)
{
    std::vector<char*> apszTexts;
    for (std::string& roText : raoTexts)
        apszTexts.push_back(roText.data());
    apszTexts.push_back(nullptr);
    return apszTexts;
}
} // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& roArguments, int iBoundSec,
                             const std::vector<std::string>& roEnvironment, bool bCollect)
    : m_oName(roArguments.at(0))
{
    // All made before the fork: the child of a process with threads only closes and executes.
    std::vector<std::string> aoArguments = roArguments;
    std::vector<std::string> aoEnvironment;
    for (char** ppszVariable = environ; *ppszVariable != nullptr; ++ppszVariable)
        aoEnvironment.push_back(*ppszVariable);
    for (const std::string& roChange : roEnvironment)
    {
        const std::string oName = roChange.substr(roChange[0] == '-' ? 1 : 0, roChange.find('=')) + "=";
        aoEnvironment.erase(std::remove_if(aoEnvironment.begin(), aoEnvironment.end(), [&](const std::string& ro) { return ro.rfind(oName, 0) == 0; }),
                            aoEnvironment.end());
        if (roChange[0] != '-')
            aoEnvironment.push_back(roChange);
    }
    const std::vector<char*> apszArguments = local_Pointers(aoArguments);
    const std::vector<char*> apszEnvironment = local_Pointers(aoEnvironment);
    const std::string oOut = (m_oDir.Path() / "out").string();
    const std::string oErr = (m_oDir.Path() / "err").string();
    fflush(nullptr);
    const pid_t iParent = getpid();
    m_iPid = fork();
    if (m_iPid == 0)
    {
        // A process group of its own, ended with the test process whatever ends that.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != iParent)
            _exit(126);
        alarm(static_cast<unsigned>(iBoundSec));
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        if (bCollect)
        {
            dup2(open(oOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(oErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        }
        close_range(STDERR_FILENO + 1, ~0U, 0);
        execvpe(apszArguments[0], apszArguments.data(), apszEnvironment.data());
        _exit(127);
    }
    setpgid(m_iPid, m_iPid);
    EXPECT_GT(m_iPid, 0) << "cannot start " << m_oName;
}

CChildProcess::~CChildProcess()
{
    // What is left: the child, or what it started before a signal ended it.
    if (m_iPid > 0 && (!m_bEnded || WIFSIGNALED(m_iStatus)))
        kill(-m_iPid, SIGKILL);
    int iStatus = 0;
    if (m_iPid > 0 && !m_bEnded && waitpid(m_iPid, &iStatus, 0) == m_iPid)
        Ended(iStatus, true);
}

void CChildProcess::Ended(int iStatus, bool bKilled)
{
    m_iStatus = iStatus;
    m_bEnded = true;
    const std::string oErr = Err();
    if ((WIFSIGNALED(iStatus) && !bKilled) || oErr.find("Sanitizer") != std::string::npos)
        WriteToTestLog("\n---- " + m_oName + " (process " + std::to_string(m_iPid) + ") ended with status " +
                       std::to_string(iStatus) + "; its standard error:\n" + oErr + "\n----\n");
}

bool CChildProcess::IsRunning()
{
    int iStatus = 0;
    if (!m_bEnded && m_iPid > 0 && waitpid(m_iPid, &iStatus, WNOHANG) == m_iPid)
        Ended(iStatus, false);
    return !m_bEnded && m_iPid > 0;
}

bool CChildProcess::Wait(int iSeconds)
{
    return Eventually([this] { return !IsRunning(); }, std::chrono::seconds(iSeconds));
}

bool CChildProcess::WaitForOutput(const std::string& roText, int iSeconds)
{
    Eventually([&] { return !IsRunning() || Out().find(roText) != std::string::npos; }, std::chrono::seconds(iSeconds));
    return Out().find(roText) != std::string::npos;
}

void CChildProcess::Signal(int iSignal)
{
    if (IsRunning())
        kill(m_iPid, iSignal);
}

int CChildProcess::ExitCode()
{
    if (IsRunning() || !m_bEnded)
        return -1;
    return WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
}

SRunResult Run(const std::vector<std::string>& roArguments, int iBoundSec, const std::vector<std::string>& roEnvironment)
{
    CChildProcess oChild(roArguments, iBoundSec, roEnvironment);
    oChild.Wait(iBoundSec + 5);
    return SRunResult{oChild.ExitCode(), oChild.Out(), oChild.Err()};
}

SRunResult RunCommand(const std::string& roCommand, int iBoundSec)
{
    return Run({"/bin/sh", "-c", roCommand}, iBoundSec);
}

bool RunInOwnProcess(int iBoundSec)
{
    // In the child the variable names the file that tells the parent the body ran.
    if (const char* szStarted = getenv("PELLIX_TEST_IN_OWN_PROCESS"))
    {
        std::ofstream(szStarted) << "started\n";
        return true;
    }
    const ::testing::TestInfo* poTest = ::testing::UnitTest::GetInstance()->current_test_info();
    CTempDir oDir;
    const std::string oStarted = (oDir.Path() / "started").string();
    CChildProcess oChild({"/proc/self/exe", std::string("--gtest_filter=") + poTest->test_suite_name() + "." + poTest->name(),
                          "--gtest_also_run_disabled_tests"},
                         iBoundSec, {"PELLIX_TEST_IN_OWN_PROCESS=" + oStarted}, false);
    EXPECT_TRUE(oChild.Wait(iBoundSec + 5)) << "the scenario's process did not end within " << iBoundSec << " s";
    EXPECT_EQ(0, oChild.ExitCode()) << "the scenario failed in its own process (its output is above)";
    EXPECT_TRUE(std::filesystem::exists(oStarted)) << "the scenario did not run in its own process";
    return false;
}
