// Every real monitor of the test data on the simulated display output: the mode chosen is the
// monitor's preferred timing as the independent decoder edid-decode reads it (the fallback when
// the monitor prefers none), its name is the monitor's, and the timing written to the display
// driver describes that mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DisplayVFDCTestSupport.h"
#include "EdidReference.h"
#include "edid/Edid.h"

namespace
{
const std::string kDataDir = PELLIX_SOURCE_DIR "/../shared/testdata/edid/";

std::vector<std::string> DataFiles()
{
    std::vector<std::string> aoFiles;
    std::error_code oError;
    for (const auto& roEntry : std::filesystem::directory_iterator(kDataDir, oError))
        if (roEntry.path().extension() == ".txt")
            aoFiles.push_back(roEntry.path().filename().string());
    std::sort(aoFiles.begin(), aoFiles.end());
    return aoFiles;
}

std::string Timings(int iClock, int iWidth, int iHFront, int iHBack, int iHSync, int iHeight, int iVFront, int iVBack,
                    int iVSync, bool bInterlaced)
{
    char szText[96];
    snprintf(szText, sizeof(szText), "%d,%d/%d/%d/%d,%d/%d/%d/%d,%d", iClock, iWidth, iHFront, iHBack, iHSync, iHeight,
             iVFront, iVBack, iVSync, bInterlaced ? 0 : 1);
    return szText;
}

// What the HD output drives: 165 MHz, 1920 x 1200 active.
bool IsWithinOutput(const SRefTiming& roTiming)
{
    return roTiming.dMHz <= 165 && roTiming.iWidth <= 1920 && roTiming.iHeight <= 1200;
}

class DisplayVFDCMonitor : public CDisplayVFDCTest, public ::testing::WithParamInterface<std::string>
{
protected:
    DisplayVFDCMonitor() : CDisplayVFDCTest(kDataDir + GetParam()) {}
};

TEST(DisplayVFDCMonitorSet, AllMonitorsPresent)
{
    EXPECT_GE(DataFiles().size(), 40u) << kDataDir;
}

TEST_P(DisplayVFDCMonitor, PreferredTimingIsTheModeAndTheTimingWritten)
{
    std::ifstream oFile(kDataDir + GetParam());
    std::stringstream oText;
    oText << oFile.rdbuf();
    SEdidReference oRef;
    std::string oError;
    ASSERT_TRUE(ParseEdidReference(oText.str(), oRef, oError)) << oError;

    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    EXPECT_STREQ(oRef.bHasName ? oRef.oName.c_str() : "Unknown", oDisplay.GetMonitorName());
    const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode = oDisplay.GetDisplayMode();

    std::string oExpected = "148500,1920/88/148/44,1080/4/36/5,1";
    double dRate = 60;
    if (oRef.bPreferredFirst && !oRef.aoDescriptorTimings.empty() && oRef.aoDescriptorTimings[0].bValid &&
        IsWithinOutput(oRef.aoDescriptorTimings[0].oTiming))  // else the output cannot drive it: fallback
    {
        const SRefDescriptorTiming& roT = oRef.aoDescriptorTimings[0];
        const SRefTiming& roTiming = roT.oTiming;
        // An interlaced timing is programmed as its field.
        oExpected = Timings(static_cast<int>(std::lround(roTiming.dMHz * 1000)), roTiming.iWidth, roT.iHFront,
                            roT.iHBack, roT.iHSync, roTiming.bInterlaced ? roTiming.iHeight / 2 : roTiming.iHeight,
                            roT.iVFront, roT.iVBack, roT.iVSync, roTiming.bInterlaced);
        dRate = roTiming.dHz;
    }
    else if (oRef.bPreferredFirst && !oRef.aoDescriptorTimings.empty() && !oRef.aoDescriptorTimings[0].bValid)
    {
        // Filler that edid-decode refuses as a timing is still the library's preferred mode.
        CDetailedTiming oFirst;
        ASSERT_TRUE(oDisplay.GetEdid(false)->GetDetailed(0, oFirst));
        oExpected = Timings(oFirst.GetPixelClock(), oFirst.GetHorizontalActive(), oFirst.GetHorizontalFrontPorch(),
                            oFirst.GetHorizontalBackPorch(), oFirst.GetHorizontalSync(), oFirst.GetVerticalActive(),
                            oFirst.GetVerticalFrontPorch(), oFirst.GetVerticalBackPorch(), oFirst.GetVerticalSync(),
                            oFirst.IsInterlaced() != 0);
        dRate = oFirst.GetVerticalRate();
    }
    EXPECT_NEAR(dRate, static_cast<double>(roMode.fps), 0.5);
    EXPECT_EQ(oExpected, Timings(static_cast<int>(roMode.pixelClock), static_cast<int>(roMode.width),
                                 static_cast<int>(roMode.hFrontPorch), static_cast<int>(roMode.hBackPorch),
                                 static_cast<int>(roMode.hSyncLen), static_cast<int>(roMode.height),
                                 static_cast<int>(roMode.vFrontPorch), static_cast<int>(roMode.vBackPorch),
                                 static_cast<int>(roMode.vSyncLen), roMode.scanFormat == OMX_DC_SF_INTERLACED));

    ASSERT_TRUE(CDisplayVFDC::ChangeDisplayMode(roMode));
    EXPECT_EQ(0u, DriverFile("timings").find(oExpected));
    EXPECT_EQ("1", DriverFile("enabled").substr(0, 1));
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}

INSTANTIATE_TEST_SUITE_P(RealMonitors, DisplayVFDCMonitor, ::testing::ValuesIn(DataFiles()),
                         [](const ::testing::TestParamInfo<std::string>& roInfo) {
                             std::string oName = roInfo.param.substr(0, roInfo.param.find('.'));
                             std::replace(oName.begin(), oName.end(), '-', '_');
                             return oName;
                         });
} // namespace
