// A time limit on each test of the RTSP side: a test that has not ended after the limit (a stop
// that hangs, a client that never leaves) ends the test program at once with the test's name,
// instead of leaving it to the test runner's much longer limit. Included by one source file of
// each test program; RTSP_TEST_LIMIT_SEC changes the limit.
#ifndef RTSP_TEST_WATCHDOG_H
#define RTSP_TEST_WATCHDOG_H

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

class CRtspTestWatchdog : public ::testing::EmptyTestEventListener
{
public:
    static void Install()
    {
        static bool bInstalled = false;
        if (bInstalled)
            return;
        bInstalled = true;
        struct sigaction oAction;
        memset(&oAction, 0, sizeof(oAction));
        oAction.sa_handler = CallbackTimeLimit;
        sigaction(SIGALRM, &oAction, nullptr);
        ::testing::UnitTest::GetInstance()->listeners().Append(new CRtspTestWatchdog);
    }

private:
    void OnTestStart(const ::testing::TestInfo& roTest) override
    {
        snprintf(s_szName, sizeof(s_szName), "%s.%s", roTest.test_suite_name(), roTest.name());
        const char* szLimit = getenv("RTSP_TEST_LIMIT_SEC");
        alarm(szLimit != nullptr && atoi(szLimit) > 0 ? static_cast<unsigned>(atoi(szLimit)) : s_uiLimitSec);
    }
    void OnTestEnd(const ::testing::TestInfo& /*roTest*/) override { alarm(0); }

    static void CallbackTimeLimit(int /*iSignal*/)
    {
        static const char szText[] = "\nTIME LIMIT: the test did not end within its limit: ";
        ssize_t iIgnored = write(STDERR_FILENO, szText, sizeof(szText) - 1);
        iIgnored = write(STDERR_FILENO, s_szName, strlen(s_szName));
        iIgnored = write(STDERR_FILENO, "\n", 1);
        (void)iIgnored;
        _exit(3);
    }

    // Well below the runner's limit, well above what any test needs on a busy machine.
    static const unsigned s_uiLimitSec = 100;
    static inline char s_szName[256] = "";
};

namespace
{
const bool local_bRtspTestWatchdog = (CRtspTestWatchdog::Install(), true);
}

#endif // RTSP_TEST_WATCHDOG_H
