// CDisplayVFDC on the simulated platform: the mode chosen from the monitor's EDID (its preferred
// timing, where the output can drive it) or the fallback, the timing written to the display
// driver's files, ports and windows and what the platform receives of them, the colour matrix, and
// every failing step with its records and a clean Deinit. (The EDID of every real monitor of
// tests/data/edid is read against a reference decoding in tests/framework/edid; VideoPath_test.cpp
// shows video through the display.)
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "EdidReference.h"
#include "WrapperTestSupport.h"
#include "edid/Edid.h"
#include "ti-components/DisplayVFDC.h"

namespace
{
const std::string k1080p60 = "148500,1920/88/148/44,1080/4/36/5,1";
const tagMSIZE32 k1280x720 = {1280, 720}, k640x360 = {640, 360};
typedef CDisplayVFDC::MosaicRegion SRegion;

// The driver's timing line, "clock,width/hfp/hbp/hsync,height/vfp/vbp/vsync,progressive", and "@fps".
std::string Line(const std::vector<long>& a, bool bWithRate = true)
{
    char szText[96];
    snprintf(szText, sizeof(szText), "%ld,%ld/%ld/%ld/%ld,%ld/%ld/%ld/%ld,%ld", a[0], a[1], a[2], a[3], a[4], a[5],
             a[6], a[7], a[8], a[9]);
    return szText + (bWithRate ? "@" + std::to_string(a[10]) : "");
}
std::string Line(const OMX_PARAM_DC_CUSTOM_MODE_INFO& ro, bool bWithRate = true)
{
    return Line({long(ro.pixelClock), long(ro.width), long(ro.hFrontPorch), long(ro.hBackPorch), long(ro.hSyncLen),
                 long(ro.height), long(ro.vFrontPorch), long(ro.vBackPorch), long(ro.vSyncLen),
                 ro.scanFormat == OMX_SF_PROGRESSIVE, long(ro.fps)}, bWithRate);
}

class DisplayVFDC : public CWrapperTest
{
protected:
    // The fallback the system gives: 1920 x 1080 progressive at 60 Hz.
    static void SetSystemMode(CDisplayVFDC& roDisplay, bool bUsePreferred = true, unsigned uiWidth = 1920)
    {
        roDisplay.SetVideoOutParams(bUsePreferred, uiWidth, 1080, false, 60, 148500, 88, 148, 44, 4, 36, 5);
    }
    void ReplaceByFolder(const char* szFile)
    {
        const std::filesystem::path oPath = m_oRoot.Path() / "sys/devices/platform/vpss/display0" / szFile;
        std::filesystem::remove(oPath);
        std::filesystem::create_directory(oPath);
    }
};
} // namespace

TEST_F(DisplayVFDC, ChoosesThePreferredTimingOrTheFallbackAndWritesTheDriversFiles)
{
    // The built-in monitor's bytes with the preferred timing's clock at the output's 165 MHz, just
    // above it, with 1201 lines and with 1921 columns (the refresh rate follows).
    Monitor("1080p60");
    CDisplayVFDC oBuiltIn;
    ASSERT_TRUE(Ok(oBuiltIn.Init()) && Ok(oBuiltIn.Deinit()));
    const std::string oDump = DriverFile("edid");
    std::vector<std::string> aoBeyond;
    const unsigned auiPatches[][3] = {{16500, 59, 0x38}, {16501, 59, 0x38}, {14850, 59, 0xB1}, {14850, 56, 0x81}};
    for (const unsigned* pui : auiPatches)
    {
        std::string oRaw;
        for (unsigned ui = 0; ui < 128; ++ui)
            oRaw += char(std::stoul(oDump.substr(6 + (ui / 16) * 55 + (ui % 16) * 3, 2), nullptr, 16));
        oRaw[54] = char(pui[0] & 0xFF);
        oRaw[55] = char(pui[0] >> 8);
        oRaw[pui[1]] = char(pui[2]);  // the low byte of the active lines (59) or columns (56)
        oRaw[127] = 0;
        oRaw[127] = char(-std::accumulate(oRaw.begin(), oRaw.end(), 0));
        aoBeyond.push_back(m_oRoot.Write("beyond" + std::to_string(aoBeyond.size()) + ".bin", oRaw).string());
    }
    // The monitor's preferred timing unless the caller declines or the output cannot drive it;
    // without a monitor, or without a preferred flag, the fallback (1280 wide here). An interlaced
    // monitor: field lines and rate.
    const std::string oFallback = "148500,1280/88/148/44,1080/4/36/5,1@60";
    const std::vector<std::tuple<std::string, bool, std::string, const char*>> aoCases = {
        {aoBeyond[0], true, "165000,1920/88/148/44,1080/4/36/5,1@67", "PELLIX HD60"},
        {aoBeyond[1], true, oFallback, "PELLIX HD60"}, {aoBeyond[2], true, oFallback, "PELLIX HD60"},
        {aoBeyond[3], true, oFallback, "PELLIX HD60"}, {"1080p60", true, k1080p60 + "@60", "PELLIX HD60"},
        {"1080p60", false, oFallback, "PELLIX HD60"}, {"none", true, oFallback, "Unknown"},
        {EdidDataDir() + "/ADI-ADI217A-8CC9C1091771.txt", true, oFallback, "ADI MS A715"},
        {"1080i60", true, "74250,1920/88/148/44,540/2/15/5,0@60", "PELLIX HD60I"}};
    for (const auto& roCase : aoCases)
    {
        std::filesystem::remove_all(m_oRoot.Path() / "sys");  // the platform makes the driver's files anew
        Monitor(std::get<0>(roCase));
        CDisplayVFDC oDisplay;
        ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
        // A changed timing (the driver starts at 1080p60): the output turned off, the timing
        // written, the output turned on.
        const std::string oLog = LogOf(3, [&] {
            SetSystemMode(oDisplay, std::get<1>(roCase), 1280);
            EXPECT_TRUE(CDisplayVFDC::ChangeDisplayMode(oDisplay.GetDisplayMode()));
        });
        const std::string oLine = Line(oDisplay.GetDisplayMode(), false);
        EXPECT_EQ(std::get<2>(roCase) + " " + std::get<3>(roCase),
                  Line(oDisplay.GetDisplayMode()) + " " + oDisplay.GetMonitorName());
        EXPECT_EQ(std::get<0>(roCase) != "none", oDisplay.GetEdid(false) != nullptr);
        EXPECT_EQ(oLine + (oLine == k1080p60 ? "\n" : "") + " 1", DriverFile("timings") + " " + DriverFile("enabled"));
        EXPECT_EQ(oLine != k1080p60, oLog.find("Timings= " + oLine + "\n") != std::string::npos);
        EXPECT_NE(std::string::npos, oLog.find("Display mode: " + std::to_string(oDisplay.GetDisplayWidth()) + "x" +
                                               std::to_string(oDisplay.GetDisplayHeight()) + "@" +
                                               std::to_string(oDisplay.GetDisplayFrequency()) + "Hz\n"));
        EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
    }
    // The EDID is read afresh: another monitor, another name. An unchanged timing is not written
    // (the driver shows more after it: only the new line's length is compared), but the output is
    // enabled. No "timings" to write: the output is turned back on all the same; no "enabled":
    // nothing is touched.
    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    m_oRoot.Write("sys/devices/platform/vpss/display0/edid", "");
    SetSystemMode(oDisplay);
    EXPECT_STREQ("Unknown", oDisplay.GetMonitorName());
    m_oRoot.Write("sys/devices/platform/vpss/display0/timings", k1080p60 + "\nmore");
    m_oRoot.Write("sys/devices/platform/vpss/display0/enabled", "0");
    EXPECT_TRUE(CDisplayVFDC::ChangeDisplayMode(oDisplay.GetDisplayMode()));
    EXPECT_EQ(k1080p60 + "\nmore 1", DriverFile("timings") + " " + DriverFile("enabled"));
    ReplaceByFolder("timings");
    m_oRoot.Write("sys/devices/platform/vpss/display0/enabled", "0");
    EXPECT_FALSE(CDisplayVFDC::ChangeDisplayMode(oDisplay.GetDisplayMode()));
    EXPECT_EQ("1", DriverFile("enabled"));
    std::filesystem::remove(m_oRoot.Path() / "sys/devices/platform/vpss/display0/timings");
    m_oRoot.Write("sys/devices/platform/vpss/display0/timings", "old");
    ReplaceByFolder("enabled");
    EXPECT_FALSE(CDisplayVFDC::ChangeDisplayMode(oDisplay.GetDisplayMode()));
    EXPECT_EQ("old", DriverFile("timings"));
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}

TEST_F(DisplayVFDC, PortsAndWindowsAreCheckedAndThePlatformReceivesThem)
{
    CDisplayVFDC oDisplay;
    const unsigned kRefused = CDisplayVFDC::s_uiInvalidPort;
    // At most 20 ports, in order; 20 windows are too many even for 20 ports. Another format, one
    // buffer, a window larger than its port: refused, nothing changed.
    EXPECT_EQ(0u, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k1280x720, k640x360));
    for (unsigned uiPort = 1; uiPort < 20; ++uiPort)
        ASSERT_EQ(uiPort, oDisplay.AddInputPort(false, OmxPixFmt_YUV420, true, 3, k1280x720, k1280x720));
    const std::vector<SRegion> aoRegions(20, SRegion{0, {0, 0}, 0});
    EXPECT_FALSE(oDisplay.SetMosaicLayout(20, aoRegions.data()));
    EXPECT_TRUE(oDisplay.SetMosaicLayout(19, aoRegions.data()));
    for (const auto& roBad : std::vector<std::tuple<bool, OmxPixelFormat, unsigned, tagMSIZE32>>{
             {false, OmxPixFmt_YUV422, 2, k1280x720}, {true, OmxPixFmt_RGB888, 2, k640x360},
             {true, OmxPixFmt_YUV422, 1, k640x360}, {true, OmxPixFmt_YUV422, 2, {1281, 720}},
             {true, OmxPixFmt_YUV422, 2, {1280, 721}}})
        EXPECT_EQ(kRefused, oDisplay.AddInputPort(std::get<0>(roBad), std::get<1>(roBad), false, std::get<2>(roBad),
                                                  k1280x720, std::get<3>(roBad)));
    EXPECT_TRUE(oDisplay.GetInputPortNumber() == 20 && oDisplay.GetMosaicRegionNumber() == 19);
    // A reset leaves one port and no window; windows left of or above the screen, or of a port
    // that does not exist, are refused.
    EXPECT_EQ(0u, oDisplay.AddInputPort(true, OmxPixFmt_YUV420, false, 2, k1280x720, k1280x720));
    EXPECT_TRUE(oDisplay.GetInputPortNumber() == 1 && oDisplay.GetMosaicRegionNumber() == 0);
    EXPECT_EQ(1u, oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 3, k1280x720, k640x360));
    for (const SRegion& roBad : {SRegion{0, {-1, 0}, 0}, SRegion{0, {0, -1}, 0}, SRegion{2, {0, 0}, 0}})
        EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &roBad));
    const SRegion aoTwo[2] = {{0, {0, 0}, 0}, {1, {1280, 720}, 1}};
    ASSERT_TRUE(oDisplay.SetMosaicLayout(2, aoTwo));
    // Without a platform component the state is unknown: the layout cannot be sent.
    EXPECT_EQ(OMX_ErrorInvalidState, oDisplay.ApplyMosaicLayout());

    // The platform accepts them (it checks windows against ports and the screen), with the mode
    // and the full range on both components; the second window as it was asked for.
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    ASSERT_EQ(OMX_ErrorNone, oDisplay.SetParameters());
    const OMX_HANDLETYPE hDisplay = oDisplay.GetOMXHandle(), hController = oDisplay.GetOMXCtrlHandle();
    for (OMX_HANDLETYPE hHandle : {hDisplay, hController})
        EXPECT_EQ(k1080p60 + "@60",
                  Line(ReadParam<OMX_PARAM_DC_CUSTOM_MODE_INFO>(hHandle, OMX_TI_IndexParamVFDCCustomModeInfo)));
    EXPECT_EQ(OMX_TRUE, ReadParam<OMX_PARAM_CTRL_COLOR_RANGE>(hController, OMX_TI_IndexParamCtrlColorRange).bFullRange);
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
    InitStruct(oLayout);
    ASSERT_EQ(OMX_ErrorNone,
              OMX_GetParameter(hDisplay, OMX_INDEXTYPE(OMX_TI_IndexParamVFDCCreateMosaicLayout), &oLayout));
    const OMX_VFDC_MultipleWindowFmt& ro = oLayout.sMosaicWinFmt[1];
    EXPECT_EQ((std::vector<OMX_U32>{2, 1280, 720, 640, 360, 2560, VFDC_DF_YUV422I_YVYU, 1}),
              (std::vector<OMX_U32>{oLayout.nNumWindows, ro.winStartX, ro.winStartY, ro.winWidth, ro.winHeight,
                                    ro.pitch[0], OMX_U32(ro.dataFormat), ro.priority}));
    // While waiting for resources the layout is not sent either.
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hDisplay, OMX_CommandStateSet, OMX_StateWaitForResources, nullptr));
    oDisplay.WaitOMXEvent(OMXEvent_StateChanged);
    EXPECT_EQ(OMX_ErrorInvalidState, oDisplay.ApplyMosaicLayout());
    ASSERT_EQ(OMX_ErrorNone, oDisplay.ScheduleAndWaitStateTransition(hDisplay, OMX_StateLoaded));
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}

TEST_F(DisplayVFDC, AMatrixWaitsForTheControllerAndEachFailingStepIsRecorded)
{
    // Signed fixed point, 3 integer and 10 fraction bits (offsets 10 and 2), saturated; the
    // controller, which has reported no state yet, keeps its own until SetParameters.
    const CscMatrix oMatrix = {{1.0f, -1.0f, 5.0f}, {0.0f, 0.5f, -5.0f}, {-0.25f, 2.0f, 1.0f}, {16.25f, -16.0f, 0.0f}};
    const auto fnFixed = [](const OMX_CONFIG_CTRL_SET_CSC& ro) {
        std::vector<OMX_U32> a(ro.auiRedVector, ro.auiRedVector + 3);
        for (const OMX_U32* pui : {ro.auiGreenVector, ro.auiBlueVector, ro.auiOffsetVector})
            a.insert(a.end(), pui, pui + 3);
        return a;
    };
    const std::vector<OMX_U32> auiFixed = {0x400, 0x1C00, 0xFFF, 0, 0x200, 0x1001, 0x1F00, 0x800, 0x400, 65, 0xFC0, 0};
    const OMX_U32 uiCsc = OMX_TI_IndexConfigCtrlSetCsc;
    {
        CDisplayVFDC oDisplay;
        EXPECT_TRUE(oDisplay.SetCscMatrix(oMatrix));
        EXPECT_EQ(auiFixed, fnFixed(oDisplay.GetCscMatrix()));
        ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
        EXPECT_EQ(OMX_StateInvalid, oDisplay.GetCtrlState());
        EXPECT_TRUE(oDisplay.SetCscMatrix(oMatrix));
        EXPECT_EQ(1024u,
                  ReadParam<OMX_CONFIG_CTRL_SET_CSC>(oDisplay.GetOMXCtrlHandle(), uiCsc, 0, true).auiRedVector[0]);
        SetSystemMode(oDisplay);
        ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, tagMRECT32{{0, 0}, {640, 360}}));
        ASSERT_EQ(OMX_ErrorNone, oDisplay.SetParameters());
        EXPECT_EQ(auiFixed, fnFixed(ReadParam<OMX_CONFIG_CTRL_SET_CSC>(oDisplay.GetOMXCtrlHandle(), uiCsc, 0, true)));
        EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
    }
    {
        // The controller that cannot be had takes the display's handle with it.
        CDisplayVFDC oDisplay;
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, "OMX.TI.VPSSM3.CTRL.DC",
                                                        PELLIX_ANY_INDEX, 1, OMX_ErrorInsufficientResources));
        std::vector<std::string> aoKeys;
        const std::string oLog = LogOf(
            1, [&] { aoKeys = AbortKeys([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oDisplay.Init()); }); });
        EXPECT_EQ(std::vector<std::string>{"framework/ti-components/DisplayVFDC/Init/OMX_ErrorInsufficientResources"},
                  aoKeys);
        EXPECT_TRUE(oLog.find("(** m_hOMXComponent=(nil) -- m_hOMXCtrl=(nil) **)") != std::string::npos &&
                    PellixPlatform_LiveHandleCount() == m_uiLiveBefore && Ok(oDisplay.Deinit()));
    }
    // Each platform call of SetParameters failing in turn; then the mode change failing in the
    // driver's files, and a failed layout selection, which alone says so.
    const auto fnPrepare = [&oMatrix](CDisplayVFDC& ro) {
        SetSystemMode(ro);
        ASSERT_TRUE(ro.SetCscMatrix(oMatrix));
        ASSERT_EQ(OMX_ErrorNone, ro.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, tagMRECT32{{320, 180}, {1280, 720}}));
    };
    const std::string oStep = "framework/ti-components/DisplayVFDC/SetParameters";
    ExpectEachCallFails<CDisplayVFDC>(16, oStep, fnPrepare, [](CDisplayVFDC& ro) { return ro.SetParameters(); });
    for (bool bFiles : {true, false})
    {
        std::filesystem::remove_all(m_oRoot.Path() / "sys");  // the platform makes the driver's files anew
        CDisplayVFDC oDisplay;
        ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
        fnPrepare(oDisplay);
        if (bFiles)
            ReplaceByFolder("enabled");
        else
            ASSERT_EQ(OMX_ErrorNone,
                      PellixTest_InjectFault(PellixFault_SetConfig, "OMX.TI.VPSSM3.VFDC",
                                             OMX_TI_IndexConfigVFDCMosaicPort2WinMap, 1, OMX_ErrorHardware));
        const OMX_ERRORTYPE eExpected = bFiles ? OMX_ErrorUndefined : OMX_ErrorHardware;
        std::vector<std::string> aoKeys;
        const std::string oLog =
            LogOf(0, [&] { aoKeys = AbortKeys([&] { EXPECT_EQ(eExpected, oDisplay.SetParameters()); }); });
        EXPECT_EQ(oStep + "/" + CComponent::ErrorToStr(eExpected), aoKeys.empty() ? "" : aoKeys.back());
        EXPECT_EQ(!bFiles, oLog.find("Failed selecting layout id= 0!\n") != std::string::npos);
        EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
        EXPECT_TRUE(oDisplay.GetOMXHandle() == nullptr && oDisplay.GetOMXCtrlHandle() == nullptr);
    }
}
