// CDisplayVFDC on the simulated platform: the display mode chosen from the monitor, the timing
// written to the display driver's files, ports and windows, layouts and matrix as the platform
// received them, and every failure of Init and SetParameters with its records and a clean Deinit.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "AbortRecords.h"
#include "DisplayVFDCTestSupport.h"
#include "OutputCapture.h"
#include "edid/Edid.h"

namespace
{
const std::string kEdidDir = PELLIX_SOURCE_DIR "/../shared/testdata/edid/";
const char* const k1080p60 = "148500,1920/88/148/44,1080/4/36/5,1";

typedef CDisplayVFDC::MosaicRegion SRegion;
const tagMSIZE32 k1280x720 = {1280, 720};
const tagMSIZE32 k640x360 = {640, 360};

void ExpectMode(const CDisplayVFDC& roDisplay, OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nFps, bool bInterlaced,
                OMX_U32 nClock)
{
    const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode = roDisplay.GetDisplayMode();
    EXPECT_EQ(nWidth, roMode.width);
    EXPECT_EQ(nHeight, roMode.height);
    EXPECT_EQ(nFps, roMode.fps);
    EXPECT_EQ(bInterlaced ? OMX_DC_SF_INTERLACED : OMX_SF_PROGRESSIVE, roMode.scanFormat);
    EXPECT_EQ(nClock, roMode.pixelClock);
    EXPECT_EQ(nWidth, roDisplay.GetDisplayWidth());
    EXPECT_EQ(nHeight, roDisplay.GetDisplayHeight());
    EXPECT_EQ(nFps, roDisplay.GetDisplayFrequency());
}

// ---- Mode choice -------------------------------------------------------------------------------

class DisplayVFDCMode : public CDisplayVFDCTest
{
protected:
    explicit DisplayVFDCMode(const std::string& roMonitor = "1080p60") : CDisplayVFDCTest(roMonitor) {}

    void SetUp() override
    {
        CDisplayVFDCTest::SetUp();
        ASSERT_EQ(OMX_ErrorNone, m_oDisplay.Init());
    }
    void TearDown() override
    {
        EXPECT_EQ(OMX_ErrorNone, m_oDisplay.Deinit());
        CDisplayVFDCTest::TearDown();
    }

    CDisplayVFDC m_oDisplay;
};

struct NoMonitor : DisplayVFDCMode { NoMonitor() : DisplayVFDCMode("none") {} };
struct MonitorWithoutPreferredFlag : DisplayVFDCMode
{
    MonitorWithoutPreferredFlag() : DisplayVFDCMode(kEdidDir + "ADI-ADI217A-8CC9C1091771.txt") {}
};
struct InterlacedMonitor : DisplayVFDCMode { InterlacedMonitor() : DisplayVFDCMode("1080i60") {} };

TEST_F(NoMonitor, FallbackModeAndUnknownName)
{
    m_oDisplay.SetVideoOutParams(true, 1280, 720, false, 50, 74250, 440, 220, 40, 5, 20, 5);
    ExpectMode(m_oDisplay, 1280, 720, 50, false, 74250);
    EXPECT_EQ(440u, m_oDisplay.GetDisplayMode().hFrontPorch);
    EXPECT_EQ(20u, m_oDisplay.GetDisplayMode().vBackPorch);
    EXPECT_STREQ("Unknown", m_oDisplay.GetMonitorName());
    EXPECT_EQ(nullptr, m_oDisplay.GetEdid(false));
}

TEST_F(MonitorWithoutPreferredFlag, FallbackModeWithTheMonitorsName)
{
    SetSystemMode(m_oDisplay);
    ExpectMode(m_oDisplay, 1920, 1080, 60, false, 148500);
    EXPECT_STREQ("ADI MS A715", m_oDisplay.GetMonitorName());
    EXPECT_NE(nullptr, m_oDisplay.GetEdid(false));
}

TEST_F(InterlacedMonitor, FieldLinesFieldRateAndATimingEndingInZero)
{
    SetInfoMessageLevel(3);
    COutputCapture oOut(STDOUT_FILENO);
    SetSystemMode(m_oDisplay);
    const std::string oLog = oOut.Finish();
    SetInfoMessageLevel(0);
    ExpectMode(m_oDisplay, 1920, 540, 60, true, 74250);
    EXPECT_STREQ("PELLIX HD60I", m_oDisplay.GetMonitorName());
    EXPECT_NE(std::string::npos, oLog.find("Display mode: 1920x540@60Hz\n"));
    ASSERT_TRUE(CDisplayVFDC::ChangeDisplayMode(m_oDisplay.GetDisplayMode()));
    EXPECT_EQ("74250,1920/88/148/44,540/2/15/5,0", DriverFile("timings"));
}

TEST_F(DisplayVFDCMode, PreferredTimingUnlessTheCallerDeclines)
{
    m_oDisplay.SetVideoOutParams(true, 1280, 720, false, 60, 74250, 110, 220, 40, 5, 20, 5);
    ExpectMode(m_oDisplay, 1920, 1080, 60, false, 148500);
    EXPECT_STREQ("PELLIX HD60", m_oDisplay.GetMonitorName());
    m_oDisplay.SetVideoOutParams(false, 1280, 720, false, 60, 74250, 110, 220, 40, 5, 20, 5);
    ExpectMode(m_oDisplay, 1280, 720, 60, false, 74250);

    // The EDID is read afresh: another monitor, another name.
    WriteDriverFile("edid", "");
    SetSystemMode(m_oDisplay);
    EXPECT_STREQ("Unknown", m_oDisplay.GetMonitorName());
}

// ---- The driver's files --------------------------------------------------------------------------

TEST_F(DisplayVFDCMode, ChangedTimingTurnsTheOutputOffWritesItAndTurnsItOn)
{
    m_oDisplay.SetVideoOutParams(false, 1280, 720, false, 60, 74250, 110, 220, 40, 5, 20, 5);
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_TRUE(CDisplayVFDC::ChangeDisplayMode(m_oDisplay.GetDisplayMode()));
    const std::string oLog = oOut.Finish();
    SetInfoMessageLevel(0);
    EXPECT_EQ("74250,1280/110/220/40,720/5/20/5,1", DriverFile("timings"));
    EXPECT_EQ("1", DriverFile("enabled"));
    EXPECT_NE(std::string::npos, oLog.find("Timings= 74250,1280/110/220/40,720/5/20/5,1\n"));
}

TEST_F(DisplayVFDCMode, UnchangedTimingIsNotWrittenButTheOutputIsEnabled)
{
    SetSystemMode(m_oDisplay);
    // The driver shows more after the timing; only the new string's length is compared.
    WriteDriverFile("timings", std::string(k1080p60) + "\nmore");
    WriteDriverFile("enabled", "0");
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_TRUE(CDisplayVFDC::ChangeDisplayMode(m_oDisplay.GetDisplayMode()));
    EXPECT_EQ(std::string::npos, oOut.Finish().find("Timings="));
    SetInfoMessageLevel(0);
    EXPECT_EQ(std::string(k1080p60) + "\nmore", DriverFile("timings"));
    EXPECT_EQ("1", DriverFile("enabled"));
}

TEST_F(DisplayVFDCMode, DriverFilesThatCannotBeOpenedFailTheChange)
{
    SetSystemMode(m_oDisplay);
    const std::filesystem::path oFolder = m_oRoot.Path() / "sys/devices/platform/vpss/display0";
    // No "timings" to write: the output is still turned back on.
    std::filesystem::remove(oFolder / "timings");
    std::filesystem::create_directory(oFolder / "timings");
    EXPECT_FALSE(CDisplayVFDC::ChangeDisplayMode(m_oDisplay.GetDisplayMode()));
    EXPECT_EQ("1", DriverFile("enabled"));
    // No "enabled": nothing is touched.
    std::filesystem::remove(oFolder / "timings");
    WriteDriverFile("timings", "old");
    std::filesystem::remove(oFolder / "enabled");
    std::filesystem::create_directory(oFolder / "enabled");
    EXPECT_FALSE(CDisplayVFDC::ChangeDisplayMode(m_oDisplay.GetDisplayMode()));
    EXPECT_EQ("old", DriverFile("timings"));
}

// ---- Ports and windows ---------------------------------------------------------------------------

TEST(DisplayVFDCPorts, PortsAreCheckedInOrderAndRefusalsChangeNothing)
{
    SetInfoMessageLevel(0);
    CDisplayVFDC oDisplay;
    const unsigned kRefused = CDisplayVFDC::s_uiInvalidPort;
    EXPECT_EQ(0u, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k1280x720, k640x360));
    for (unsigned uiPort = 1; uiPort < 20; ++uiPort)
        ASSERT_EQ(uiPort, oDisplay.AddInputPort(false, OmxPixFmt_YUV420, true, 3, k1280x720, k1280x720));
    EXPECT_EQ(kRefused, oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, k1280x720, k1280x720));
    EXPECT_EQ(20u, oDisplay.GetInputPortNumber());

    // 20 windows are too many even for 20 ports.
    std::vector<SRegion> aoRegions(20, SRegion{0, {0, 0}, 0});
    EXPECT_FALSE(oDisplay.SetMosaicLayout(20, aoRegions.data()));
    EXPECT_TRUE(oDisplay.SetMosaicLayout(19, aoRegions.data()));
    EXPECT_EQ(19u, oDisplay.GetMosaicRegionNumber());

    EXPECT_EQ(kRefused, oDisplay.AddInputPort(true, OmxPixFmt_RGB888, false, 2, k1280x720, k640x360));
    EXPECT_EQ(kRefused, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 1, k1280x720, k640x360));
    EXPECT_EQ(kRefused, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k640x360, tagMSIZE32{641, 360}));
    EXPECT_EQ(kRefused, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k640x360, tagMSIZE32{640, 361}));
    EXPECT_EQ(20u, oDisplay.GetInputPortNumber());
    EXPECT_EQ(19u, oDisplay.GetMosaicRegionNumber());

    // A reset leaves one port and no window.
    EXPECT_EQ(0u, oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k1280x720, k640x360));
    EXPECT_EQ(1u, oDisplay.GetInputPortNumber());
    EXPECT_EQ(0u, oDisplay.GetMosaicRegionNumber());
    EXPECT_EQ(1u, oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, k1280x720, k640x360));
    EXPECT_EQ(2u, oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, k1280x720, k640x360));

    const SRegion oLeft{0, {-1, 0}, 0};
    const SRegion oAbove{0, {0, -1}, 0};
    const SRegion oPort3{3, {0, 0}, 0};
    const SRegion oPort2{2, {10, 20}, 1};
    EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oLeft));
    EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oAbove));
    EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oPort3));
    EXPECT_EQ(0u, oDisplay.GetMosaicRegionNumber());
    EXPECT_TRUE(oDisplay.SetMosaicLayout(1, &oPort2));
    EXPECT_EQ(1u, oDisplay.GetMosaicRegionNumber());

    // Without a platform component the state is unknown: the layout cannot be sent.
    EXPECT_EQ(OMX_ErrorInvalidState, oDisplay.ApplyMosaicLayout());
}

TEST_F(DisplayVFDCMode, ApplyMosaicLayoutIsRefusedWhileWaitingForResources)
{
    const SRegion oRegion{0, {0, 0}, 0};
    ASSERT_EQ(0u, m_oDisplay.AddInputPort(true, OmxPixFmt_YUV422, false, 2, k640x360, k640x360));
    ASSERT_TRUE(m_oDisplay.SetMosaicLayout(1, &oRegion));
    ASSERT_EQ(OMX_ErrorNone,
              OMX_SendCommand(m_oDisplay.GetOMXHandle(), OMX_CommandStateSet, OMX_StateWaitForResources, nullptr));
    m_oDisplay.WaitOMXEvent(OMXEvent_StateChanged);
    ASSERT_EQ(OMX_StateWaitForResources, m_oDisplay.GetComponentState());
    EXPECT_EQ(OMX_ErrorInvalidState, m_oDisplay.ApplyMosaicLayout());
    ASSERT_EQ(OMX_ErrorNone, m_oDisplay.ScheduleAndWaitStateTransition(m_oDisplay.GetOMXHandle(), OMX_StateLoaded));
}

// ---- What the platform received ------------------------------------------------------------------

TEST_F(DisplayVFDCMode, PlatformReceivesModePortsLayoutsWithTheirPitchesAndTheMatrix)
{
    SetSystemMode(m_oDisplay);
    ASSERT_EQ(0u, m_oDisplay.AddInputPort(true, OmxPixFmt_YUV420, false, 2, k1280x720, k1280x720));
    ASSERT_EQ(1u, m_oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 3, k1280x720, k640x360));
    const SRegion aoRegions[2] = {{0, {0, 0}, 0}, {1, {1280, 720}, 1}};
    ASSERT_TRUE(m_oDisplay.SetMosaicLayout(2, aoRegions));
    ASSERT_EQ(OMX_ErrorNone, m_oDisplay.SetParameters());
    const OMX_HANDLETYPE hDisplay = m_oDisplay.GetOMXHandle();
    const OMX_HANDLETYPE hController = m_oDisplay.GetOMXCtrlHandle();
    EXPECT_EQ(2u, m_oDisplay.GetInputPortCount());

    for (OMX_U32 nLayoutId = 0; nLayoutId < OMX_VFDC_MAX_LAYOUTS; ++nLayoutId)
    {
        SCOPED_TRACE(nLayoutId);
        OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
        InitOmxStruct(oLayout);
        oLayout.nLayoutId = nLayoutId;
        ASSERT_EQ(OMX_ErrorNone,
                  OMX_GetParameter(hDisplay, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCreateMosaicLayout), &oLayout));
        ASSERT_EQ(2u, oLayout.nNumWindows);
        const OMX_VFDC_MultipleWindowFmt& roSemiPlanar = oLayout.sMosaicWinFmt[0];
        EXPECT_EQ(1280u, roSemiPlanar.pitch[0]);
        EXPECT_EQ(640u, roSemiPlanar.pitch[1]);
        EXPECT_EQ(VFDC_DF_YUV422SP_VU, roSemiPlanar.dataFormat);
        EXPECT_EQ(VFDC_BPP_BITS12, roSemiPlanar.bpp);
        const OMX_VFDC_MultipleWindowFmt& roPacked = oLayout.sMosaicWinFmt[1];
        EXPECT_EQ(2560u, roPacked.pitch[0]);
        EXPECT_EQ(0u, roPacked.pitch[1]);
        EXPECT_EQ(VFDC_DF_YUV422I_YVYU, roPacked.dataFormat);
        EXPECT_EQ(VFDC_BPP_BITS16, roPacked.bpp);
        EXPECT_EQ(1280u, roPacked.winStartX);
        EXPECT_EQ(720u, roPacked.winStartY);
        EXPECT_EQ(640u, roPacked.winWidth);
        EXPECT_EQ(360u, roPacked.winHeight);
        EXPECT_EQ(1u, roPacked.priority);
    }
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap;
    InitOmxStruct(oMap);
    ASSERT_EQ(OMX_ErrorNone,
              OMX_GetConfig(hDisplay, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCMosaicPort2WinMap), &oMap));
    EXPECT_EQ(0u, oMap.nLayoutId);
    EXPECT_EQ(2u, oMap.numWindows);
    EXPECT_EQ(1u, oMap.omxPortList[1]);
    EXPECT_EQ(0u, m_oDisplay.GetMosaicLayoutId());

    // The ports as configured.
    OMX_PARAM_PORTDEFINITIONTYPE oPort;
    InitOmxStruct(oPort, 1);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hDisplay, OMX_IndexParamPortDefinition, &oPort));
    EXPECT_EQ(OMX_TRUE, oPort.bEnabled);
    EXPECT_EQ(640u, oPort.format.video.nFrameWidth);
    EXPECT_EQ(360u, oPort.format.video.nFrameHeight);
    EXPECT_EQ(2560, oPort.format.video.nStride);
    EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oPort.format.video.eColorFormat);
    EXPECT_EQ(3u, oPort.nBufferCountActual);
    EXPECT_EQ(1280u * 720 * 2, oPort.nBufferSize);
    InitOmxStruct(oPort, 0);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hDisplay, OMX_IndexParamPortDefinition, &oPort));
    EXPECT_EQ(OMX_COLOR_FormatYUV420SemiPlanar, oPort.format.video.eColorFormat);
    EXPECT_EQ(1280u * 720 * 3 / 2, oPort.nBufferSize);
    InitOmxStruct(oPort, 2);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hDisplay, OMX_IndexParamPortDefinition, &oPort));
    EXPECT_EQ(OMX_FALSE, oPort.bEnabled);

    // Mode and driver instance on both components, full range on the controller.
    for (OMX_HANDLETYPE hHandle : {hDisplay, hController})
    {
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode;
        InitOmxStruct(oMode);
        ASSERT_EQ(OMX_ErrorNone,
                  OMX_GetParameter(hHandle, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo), &oMode));
        EXPECT_EQ(0, memcmp(&oMode, &m_oDisplay.GetDisplayMode(), sizeof(oMode)));
        OMX_PARAM_VFDC_DRIVERINSTID oInstance;
        InitOmxStruct(oInstance);
        ASSERT_EQ(OMX_ErrorNone,
                  OMX_GetParameter(hHandle, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCDriverInstId), &oInstance));
        EXPECT_EQ(static_cast<OMX_U32>(OMX_VIDEO_DISPLAY_ID_HD0), oInstance.nDrvInstID);
        EXPECT_EQ(OMX_DC_MODE_CUSTOM, oInstance.eDispVencMode);
    }
    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    InitOmxStruct(oRange);
    ASSERT_EQ(OMX_ErrorNone,
              OMX_GetParameter(hController, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange), &oRange));
    EXPECT_EQ(OMX_TRUE, oRange.bFullRange);
    // No matrix given: the controller keeps its own.
    OMX_CONFIG_CTRL_SET_CSC oCsc;
    InitOmxStruct(oCsc);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hController, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc), &oCsc));
    EXPECT_EQ(1024u, oCsc.auiRedVector[0]);
    EXPECT_EQ(0u, oCsc.auiRedVector[1]);
    EXPECT_EQ(k1080p60, DriverFile("timings").substr(0, strlen(k1080p60)));
}


TEST_F(CDisplayVFDCTest, MatrixSetBeforeInitIsSentBySetParameters)
{
    CDisplayVFDC oDisplay;
    const CscMatrix oMatrix = {{1.0f, -1.0f, 5.0f}, {0.0f, 0.5f, -5.0f}, {-0.25f, 2.0f, 1.0f}, {16.25f, -16.0f, 0.0f}};
    EXPECT_TRUE(oDisplay.SetCscMatrix(oMatrix));
    const OMX_U32 auiRed[3] = {0x400, 0x1C00, 0xFFF};
    const OMX_U32 auiGreen[3] = {0, 0x200, 0x1001};
    const OMX_U32 auiBlue[3] = {0x1F00, 0x800, 0x400};
    const OMX_U32 auiOffset[3] = {65, 0xFC0, 0};
    EXPECT_EQ(0, memcmp(auiRed, oDisplay.GetCscMatrix().auiRedVector, sizeof(auiRed)));
    EXPECT_EQ(0, memcmp(auiGreen, oDisplay.GetCscMatrix().auiGreenVector, sizeof(auiGreen)));
    EXPECT_EQ(0, memcmp(auiBlue, oDisplay.GetCscMatrix().auiBlueVector, sizeof(auiBlue)));
    EXPECT_EQ(0, memcmp(auiOffset, oDisplay.GetCscMatrix().auiOffsetVector, sizeof(auiOffset)));

    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    // The controller has not reported a state yet: the matrix waits for SetParameters.
    EXPECT_EQ(OMX_StateInvalid, oDisplay.GetCtrlState());
    EXPECT_TRUE(oDisplay.SetCscMatrix(oMatrix));
    OMX_CONFIG_CTRL_SET_CSC oCsc;
    InitOmxStruct(oCsc);
    const OMX_INDEXTYPE eCsc = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oDisplay.GetOMXCtrlHandle(), eCsc, &oCsc));
    EXPECT_EQ(1024u, oCsc.auiRedVector[0]);

    SetSystemMode(oDisplay);
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, tagMRECT32{{0, 0}, {640, 360}}));
    ASSERT_EQ(OMX_ErrorNone, oDisplay.SetParameters());
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oDisplay.GetOMXCtrlHandle(), eCsc, &oCsc));
    EXPECT_EQ(0, memcmp(auiRed, oCsc.auiRedVector, sizeof(auiRed)));
    EXPECT_EQ(0, memcmp(auiOffset, oCsc.auiOffsetVector, sizeof(auiOffset)));
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}

// ---- Failures -------------------------------------------------------------------------------------

TEST_F(CDisplayVFDCTest, ControllerThatCannotBeHadTakesTheDisplayHandleWithIt)
{
    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, DISPLAY_CONTROL_NAME, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorInsufficientResources));
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords =
        CaptureAbortRecords([&oDisplay] { EXPECT_EQ(OMX_ErrorInsufficientResources, oDisplay.Init()); }, oOther);
    EXPECT_NE(std::string::npos, oOut.Finish().find("(** m_hOMXComponent=(nil) -- m_hOMXCtrl=(nil) **)"));
    SetInfoMessageLevel(0);
    ASSERT_EQ(1u, aoRecords.size());
    EXPECT_EQ("framework/ti-components/DisplayVFDC/Init/OMX_ErrorInsufficientResources", aoRecords[0].Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords[0], PELLIX_SOURCE_DIR));
    EXPECT_EQ(nullptr, oDisplay.GetOMXHandle());
    EXPECT_EQ(nullptr, oDisplay.GetOMXCtrlHandle());
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
}

// One step of SetParameters made to fail.
struct SStepFault
{
    const char* szStep;
    PellixFaultKind eKind;
    const char* szComponent;
    OMX_U32 uiIndex;
    OMX_ERRORTYPE eResult;
    const char* szInfo;  // the line ApplyMosaicLayout writes, or null
};

const SStepFault kStepFaults[] = {
    {"EnablePort", PellixFault_SendCommand, DISPLAY_NAME, OMX_CommandPortEnable, OMX_ErrorHardware, nullptr},
    {"GetPortDefinition", PellixFault_GetParameter, DISPLAY_NAME, OMX_IndexParamPortDefinition, OMX_ErrorHardware, nullptr},
    {"SetPortDefinition", PellixFault_SetParameter, DISPLAY_NAME, OMX_IndexParamPortDefinition, OMX_ErrorHardware, nullptr},
    {"ChangeDisplayMode", PellixFault_KindCount, nullptr, 0, OMX_ErrorUndefined, nullptr},
    {"DisplayDriverInstance", PellixFault_SetParameter, DISPLAY_NAME, OMX_TI_IndexParamVFDCDriverInstId, OMX_ErrorHardware, nullptr},
    {"ControllerDriverInstance", PellixFault_SetParameter, DISPLAY_CONTROL_NAME, OMX_TI_IndexParamVFDCDriverInstId, OMX_ErrorHardware, nullptr},
    {"DisplayMode", PellixFault_SetParameter, DISPLAY_NAME, OMX_TI_IndexParamVFDCCustomModeInfo, OMX_ErrorHardware, nullptr},
    {"ControllerMode", PellixFault_SetParameter, DISPLAY_CONTROL_NAME, OMX_TI_IndexParamVFDCCustomModeInfo, OMX_ErrorHardware, nullptr},
    {"ColorRange", PellixFault_SetParameter, DISPLAY_CONTROL_NAME, OMX_TI_IndexParamCtrlColorRange, OMX_ErrorHardware, nullptr},
    {"CscMatrix", PellixFault_SetConfig, DISPLAY_CONTROL_NAME, OMX_TI_IndexConfigCtrlSetCsc, OMX_ErrorHardware, nullptr},
    {"CreateLayout", PellixFault_SetParameter, DISPLAY_NAME, OMX_TI_IndexParamVFDCCreateMosaicLayout, OMX_ErrorHardware, nullptr},
    {"SelectLayout", PellixFault_SetConfig, DISPLAY_NAME, OMX_TI_IndexConfigVFDCMosaicPort2WinMap, OMX_ErrorHardware,
     "Failed selecting layout id= 0!"},
    {"MemoryType", PellixFault_SetParameter, DISPLAY_NAME, OMX_TI_IndexParamBuffMemType, OMX_ErrorHardware, nullptr},
};

class DisplayVFDCStepFault : public CDisplayVFDCTest, public ::testing::WithParamInterface<SStepFault>
{
};

TEST_P(DisplayVFDCStepFault, StepFailureIsRecordedReturnedAndDeinitReleasesEverything)
{
    const SStepFault& roFault = GetParam();
    CDisplayVFDC oDisplay;
    ASSERT_EQ(OMX_ErrorNone, oDisplay.Init());
    SetSystemMode(oDisplay);
    const CscMatrix oMatrix = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
    ASSERT_TRUE(oDisplay.SetCscMatrix(oMatrix));
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, tagMRECT32{{320, 180}, {1280, 720}}));
    if (roFault.eKind == PellixFault_KindCount)
    {
        std::filesystem::remove(m_oRoot.Path() / "sys/devices/platform/vpss/display0/enabled");
        std::filesystem::create_directory(m_oRoot.Path() / "sys/devices/platform/vpss/display0/enabled");
    }
    else
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(roFault.eKind, roFault.szComponent, roFault.uiIndex, 1, roFault.eResult));

    COutputCapture oOut(STDOUT_FILENO);
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords =
        CaptureAbortRecords([&] { EXPECT_EQ(roFault.eResult, oDisplay.SetParameters()); }, oOther);
    const std::string oLog = oOut.Finish();
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    ASSERT_FALSE(aoRecords.empty());
    EXPECT_EQ(std::string("framework/ti-components/DisplayVFDC/SetParameters/") + CComponent::ErrorToStr(roFault.eResult),
              aoRecords.back().Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords.back(), PELLIX_SOURCE_DIR));
    if (roFault.szInfo != nullptr)
        EXPECT_NE(std::string::npos, oLog.find(roFault.szInfo)) << oLog;
    else
        EXPECT_EQ(std::string::npos, oLog.find("Failed")) << oLog;

    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
    EXPECT_EQ(nullptr, oDisplay.GetOMXHandle());
    EXPECT_EQ(nullptr, oDisplay.GetOMXCtrlHandle());
}

INSTANTIATE_TEST_SUITE_P(EachStep, DisplayVFDCStepFault, ::testing::ValuesIn(kStepFaults),
                         [](const ::testing::TestParamInfo<SStepFault>& roInfo) { return std::string(roInfo.param.szStep); });
} // namespace
