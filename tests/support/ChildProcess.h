// Child processes: a program or a shell command line run in a process of its own, with a bound on
// its time; its exit status and what it wrote on standard output and standard error collected in
// files.
//
//   CChildProcess oProbe({"ffprobe", "-v", "error", oUrl}, 60);     // starts at once, PATH searched
//   oProbe.Wait(70); oProbe.ExitCode(); oProbe.Out(); oProbe.Err();
//   CChildProcess oHost({PELLIX_SERVER_PATH, "--duration", "1"}, 90, {"PELLIX_NET_INTERFACE=lo", "-TMPDIR"});
//   SRunResult oRun = Run({"ffprobe", oPath}, 60);                    // waited for
//   SRunResult oRun = RunCommand("ffmpeg ... -f framecrc -", 60);    // sh -c, waited for
//
// The bound is the child's own alarm: a child still running then ends with 128 + SIGALRM, and
// the object's destructor kills what is left of it (its whole process group). A child that dies
// of a signal, or whose standard error holds a sanitizer's report, has its standard error copied
// to the test's log when it ends, so that no report is swallowed by the collection.
//
// The control library keeps process-wide state, so its scenarios run each in a process of its
// own: PELLIX_RUN_IN_OWN_PROCESS(bound) at the top of a test runs the test again in a child
// process (writing straight to the test's log) and reports its result; in that child the body
// runs.
#ifndef PELLIX_TEST_CHILD_PROCESS_H
#define PELLIX_TEST_CHILD_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "TempDir.h"

struct SRunResult
{
    int iExitCode = -1;  // 128 + signal after a signal; -1 while running
    std::string oOut;
    std::string oErr;
};

class CChildProcess
{
public:
    // roEnvironment: "NAME=value" sets, "-NAME" removes, in the child only. Without bCollect the
    // child writes to the test's own standard output and error.
    CChildProcess(const std::vector<std::string>& roArguments, int iBoundSec,
                  const std::vector<std::string>& roEnvironment = {}, bool bCollect = true);
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool IsRunning();
    // Waits for the end, at most iSeconds; false when it still runs.
    bool Wait(int iSeconds);
    // Waits, at most iSeconds and while the child runs, until its standard output holds roText.
    bool WaitForOutput(const std::string& roText, int iSeconds);
    void Signal(int iSignal);
    int ExitCode();
    std::string Out() const { return m_oDir.Read("out"); }
    std::string Err() const { return m_oDir.Read("err"); }

private:
    void Ended(int iStatus, bool bKilled);

    CTempDir m_oDir;
    std::string m_oName;
    pid_t m_iPid = -1;
    int m_iStatus = 0;
    bool m_bEnded = false;
};

// The program run to its end, killed at the bound; RunCommand runs sh -c roCommand.
SRunResult Run(const std::vector<std::string>& roArguments, int iBoundSec,
               const std::vector<std::string>& roEnvironment = {});
SRunResult RunCommand(const std::string& roCommand, int iBoundSec);

bool RunInOwnProcess(int iBoundSec);
#define PELLIX_RUN_IN_OWN_PROCESS(iBoundSec) \
    if (!RunInOwnProcess(iBoundSec))         \
    return

#endif // PELLIX_TEST_CHILD_PROCESS_H
