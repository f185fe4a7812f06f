#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <cstdio>
#include <string>

#include "GenUtils.h"
#include "OutputCapture.h"
#include "TempDir.h"

// ---- Pixels -------------------------------------------------------------------------------

namespace
{
PixFmt_A8R8G8B8 Rgb(unsigned uiR, unsigned uiG, unsigned uiB, unsigned uiA = 0)
{
    PixFmt_A8R8G8B8 oPixel;
    oPixel.m_uiPixel = uiA << 24 | uiR << 16 | uiG << 8 | uiB;
    return oPixel;
}

PixFmt_YUV422 ToYuv(PixFmt_A8R8G8B8 oFirst, PixFmt_A8R8G8B8 oSecond)
{
    const PixFmt_A8R8G8B8 aoPair[2] = {oFirst, oSecond};
    PixFmt_YUV422 oYuv;
    oYuv.m_uiTwoPixels = 0xDEADBEEF;
    ConvertRgbToYuv(aoPair, oYuv);
    return oYuv;
}

void ExpectYuv(const PixFmt_YUV422& roYuv, int iY0, int iCb, int iY1, int iCr)
{
    EXPECT_EQ(iY0, roYuv.m_oTwoPixels.m_uiY0);
    EXPECT_EQ(iCb, roYuv.m_oTwoPixels.m_uiCb);
    EXPECT_EQ(iY1, roYuv.m_oTwoPixels.m_uiY1);
    EXPECT_EQ(iCr, roYuv.m_oTwoPixels.m_uiCr);
}
} // namespace

TEST(ConvertRgbToYuv, FullRangeWithChromaFromFirstAndSecondPixel)
{
    ExpectYuv(ToYuv(Rgb(255, 255, 255), Rgb(255, 255, 255)), 255, 128, 255, 128);
    ExpectYuv(ToYuv(Rgb(0, 0, 0), Rgb(0, 0, 0)), 0, 128, 0, 128);
    // Blue first: Cb from it alone; red second: Cr from it alone.
    ExpectYuv(ToYuv(Rgb(0, 0, 255), Rgb(255, 0, 0)), 29, 255, 76, 255);
    // Yellow first: (-173 - 339) * 255 / 1024 = -127.5, truncated toward zero to -127, so Cb = 1.
    EXPECT_EQ(1, ToYuv(Rgb(255, 255, 0), Rgb(0, 0, 0)).m_oTwoPixels.m_uiCb);
    // Alpha plays no part; bytes lie in memory as Y0 Cb Y1 Cr.
    const PixFmt_YUV422 oGrey = ToYuv(Rgb(128, 128, 128, 0xFF), Rgb(64, 64, 64, 0x12));
    ExpectYuv(oGrey, 128, 128, 64, 128);
    EXPECT_EQ(0x80408080u, oGrey.m_uiTwoPixels);
}

TEST(ConvertFloatToFixedPoint, RoundsSaturatesAndEncodesTwosComplement)
{
    EXPECT_EQ(0x400u, ConvertFloatToFixedPoint(1.0f, 3, 10));
    EXPECT_EQ(0x1C00u, ConvertFloatToFixedPoint(-1.0f, 3, 10));
    EXPECT_EQ(0xFFFu, ConvertFloatToFixedPoint(5.0f, 3, 10));
    EXPECT_EQ(0x1001u, ConvertFloatToFixedPoint(-5.0f, 3, 10));
    EXPECT_EQ(0u, ConvertFloatToFixedPoint(0.0f, 3, 10));
    EXPECT_EQ(65u, ConvertFloatToFixedPoint(16.25f, 10, 2));
    // Half a step rounds away from zero: 0.5 / 1024 up to 1, -0.5 / 1024 to -1.
    EXPECT_EQ(1u, ConvertFloatToFixedPoint(0.5f / 1024, 3, 10));
    EXPECT_EQ(0x1FFFu, ConvertFloatToFixedPoint(-0.5f / 1024, 3, 10));
    EXPECT_EQ(0u, ConvertFloatToFixedPoint(0.49f / 1024, 3, 10));
}

TEST(ConvertFloatToFixedPoint, OutOfRangeInputsStayWithinTheField)
{
    const float fInfinity = std::numeric_limits<float>::infinity();
    EXPECT_EQ(0xFFFu, ConvertFloatToFixedPoint(1e30f, 3, 10));
    EXPECT_EQ(0xFFFu, ConvertFloatToFixedPoint(fInfinity, 3, 10));
    EXPECT_EQ(0x1001u, ConvertFloatToFixedPoint(-fInfinity, 3, 10));
    EXPECT_EQ(0u, ConvertFloatToFixedPoint(std::nanf(""), 3, 10));
    // A 32-bit field: the mask is all ones, no shift past the width.
    EXPECT_EQ(0x10000u, ConvertFloatToFixedPoint(1.0f, 16, 16));
    EXPECT_EQ(0xFFFF0000u, ConvertFloatToFixedPoint(-1.0f, 16, 16));
    EXPECT_EQ(0x7FFFFFFFu, ConvertFloatToFixedPoint(1e30f, 16, 16));
}

// ---- Time ---------------------------------------------------------------------------------

TEST(Time, RealTimeMicrosecondsFollowTheSystemClock)
{
    using namespace std::chrono;
    const auto uiBefore = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const MUINT64 uiNow = GetRealTimeUsec();
    const auto uiAfter = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    EXPECT_LE(static_cast<MUINT64>(uiBefore), uiNow);
    EXPECT_GE(static_cast<MUINT64>(uiAfter), uiNow);
}

TEST(Time, SleepLastsAtLeastItsTimeAndChronoPrintsItsLabel)
{
    COutputCapture oOut(STDOUT_FILENO);
    const MUINT64 uiStart = GetRealTimeUsec();
    {
        CChrono oChrono("nap");
        LCpuThread_Sleep(1250);  // one second and 250000000 nanoseconds
    }
    EXPECT_GE(GetRealTimeUsec() - uiStart, 1250000u);
    const std::string oText = oOut.Finish();
    int iUsec = 0;
    char szRest[8] = {};
    ASSERT_EQ(2, sscanf(oText.c_str(), "nap: %d usec%7s", &iUsec, szRest)) << oText;
    EXPECT_STREQ(".", szRest);
    EXPECT_EQ('\n', oText.back());
    EXPECT_GE(iUsec, 1250000);
}

// ---- Files --------------------------------------------------------------------------------

TEST(IsFileValid, EmptyMissingFileAndDirectory)
{
    CTempDir oDir;
    const std::string oFile = oDir.Write("a.bin", "x").string();
    const std::string oMissing = (oDir.Path() / "missing").string();
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_FALSE(IsFileValid(""));
    EXPECT_FALSE(IsFileValid(nullptr));
    EXPECT_FALSE(IsFileValid(oMissing.c_str()));
    EXPECT_TRUE(IsFileValid(oFile.c_str()));
    EXPECT_TRUE(IsFileValid(oDir.Path().c_str()));
    EXPECT_EQ("Error, file path is null\nError, file path is null\nError, Cannot open input file " + oMissing + "\n",
              oOut.Finish());
}

// ---- The platform's device files ------------------------------------------------------------

class PlatformRoot : public ::testing::Test
{
protected:
    PlatformRoot() : m_oRoot(), m_oEnv("PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()) {}

    CTempDir m_oRoot;
    CScopedEnv m_oEnv;
};

TEST_F(PlatformRoot, PathsAreTakenBelowTheRoot)
{
    EXPECT_EQ(m_oRoot.Path().string() + "/proc/net/dev", PlatformPath("/proc/net/dev"));
    CScopedEnv oSlash("PELLIX_PLATFORM_ROOT", m_oRoot.Path().string() + "//");
    EXPECT_EQ(m_oRoot.Path().string() + "/sys/x", PlatformPath("/sys/x"));
    CScopedEnv oEmpty("PELLIX_PLATFORM_ROOT", "");
    EXPECT_EQ("/sys/x", PlatformPath("/sys/x"));
}

TEST_F(PlatformRoot, DisplaySwitchesReadAndWriteTheEnabledFile)
{
    const std::string oDisplay0 = "sys/devices/platform/vpss/display0/enabled";
    const std::string oDisplay1 = "sys/devices/platform/vpss/display1/enabled";
    m_oRoot.Write(oDisplay0, "1\n");
    m_oRoot.Write(oDisplay1, "0\n");
    EXPECT_TRUE(IsDisplayEnabled(0));
    EXPECT_FALSE(IsDisplayEnabled(1));
    EXPECT_FALSE(IsDisplayEnabled(2));  // no such display

    EXPECT_TRUE(EnableDisplay(1, true));
    EXPECT_EQ("1", m_oRoot.Read(oDisplay1));
    EXPECT_TRUE(IsDisplayEnabled(1));
    EXPECT_TRUE(EnableDisplay(1, false));
    EXPECT_EQ("0", m_oRoot.Read(oDisplay1));
    EXPECT_FALSE(IsDisplayEnabled(1));
    EXPECT_FALSE(EnableDisplay(2, true));  // the driver has no such folder
    EXPECT_FALSE(std::filesystem::exists(m_oRoot.Path() / "sys/devices/platform/vpss/display2"));
}

// A stand-in for the `ip` command that records its arguments, one call a line.
class MulticastRouting : public PlatformRoot
{
protected:
    MulticastRouting()
        : m_oLog((m_oRoot.Path() / "ip.log").string()),
          m_oLogEnv("PELLIX_TEST_IP_LOG", m_oLog),
          m_oPath("PATH", (m_oRoot.Path() / "bin").string() + ":" + getenv("PATH"))
    {
        const auto oIp = m_oRoot.Write("bin/ip", "#!/bin/sh\necho \"$*\" >> \"$PELLIX_TEST_IP_LOG\"\n");
        chmod(oIp.c_str(), 0755);
    }

    std::string Calls() const { return m_oRoot.Read("ip.log"); }

    std::string m_oLog;
    CScopedEnv m_oLogEnv;
    CScopedEnv m_oPath;
};

const char* const local_szDevHeader = "Inter-|   Receive                            |  Transmit\n"
                                      " face |bytes    packets errs drop fifo frame compressed multicast|bytes\n";

TEST_F(MulticastRouting, OneRouteCommandPerEthernetInterfaceInOrder)
{
    m_oRoot.Write("proc/net/dev", std::string(local_szDevHeader) +
                                      "    lo:  1000      10    0    0    0     0          0         0  1000\n"
                                      "  eth0: 123456    100    0    0    0     0          0         0  654321\n"
                                      " veth7:     0       0    0    0    0     0          0         0       0\n"
                                      "  eth1:   999       9    0    0    0     0          0         0     999\n");
    EXPECT_TRUE(EnableMulticastRouting());
    EXPECT_EQ("route add 224.0.0.0/4 dev eth0\n"
              "route add 224.0.0.0/4 dev eth7\n"
              "route add 224.0.0.0/4 dev eth1\n",
              Calls());
}

TEST_F(MulticastRouting, NamesAShellWouldInterpretAreSkipped)
{
    const std::string oMarker = (m_oRoot.Path() / "pwned").string();
    m_oRoot.Write("proc/net/dev", std::string(local_szDevHeader) + "eth2;touch${IFS}" + oMarker + ": 0 0\n" +
                                      "eth3`touch${IFS}" + oMarker + "`: 0 0\n" + "eth4$(id): 0 0\n" +
                                      "eth5 && touch " + oMarker + ": 0 0\n" + "eth_6.v-1: 0 0\n");
    EXPECT_TRUE(EnableMulticastRouting());
    EXPECT_EQ("route add 224.0.0.0/4 dev eth_6.v-1\n", Calls());
    EXPECT_FALSE(std::filesystem::exists(oMarker));
}

TEST_F(MulticastRouting, NothingToRouteOrNoDeviceList)
{
    EXPECT_FALSE(EnableMulticastRouting());  // no /proc/net/dev below the root
    m_oRoot.Write("proc/net/dev", std::string(local_szDevHeader) + "    lo: 0 0 0\n");
    EXPECT_FALSE(EnableMulticastRouting());
    m_oRoot.Write("proc/net/dev", "eth0;true: 0\n");
    EXPECT_FALSE(EnableMulticastRouting());
    EXPECT_EQ("", Calls());
}
