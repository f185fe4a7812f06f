// The host's viewer limit: with --max-clients 2, two viewers decode while a third is answered
// 503 Service Unavailable at once; once a viewer has gone, even without a TEARDOWN, the next one
// is served.
#include <gtest/gtest.h>

#include <poll.h>

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
    const std::string oViewer = "ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -frames:v 600 -f framecrc -";
    CBackgroundCommand oFirst(oViewer, 120);
    auto Frames = [](CBackgroundCommand& roViewer) { return CountOccurrences("\n" + roViewer.Result().oOut, "\n0,"); };
    for (int iWait = 0; iWait < 600 && Frames(oFirst) < 10; ++iWait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GE(Frames(oFirst), 10u) << oFirst.Result().oErr;
    // The second viewer plays over TCP and receives the stream.
    CRawRtspClient oSecond;
    ASSERT_TRUE(oSecond.Connect(8554));
    ASSERT_EQ(0u, oSecond.Request("SETUP", oUrl + "/stream=0", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
                      .find("RTSP/1.0 200 OK"));
    ASSERT_EQ(0u, oSecond.Request("PLAY", oUrl).find("RTSP/1.0 200 OK"));
    pollfd oPoll{oSecond.Fd(), POLLIN, 0};
    ASSERT_EQ(1, poll(&oPoll, 1, 10000));

    const auto oStart = std::chrono::steady_clock::now();
    const SRunResult oRefused = RunCommand("ffprobe -v error -rtsp_transport tcp " + oUrl, 60);
    const long lRefusedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - oStart).count();
    printf("[ figures  ] the third viewer was refused after %ld ms\n", lRefusedMs);
    EXPECT_NE(0, oRefused.iExitCode);
    EXPECT_NE(std::string::npos, oRefused.oErr.find("503 Service Unavailable")) << oRefused.oErr;
    EXPECT_LT(lRefusedMs, 20000);

    // The second viewer goes without a TEARDOWN (its connection just closes): its place is free
    // for the next one while the first goes on.
    oSecond.Close();
    CBackgroundCommand oNext("ffmpeg -nostdin -v error -rtsp_transport tcp -i " + oUrl + " -frames:v 10 -f framecrc -",
                             60);
    ASSERT_TRUE(oNext.Wait(70));
    EXPECT_EQ(0, oNext.Result().iExitCode) << oNext.Result().oErr;
    EXPECT_EQ(10u, Frames(oNext)) << oNext.Result().oErr;
    EXPECT_TRUE(oFirst.IsRunning());
    ASSERT_TRUE(oFirst.Wait(90));
    EXPECT_EQ(0, oFirst.Result().iExitCode);
    EXPECT_EQ("", oFirst.Result().oErr);
    EXPECT_EQ(600u, Frames(oFirst));
    EXPECT_NE(std::string::npos, oHost.Out().find("pellix-server: 1s streaming=yes"));

    oHost.Signal(SIGINT);
    ASSERT_TRUE(oHost.Wait(30)) << oHost.All();
    EXPECT_EQ(0, oHost.ExitCode()) << oHost.All();
}
