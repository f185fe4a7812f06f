// Every real monitor dump of tests/data/edid, read through the driver's file as the display
// controller reads it, against the decoding of the independent decoder edid-decode. Where the
// library is meant to read a field differently, the expectation says so. Then the fuzzer's corpus
// through the reader, every query and the formulas (a read past a buffer fails it under ASan).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "EdidReference.h"
#include "TempDir.h"
#include "Words.h"
#include "edid/Edid.h"
#include "edid/Gtf.h"
#include "edid/Vesa.h"
#include "fuzz/EdidFuzzInput.h"

namespace
{
int Kilo(double dMega)
{
    return static_cast<int>(std::lround(dMega * 1000));
}

CDetailedTiming Gtf(int iWidth, int iHeight, int iRate)
{
    CDetailedTiming oGtf;
    CGtf::GetGtfTimingBasedOnVRate(oGtf, iWidth, iHeight, iRate, false, false, nullptr);
    return oGtf;
}

class EdidRealData : public ::testing::TestWithParam<std::string>
{
};
} // namespace

TEST_P(EdidRealData, ReadsLikeTheReferenceDecoder)
{
    SEdidReference oRef;
    std::string oError;
    ASSERT_TRUE(ReadEdidReference(GetParam(), oRef, oError)) << oError;
    CTempDir oRoot;
    CScopedEnv oRootEnv("PELLIX_PLATFORM_ROOT", oRoot.Path().string());
    oRoot.Write("sys/devices/platform/vpss/display0/edid", MakeDriverDump(oRef.aBytes));
    const std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    const CEdid& roEdid = *poEdid;

    // Identity and strings.
    std::vector<uint8_t> aCopy(128);
    ASSERT_TRUE(roEdid.IsVersion1Format());
    ASSERT_EQ(128u, roEdid.GetEdidBuffer(aCopy.data(), 128));
    EXPECT_TRUE(std::equal(aCopy.begin(), aCopy.end(), oRef.aBytes.begin()));
    EXPECT_EQ(
        (std::vector<MUINT32>{128, MUINT32(oRef.iVersion), MUINT32(oRef.iRevision), 1}),
        (std::vector<MUINT32>{roEdid.GetSize(), roEdid.GetVersion(), roEdid.GetRevision(), roEdid.IsChecksumValid()}));
    char szText[256];
    ASSERT_EQ(3u, roEdid.GetManufacturerID(szText, sizeof(szText)));
    EXPECT_EQ(oRef.oManufacturer, szText);
    ASSERT_EQ(oRef.bHasName, roEdid.GetDetailedMonitorName(szText, sizeof(szText)) != 0);
    EXPECT_EQ(oRef.oName, oRef.bHasName ? szText : "");  // trailing spaces before the LF are kept by both
    // The reference withholds serial texts ("..."): only their presence compares.
    EXPECT_EQ(oRef.bHasSerial, roEdid.GetDetailedSerialNumber(szText, sizeof(szText)) != 0);
    // edid-decode stops at a non-printable character; the library keeps everything up to LF.
    const bool bString = roEdid.GetDetailedMonitorString(szText, sizeof(szText)) != 0;
    ASSERT_EQ(oRef.bHasString && !oRef.oString.empty(), bString);
    EXPECT_EQ(oRef.oString,
              std::string(bString ? szText : "").substr(0, oRef.bNonPrintableString ? oRef.oString.size() : 256));

    // Range limits; the secondary curve's bytes are reported for any revision-3 range descriptor,
    // without the formula-support code that edid-decode reads.
    CEdid::SRangeLimits oLimits = {};
    CEdid::SGtfSecFormulaParams oCurve = {};
    ASSERT_EQ(oRef.bHasRange, roEdid.GetDetailedMonitorRangeLimits(oLimits, 0) != 0);
    ASSERT_EQ(oRef.bHasRange && oRef.iRevision == 3, roEdid.GetGtfSecondFormulaParameters(oCurve) != 0);
    const int* pi = oRef.aiRange;
    const std::vector<int> aiRange = {pi[0], pi[1], pi[2], pi[3], 0, pi[4] * 1000};
    EXPECT_EQ(std::vector<uint32_t>(aiRange.begin(), aiRange.end()), Words(oLimits));
    const double* pdCurve = oRef.adGtfCurve;
    if (oRef.bHasGtfCurve) { EXPECT_EQ((std::vector<uint32_t>(pdCurve, pdCurve + 5)), Words(oCurve)); }

    // Detailed timings and the preferred mode. Filler bytes (01 01 ...): edid-decode refuses a
    // clock under 10 MHz, the library decodes them. An interlaced descriptor holds one field's
    // lines; edid-decode prints the frame (and adds "+0.5" to a field's front porch), both give
    // the field rate.
    ASSERT_EQ(oRef.aoDescriptorTimings.size(), roEdid.GetDetailedNumber());
    for (size_t uiIndex = 0; uiIndex < oRef.aoDescriptorTimings.size(); uiIndex++)
    {
        const SRefDescriptorTiming& roRef = oRef.aoDescriptorTimings[uiIndex];
        const SRefTiming& roT = roRef.oTiming;
        CDetailedTiming oOurs;
        ASSERT_TRUE(roEdid.GetDetailed(static_cast<MUINT32>(uiIndex), oOurs));
        if (!roRef.bValid)
        {
            EXPECT_TRUE(oOurs.GetPixelClock() > 0 && oOurs.GetPixelClock() < 10000) << oOurs.GetPixelClock();
            continue;
        }
        EXPECT_EQ(TimingText(roT.iWidth, roT.bInterlaced ? roT.iHeight / 2 : roT.iHeight, roT.bInterlaced,
                             Kilo(roT.dMHz), roRef.aiH, roRef.aiV, roRef.bHPositive, roRef.bVPositive),
                  TimingText(oOurs)) << "descriptor timing " << uiIndex;
        EXPECT_NEAR(roT.dHz, oOurs.GetVerticalRate(), roT.bInterlaced ? 0.6 : 0.5) << uiIndex;
        EXPECT_NEAR(roT.dKHz * 1000, oOurs.GetHorizontalRate(), 1.0) << uiIndex;
    }
    EXPECT_EQ(oRef.bPreferredFirst, roEdid.IsPreferredModeAvailable() != 0);
    CDetailedTiming oPreferred, oFirst;
    ASSERT_EQ(oRef.bPreferredFirst && !oRef.aoDescriptorTimings.empty(), roEdid.GetPreferredMode(oPreferred) != 0);
    if (roEdid.GetDetailed(0, oFirst) && oRef.bPreferredFirst) { EXPECT_EQ(oFirst, oPreferred); }

    // Standard timings: the mode table's first row of that size and rate, else the GTF in
    // integer arithmetic (edid-decode computes it in floating point, or CVT first for an EDID 1.4;
    // its EDID 1.3 reading is compared).
    std::vector<CDetailedTiming> aoOurs;
    for (MUINT32 uiIndex = 0; uiIndex < CEdid::STANDARD_MAX_INDEX; uiIndex++)
        if (roEdid.GetStandard(uiIndex, oFirst))
            aoOurs.push_back(oFirst);
    ASSERT_EQ(oRef.aoStandard.size(), aoOurs.size());
    for (size_t uiIndex = 0; uiIndex < aoOurs.size(); uiIndex++)
    {
        const SRefTiming& roRef = oRef.aoStandard[uiIndex];
        const CDetailedTiming& roOurs = aoOurs[uiIndex];
        SCOPED_TRACE(roRef.oSource + " " + std::to_string(roRef.iWidth) + "x" + std::to_string(roRef.iHeight));
        EXPECT_EQ(roRef.iWidth, roOurs.GetHorizontalActive());
        EXPECT_EQ(roRef.iHeight, roOurs.GetVerticalActive());
        EXPECT_NEAR(roRef.dHz, roOurs.GetVerticalRate(), 0.5);
        CDetailedTiming oRow;
        if (CVesa::GetVESATiming(oRow, 0, roRef.iWidth, roRef.iHeight, roOurs.GetVerticalRate()))
        {
            // Where it is not the DMT timing edid-decode gives, a reduced-blanking row comes first and
            // the DMT timing next (1280x800, 1680x1050, 1920x1200 at 60 Hz), or the only row is CVT
            // reduced blanking (2048x1152 at 60 Hz: 156.75 MHz where DMT has 162 MHz).
            EXPECT_EQ(oRow, roOurs);
            const bool bDmt = roRef.oSource.compare(0, 3, "DMT") == 0,
                       bSame = Kilo(roRef.dMHz) == roOurs.GetPixelClock();
            EXPECT_TRUE(!bDmt || bSame || roOurs.GetPixelClock() == 156750 ||
                        (CVesa::GetVESATiming(oRow, 1, roRef.iWidth, roRef.iHeight, roOurs.GetVerticalRate()) &&
                         oRow.GetPixelClock() == Kilo(roRef.dMHz)))
                << roOurs.GetPixelClock() << " kHz";
            continue;
        }
        EXPECT_EQ(Gtf(roRef.iWidth, roRef.iHeight, roOurs.GetVerticalRate()), roOurs);
        if (roRef.oSource == "GTF")
        {
            EXPECT_NEAR(roRef.dMHz * 1000, roOurs.GetPixelClock(), roRef.dMHz * 5);
            EXPECT_NEAR(roRef.dKHz * 1000, roOurs.GetHorizontalRate(), roRef.dKHz * 5);
        }
    }

    // Established timings: DMT ones from the mode table; IBM and Apple ones, not in the table, by
    // GTF (edid-decode prints the historic timings: only size and rate compare). The table's
    // 1024x768 interlaced row carries its 43 Hz frame rate, edid-decode the 87 Hz field rate.
    aoOurs.clear();
    for (MUINT32 uiIndex = 0; roEdid.GetEstablished(uiIndex, oFirst, false); uiIndex++)
        aoOurs.push_back(oFirst);
    ASSERT_EQ(oRef.aoEstablished.size(), aoOurs.size());
    MUINT32 uiDmt = 0, uiVesaOnly = 0;
    for (size_t uiIndex = 0; uiIndex < aoOurs.size(); uiIndex++)
    {
        const SRefTiming& roRef = oRef.aoEstablished[uiIndex];
        const CDetailedTiming& roOurs = aoOurs[uiIndex];
        const bool bDmt = roRef.oSource.compare(0, 3, "DMT") == 0;
        uiDmt += bDmt ? 1 : 0;
        EXPECT_EQ((std::vector<int>{roRef.iWidth, roRef.iHeight, roRef.bInterlaced, bDmt ? Kilo(roRef.dMHz) : 0}),
                  (std::vector<int>{roOurs.GetHorizontalActive(), roOurs.GetVerticalActive(),
                                    roOurs.IsInterlaced() != 0, bDmt ? roOurs.GetPixelClock() : 0}))
            << roRef.oSource;
        EXPECT_NEAR(roRef.bInterlaced ? roRef.dHz / 2 : roRef.dHz, roOurs.GetVerticalRate(), 1.0) << roRef.oSource;
        if (!bDmt) { EXPECT_EQ(Gtf(roRef.iWidth, roRef.iHeight, roOurs.GetVerticalRate()), roOurs) << roRef.oSource; }
    }
    // With VESA-compliant timings only, exactly the DMT ones remain.
    while (roEdid.GetEstablished(uiVesaOnly, oFirst, true))
        uiVesaOnly++;
    EXPECT_EQ(uiDmt, uiVesaOnly);
}

INSTANTIATE_TEST_SUITE_P(Dumps, EdidRealData, ::testing::ValuesIn(EdidDataFiles()),
                         [](const ::testing::TestParamInfo<std::string>& roInfo)
                         { return EdidTestName(roInfo.param); });

// The test data is all there: the real dumps, and the fuzzer's corpus, which replays.
TEST(EdidTestData, TheDumpsAreThereAndTheFuzzCorpusReplays)
{
    EXPECT_GE(EdidDataFiles().size(), 40u) << EdidDataDir();
    CTempDir oRoot;
    CScopedEnv oRootEnv("PELLIX_PLATFORM_ROOT", oRoot.Path().string());
    std::vector<std::filesystem::path> aoFiles;
    for (const auto& roEntry :
         std::filesystem::directory_iterator(PELLIX_SOURCE_DIR "/tests/framework/edid/fuzz/corpus"))
        aoFiles.push_back(roEntry.path());
    ASSERT_GE(aoFiles.size(), 80u);
    for (const std::filesystem::path& roFile : aoFiles)
    {
        std::ifstream oStream(roFile, std::ios::binary);
        const std::vector<uint8_t> aInput((std::istreambuf_iterator<char>(oStream)), std::istreambuf_iterator<char>());
        ExerciseEdidInput(aInput.data(), aInput.size());
    }
    // The dump inputs went to the test's own platform root.
    EXPECT_TRUE(std::filesystem::exists(oRoot.Path() / "sys/devices/platform/vpss/display0/edid"));
}
