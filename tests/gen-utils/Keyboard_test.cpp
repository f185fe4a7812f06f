// Keyboard polling on a real terminal: standard input is the slave side of a pseudo-terminal, and
// the test types on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include "Eventually.h"
#include "GenUtils.h"

TEST(Keyboard, PollsAKeyWithoutALineEndAndRestoresTheTerminal)
{
    int iMaster = -1, iSlave = -1;
    ASSERT_EQ(0, openpty(&iMaster, &iSlave, nullptr, nullptr, nullptr));
    const int iSavedStdin = dup(STDIN_FILENO);
    ASSERT_EQ(STDIN_FILENO, dup2(iSlave, STDIN_FILENO));
    close(iSlave);
    clearerr(stdin);
    // A terminal as a shell leaves it: line by line, with echo.
    struct termios oAttributes;
    ASSERT_EQ(0, tcgetattr(STDIN_FILENO, &oAttributes));
    oAttributes.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(0, tcsetattr(STDIN_FILENO, TCSANOW, &oAttributes));
    const auto fnType = [iMaster](const char* szKeys) { return write(iMaster, szKeys, strlen(szKeys)) > 0; };
    const auto fnRestored = [] {
        struct termios oNow;
        return tcgetattr(STDIN_FILENO, &oNow) == 0 && (oNow.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO) &&
               (fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK) == 0;
    };

    // Nothing typed: false, the key untouched, no error flag left, the terminal as it was.
    int iKey = -7;
    EXPECT_FALSE(LHIsKeyPressed(&iKey));
    EXPECT_EQ(-7, iKey);
    EXPECT_FALSE(ferror(stdin));
    EXPECT_TRUE(fnRestored());
    // A key typed crosses the terminal asynchronously; it is read at once, then gone.
    ASSERT_TRUE(fnType("q"));
    EXPECT_TRUE(Eventually([&] { return LHIsKeyPressed(&iKey) != 0; }));
    EXPECT_EQ('q', iKey);
    EXPECT_FALSE(LHIsKeyPressed(&iKey));
    EXPECT_TRUE(fnRestored());
    // Without a place for the key it stays pending, for the next poll and for getchar.
    ASSERT_TRUE(fnType("k"));
    ASSERT_TRUE(Eventually([] { return LHIsKeyPressed(nullptr) != 0; }));
    EXPECT_TRUE(LHIsKeyPressed(&iKey));
    EXPECT_EQ('k', iKey);
    ASSERT_TRUE(fnType("z"));
    ASSERT_TRUE(Eventually([] { return LHIsKeyPressed(nullptr) != 0; }));
    EXPECT_EQ('z', getchar());
    // The wait returns the key typed later.
    auto oKey = std::async(std::launch::async, [] { return LHWaitKeyPressed(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ASSERT_TRUE(fnType("w"));
    ASSERT_EQ(std::future_status::ready, oKey.wait_for(std::chrono::seconds(20)));
    EXPECT_EQ('w', oKey.get());

    // Whatever was typed and not read stays with this terminal.
    fflush(stdin);
    dup2(iSavedStdin, STDIN_FILENO);
    close(iSavedStdin);
    clearerr(stdin);
    close(iMaster);
}
