// The local monitor in a real window, on a private X server (Xvfb): a screenshot of the window
// shows the picture of the display's snapshot, at the rectangle the input was fitted to.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "PellixTestControl.h"
#include "RtspClients.h"
#include "TestPlatform.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"

namespace
{
// An 8-bit RGB picture: a binary PPM's pixels, or a raw screenshot's.
std::string ReadPixels(const std::string& roPath, bool bPpm)
{
    std::ifstream oFile(roPath, std::ios::binary);
    if (bPpm)
    {
        std::string oMagic;
        unsigned uiWidth = 0, uiHeight = 0, uiMax = 0;
        oFile >> oMagic >> uiWidth >> uiHeight >> uiMax;
        oFile.get();
    }
    return std::string(std::istreambuf_iterator<char>(oFile), std::istreambuf_iterator<char>());
}

// Mean absolute difference of two 1920-wide RGB pictures within [x0, x1) x [y0, y1), and the
// mean of the first there.
void Compare(const std::string& roA, const std::string& roB, unsigned x0, unsigned x1, unsigned y0, unsigned y1,
             double& rdDifference, double& rdMeanA)
{
    double dDifference = 0.0, dSum = 0.0;
    for (unsigned y = y0; y < y1; ++y)
        for (unsigned x = 3 * x0; x < 3 * x1; ++x)
        {
            const int iA = static_cast<unsigned char>(roA[(size_t(y) * 1920 * 3) + x]);
            const int iB = static_cast<unsigned char>(roB[(size_t(y) * 1920 * 3) + x]);
            dDifference += std::abs(iA - iB);
            dSum += iA;
        }
    const double dCount = 3.0 * (x1 - x0) * (y1 - y0);
    rdDifference = dDifference / dCount;
    rdMeanA = dSum / dCount;
}
} // namespace

TEST(DisplayWindow, AScreenshotOfTheWindowShowsTheSnapshotAtTheFittedRectangle)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    // A private X server with one 1920x1080 screen on the first free display number, which it
    // writes once it is ready. Without -noreset it would reset when its last client leaves (the
    // window's sink probing the X video extension first): a window opened meanwhile finds no
    // display.
    CChildProcess oXServer({"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                           160);
    ASSERT_TRUE(oXServer.WaitForOutput("\n", 30)) << oXServer.Err();
    const std::string oDisplay = ":" + oXServer.Out().substr(0, oXServer.Out().find('\n'));
    setenv("DISPLAY", oDisplay.c_str(), 1);
    setenv("PELLIX_SIM_DISPLAY", "window", 1);
    // Still colour bars of 1280x720 on a 1920x1080 monitor: fitted unscaled at (320, 180).
    const CTestPlatform oPlatform(
        "gst:videotestsrc is-live=true pattern=smpte100 ! video/x-raw,width=1280,height=720,framerate=30/1");
    ASSERT_TRUE(WaitPortFree(8554));
    char szAddress[128] = {0};
    ASSERT_TRUE(StartStreaming(8000000, sizeof(szAddress), szAddress));

    const CTempDir oFolder;
    const std::string oSnapshot = (oFolder.Path() / "snapshot.ppm").string();
    const std::string oShot = (oFolder.Path() / "screen.rgb").string();
    const std::string oGrab = "gst-launch-1.0 -q ximagesrc display-name=" + oDisplay +
                              " use-damage=false show-pointer=false num-buffers=1 ! videoconvert ! "
                              "video/x-raw,format=RGB ! filesink location=" + oShot;
    // The window comes up with its first refreshes.
    double dDifference = 255.0, dMean = 0.0, dOutside = 255.0, dOutsideMean = 255.0;
    std::string oSnapshotPixels, oScreenPixels;
    for (int iTry = 0; iTry < 40 && dDifference > 4.0; ++iTry)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(oSnapshot.c_str()));
        ASSERT_EQ(0, RunCommand(oGrab, 30).iExitCode);
        oSnapshotPixels = ReadPixels(oSnapshot, true);
        oScreenPixels = ReadPixels(oShot, false);
        ASSERT_EQ(1920u * 1080 * 3, oSnapshotPixels.size());
        ASSERT_EQ(1920u * 1080 * 3, oScreenPixels.size());
        Compare(oScreenPixels, oSnapshotPixels, 320, 1600, 180, 900, dDifference, dMean);
    }
    // Inside the rectangle the bars, as the snapshot has them; outside black in both (the band
    // above the rectangle compared; the others are alike).
    Compare(oScreenPixels, oSnapshotPixels, 0, 1920, 0, 180, dOutside, dOutsideMean);
    printf("window against snapshot: mean difference %.2f inside the fitted rectangle (mean level %.1f), %.2f above "
           "it (mean level %.1f)\n",
           dDifference, dMean, dOutside, dOutsideMean);
    EXPECT_LT(dDifference, 4.0) << "display " << oDisplay << "; the X server said: " << oXServer.Err();
    EXPECT_GT(dMean, 60.0);
    EXPECT_LT(dOutside, 1.0);
    EXPECT_LT(dOutsideMean, 1.0);
    double dBelow = 0.0, dBelowMean = 0.0;
    Compare(oScreenPixels, oSnapshotPixels, 0, 1920, 900, 1080, dBelow, dBelowMean);
    EXPECT_LT(dBelowMean, 1.0);
    EXPECT_TRUE(StopStreaming());
    oXServer.Signal(SIGTERM);  // a server ending of its own removes its display's lock
    EXPECT_TRUE(oXServer.Wait(10));
}
