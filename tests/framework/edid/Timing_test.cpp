// The GTF formulas in integer arithmetic and the mode table, on worked values.
#include <gtest/gtest.h>

#include "EdidReference.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"

TEST(Gtf, WorkedValuesOfEachVariantAndTheirIntegerHelpers)
{
    // Rounded division (by 0: 0) and the square root searched upwards from a start.
    for (const auto& rauiCase : std::vector<std::vector<MUINT32>>{
             {7, 2, 4}, {5, 2, 3}, {8, 3, 3}, {7, 3, 2}, {9, 0, 0}, {0xFFFFFFFFu, 2, 2147483648u},
             {0xFFFFFFFFu, 0xFFFFFFFFu, 1}})
        EXPECT_EQ(rauiCase[2], CGtf::RoundedDivision(rauiCase[0], rauiCase[1])) << rauiCase[0] << "/" << rauiCase[1];
    // 700.4999 down, 700.5006 up; values above 65535^2 do not wrap the search around.
    for (const auto& rauiCase : std::vector<std::vector<MUINT32>>{
             {490000, 700}, {600000, 775}, {10, 701}, {490700, 700}, {490701, 701}, {0xFFFFFFFFu, 65536},
             {65535u * 65535u, 65535}})
        EXPECT_EQ(rauiCase[1], CGtf::SquareRoot(rauiCase[0], 300)) << rauiCase[0];
    // From the field rate, the line rate (kHz, kept as given) and the clock (MHz); the rate's
    // magnitude chooses the variant (Hz, line rate in Hz, clock in Hz), without interlace or
    // margins. Then the line rate and the field rate of the result.
    const std::vector<std::tuple<decltype(&CGtf::GetGtfTiming), int, int, int, const char*, int, int>> aoCases = {
        {&CGtf::GetGtfTimingBasedOnVRate, 1024, 768, 60, "1024x768p 64122 kHz 56/104/160 1/3/23 -h+v", 47710, 60},
        {&CGtf::GetGtfTimingBasedOnVRate, 640, 480, 67, "640x480p 27300 kHz 24/64/88 1/3/15 -h+v", 33456, 67},
        {&CGtf::GetGtfTimingBasedOnHRate, 1024, 768, 48, "1024x768p 64522 kHz 56/104/160 1/3/23 -h+v", 48, 60},
        {&CGtf::GetGtfTimingBasedOnPixelClock, 1024, 768, 64, "1024x768p 64000 kHz 56/104/160 1/3/23 -h+v", 47619, 60},
        {&CGtf::GetGtfTiming, 1024, 768, 60, "1024x768p 64122 kHz 56/104/160 1/3/23 -h+v", 47710, 60},
        {&CGtf::GetGtfTiming, 1024, 768, 48000, "1024x768p 64522 kHz 56/104/160 1/3/23 -h+v", 48, 60},
        {&CGtf::GetGtfTiming, 1024, 768, 64000000, "1024x768p 64000 kHz 56/104/160 1/3/23 -h+v", 47619, 60}};
    CDetailedTiming oTiming;
    for (const auto& roCase : aoCases)
    {
        ASSERT_TRUE(std::get<0>(roCase)(oTiming, std::get<1>(roCase), std::get<2>(roCase), std::get<3>(roCase), true,
                                        true, nullptr));
        EXPECT_EQ(std::string(std::get<4>(roCase)) + " " + std::to_string(std::get<5>(roCase)) + " " +
                      std::to_string(std::get<6>(roCase)),
                  TimingText(oTiming) + " " + std::to_string(oTiming.GetHorizontalRate()) + " " +
                      std::to_string(oTiming.GetVerticalRate()));
    }
    const CDetailedTiming oBefore = oTiming;
    EXPECT_FALSE(CGtf::GetGtfTiming(oTiming, 1024, 768, 0, false, false, nullptr) ||
                 CGtf::GetGtfTiming(oTiming, 1024, 768, -60, false, false, nullptr));
    EXPECT_EQ(oBefore, oTiming);
}

TEST(Vesa, SearchEnumerationAndRowValues)
{
    // The first row of a size and rate (reduced blanking before the DMT timing), the second;
    // interlaced (817 lines: 768 active, two fields of 24 blanking lines, one more); polarities.
    const std::vector<std::tuple<int, int, int, int, const char*, int>> aoCases = {
        {0, 1280, 800, 60, "1280x800p 71000 kHz 48/32/80 3/6/14 +h-v", 823},
        {1, 1280, 800, 60, "1280x800p 83500 kHz 72/128/200 3/6/22 -h+v", 831},
        {0, 1366, 768, 60, "1366x768p 85500 kHz 70/143/213 3/3/24 +h+v", 798},
        {0, 1024, 768, 43, "1024x768i 44900 kHz 8/176/56 0/4/20 +h+v", 817},
        {0, 640, 350, 85, "640x350p 31500 kHz 32/64/96 32/3/60 +h-v", 445},
        {0, 1920, 1080, 60, "1920x1080p 148500 kHz 88/44/148 4/5/36 +h+v", 1125}};
    CDetailedTiming oTiming, oRow;
    for (const auto& roCase : aoCases)
    {
        ASSERT_TRUE(CVesa::GetVESATiming(oTiming, std::get<0>(roCase), std::get<1>(roCase), std::get<2>(roCase),
                                         std::get<3>(roCase)));
        EXPECT_EQ(std::string(std::get<4>(roCase)) + " " + std::to_string(std::get<5>(roCase)),
                  TimingText(oTiming) + " " + std::to_string(CQorDtmMode::GetVerticalTotalLine(oTiming)));
    }
    ASSERT_TRUE(CQorDtmMode::EnumMode(81, oRow));
    EXPECT_EQ(oTiming, oRow);  // 1920x1080 at 60 Hz is row 81
    EXPECT_EQ(67500, oRow.GetHorizontalRate());
    EXPECT_EQ(2200, CQorDtmMode::GetHorizontalTotalPixel(oRow));
    // Zero matches anything: the index alone counts. Past the table, or a size it lacks: no
    // answer, the record untouched.
    for (MINT32 iIndex : {0, 85})
    {
        ASSERT_TRUE(CVesa::GetVESATiming(oTiming, iIndex, 0, 0, 0));
        ASSERT_TRUE(CQorDtmMode::EnumMode(MUINT32(iIndex), oRow));
        EXPECT_EQ(oRow, oTiming);
    }
    const CDetailedTiming oBefore = oTiming;
    EXPECT_FALSE(CVesa::GetVESATiming(oTiming, 86, 0, 0, 0) || CVesa::GetVESATiming(oTiming, -1, 0, 0, 0) ||
                 CVesa::GetVESATiming(oTiming, 0, 1280, 1280, 60) || CQorDtmMode::EnumMode(86, oTiming) ||
                 CQorDtmMode::EnumMode(0xFFFFFFFFu, oTiming));
    EXPECT_EQ(oBefore, oTiming);
    // Every 1600 x 1200 row, whatever the rate: 60, 65, 70, 75, 85, 120 Hz.
    int iCount = 0;
    while (CVesa::GetVESATiming(oTiming, iCount, 1600, 1200, 0))
        iCount++;
    EXPECT_EQ(6, iCount);
    // The refresh of each row follows from its clock and totals: catches a mistyped row (row 60,
    // 1680 x 1050 at 120 Hz reduced blanking, runs at 245500 kHz; 254500 would drive 124 Hz).
    for (MUINT32 uiRow = 0; uiRow < CQorDtmMode::uiMaxTimingIndex; uiRow++)
    {
        ASSERT_TRUE(CQorDtmMode::EnumMode(uiRow, oTiming));
        EXPECT_NEAR(oTiming.GetVerticalRate(),
                    oTiming.GetPixelClock() * 1000.0 / CQorDtmMode::GetHorizontalTotalPixel(oTiming) /
                        CQorDtmMode::GetVerticalTotalLine(oTiming),
                    1.0)
            << "row " << uiRow;
    }
    // Computed rates need the totals and keep a refresh already set; a 4K clock in Hz is beyond
    // 32 bits once multiplied.
    oTiming.Clear();
    oTiming.SetPixelClock(148500);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    EXPECT_EQ(0, oTiming.GetHorizontalRate() + oTiming.GetVerticalRate());
    ASSERT_TRUE(CQorDtmMode::EnumMode(81, oTiming));
    for (const auto& roCase : std::vector<std::pair<MUINT32, int>>{{0, 60}, {59, 59}})
    {
        oTiming.SetVerticalRefresh(roCase.first);
        CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
        EXPECT_EQ(roCase.second, oTiming.GetVerticalRate());
    }
    oTiming.SetPixelClock(2400000);
    CQorDtmMode::ComputeAndSetRefreshRates(oTiming);
    EXPECT_EQ(1090909, oTiming.GetHorizontalRate());
}
