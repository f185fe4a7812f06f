// The display component ("OMX.TI.VPSSM3.VFDC") and its controller ("OMX.TI.VPSSM3.CTRL.DC")
// through the plain OMX_* calls: the driver's files below the platform root and the EDID file of
// the monitor PELLIX_SIM_MONITOR names in each form it takes, the settings, layouts and port maps
// they refuse, and the snapshot of several windows, overlapping or semi-planar. (The mode chosen
// from each monitor, edid-decode's dumps of real monitors, what the components accept, frames shown
// at the refresh rate and the screen after the stop are tested through the library's wrapper and
// its video path.)
#include <gtest/gtest.h>

#include <optional>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "OutputCapture.h"
#include "TempDir.h"
#include "TestPicture.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szDisplay = "OMX.TI.VPSSM3.VFDC";
const OMX_U32 local_uiMode = OMX_TI_IndexParamVFDCCustomModeInfo,
              local_uiCreate = OMX_TI_IndexParamVFDCCreateMosaicLayout;
const OMX_U32 local_uiModify = OMX_TI_IndexConfigVFDCModifyMosaicLayout,
              local_uiMap = OMX_TI_IndexConfigVFDCMosaicPort2WinMap;
const std::string local_oDriver = "sys/devices/platform/vpss/display0/";
// Full-range YCbCr of pure red and pure green.
const uint8_t local_aucRed[3] = {76, 85, 255}, local_aucGreen[3] = {150, 44, 21};

OMX_PARAM_DC_CUSTOM_MODE_INFO Mode(OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nFps, bool bInterlaced = false,
                                   OMX_U32 nClock = 74250)
{
    auto oMode = Initialised<OMX_PARAM_DC_CUSTOM_MODE_INFO>();
    oMode.width = nWidth;
    oMode.height = nHeight;
    oMode.fps = nFps;
    oMode.scanFormat = bInterlaced ? OMX_DC_SF_INTERLACED : OMX_SF_PROGRESSIVE;
    oMode.pixelClock = nClock;
    return oMode;
}

// One packed 4:2:2 window of w x h at (x, y) reading a buffer of the same size.
OMX_VFDC_MultipleWindowFmt Window(OMX_U32 nX, OMX_U32 nY, OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nPriority = 0)
{
    return OMX_VFDC_MultipleWindowFmt{
        nX, nY, nWidth, nHeight, {2 * nWidth, 0}, VFDC_DF_YUV422I_YVYU, VFDC_BPP_BITS16, nPriority};
}

OMX_PARAM_VFDC_CREATEMOSAICLAYOUT Layout(OMX_U32 nLayoutId, const std::vector<OMX_VFDC_MultipleWindowFmt>& aoWindows)
{
    auto oLayout = Initialised<OMX_PARAM_VFDC_CREATEMOSAICLAYOUT>();
    oLayout.nLayoutId = nLayoutId;
    oLayout.nNumWindows = static_cast<OMX_U32>(aoWindows.size());
    std::copy(aoWindows.begin(), aoWindows.end(), oLayout.sMosaicWinFmt);
    return oLayout;
}

OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP Map(OMX_U32 nLayoutId, const std::vector<OMX_U32>& anPorts)
{
    auto oMap = Initialised<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP>();
    oMap.nLayoutId = nLayoutId;
    oMap.numWindows = static_cast<OMX_U32>(anPorts.size());
    std::copy(anPorts.begin(), anPorts.end(), oMap.omxPortList);
    return oMap;
}

class DisplayComponent : public CEngineTest
{
protected:
    void SetUp() override { CEngineTest::SetUp(); m_oDisplay.emplace(local_szDisplay); }
    void TearDown() override { m_oDisplay.reset(); CEngineTest::TearDown(); }
    std::string DriverFile(const char* szName) const { return m_oRoot.Read(local_oDriver + szName); }
    // The driver's EDID file as the controller writes it for the monitor (the file made anew).
    std::string EdidFileFor(const std::string& roMonitor)
    {
        std::filesystem::remove(m_oRoot.Path() / (local_oDriver + "edid"));
        CScopedEnv oMonitor("PELLIX_SIM_MONITOR", roMonitor);
        EXPECT_EQ(OMX_ErrorNone, COmxTestClient("OMX.TI.VPSSM3.CTRL.DC").GetHandleResult());
        return DriverFile("edid");
    }
    // Port nPort enabled, as nCount buffers of w x h frames, packed 4:2:2 or 4:2:0 lines of nStride bytes.
    bool SetUpPort(OMX_U32 nPort, OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nCount, bool bSemiPlanar = false,
                   OMX_U32 nStride = 0, OMX_U32 nLines = 0)
    {
        return Ok(m_oDisplay->Command(OMX_CommandPortEnable, nPort)) &&
               m_oDisplay->WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, nPort) &&
               Ok(m_oDisplay->SetPort(nPort, [=](OMX_PARAM_PORTDEFINITIONTYPE& ro) {
                   ro.format.video.nFrameWidth = nWidth;
                   ro.format.video.nFrameHeight = nHeight;
                   ro.format.video.nStride = static_cast<OMX_S32>(nStride != 0 ? nStride : 2 * nWidth);
                   ro.format.video.eColorFormat =
                       bSemiPlanar ? OMX_COLOR_FormatYUV420SemiPlanar : OMX_COLOR_FormatYCbYCr;
                   ro.nBufferCountActual = nCount;
                   ro.nBufferSize = bSemiPlanar ? nStride * nLines * 3 / 2 : 2 * nWidth * nHeight;
               }));
    }
    std::string Snapshot(const char* szName) const { return (m_oRoot.Path() / szName).string(); }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv{"PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()};
    CScopedEnv m_oMonitorEnv{"PELLIX_SIM_MONITOR", "1080p60"};
    std::optional<COmxTestClient> m_oDisplay;
};
} // namespace

TEST_F(DisplayComponent, DriverFilesDescribeTheMonitorThatTheEnvironmentNames)
{
    ASSERT_EQ(OMX_ErrorNone, m_oDisplay->GetHandleResult());
    EXPECT_EQ("1\n 148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("enabled") + " " + DriverFile("timings"));
    const std::string oBuiltIn = DriverFile("edid");
    EXPECT_TRUE(oBuiltIn.find("0000: 00 ff ff ff ff ff ff 00 ") == 0 &&
                std::count(oBuiltIn.begin(), oBuiltIn.end(), '\n') == 8) << oBuiltIn;
    // Files already there are kept; no monitor: an empty file.
    m_oRoot.Write(local_oDriver + "timings", "74250,1280/110/220/40,720/5/20/5,1");
    m_oRoot.Write(local_oDriver + "enabled", "0");
    EXPECT_EQ(oBuiltIn, EdidFileFor("1080p60"));
    EXPECT_EQ("74250,1280/110/220/40,720/5/20/5,1 0", DriverFile("timings") + " " + DriverFile("enabled"));
    EXPECT_EQ("", EdidFileFor("none"));
    // Raw bytes (two blocks: the driver's file holds both) and the driver's own dump, after a line
    // of text and before another, serve as monitors too.
    std::string oRaw;
    for (unsigned ui = 0; ui < 256; ++ui)
        oRaw += char(ui >= 128 ? ui * 7 : std::stoul(oBuiltIn.substr(6 + ui / 16 * 55 + ui % 16 * 3, 2), 0, 16));
    const std::string oTwoBlocks = EdidFileFor(m_oRoot.Write("monitors/raw.bin", oRaw).string());
    EXPECT_TRUE(oTwoBlocks.substr(0, oBuiltIn.size()) == oBuiltIn && oTwoBlocks.find("00F0: ") != std::string::npos &&
                std::count(oTwoBlocks.begin(), oTwoBlocks.end(), '\n') == 16) << oTwoBlocks;
    EXPECT_EQ(oTwoBlocks, EdidFileFor(m_oRoot.Write("monitors/dump.txt", "EDID:\n" + oTwoBlocks + "end\n").string()));
    // An unreadable monitor is reported, and the built-in one serves.
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(oBuiltIn, EdidFileFor("/nonexistent/monitor.txt"));
    EXPECT_NE(std::string::npos, oErr.Finish().find("PELLIX_SIM_MONITOR=/nonexistent/monitor.txt"));
}

TEST_F(DisplayComponent, SettingsLayoutsAndPortMapsAreChecked)
{
    COmxTestClient oController("OMX.TI.VPSSM3.CTRL.DC");
    const OMX_HANDLETYPE hDisplay = m_oDisplay->Handle();
    EXPECT_TRUE(!m_oDisplay->PortDefinition(0).bEnabled && !m_oDisplay->PortDefinition(19).bEnabled);
    for (COmxTestClient* po : {&*m_oDisplay, &oController})
    {
        auto oInstance = Initialised<OMX_PARAM_VFDC_DRIVERINSTID>();
        oInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD1;
        oInstance.eDispVencMode = OMX_DC_MODE_CUSTOM;
        EXPECT_EQ(OMX_ErrorBadParameter, po->Param(OMX_TI_IndexParamVFDCDriverInstId, oInstance, true));
        oInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD0;
        EXPECT_EQ(OMX_ErrorNone, po->Param(OMX_TI_IndexParamVFDCDriverInstId, oInstance, true));
        // No refresh rate; the HD output drives at most 1920 x 1200 active (lines of the whole
        // frame) at 165 MHz.
        const struct
        {
            OMX_U32 nWidth, nHeight, nFps, nClock;
            bool bInterlaced, bDriven;
        } aoLimits[] = {{1920, 1200, 60, 154000, false, true}, {1920, 540, 60, 74250, true, true},
                        {1920, 1080, 60, 165000, false, true}, {1920, 1080, 60, 165001, false, false},
                        {3840, 2160, 30, 297000, false, false}, {1921, 1080, 60, 148500, false, false},
                        {1920, 1201, 60, 154000, false, false}, {1920, 601, 60, 148500, true, false},
                        {1280, 720, 0, 74250, false, false}};
        for (const auto& ro : aoLimits)
        {
            OMX_PARAM_DC_CUSTOM_MODE_INFO oLimit = Mode(ro.nWidth, ro.nHeight, ro.nFps, ro.bInterlaced, ro.nClock);
            EXPECT_EQ(ro.bDriven ? OMX_ErrorNone : OMX_ErrorBadParameter, po->Param(local_uiMode, oLimit, true))
                << ro.nWidth << "x" << ro.nHeight << " at " << ro.nClock << " kHz";
        }
    }
    auto oMemory = Initialised<OMX_PARAM_BUFFER_MEMORYTYPE>(3);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_TILED_8BIT;
    EXPECT_EQ(OMX_ErrorBadParameter, m_oDisplay->Param(OMX_TI_IndexParamBuffMemType, oMemory, true));
    // A colour matrix of 13-bit coefficients and 12-bit offsets; the colour range. (What the
    // components accept is read back through the library's wrapper.)
    auto oCsc = Initialised<OMX_CONFIG_CTRL_SET_CSC>();
    oCsc.auiOffsetVector[2] = 0x1000;  // beyond the 12 bits of an offset
    EXPECT_EQ(OMX_ErrorBadParameter, oController.Param(OMX_TI_IndexConfigCtrlSetCsc, oCsc, true, true));
    oCsc.auiOffsetVector[2] = 0xFFF;
    auto oRange = Initialised<OMX_PARAM_CTRL_COLOR_RANGE>();
    EXPECT_TRUE(Ok(oController.Param(OMX_TI_IndexConfigCtrlSetCsc, oCsc, true, true)) &&
                Ok(oController.Param(OMX_TI_IndexParamCtrlColorRange, oRange, true)));
    // Without ports to wait for, the controller reaches Idle at once; then the range stays, the
    // CSC may change.
    ASSERT_TRUE(oController.GoTo(OMX_StateIdle));
    EXPECT_TRUE(oController.Param(OMX_TI_IndexParamCtrlColorRange, oRange, true) == OMX_ErrorIncorrectStateOperation &&
                Ok(oController.Param(OMX_TI_IndexConfigCtrlSetCsc, oCsc, true, true)) &&
                oController.GoTo(OMX_StateLoaded));

    // Windows beyond the screen, a layout id too high, 12 bits per pixel packed, a pitch too
    // short, no width, too many windows.
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = Mode(1280, 720, 60);
    ASSERT_TRUE(Ok(m_oDisplay->Param(local_uiMode, oMode, true)) && SetUpPort(0, 640, 360, 3) &&
                SetUpPort(1, 320, 180, 3));
    const auto fnCreate = [hDisplay](OMX_PARAM_VFDC_CREATEMOSAICLAYOUT o)
    { return OMX_SetParameter(hDisplay, OMX_INDEXTYPE(local_uiCreate), &o); };
    const auto fnMap = [hDisplay](OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP o)
    { return OMX_SetConfig(hDisplay, OMX_INDEXTYPE(local_uiMap), &o); };
    OMX_VFDC_MultipleWindowFmt oTwelveBits = Window(0, 0, 640, 360), oShortPitch = Window(0, 0, 640, 360);
    oTwelveBits.bpp = VFDC_BPP_BITS12;
    oShortPitch.pitch[0] = 1279;
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oTooMany = Layout(0, {});
    oTooMany.nNumWindows = OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS + 1;
    for (const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT& roRefused :
         {Layout(0, {Window(700, 0, 640, 360)}), Layout(0, {Window(0, 400, 640, 360)}),
          Layout(5, {Window(0, 0, 640, 360)}), Layout(0, {oTwelveBits}), Layout(0, {oShortPitch}),
          Layout(0, {Window(0, 0, 0, 360)}), oTooMany})
        EXPECT_EQ(OMX_ErrorBadParameter, fnCreate(roRefused))
            << roRefused.nLayoutId << " " << roRefused.sMosaicWinFmt[0].winStartX;
    EXPECT_EQ(OMX_ErrorBadParameter, fnMap(Map(1, {0})));  // layout 1 was never created
    ASSERT_EQ(OMX_ErrorNone, fnCreate(Layout(1, {Window(0, 0, 640, 360), Window(640, 0, 320, 180)})));
    ASSERT_EQ(OMX_ErrorNone,
              fnCreate(Layout(2, {{0, 0, 640, 360, {640, 320}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}})));
    // One window of two; a port feeds one window; 640 x 360 from 320 x 180 frames; no port 20;
    // a packed port read as semi-planar.
    for (const auto& roRefused : {Map(1, {0}), Map(1, {0, 0}), Map(1, {1, 0}), Map(1, {0, 20}), Map(2, {0})})
        EXPECT_EQ(OMX_ErrorBadParameter, fnMap(roRefused)) << roRefused.nLayoutId << " " << roRefused.omxPortList[0];
    // A layout never made reads back empty.
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oUnused = Layout(3, {Window(0, 0, 64, 64)});
    ASSERT_TRUE(Ok(fnMap(Map(1, {0, 1}))) && Ok(m_oDisplay->Param(local_uiModify, oUnused, false, true)));
    EXPECT_EQ(0u, oUnused.nNumWindows);
    // Out of Loaded, layouts are only modified, and never the one on screen.
    ASSERT_TRUE(m_oDisplay->GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, fnCreate(Layout(2, {Window(0, 0, 640, 360)})));
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oModify = Layout(1, {Window(0, 0, 640, 360)});
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, m_oDisplay->Param(local_uiModify, oModify, true, true));
    oModify.nLayoutId = 4;
    EXPECT_TRUE(Ok(m_oDisplay->Param(local_uiModify, oModify, true, true)) && Ok(fnMap(Map(4, {0}))));
    ASSERT_TRUE(m_oDisplay->GoToLoaded());
}

TEST_F(DisplayComponent, SnapshotShowsEachWindowAtItsPlace)
{
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("none.ppm").c_str()));
    // Port 1's window overlaps port 0's and lies above it; port 2, 4:2:0 in 64 x 32 buffers shown
    // through a 32 x 16 window, has its chroma plane after the 32 luma lines of the buffer, not
    // after the window's 16.
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = Mode(320, 240, 60);
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout = Layout(
        0, {Window(100, 50, 64, 16), Window(132, 58, 32, 8, 1),
            {10, 20, 32, 16, {64, 32}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}});
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap = Map(0, {0, 1, 2});
    ASSERT_TRUE(SetUpPort(0, 64, 16, 2) && SetUpPort(1, 32, 8, 2) && SetUpPort(2, 32, 16, 2, true, 64, 32) &&
                Ok(m_oDisplay->Param(local_uiMode, oMode, true)) &&
                Ok(m_oDisplay->Param(local_uiCreate, oLayout, true)) &&
                Ok(m_oDisplay->Param(local_uiMap, oMap, true, true)) && m_oDisplay->GoToExecuting());
    for (OMX_U32 nPort : {0u, 1u, 2u})
    {
        OMX_BUFFERHEADERTYPE* po = m_oDisplay->Buffers(nPort)[0];
        const uint8_t* puc = nPort == 1 ? local_aucGreen : local_aucRed;
        for (OMX_U32 nAt = 0; nAt < po->nAllocLen; ++nAt)
            po->pBuffer[nAt] = nPort < 2 ? puc[nAt % 2 == 0 ? 0 : nAt % 4 == 1 ? 1 : 2]
                                         : nAt < 64 * 32 ? puc[0] : puc[1 + nAt % 2];
        po->nFilledLen = po->nAllocLen;
    }
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("early.ppm").c_str()));
    for (OMX_U32 nPort : {0u, 1u, 2u})
        ASSERT_EQ(OMX_ErrorNone, m_oDisplay->Submit(m_oDisplay->Buffers(nPort)[0]));
    ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(local_szDisplay, PellixCounter_FramesShown) >= 1; }));
    std::this_thread::sleep_for(g_oQuietPeriod);
    const SSnapshot o(Snapshot("shown.ppm"));
    ASSERT_TRUE(o.eWritten == OMX_ErrorNone && o.uiWidth == 320 && o.uiHeight == 240);
    EXPECT_TRUE(o.Is(0, 0, 0, 0, 0) && o.Is(99, 50, 0, 0, 0) && o.Is(164, 50, 0, 0, 0) && o.Is(100, 66, 0, 0, 0));
    EXPECT_TRUE(o.Is(100, 50, 255, 0, 0) && o.Is(163, 50, 255, 0, 0) && o.Is(131, 65, 255, 0, 0));
    EXPECT_TRUE(o.Is(132, 58, 0, 255, 0) && o.Is(163, 65, 0, 255, 0));
    EXPECT_TRUE(o.Is(10, 20, 255, 0, 0) && o.Is(41, 35, 255, 0, 0) && o.Is(42, 35, 0, 0, 0) && o.Is(41, 36, 0, 0, 0));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot("shown.png").c_str()));
    EXPECT_EQ(0u, m_oRoot.Read("shown.png").find("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(OMX_ErrorUndefined, PellixTest_WriteDisplaySnapshot(Snapshot("no/such/folder.ppm").c_str()));
}
