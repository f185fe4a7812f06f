#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OutputCapture.h"
#include "ti814x-framework.h"

// ---- FitRectangle -------------------------------------------------------------------------

namespace
{
tagMRECT32 Fit(tagMSIZE32 oIn, tagMSIZE32 oOut, bool bKeepAspectRatio, bool bDontScaleUp)
{
    tagMRECT32 oRect{{-7, -7}, {7, 7}};
    EXPECT_TRUE(FitRectangle(oIn, oOut, bKeepAspectRatio, bDontScaleUp, oRect));
    return oRect;
}

void ExpectRect(const tagMRECT32& roRect, MINT32 iX, MINT32 iY, MUINT32 uiCx, MUINT32 uiCy)
{
    EXPECT_EQ(iX, roRect.m_oPos.m_iX);
    EXPECT_EQ(iY, roRect.m_oPos.m_iY);
    EXPECT_EQ(uiCx, roRect.m_oSize.m_uiCx);
    EXPECT_EQ(uiCy, roRect.m_oSize.m_uiCy);
}
} // namespace

TEST(FitRectangle, KeepsAspectTryingFullHeightThenFullWidth)
{
    ExpectRect(Fit({720, 480}, {1920, 1080}, true, false), 150, 0, 1620, 1080);
    // 1080 * 1920 / 1080 = 1920 > 1280: full width instead, 1080 * 1280 / 1920 = 720 high.
    ExpectRect(Fit({1920, 1080}, {1280, 1024}, true, false), 0, 152, 1280, 720);
}

TEST(FitRectangle, PositionIsRoundedDownToEven)
{
    // 1621 wide in 1920: margin 299, half 149, even 148.
    ExpectRect(Fit({1621, 1080}, {1920, 1080}, false, true), 148, 0, 1621, 1080);
}

TEST(FitRectangle, DontScaleUpKeepsASmallPictureOrClipsEachAxis)
{
    ExpectRect(Fit({640, 480}, {1920, 1080}, true, true), 640, 300, 640, 480);
    ExpectRect(Fit({2000, 500}, {1920, 1080}, false, true), 0, 290, 1920, 500);
    // Too big to fit with aspect kept: scaled down all the same.
    ExpectRect(Fit({3840, 2160}, {1920, 1080}, true, true), 0, 0, 1920, 1080);
    // Neither flag: stretched over the whole area.
    ExpectRect(Fit({640, 480}, {1920, 1080}, false, false), 0, 0, 1920, 1080);
}

TEST(FitRectangle, LargeSizesDoNotOverflow)
{
    // 100000 * 100000 is beyond 32 bits.
    ExpectRect(Fit({100000, 50000}, {100000, 100000}, true, false), 0, 25000, 100000, 50000);
}

TEST(FitRectangle, AnyZeroDimensionFailsAndLeavesTheRectangle)
{
    const tagMSIZE32 aoSizes[4][2] = {
        {{0, 480}, {1920, 1080}}, {{720, 0}, {1920, 1080}}, {{720, 480}, {0, 1080}}, {{720, 480}, {1920, 0}}};
    for (const auto& raoPair : aoSizes)
    {
        tagMRECT32 oRect{{3, 5}, {7, 11}};
        EXPECT_FALSE(FitRectangle(raoPair[0], raoPair[1], true, false, oRect));
        ExpectRect(oRect, 3, 5, 7, 11);
    }
}

// ---- Log ----------------------------------------------------------------------------------

namespace
{
std::string InfoAtLevels(int iCurrentLevel)
{
    SetInfoMessageLevel(iCurrentLevel);
    COutputCapture oCapture(STDOUT_FILENO);
    for (int iLevel : {0, 1, 2, 3, 4, 9})
        LInfoMessage(iLevel, "%d", iLevel);
    return oCapture.Finish();
}

// Two records from a constructor and a destructor, named as the compiler names them.
unsigned g_uiBuiltLine = 0;
unsigned g_uiGoneLine = 0;

class CRecordProbe
{
public:
    CRecordProbe() { g_uiBuiltLine = __LINE__; ZEM_INFO(2, "built %d", 1); }
    ~CRecordProbe() { g_uiGoneLine = __LINE__; ZEM_INFO(2, "gone"); }
};

OMX_ERRORTYPE FailingStep()
{
    return OMX_ErrorInsufficientResources;
}

unsigned g_uiFailLine = 0;

OMX_ERRORTYPE OperationThatFails()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    g_uiFailLine = __LINE__ + 1;
    ZEM_CHECK(FailingStep());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
} // namespace

TEST(InfoMessage, ShownExactlyWhenLevelIsAtMostTheCurrentLevel)
{
    EXPECT_EQ("012", InfoAtLevels(2));
    EXPECT_EQ("0", InfoAtLevels(0));
    EXPECT_EQ("01234", InfoAtLevels(8));
    EXPECT_EQ("012349", InfoAtLevels(9));
    EXPECT_EQ("", InfoAtLevels(-1));
}

TEST(InfoMessage, RecordCarriesLineAndFunctionOfItsCallSite)
{
    SetInfoMessageLevel(2);
    COutputCapture oCapture(STDOUT_FILENO);
    {
        CRecordProbe oProbe;
    }
    char szExpected[256];
    snprintf(szExpected, sizeof(szExpected), "INFO  %03u# %-20s built 1\nINFO  %03u# %-20s gone\n",
             g_uiBuiltLine, "CRecordProbe", g_uiGoneLine, "~CRecordProbe");
    EXPECT_EQ(szExpected, oCapture.Finish());

    // Below the record's level nothing of it appears, not even its prefix or line end.
    SetInfoMessageLevel(1);
    COutputCapture oQuiet(STDOUT_FILENO);
    {
        CRecordProbe oProbe;
    }
    EXPECT_EQ("", oQuiet.Finish());
}

TEST(InfoMessage, MessagesAreCutAt1023Characters)
{
    SetInfoMessageLevel(0);
    const std::string oExact(1023, 'x');
    const std::string oLong(5000, 'y');
    COutputCapture oOut(STDOUT_FILENO);
    LInfoMessage(0, "%s", oExact.c_str());
    LInfoMessage(0, "%s", oLong.c_str());
    EXPECT_EQ(oExact + std::string(1023, 'y'), oOut.Finish());

    COutputCapture oErr(STDERR_FILENO);
    LErrorMessage("%s", oExact.c_str());
    LErrorMessage("%s", oLong.c_str());
    EXPECT_EQ(oExact + std::string(1023, 'y'), oErr.Finish());
}

TEST(AbortRecord, WrittenWhateverTheLevelWithLineFileFunctionAndCode)
{
    SetInfoMessageLevel(-1);
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(OMX_ErrorInsufficientResources, OperationThatFails());
    char szExpected[256];
    snprintf(szExpected, sizeof(szExpected),
             "\nABORT Line:%03u File:tests/framework/ti814x-framework_test\n%-24s %s\n\n", g_uiFailLine,
             "OperationThatFails", "OMX_ErrorInsufficientResources");
    EXPECT_EQ(szExpected, oErr.Finish());
}

TEST(InfoMessage, ManyThreadsLogWhileTheLevelChanges)
{
    // Each message is written whole by one fputs; the level may change under the writers.
    std::atomic<bool> bStop{false};
    COutputCapture oOut(STDOUT_FILENO);
    std::vector<std::thread> aoWriters;
    for (int i = 0; i < 3; ++i)
        aoWriters.emplace_back([i] {
            for (int j = 0; j < 2000; ++j)
                LInfoMessage(1, "<%d:%d>", i, j);
        });
    std::thread oLevels([&bStop] {
        for (int j = 0; !bStop.load(); ++j)
            SetInfoMessageLevel(j % 2);
    });
    for (auto& roWriter : aoWriters)
        roWriter.join();
    bStop = true;
    oLevels.join();
    const std::string oText = oOut.Finish();
    size_t uiRecords = 0;
    for (size_t uiPos = oText.find('<'); uiPos != std::string::npos; uiPos = oText.find('<', uiPos + 1))
    {
        const size_t uiEnd = oText.find('>', uiPos);
        ASSERT_NE(std::string::npos, uiEnd);
        ASSERT_EQ(std::string::npos, oText.substr(uiPos + 1, uiEnd - uiPos - 1).find('<'));
        ++uiRecords;
    }
    EXPECT_LE(uiRecords, 6000u);
}
