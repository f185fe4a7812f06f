// The system utilities: pixel conversions, time, files, the display driver's files and the
// multicast routes (through a stand-in `ip`), and the BMP reader on good and hostile files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "GenUtils.h"
#include "OutputCapture.h"
#include "TempDir.h"

TEST(PixelConversion, RgbToYuvAndFixedPoint)
{
    // ARGB pairs to Y0 Cb Y1 Cr bytes (full range; Cb from the first pixel, Cr from the second;
    // alpha plays no part). Yellow first: (-173 - 339) * 255 / 1024 = -127.5, toward zero: Cb 1.
    const MUINT32 aauiCases[][3] = {{0x00FFFFFF, 0x00FFFFFF, 0x80FF80FF}, {0, 0, 0x80008000},
                                    {0x000000FF, 0x00FF0000, 0xFF4CFF1D}, {0x00FFFF00, 0, 0x800001E1},
                                    {0xFF808080, 0x12404040, 0x80408080}};
    for (const auto& rauiCase : aauiCases)
    {
        PixFmt_A8R8G8B8 aoPair[2];
        aoPair[0].m_uiPixel = rauiCase[0];
        aoPair[1].m_uiPixel = rauiCase[1];
        PixFmt_YUV422 oYuv;
        oYuv.m_uiTwoPixels = 0xDEADBEEF;
        ConvertRgbToYuv(aoPair, oYuv);
        EXPECT_EQ(rauiCase[2], oYuv.m_uiTwoPixels) << std::hex << rauiCase[0] << " " << rauiCase[1];
    }
    // Fixed point: half a step rounds away from zero; out of range saturates (NaN gives 0); a
    // 32-bit field needs no shift past its width.
    const float fInfinity = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, MUINT32>> aoCases3x10 = {
        {1.0f, 0x400}, {-1.0f, 0x1C00}, {5.0f, 0xFFF}, {-5.0f, 0x1001}, {0.0f, 0}, {0.5f / 1024, 1},
        {-0.5f / 1024, 0x1FFF}, {0.49f / 1024, 0}, {1e30f, 0xFFF}, {fInfinity, 0xFFF}, {-fInfinity, 0x1001},
        {std::nanf(""), 0}};
    for (const auto& roCase : aoCases3x10)
        EXPECT_EQ(roCase.second, ConvertFloatToFixedPoint(roCase.first, 3, 10)) << roCase.first;
    EXPECT_TRUE(ConvertFloatToFixedPoint(16.25f, 10, 2) == 65u && ConvertFloatToFixedPoint(1.0f, 16, 16) == 0x10000u &&
                ConvertFloatToFixedPoint(-1.0f, 16, 16) == 0xFFFF0000u &&
                ConvertFloatToFixedPoint(1e30f, 16, 16) == 0x7FFFFFFFu);
}

TEST(Time, RealTimeFollowsTheSystemClockAndSleepLastsItsTime)
{
    using namespace std::chrono;
    const MUINT64 uiNow = GetRealTimeUsec();
    EXPECT_NEAR(double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()), double(uiNow),
                1e5);
    COutputCapture oOut(STDOUT_FILENO);
    {
        CChrono oChrono("nap");
        LCpuThread_Sleep(1250);  // one second and 250000000 nanoseconds
    }
    EXPECT_GE(GetRealTimeUsec() - uiNow, 1250000u);
    const std::string oText = oOut.Finish();
    int iUsec = 0;
    char szRest[8] = {};
    ASSERT_EQ(2, sscanf(oText.c_str(), "nap: %d usec%7s", &iUsec, szRest)) << oText;
    EXPECT_TRUE(std::string(szRest) + oText.back() == ".\n" && iUsec >= 1250000);
}

TEST(DeviceFiles, ValidityPlatformPathsAndDisplaySwitches)
{
    CTempDir oRoot;
    CScopedEnv oEnv("PELLIX_PLATFORM_ROOT", oRoot.Path().string());
    const std::string oFile = oRoot.Write("a.bin", "x").string(), oMissing = (oRoot.Path() / "missing").string();
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ((std::vector<MBOOL32>{0, 0, 0, 1, 1}),
              (std::vector<MBOOL32>{IsFileValid(""), IsFileValid(nullptr), IsFileValid(oMissing.c_str()),
                                    IsFileValid(oFile.c_str()), IsFileValid(oRoot.Path().c_str())}));
    EXPECT_EQ("Error, file path is null\nError, file path is null\nError, Cannot open input file " + oMissing + "\n",
              oOut.Finish());

    EXPECT_EQ(oRoot.Path().string() + "/proc/net/dev", PlatformPath("/proc/net/dev"));
    {
        CScopedEnv oSlash("PELLIX_PLATFORM_ROOT", oRoot.Path().string() + "//");
        EXPECT_EQ(oRoot.Path().string() + "/sys/x", PlatformPath("/sys/x"));
        CScopedEnv oEmpty("PELLIX_PLATFORM_ROOT", "");
        EXPECT_EQ("/sys/x", PlatformPath("/sys/x"));
    }

    // The driver takes the character when the file is closed; display 2 does not exist.
    const std::string oDisplay1 = "sys/devices/platform/vpss/display1/enabled";
    oRoot.Write("sys/devices/platform/vpss/display0/enabled", "1\n");
    oRoot.Write(oDisplay1, "0\n");
    EXPECT_EQ((std::vector<bool>{true, false, false}),
              (std::vector<bool>{IsDisplayEnabled(0), IsDisplayEnabled(1), IsDisplayEnabled(2)}));
    for (bool bEnable : {true, false})
        EXPECT_TRUE(EnableDisplay(1, bEnable) && oRoot.Read(oDisplay1) == (bEnable ? "1" : "0") &&
                    IsDisplayEnabled(1) == bEnable) << bEnable;
    EXPECT_FALSE(EnableDisplay(2, true) ||
                 std::filesystem::exists(oRoot.Path() / "sys/devices/platform/vpss/display2"));
}

TEST(DeviceFiles, OneMulticastRoutePerEthernetNameThatNoShellWouldInterpret)
{
    // A stand-in for the `ip` command that records its arguments, one call a line.
    CTempDir oRoot;
    CScopedEnv oEnv("PELLIX_PLATFORM_ROOT", oRoot.Path().string());
    CScopedEnv oLog("PELLIX_TEST_IP_LOG", (oRoot.Path() / "ip.log").string());
    CScopedEnv oPath("PATH", (oRoot.Path() / "bin").string() + ":" + getenv("PATH"));
    chmod(oRoot.Write("bin/ip", "#!/bin/sh\necho \"$*\" >> \"$PELLIX_TEST_IP_LOG\"\n").c_str(), 0755);
    const std::string oHeader = "Inter-|   Receive |  Transmit\n face |bytes    packets|bytes\n",
                      oRoute = "route add 224.0.0.0/4 dev ";
    const std::string oMarker = (oRoot.Path() / "pwned").string();
    // No device list, no "eth" name, a name with a shell's character; each "eth" name in order
    // ("veth7" too); names a shell would interpret skipped, never reaching the shell.
    const std::vector<std::tuple<std::string, bool, std::string>> aoCases = {
        {"", false, ""},
        {oHeader + "    lo: 0 0 0\n", false, ""},
        {"eth0;true: 0\n", false, ""},
        {oHeader + "    lo:  1000  10\n  eth0: 123456  100\n veth7:     0   0\n  eth1:   999   9\n", true,
         oRoute + "eth0\n" + oRoute + "eth7\n" + oRoute + "eth1\n"},
        {oHeader + "eth2;touch${IFS}" + oMarker + ": 0 0\neth3`touch${IFS}" + oMarker + "`: 0 0\neth4$(id): 0 0\n" +
             "eth5 && touch " + oMarker + ": 0 0\neth_6.v-1: 0 0\n",
         true, oRoute + "eth_6.v-1\n"}};
    for (const auto& roCase : aoCases)
    {
        if (!std::get<0>(roCase).empty())
            oRoot.Write("proc/net/dev", std::get<0>(roCase));
        std::filesystem::remove(oRoot.Path() / "ip.log");
        EXPECT_EQ(std::get<1>(roCase), EnableMulticastRouting() != 0) << std::get<0>(roCase);
        EXPECT_EQ(std::get<2>(roCase), oRoot.Read("ip.log"));
    }
    EXPECT_FALSE(std::filesystem::exists(oMarker));
}

// The largest array asked for without throwing (the BMP reader's way), recorded: a hostile header
// must be refused before anything is allocated. Beyond 1 GiB nothing is handed out.
size_t g_uiLargestNothrowArray = 0;
void* operator new[](size_t uiSize, const std::nothrow_t&) noexcept
{
    g_uiLargestNothrowArray = std::max(g_uiLargestNothrowArray, uiSize);
    try
    {
        return uiSize > (size_t(1) << 30) ? nullptr : ::operator new[](uiSize);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

namespace
{
// A BMP file: the fields the reader looks at, the rest as a writer would write it. Pixel (x, r)
// of file row r carries B = x, G = r, R = 0x80 | x.
struct SBmp
{
    int32_t iWidth = 8, iHeight = 2;
    uint16_t uiPlanes = 1, uiBitCount = 24;
    uint32_t uiSizeImage = 48, uiOffBits = 54;
    uint16_t uiType = 0x4D42;
    int iRows = 2, iPadding = 0;

    std::string Bytes() const
    {
        std::string oPixels, oBytes;
        for (int iRow = 0; iRow < iRows; ++iRow)
        {
            for (int iColumn = 0; iColumn < (iWidth < 8 ? iWidth : 8); ++iColumn)
                oPixels += std::string{char(iColumn), char(iRow), char(0x80 | iColumn)};
            oPixels.append(iPadding, '\0');
        }
        const std::pair<uint32_t, int> aoFields[] = {
            {uiType, 2},           {uiOffBits + uint32_t(oPixels.size()), 4}, {0, 4}, {uiOffBits, 4}, {40, 4},
            {uint32_t(iWidth), 4}, {uint32_t(iHeight), 4}, {uiPlanes, 2}, {uiBitCount, 2}, {0, 4}, {uiSizeImage, 4}};
        for (const auto& roField : aoFields)
            for (int i = 0; i < roField.second; ++i)
                oBytes += char(roField.first >> (8 * i));
        oBytes.resize(uiOffBits, '\0');
        return oBytes + oPixels;
    }
};
} // namespace

TEST(PixmapFile, ReadsBottomUpRowsAndRefusesHostileHeadersBeforeAllocating)
{
    CTempDir oDir;
    CPixmapFile oPixmap;
    const auto fnRead = [&](const std::string& roBytes) { return oPixmap.Read(oDir.Write("p.bmp", roBytes).c_str()); };
    // Also with a longer information header in front of the pixels.
    for (uint32_t uiOffBits : {54u, 138u})
    {
        SBmp oBmp;
        oBmp.uiOffBits = uiOffBits;
        const PixFmt_A8R8G8B8* poPixels = fnRead(oBmp.Bytes());
        ASSERT_TRUE(poPixels != nullptr && poPixels == oPixmap.GetPixmap() && oPixmap.GetSize().m_uiCx == 8 &&
                    oPixmap.GetSize().m_uiCy == 2);
        for (unsigned i = 0; i < 16; ++i)  // the file's second row is the top
            EXPECT_EQ(0x00800000u | (i % 8) << 16 | (1 - i / 8) << 8 | (i % 8), poPixels[i].m_uiPixel) << i;
    }
    // Padded rows (6 x 2 in 20-byte rows), top-down, other formats and sizes.
    std::vector<SBmp> aoBad(10);
    aoBad[0].iWidth = 6, aoBad[0].uiSizeImage = 40, aoBad[0].iPadding = 2;
    aoBad[1].iHeight = -2;
    aoBad[2].uiBitCount = 32;
    aoBad[3].uiPlanes = 2;
    aoBad[4].uiType = 0x4D43;
    aoBad[5].iWidth = 0;
    aoBad[6].iWidth = -8;
    aoBad[7].iHeight = 0;
    // 40000 x 35000 pixels, consistent with the declared size, in a file of a few bytes; and
    // 0x55555556 x 3, which wraps to 2 in 32 bits and would match a declared size of 6.
    aoBad[8].iWidth = 40000, aoBad[8].iHeight = 35000, aoBad[8].uiSizeImage = 4200000000u;
    aoBad[9].iWidth = 0x55555556, aoBad[9].iHeight = 3, aoBad[9].uiSizeImage = 6, aoBad[9].iRows = 1;
    std::vector<std::string> aoFiles;
    for (const SBmp& roBmp : aoBad)
        aoFiles.push_back(roBmp.Bytes());
    // Pixel data said to begin past the end; files cut short anywhere.
    const std::string oWhole = SBmp().Bytes();
    aoFiles.push_back(oWhole.substr(0, 10) + "\xFF\xFF" + oWhole.substr(12));
    for (size_t uiLength : {size_t(0), size_t(10), size_t(14), size_t(30), size_t(54), oWhole.size() - 1})
        aoFiles.push_back(oWhole.substr(0, uiLength));
    for (size_t i = 0; i < aoFiles.size(); ++i)
    {
        // A failed read drops the previous picture.
        ASSERT_NE(nullptr, fnRead(oWhole));
        g_uiLargestNothrowArray = 0;
        EXPECT_TRUE(fnRead(aoFiles[i]) == nullptr && oPixmap.GetPixmap() == nullptr && g_uiLargestNothrowArray < 4096u)
            << "case " << i;
    }
    EXPECT_TRUE(oPixmap.Read((oDir.Path() / "missing.bmp").c_str()) == nullptr &&
                oPixmap.Read(oDir.Path().c_str()) == nullptr);
    // A successful read replaces the picture; Clear drops it and keeps the last size.
    SBmp oSquare;
    oSquare.iWidth = oSquare.iHeight = oSquare.iRows = 4;
    ASSERT_NE(nullptr, fnRead(oSquare.Bytes()));
    oPixmap.Clear();
    EXPECT_TRUE(oPixmap.GetPixmap() == nullptr && oPixmap.GetSize().m_uiCy == 4);
}
