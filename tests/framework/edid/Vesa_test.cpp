#include <gtest/gtest.h>

#include "edid/Vesa.h"

TEST(Vesa, SearchTakesEarlierRowFirst)
{
    CDetailedTiming oTiming;
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 1280, 800, 60));
    EXPECT_EQ(71000, oTiming.GetPixelClock());  // reduced blanking first
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 1, 1280, 800, 60));
    EXPECT_EQ(83500, oTiming.GetPixelClock());

    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 1366, 768, 60));
    EXPECT_EQ(85500, oTiming.GetPixelClock());
}

TEST(Vesa, ZeroMatchesAnything)
{
    CDetailedTiming oTiming;
    CDetailedTiming oRow;
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 0, 0, 0));
    ASSERT_TRUE(CQorDtmMode::EnumMode(0, oRow));
    EXPECT_EQ(oRow, oTiming);
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 85, 0, 0, 0));
    ASSERT_TRUE(CQorDtmMode::EnumMode(85, oRow));
    EXPECT_EQ(oRow, oTiming);

    const CDetailedTiming oBefore = oTiming;
    EXPECT_FALSE(CVesa::GetVESATiming(oTiming, 86, 0, 0, 0));
    EXPECT_FALSE(CVesa::GetVESATiming(oTiming, -1, 0, 0, 0));
    EXPECT_FALSE(CVesa::GetVESATiming(oTiming, 0, 1280, 1280, 60));
    EXPECT_EQ(oBefore, oTiming);

    // Every 1600 x 1200 row, whatever the rate: 60, 65, 70, 75, 85, 120 Hz.
    int iCount = 0;
    while (CVesa::GetVESATiming(oTiming, iCount, 1600, 1200, 0))
        iCount++;
    EXPECT_EQ(6, iCount);
}

TEST(Vesa, InterlacedRowAndFlags)
{
    CDetailedTiming oTiming;
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 1024, 768, 43));
    EXPECT_TRUE(oTiming.IsInterlaced());
    EXPECT_TRUE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_TRUE(oTiming.IsVerticalPolarityPositive());
    EXPECT_EQ(44900, oTiming.GetPixelClock());
    // 817 lines: 768 active, two fields of 24 blanking lines, one more.
    EXPECT_EQ(817, CQorDtmMode::GetVerticalTotalLine(oTiming));

    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 640, 480, 60));
    EXPECT_FALSE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsVerticalPolarityPositive());
    ASSERT_TRUE(CVesa::GetVESATiming(oTiming, 0, 640, 350, 85));
    EXPECT_TRUE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsVerticalPolarityPositive());
}

TEST(Vesa, EnumModeAndRates)
{
    CDetailedTiming oTiming;
    ASSERT_TRUE(CQorDtmMode::EnumMode(81, oTiming));
    EXPECT_EQ(1920, oTiming.GetHorizontalActive());
    EXPECT_EQ(1080, oTiming.GetVerticalActive());
    EXPECT_EQ(60, oTiming.GetVerticalRate());
    EXPECT_EQ(148500, oTiming.GetPixelClock());
    EXPECT_EQ(67500, oTiming.GetHorizontalRate());
    EXPECT_EQ(2200, CQorDtmMode::GetHorizontalTotalPixel(oTiming));
    EXPECT_EQ(1125, CQorDtmMode::GetVerticalTotalLine(oTiming));

    const CDetailedTiming oBefore = oTiming;
    EXPECT_FALSE(CQorDtmMode::EnumMode(86, oTiming));
    EXPECT_FALSE(CQorDtmMode::EnumMode(0xFFFFFFFFu, oTiming));
    EXPECT_EQ(oBefore, oTiming);
}

TEST(Vesa, ComputeRatesKeepsRefreshAndNeedsTotals)
{
    CDetailedTiming oTiming;
    oTiming.SetPixelClock(148500);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);  // totals 0: nothing happens
    EXPECT_EQ(0, oTiming.GetHorizontalRate());
    EXPECT_EQ(0, oTiming.GetVerticalRate());

    ASSERT_TRUE(CQorDtmMode::EnumMode(81, oTiming));
    oTiming.SetVerticalRefresh(0);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    EXPECT_EQ(60, oTiming.GetVerticalRate());
    oTiming.SetVerticalRefresh(59);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    EXPECT_EQ(59, oTiming.GetVerticalRate());  // a refresh already set stays

    // A 4K clock in Hz is beyond 32 bits once multiplied.
    oTiming.SetPixelClock(2400000);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    EXPECT_EQ(1090909, oTiming.GetHorizontalRate());
}

TEST(Vesa, EveryRowAgreesWithItsTotals)
{
    // The refresh of each row follows from its clock and totals: catches a mistyped row (row 60,
    // 1680 x 1050 at 120 Hz reduced blanking, runs at 245500 kHz; 254500 would drive 124 Hz).
    for (MUINT32 uiRow = 0; uiRow < CQorDtmMode::uiMaxTimingIndex; uiRow++)
    {
        CDetailedTiming oTiming;
        ASSERT_TRUE(CQorDtmMode::EnumMode(uiRow, oTiming));
        const double dRefresh = oTiming.GetPixelClock() * 1000.0 / CQorDtmMode::GetHorizontalTotalPixel(oTiming) /
                                CQorDtmMode::GetVerticalTotalLine(oTiming);
        EXPECT_NEAR(oTiming.GetVerticalRate(), dRefresh, 1.0) << "row " << uiRow;
    }
}
