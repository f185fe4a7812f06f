#include <gtest/gtest.h>

#include <cmath>

#include "edid/Gtf.h"

namespace
{
void ExpectTiming(const CDetailedTiming& roT, int iHFront, int iHSync, int iHBack, int iVFront, int iVSync, int iVBack)
{
    EXPECT_EQ(iHFront, roT.GetHorizontalFrontPorch());
    EXPECT_EQ(iHSync, roT.GetHorizontalSync());
    EXPECT_EQ(iHBack, roT.GetHorizontalBackPorch());
    EXPECT_EQ(iVFront, roT.GetVerticalFrontPorch());
    EXPECT_EQ(iVSync, roT.GetVerticalSync());
    EXPECT_EQ(iVBack, roT.GetVerticalBackPorch());
}

int HTotal(const CDetailedTiming& roT)
{
    return roT.GetHorizontalActive() + roT.GetHorizontalFrontPorch() + roT.GetHorizontalSync() +
           roT.GetHorizontalBackPorch();
}

int VTotal(const CDetailedTiming& roT)
{
    return roT.GetVerticalActive() + roT.GetVerticalFrontPorch() + roT.GetVerticalSync() + roT.GetVerticalBackPorch();
}
} // namespace

TEST(Gtf, IntegerHelpers)
{
    EXPECT_EQ(4u, CGtf::RoundedDivision(7, 2));
    EXPECT_EQ(3u, CGtf::RoundedDivision(5, 2));
    EXPECT_EQ(3u, CGtf::RoundedDivision(8, 3));
    EXPECT_EQ(2u, CGtf::RoundedDivision(7, 3));
    EXPECT_EQ(3u, CGtf::RoundedDivision(10, 4));
    EXPECT_EQ(0u, CGtf::RoundedDivision(9, 0));
    EXPECT_EQ(2147483648u, CGtf::RoundedDivision(0xFFFFFFFFu, 2));
    EXPECT_EQ(1u, CGtf::RoundedDivision(0xFFFFFFFFu, 0xFFFFFFFFu));

    EXPECT_EQ(700u, CGtf::SquareRoot(490000, 300));
    EXPECT_EQ(775u, CGtf::SquareRoot(600000, 300));
    EXPECT_EQ(701u, CGtf::SquareRoot(10, 300));
    EXPECT_EQ(700u, CGtf::SquareRoot(490700, 300));  // 700.4999: down
    EXPECT_EQ(701u, CGtf::SquareRoot(490701, 300));  // 700.5006: up
    // Values above 65535^2 do not wrap the search around.
    EXPECT_EQ(65536u, CGtf::SquareRoot(0xFFFFFFFFu, 300));
    EXPECT_EQ(65535u, CGtf::SquareRoot(65535u * 65535u, 300));
}

TEST(Gtf, SquareRootMatchesUpwardSearch)
{
    // The upward search from 701 that the GTF quadratic relies on, for the range it uses.
    for (uint32_t uiValue = 0; uiValue < 5000000; uiValue += 997)
    {
        uint32_t uiRoot = 701;
        while (uiRoot * uiRoot < uiValue)
            uiRoot++;
        if (uiRoot * uiRoot != uiValue && uiValue >= (uiRoot - 1) * (uiRoot - 1) &&
            uiRoot * uiRoot - uiValue > uiValue - (uiRoot - 1) * (uiRoot - 1))
            uiRoot--;
        ASSERT_EQ(uiRoot, CGtf::SquareRoot(uiValue, 300)) << uiValue;
    }
}

TEST(Gtf, FromVerticalRate)
{
    CDetailedTiming oTiming;
    EXPECT_TRUE(CGtf::GetGtfTimingBasedOnVRate(oTiming, 1024, 768, 60, false, false, nullptr));
    EXPECT_EQ(1344, HTotal(oTiming));
    EXPECT_EQ(795, VTotal(oTiming));
    ExpectTiming(oTiming, 56, 104, 160, 1, 3, 23);
    EXPECT_EQ(64122, oTiming.GetPixelClock());
    EXPECT_EQ(47710, oTiming.GetHorizontalRate());
    EXPECT_EQ(60, oTiming.GetVerticalRate());
    EXPECT_TRUE(oTiming.IsVerticalPolarityPositive());
    EXPECT_FALSE(oTiming.IsHorizontalPolarityPositive());
    EXPECT_FALSE(oTiming.IsInterlaced());

    EXPECT_TRUE(CGtf::GetGtfTimingBasedOnVRate(oTiming, 640, 480, 67, false, false, nullptr));
    EXPECT_EQ(27300, oTiming.GetPixelClock());
    EXPECT_EQ(816, HTotal(oTiming));
    EXPECT_EQ(499, VTotal(oTiming));
    ExpectTiming(oTiming, 24, 64, 88, 1, 3, 15);
}

TEST(Gtf, FromLineRateAndPixelClock)
{
    CDetailedTiming oTiming;
    EXPECT_TRUE(CGtf::GetGtfTimingBasedOnHRate(oTiming, 1024, 768, 48, false, false, nullptr));
    ExpectTiming(oTiming, 56, 104, 160, 1, 3, 23);
    EXPECT_EQ(64522, oTiming.GetPixelClock());
    EXPECT_EQ(48, oTiming.GetHorizontalRate());  // kHz, as given
    EXPECT_EQ(60, oTiming.GetVerticalRate());

    EXPECT_TRUE(CGtf::GetGtfTimingBasedOnPixelClock(oTiming, 1024, 768, 64, false, false, nullptr));
    ExpectTiming(oTiming, 56, 104, 160, 1, 3, 23);
    EXPECT_EQ(64000, oTiming.GetPixelClock());
    EXPECT_EQ(47619, oTiming.GetHorizontalRate());  // Hz: 64 MHz over 1344 pixels
    EXPECT_EQ(60, oTiming.GetVerticalRate());
}

TEST(Gtf, DispatchByRateMagnitude)
{
    CDetailedTiming oExpected;
    CDetailedTiming oTiming;

    CGtf::GetGtfTimingBasedOnVRate(oExpected, 1024, 768, 60, false, false, nullptr);
    EXPECT_TRUE(CGtf::GetGtfTiming(oTiming, 1024, 768, 60, true, true, nullptr));
    EXPECT_EQ(oExpected, oTiming);  // interlace and margins are not computed

    CGtf::GetGtfTimingBasedOnHRate(oExpected, 1024, 768, 48, false, false, nullptr);
    EXPECT_TRUE(CGtf::GetGtfTiming(oTiming, 1024, 768, 48000, false, false, nullptr));
    EXPECT_EQ(oExpected, oTiming);

    CGtf::GetGtfTimingBasedOnPixelClock(oExpected, 1024, 768, 64, false, false, nullptr);
    EXPECT_TRUE(CGtf::GetGtfTiming(oTiming, 1024, 768, 64000000, false, false, nullptr));
    EXPECT_EQ(oExpected, oTiming);

    const CDetailedTiming oBefore = oTiming;
    EXPECT_FALSE(CGtf::GetGtfTiming(oTiming, 1024, 768, 0, false, false, nullptr));
    EXPECT_FALSE(CGtf::GetGtfTiming(oTiming, 1024, 768, -60, false, false, nullptr));
    EXPECT_EQ(oBefore, oTiming);
}

TEST(Gtf, ConsistentAcrossCommonModes)
{
    // Every variant agrees with itself: the refresh follows from the clock and the totals.
    const int aiModes[][3] = {{640, 480, 60}, {800, 600, 75}, {1280, 1024, 60}, {1600, 1200, 85}, {1920, 1080, 60},
                              {2560, 1440, 60}, {3840, 2160, 30}, {1152, 864, 60}};
    for (const auto& roMode : aiModes)
    {
        CDetailedTiming oTiming;
        ASSERT_TRUE(CGtf::GetGtfTimingBasedOnVRate(oTiming, roMode[0], roMode[1], roMode[2], false, false, nullptr))
            << roMode[0] << "x" << roMode[1];
        const double dRefresh = oTiming.GetPixelClock() * 1000.0 / HTotal(oTiming) / VTotal(oTiming);
        EXPECT_NEAR(roMode[2], dRefresh, 0.5) << roMode[0] << "x" << roMode[1];
        EXPECT_EQ(roMode[2], oTiming.GetVerticalRate());
        EXPECT_EQ(0, HTotal(oTiming) % 8);
    }
}

TEST(Gtf, AbsurdInputsEndWithoutFault)
{
    CDetailedTiming oTiming;
    // Results are meaningless, but every variant terminates and fills the record.
    CGtf::GetGtfTimingBasedOnVRate(oTiming, -1, -1, 5000, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnHRate(oTiming, 0x7FFFFFFF, 0x7FFFFFFF, 0, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnPixelClock(oTiming, 100000, 1, 1, false, false, nullptr);
    CGtf::GetGtfTimingBasedOnPixelClock(oTiming, 1024, 768, 0, false, false, nullptr);
    CGtf::GetGtfTiming(oTiming, 1024, 768, 0x7FFFFFFF, false, false, nullptr);
    EXPECT_EQ(1024, oTiming.GetHorizontalActive());
    EXPECT_EQ(2147000, oTiming.GetPixelClock());
}
