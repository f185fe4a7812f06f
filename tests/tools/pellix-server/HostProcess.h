// The host program run as a user runs it: its own process with the environment and arguments
// given, its standard output and error collected in files, signals sent to it by its id.
#ifndef HOST_PROCESS_H
#define HOST_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

class CHostProcess
{
public:
    // roEnvironment: variables set ("NAME=value") or removed ("-NAME") for the program.
    CHostProcess(const std::vector<std::string>& roArguments, const std::vector<std::string>& roEnvironment = {})
    {
        const std::string oOut = (m_oDir.Path() / "out").string();
        const std::string oErr = (m_oDir.Path() / "err").string();
        std::vector<std::string> aoArguments = {PELLIX_SERVER_PATH};
        aoArguments.insert(aoArguments.end(), roArguments.begin(), roArguments.end());
        std::vector<char*> apszArguments;
        for (std::string& roArgument : aoArguments)
            apszArguments.push_back(roArgument.data());
        apszArguments.push_back(nullptr);
        const pid_t iParent = getpid();
        m_iPid = fork();
        if (m_iPid == 0)
        {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != iParent)
                _exit(126);
            for (const std::string& roVariable : roEnvironment)
            {
                if (!roVariable.empty() && roVariable[0] == '-')
                    unsetenv(roVariable.c_str() + 1);
                else if (roVariable.find('=') != std::string::npos)
                    setenv(roVariable.substr(0, roVariable.find('=')).c_str(),
                           roVariable.substr(roVariable.find('=') + 1).c_str(), 1);
            }
            const int iIn = open("/dev/null", O_RDONLY);
            const int iOut = open(oOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int iErr = open(oErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (iIn < 0 || iOut < 0 || iErr < 0)
                _exit(125);
            dup2(iIn, STDIN_FILENO);
            dup2(iOut, STDOUT_FILENO);
            dup2(iErr, STDERR_FILENO);
            for (int iFd = 3; iFd < 1024; ++iFd)
                close(iFd);
            execv(apszArguments[0], apszArguments.data());
            _exit(127);
        }
    }

    ~CHostProcess()
    {
        if (IsRunning())
        {
            kill(m_iPid, SIGKILL);
            waitpid(m_iPid, &m_iStatus, 0);
        }
    }

    CHostProcess(const CHostProcess&) = delete;
    CHostProcess& operator=(const CHostProcess&) = delete;

    bool IsRunning()
    {
        if (m_bEnded || m_iPid <= 0)
            return false;
        if (waitpid(m_iPid, &m_iStatus, WNOHANG) == m_iPid)
            m_bEnded = true;
        return !m_bEnded;
    }

    // Waits for the end, at most iSeconds; false when it still runs.
    bool Wait(int iSeconds)
    {
        const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(iSeconds);
        while (IsRunning())
        {
            if (std::chrono::steady_clock::now() > oEnd)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Waits until the standard output holds roText, at most iSeconds, while the program runs.
    bool WaitForOutput(const std::string& roText, int iSeconds)
    {
        const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(iSeconds);
        while (Out().find(roText) == std::string::npos)
        {
            if (!IsRunning() || std::chrono::steady_clock::now() > oEnd)
                return Out().find(roText) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    void Signal(int iSignal)
    {
        if (IsRunning())
            kill(m_iPid, iSignal);
    }

    // The exit code once ended; -1 while running or after a signal.
    int ExitCode()
    {
        if (IsRunning() || !m_bEnded || !WIFEXITED(m_iStatus))
            return -1;
        return WEXITSTATUS(m_iStatus);
    }

    std::string Out() const { return m_oDir.Read("out"); }
    std::string Err() const { return m_oDir.Read("err"); }
    std::string All() const { return Out() + Err(); }

private:
    CTempDir m_oDir;
    pid_t m_iPid = -1;
    int m_iStatus = 0;
    bool m_bEnded = false;
};

#endif // HOST_PROCESS_H
