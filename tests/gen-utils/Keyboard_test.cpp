// Keyboard polling on a real terminal: standard input is the slave side of a pseudo-terminal, and
// the test types on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "Eventually.h"
#include "GenUtils.h"

namespace
{
class PseudoTerminalInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_iMaster = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_iMaster, 0);
        ASSERT_EQ(0, grantpt(m_iMaster));
        ASSERT_EQ(0, unlockpt(m_iMaster));
        const int iSlave = open(ptsname(m_iMaster), O_RDWR | O_NOCTTY);
        ASSERT_GE(iSlave, 0);
        m_iSavedStdin = dup(STDIN_FILENO);
        ASSERT_EQ(STDIN_FILENO, dup2(iSlave, STDIN_FILENO));
        close(iSlave);
        clearerr(stdin);
        // A terminal as a shell leaves it: line by line, with echo.
        struct termios oAttributes;
        ASSERT_EQ(0, tcgetattr(STDIN_FILENO, &oAttributes));
        oAttributes.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(0, tcsetattr(STDIN_FILENO, TCSANOW, &oAttributes));
    }

    void TearDown() override
    {
        // Whatever was typed and not read stays with this terminal.
        fflush(stdin);
        if (m_iSavedStdin >= 0)
        {
            dup2(m_iSavedStdin, STDIN_FILENO);
            close(m_iSavedStdin);
        }
        clearerr(stdin);
        if (m_iMaster >= 0)
            close(m_iMaster);
    }

    void Type(const char* szKeys) { ASSERT_GT(write(m_iMaster, szKeys, strlen(szKeys)), 0); }

    // Polls until a key arrives; typed text crosses the terminal asynchronously.
    bool PollKey(int* piKey)
    {
        return Eventually([piKey] { return LHIsKeyPressed(piKey) != 0; });
    }

    int m_iMaster = -1;
    int m_iSavedStdin = -1;
};
} // namespace

TEST_F(PseudoTerminalInput, NoKeyMeansFalseAndTheTerminalIsRestored)
{
    int iKey = -7;
    EXPECT_FALSE(LHIsKeyPressed(&iKey));
    EXPECT_EQ(-7, iKey);
    EXPECT_FALSE(ferror(stdin));
    struct termios oAttributes;
    ASSERT_EQ(0, tcgetattr(STDIN_FILENO, &oAttributes));
    EXPECT_EQ(static_cast<tcflag_t>(ICANON | ECHO), oAttributes.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(0, fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK);
}

TEST_F(PseudoTerminalInput, AKeyIsReadWithoutWaitingForTheLineEnd)
{
    Type("q");
    int iKey = 0;
    ASSERT_TRUE(PollKey(&iKey));
    EXPECT_EQ('q', iKey);
    EXPECT_FALSE(LHIsKeyPressed(&iKey));
    struct termios oAttributes;
    ASSERT_EQ(0, tcgetattr(STDIN_FILENO, &oAttributes));
    EXPECT_EQ(static_cast<tcflag_t>(ICANON | ECHO), oAttributes.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(0, fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK);
}

TEST_F(PseudoTerminalInput, WithoutAPlaceForTheKeyItStaysPending)
{
    Type("k");
    ASSERT_TRUE(PollKey(nullptr));
    int iKey = 0;
    EXPECT_TRUE(LHIsKeyPressed(&iKey));
    EXPECT_EQ('k', iKey);
    Type("z");
    ASSERT_TRUE(PollKey(nullptr));
    EXPECT_EQ('z', getchar());
}

TEST_F(PseudoTerminalInput, WaitReturnsTheKeyTypedLater)
{
    auto oKey = std::async(std::launch::async, [] { return LHWaitKeyPressed(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Type("w");
    ASSERT_EQ(std::future_status::ready, oKey.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ('w', oKey.get());
}
