// The framework's geometry and pixel-format helpers, and the levelled log with its exact records.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OutputCapture.h"
#include "base-omx.h"
#include "ti814x-framework.h"

TEST(FitRectangle, WorkedValuesAndRefusals)
{
    // In, out, keep the aspect ratio, do not scale up; the rectangle: x, y, width, height.
    const std::vector<std::vector<MUINT32>> aauiCases = {
        {720, 480, 1920, 1080, 1, 0, 150, 0, 1620, 1080},
        // 1080 * 1920 / 1080 = 1920 > 1280: full width instead, 1080 * 1280 / 1920 = 720 high.
        {1920, 1080, 1280, 1024, 1, 0, 0, 152, 1280, 720},
        // 1621 wide in 1920: margin 299, half 149, rounded down to even 148.
        {1621, 1080, 1920, 1080, 0, 1, 148, 0, 1621, 1080},
        // Not scaled up: kept small, or clipped on each axis; too big: scaled down all the same.
        {640, 480, 1920, 1080, 1, 1, 640, 300, 640, 480},
        {2000, 500, 1920, 1080, 0, 1, 0, 290, 1920, 500},
        {3840, 2160, 1920, 1080, 1, 1, 0, 0, 1920, 1080},
        {1024, 768, 1920, 1080, 1, 1, 448, 156, 1024, 768},
        // Neither flag: stretched over the whole area. 100000 * 100000 is beyond 32 bits.
        {640, 480, 1920, 1080, 0, 0, 0, 0, 1920, 1080},
        {100000, 50000, 100000, 100000, 1, 0, 0, 25000, 100000, 50000},
        // Any zero dimension fails and leaves the rectangle.
        {0, 480, 1920, 1080, 1, 0, 3, 5, 7, 11}, {720, 0, 1920, 1080, 1, 0, 3, 5, 7, 11},
        {720, 480, 0, 1080, 1, 0, 3, 5, 7, 11}, {720, 480, 1920, 0, 1, 0, 3, 5, 7, 11}};
    for (const std::vector<MUINT32>& a : aauiCases)
    {
        tagMRECT32 oRect{{3, 5}, {7, 11}};
        EXPECT_EQ(a[0] != 0 && a[1] != 0 && a[2] != 0 && a[3] != 0,
                  FitRectangle({a[0], a[1]}, {a[2], a[3]}, a[4] != 0, a[5] != 0, oRect));
        EXPECT_EQ(std::vector<MUINT32>(a.begin() + 6, a.end()),
                  (std::vector<MUINT32>{MUINT32(oRect.m_oPos.m_iX), MUINT32(oRect.m_oPos.m_iY), oRect.m_oSize.m_uiCx,
                                        oRect.m_oSize.m_uiCy})) << a[0] << "x" << a[1];
    }
}

TEST(PixelFormat, CodesPitchesAndBufferSizes)
{
    // The formats are the platform's colour-format codes (4:2:2 25, 4:2:0 21, RGB 11); any other
    // value has no pitch or size.
    const MUINT32 aauiCases[][3] = {{25, 3840, 4147200}, {21, 1920, 3110400}, {11, 5760, 6220800}, {0, 0, 0},
                                    {10, 0, 0}, {12, 0, 0}, {20, 0, 0}, {22, 0, 0}, {24, 0, 0}, {26, 0, 0},
                                    {0x7F000000u, 0, 0}};
    for (const auto& rauiCase : aauiCases)
        EXPECT_EQ((std::vector<MUINT32>{rauiCase[1], rauiCase[2]}),
                  (std::vector<MUINT32>{GetPitch(1920, OmxPixelFormat(rauiCase[0])),
                                        GetBufferSize({1920, 1080}, OmxPixelFormat(rauiCase[0]))}))
            << rauiCase[0];
    EXPECT_EQ(13u, GetBufferSize({3, 3}, OmxPixFmt_YUV420));  // 27 / 2, truncated
}

namespace
{
unsigned g_uiFailLine = 0;

OMX_ERRORTYPE OperationThatFails()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    g_uiFailLine = __LINE__ + 1;
    ZEM_CHECK(OMX_ErrorInsufficientResources);
    return OMX_ErrorNone;
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
} // namespace

TEST(InfoMessage, LevelsRecordsAndTheirExactBytes)
{
    // A message shows when its level is at most the current one.
    for (const auto& roCase :
         std::vector<std::pair<int, std::string>>{{2, "012"}, {0, "0"}, {8, "01234"}, {9, "012349"}, {-1, ""}})
    {
        SetInfoMessageLevel(roCase.first);
        COutputCapture oCapture(STDOUT_FILENO);
        for (int iLevel : {0, 1, 2, 3, 4, 9})
            LInfoMessage(iLevel, "%d", iLevel);
        EXPECT_EQ(roCase.second, oCapture.Finish()) << roCase.first;
    }
    // An ABORT record is written whatever the level. (The INFO record's bytes, and that nothing of
    // it shows below its level, are checked with the library loaded as a host loads it.)
    char szExpected[256];
    SetInfoMessageLevel(-1);
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(OMX_ErrorInsufficientResources, OperationThatFails());
    snprintf(szExpected, sizeof(szExpected),
             "\nABORT Line:%03u File:tests/framework/ti814x-framework_test\n%-24s %s\n\n", g_uiFailLine,
             "OperationThatFails", "OMX_ErrorInsufficientResources");
    EXPECT_EQ(szExpected, oErr.Finish());
    // A message is cut at 1023 characters, on either stream.
    SetInfoMessageLevel(0);
    const std::string oExact(1023, 'x'), oLong(5000, 'y');
    for (int iFd : {STDOUT_FILENO, STDERR_FILENO})
    {
        COutputCapture oCapture(iFd);
        for (const std::string& roText : {oExact, oLong})
            iFd == STDOUT_FILENO ? LInfoMessage(0, "%s", roText.c_str()) : LErrorMessage("%s", roText.c_str());
        EXPECT_EQ(oExact + std::string(1023, 'y'), oCapture.Finish());
    }
}

TEST(InfoMessage, ManyThreadsLogWhileTheLevelChanges)
{
    // Each message is written whole by one fputs; the level may change under the writers.
    std::atomic<bool> bStop{false};
    COutputCapture oOut(STDOUT_FILENO);
    std::thread oLevels([&bStop] {
        for (int j = 0; !bStop.load(); ++j)
            SetInfoMessageLevel(j % 2);
    });
    std::vector<std::thread> aoWriters;
    for (int i = 0; i < 3; ++i)
        aoWriters.emplace_back([i] {
            for (int j = 0; j < 2000; ++j)
                LInfoMessage(1, "<%d:%d>", i, j);
        });
    for (std::thread& roWriter : aoWriters)
        roWriter.join();
    bStop = true;
    oLevels.join();
    const std::string oText = oOut.Finish();
    size_t uiRecords = 0;
    for (size_t uiPos = oText.find('<'); uiPos != std::string::npos; uiPos = oText.find('<', uiPos + 1), ++uiRecords)
        ASSERT_EQ(std::string::npos, oText.substr(uiPos + 1, oText.find('>', uiPos) - uiPos - 1).find('<'));
    EXPECT_LE(uiRecords, 6000u);
}
