// The host's viewer limit: with --max-clients 2, two viewers decode while a third is answered
// 503 Service Unavailable at once; once a viewer has gone, the next one is served.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "HostProcess.h"
#include "RtspTestSupport.h"
#include "TempDir.h"

TEST(PellixServerLimit, BeyondMaxClientsAViewerIsAnswered503AndTheOthersDecodeOn)
{
    for (int iTry = 0; iTry < 300 && !CanBindPort(8554); ++iTry)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CTempDir oTemp;
    // Built with AddressSanitizer, the host would report what GLib and the unloaded libraries
    // allocate once in their constructors; whole stacks tell those apart, as in the test programs.
    const std::string oLeaks = oTemp.Write("lsan.supp", "leak:_dl_init\n").string();
    CHostProcess oHost({"--interface", "lo", "--input", "640x480p30", "--max-clients", "2"},
                       {"TMPDIR=" + oTemp.Path().string(), "LSAN_OPTIONS=suppressions=" + oLeaks,
                        "ASAN_OPTIONS=fast_unwind_on_malloc=0",
                        "-PELLIX_PLATFORM_ROOT", "-PELLIX_SIM_INPUT", "-PELLIX_SIM_MONITOR", "-PELLIX_NET_INTERFACE",
                        "-PELLIX_LIBRARY", "-ALSA_CONFIG_PATH", "-PELLIX_MAX_CLIENTS"});
    ASSERT_TRUE(oHost.WaitForOutput("pellix-server: streaming at ", 60)) << oHost.All();
    const std::string oOut = oHost.Out();
    const size_t uiUrl = oOut.find("rtsp://");
    const std::string oUrl = oOut.substr(uiUrl, oOut.find('\n', uiUrl) - uiUrl);
    const std::string oViewer = "ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -frames:v 240 -f framecrc -";
    CBackgroundCommand oFirst(oViewer, 120);
    CBackgroundCommand oSecond(oViewer, 120);
    auto Frames = [](CBackgroundCommand& roViewer) { return CountOccurrences("\n" + roViewer.Result().oOut, "\n0,"); };
    for (int iWait = 0; iWait < 600 && (Frames(oFirst) < 10 || Frames(oSecond) < 10); ++iWait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GE(Frames(oFirst), 10u) << oFirst.Result().oErr;
    ASSERT_GE(Frames(oSecond), 10u) << oSecond.Result().oErr;

    const auto oStart = std::chrono::steady_clock::now();
    const SRunResult oRefused = RunCommand("ffprobe -v error -rtsp_transport tcp " + oUrl, 60);
    const long lRefusedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - oStart).count();
    printf("[ figures  ] the third viewer was refused after %ld ms\n", lRefusedMs);
    EXPECT_NE(0, oRefused.iExitCode);
    EXPECT_NE(std::string::npos, oRefused.oErr.find("503 Service Unavailable")) << oRefused.oErr;
    EXPECT_LT(lRefusedMs, 20000);

    for (CBackgroundCommand* poViewer : {&oFirst, &oSecond})
    {
        ASSERT_TRUE(poViewer->Wait(90));
        EXPECT_EQ(0, poViewer->Result().iExitCode);
        EXPECT_EQ("", poViewer->Result().oErr);
        EXPECT_EQ(240u, Frames(*poViewer));
    }
    const SRunResult oNext = RunCommand("ffprobe -v error -rtsp_transport tcp -select_streams v:0 -count_frames "
                                        "-show_entries stream=nb_read_frames -of csv=p=0 -read_intervals %+#10 " + oUrl,
                                        60);
    EXPECT_EQ(0, oNext.iExitCode) << oNext.oErr;
    EXPECT_EQ("10\n", oNext.oOut) << oNext.oErr;
    EXPECT_NE(std::string::npos, oHost.Out().find("pellix-server: 1s streaming=yes"));

    oHost.Signal(SIGINT);
    ASSERT_TRUE(oHost.Wait(30)) << oHost.All();
    EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
}
