// The display component ("OMX.TI.VPSSM3.VFDC") and its controller ("OMX.TI.VPSSM3.CTRL.DC")
// through the plain OMX_* calls: the driver's files below the platform root and the EDID of the
// monitor PELLIX_SIM_MONITOR names (read back with the library's EDID reader), settings and their
// checks, mosaic layouts and port maps, frames shown at the mode's refresh rate, and the snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "OutputCapture.h"
#include "TempDir.h"
#include "edid/Edid.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szDisplay = "OMX.TI.VPSSM3.VFDC";
const char* const local_szController = "OMX.TI.VPSSM3.CTRL.DC";
const auto local_eMode = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo);
const auto local_eCreate = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCreateMosaicLayout);
const auto local_eModify = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCModifyMosaicLayout);
const auto local_eMap = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCMosaicPort2WinMap);
const auto local_eCsc = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc);
const auto local_eRange = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange);
// Full-range YCbCr of pure red and pure green.
const uint8_t local_aucRed[3] = {76, 85, 255};
const uint8_t local_aucGreen[3] = {150, 44, 21};

OMX_PARAM_DC_CUSTOM_MODE_INFO Mode(OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nFps, bool bInterlaced = false)
{
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode;
    InitStruct(oMode);
    oMode.width = nWidth;
    oMode.height = nHeight;
    oMode.fps = nFps;
    oMode.scanFormat = bInterlaced ? OMX_DC_SF_INTERLACED : OMX_SF_PROGRESSIVE;
    oMode.pixelClock = 74250;
    return oMode;
}

// One packed 4:2:2 window of w x h at (x, y) reading a buffer of the same size.
OMX_VFDC_MultipleWindowFmt Window(OMX_U32 nX, OMX_U32 nY, OMX_U32 nWidth, OMX_U32 nHeight)
{
    return OMX_VFDC_MultipleWindowFmt{nX, nY, nWidth, nHeight, {2 * nWidth, 0}, VFDC_DF_YUV422I_YVYU, VFDC_BPP_BITS16, 0};
}

OMX_PARAM_VFDC_CREATEMOSAICLAYOUT Layout(OMX_U32 nLayoutId, const std::vector<OMX_VFDC_MultipleWindowFmt>& aoWindows)
{
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout;
    InitStruct(oLayout);
    oLayout.nLayoutId = nLayoutId;
    oLayout.nNumWindows = static_cast<OMX_U32>(aoWindows.size());
    std::copy(aoWindows.begin(), aoWindows.end(), oLayout.sMosaicWinFmt);
    return oLayout;
}

OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP Map(OMX_U32 nLayoutId, const std::vector<OMX_U32>& anPorts)
{
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap;
    InitStruct(oMap);
    oMap.nLayoutId = nLayoutId;
    oMap.numWindows = static_cast<OMX_U32>(anPorts.size());
    std::copy(anPorts.begin(), anPorts.end(), oMap.omxPortList);
    return oMap;
}

// Port nPort as nCount buffers of w x h frames, packed 4:2:2 or (bSemiPlanar) 4:2:0 lines of
// uiStride bytes.
OMX_ERRORTYPE SetUpPort(COmxTestClient& roClient, OMX_U32 nPort, OMX_U32 nWidth, OMX_U32 nHeight, OMX_U32 nCount = 3,
                        bool bSemiPlanar = false, OMX_U32 nStride = 0, OMX_U32 nLines = 0)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = roClient.PortDefinition(nPort);
    oDefinition.format.video.nFrameWidth = nWidth;
    oDefinition.format.video.nFrameHeight = nHeight;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(nStride != 0 ? nStride : 2 * nWidth);
    oDefinition.format.video.eColorFormat = bSemiPlanar ? OMX_COLOR_FormatYUV420SemiPlanar : OMX_COLOR_FormatYCbYCr;
    oDefinition.nBufferCountActual = nCount;
    oDefinition.nBufferSize = bSemiPlanar ? nStride * nLines * 3 / 2 : 2 * nWidth * nHeight;
    return OMX_SetParameter(roClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition);
}

// A picture read back from a binary PPM file.
struct SPicture
{
    unsigned uiWidth = 0, uiHeight = 0;
    std::vector<uint8_t> auiRgb;
    // The pixel at (x, y) is within 3 of the colour.
    bool Is(unsigned uiX, unsigned uiY, int iR, int iG, int iB) const
    {
        const uint8_t* puiRgb = &auiRgb[(size_t(uiY) * uiWidth + uiX) * 3];
        return std::abs(puiRgb[0] - iR) <= 3 && std::abs(puiRgb[1] - iG) <= 3 && std::abs(puiRgb[2] - iB) <= 3;
    }
};

class DisplayComponent : public CEngineTest
{
protected:
    std::string DriverFile(const char* szName) const
    {
        return m_oRoot.Read(std::string("sys/devices/platform/vpss/display0/") + szName);
    }
    // The driver's EDID file as the controller writes it for the monitor (the file is made anew).
    std::string EdidFileFor(const std::string& roMonitor)
    {
        std::filesystem::remove(m_oRoot.Path() / "sys/devices/platform/vpss/display0/edid");
        CScopedEnv oMonitor("PELLIX_SIM_MONITOR", roMonitor);
        COmxTestClient oController(local_szController);
        EXPECT_EQ(OMX_ErrorNone, oController.GetHandleResult());
        return DriverFile("edid");
    }
    std::string Snapshot(const char* szName) const { return (m_oRoot.Path() / szName).string(); }
    SPicture ReadSnapshot(const char* szName) const
    {
        SPicture oPicture;
        std::ifstream oFile(Snapshot(szName), std::ios::binary);
        std::string oMagic;
        unsigned uiMax = 0;
        oFile >> oMagic >> oPicture.uiWidth >> oPicture.uiHeight >> uiMax;
        oFile.get();
        EXPECT_TRUE(oMagic == "P6" && uiMax == 255);
        oPicture.auiRgb.resize(size_t(oPicture.uiWidth) * oPicture.uiHeight * 3);
        oFile.read(reinterpret_cast<char*>(oPicture.auiRgb.data()), static_cast<std::streamsize>(oPicture.auiRgb.size()));
        EXPECT_EQ(oPicture.auiRgb.size(), static_cast<size_t>(oFile.gcount()));
        return oPicture;
    }
    unsigned long long Shown() const { return PellixTest_GetCounter(local_szDisplay, PellixCounter_FramesShown); }

    // The display in the given mode, its ports (numbered from 0) set up by fnPorts and shown
    // through the windows of layout 0, in Executing.
    void Run(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode, const std::vector<OMX_VFDC_MultipleWindowFmt>& aoWindows,
             const std::function<OMX_ERRORTYPE(OMX_U32)>& fnPort)
    {
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = roMode;
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), local_eMode, &oMode));
        std::vector<OMX_U32> anPorts;
        for (OMX_U32 nPort = 0; nPort < aoWindows.size(); ++nPort)
        {
            ASSERT_TRUE(EnablePort(nPort));
            ASSERT_EQ(OMX_ErrorNone, fnPort(nPort));
            anPorts.push_back(nPort);
        }
        OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout = Layout(0, aoWindows);
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), local_eCreate, &oLayout));
        OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap = Map(0, anPorts);
        ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(m_poDisplay->Handle(), local_eMap, &oMap));
        ASSERT_TRUE(m_poDisplay->GoToExecuting());
    }
    bool EnablePort(OMX_U32 nPort)
    {
        return Ok(OMX_SendCommand(m_poDisplay->Handle(), OMX_CommandPortEnable, nPort, nullptr)) &&
               m_poDisplay->WaitEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, nPort);
    }
    // Frames shown over a measured second while buffers are handed back at once, against the
    // rate the mode implies; the bounds are wide so that a busy machine cannot break it.
    void ExpectRate(double dExpectedPerSecond)
    {
        ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SubmitAll(0, true));
        const unsigned long long uiBefore = Shown();
        ASSERT_TRUE(Eventually([&] { return Shown() - uiBefore >= 5; }));
        const unsigned long long uiStart = Shown();
        const auto oStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double dRate = double(Shown() - uiStart) /
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
        printf("frames shown per second: %.1f (mode: %.0f)\n", dRate, dExpectedPerSecond);
        EXPECT_TRUE(dRate > 0.5 * dExpectedPerSecond && dRate < 1.5 * dExpectedPerSecond) << dRate;
    }

    CTempDir m_oRoot;
    CScopedEnv m_oRootEnv{"PELLIX_PLATFORM_ROOT", m_oRoot.Path().string()};
    CScopedEnv m_oMonitorEnv{"PELLIX_SIM_MONITOR", "1080p60"};
    std::unique_ptr<COmxTestClient> m_poDisplay;

    void SetUp() override
    {
        CEngineTest::SetUp();
        m_poDisplay.reset(new COmxTestClient(local_szDisplay));
    }
    void TearDown() override
    {
        m_poDisplay.reset();
        CEngineTest::TearDown();
    }
};
} // namespace

TEST_F(DisplayComponent, DriverFilesDescribeTheMonitorThatTheEnvironmentNames)
{
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->GetHandleResult());
    EXPECT_EQ("1\n", DriverFile("enabled"));
    EXPECT_EQ("148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("timings"));
    const std::string oBuiltIn = DriverFile("edid");
    EXPECT_EQ(0u, oBuiltIn.find("0000: 00 ff ff ff ff ff ff 00 "));
    std::unique_ptr<CEdid> poEdid(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    EXPECT_TRUE(poEdid->GetSize() == 128 && poEdid->IsChecksumValid());
    std::vector<uint8_t> aucBytes(256);
    poEdid->GetEdidBuffer(aucBytes.data(), 128);
    char szName[256] = {};
    ASSERT_TRUE(poEdid->GetDetailedMonitorName(szName, sizeof(szName)));
    EXPECT_STREQ("PELLIX HD60", szName);
    CDetailedTiming oMode;
    ASSERT_TRUE(poEdid->GetPreferredMode(oMode));
    EXPECT_EQ((std::vector<int>{1920, 1080, 60, 148500, 88, 148, 44, 4, 36, 5, 0}),
              (std::vector<int>{oMode.GetHorizontalActive(), oMode.GetVerticalActive(), oMode.GetVerticalRate(),
                                oMode.GetPixelClock(), oMode.GetHorizontalFrontPorch(), oMode.GetHorizontalBackPorch(),
                                oMode.GetHorizontalSync(), oMode.GetVerticalFrontPorch(), oMode.GetVerticalBackPorch(),
                                oMode.GetVerticalSync(), oMode.IsInterlaced() ? 1 : 0}));

    // Files already there are kept.
    m_oRoot.Write("sys/devices/platform/vpss/display0/timings", "74250,1280/110/220/40,720/5/20/5,1");
    m_oRoot.Write("sys/devices/platform/vpss/display0/enabled", "0");
    EXPECT_EQ(oBuiltIn, EdidFileFor("1080p60"));
    EXPECT_EQ("74250,1280/110/220/40,720/5/20/5,1", DriverFile("timings"));
    EXPECT_EQ("0", DriverFile("enabled"));

    // No monitor: an empty file, and nothing to read.
    EXPECT_EQ("", EdidFileFor("none"));
    EXPECT_EQ(nullptr, CEdid::Read(0));
    // The built-in interlaced monitor prefers 1080i.
    EdidFileFor("1080i60");
    poEdid.reset(CEdid::Read(0));
    ASSERT_TRUE(poEdid != nullptr && poEdid->IsChecksumValid() && poEdid->GetPreferredMode(oMode));
    EXPECT_TRUE(oMode.IsInterlaced() && oMode.GetHorizontalActive() == 1920 && oMode.GetVerticalActive() == 540 &&
                oMode.GetVerticalRate() == 60 && oMode.GetPixelClock() == 74250);

    // Dumps of edid-decode (two blocks: the driver's file holds both, the reader keeps the base
    // block), the driver's own dump and raw bytes serve as monitors too.
    std::string oDecode = "edid-decode (hex):\n\n";
    for (size_t ui = 0; ui < aucBytes.size(); ++ui)
    {
        aucBytes[ui] = ui < 128 ? aucBytes[ui] : static_cast<uint8_t>(ui * 7);
        char szByte[4];
        snprintf(szByte, sizeof(szByte), "%02x", aucBytes[ui]);
        oDecode += std::string(szByte) + (ui % 16 == 15 ? "\n" : " ");
    }
    oDecode += "\n----------------\n\nBlock 0, Base EDID:\n  EDID Structure Version & Revision: 1.3\n";
    const std::string oTwoBlocks = EdidFileFor(m_oRoot.Write("monitors/decode.txt", oDecode).string());
    EXPECT_NE(std::string::npos, oTwoBlocks.find("00F0: "));
    EXPECT_EQ(16, std::count(oTwoBlocks.begin(), oTwoBlocks.end(), '\n'));
    poEdid.reset(CEdid::Read(0));
    ASSERT_NE(nullptr, poEdid);
    std::vector<uint8_t> aucRead(poEdid->GetSize());
    poEdid->GetEdidBuffer(aucRead.data(), static_cast<MUINT32>(aucRead.size()));
    EXPECT_EQ(std::vector<uint8_t>(aucBytes.begin(), aucBytes.begin() + 128), aucRead);
    EXPECT_EQ(oTwoBlocks, EdidFileFor(m_oRoot.Write("monitors/dump.txt", oTwoBlocks).string()));
    EXPECT_EQ(oTwoBlocks, EdidFileFor(m_oRoot.Write("monitors/raw.bin", std::string(aucBytes.begin(), aucBytes.end())).string()));

    // An unreadable monitor is reported, and the built-in one serves.
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(oBuiltIn, EdidFileFor("/nonexistent/monitor.txt"));
    EXPECT_NE(std::string::npos, oErr.Finish().find("PELLIX_SIM_MONITOR=/nonexistent/monitor.txt"));
}

TEST_F(DisplayComponent, PortsWaitToBeEnabledAndSettingsAreCheckedAndReadBack)
{
    COmxTestClient oController(local_szController);
    EXPECT_TRUE(!m_poDisplay->PortDefinition(0).bEnabled && !m_poDisplay->PortDefinition(19).bEnabled);
    for (OMX_HANDLETYPE hHandle : {m_poDisplay->Handle(), oController.Handle()})
    {
        const auto eInstance = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCDriverInstId);
        OMX_PARAM_VFDC_DRIVERINSTID oInstance;
        InitStruct(oInstance);
        oInstance.nDrvInstID = 1;
        oInstance.eDispVencMode = OMX_DC_MODE_CUSTOM;
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hHandle, eInstance, &oInstance));
        oInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD0;
        EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hHandle, eInstance, &oInstance));
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = Mode(1280, 720, 0);
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hHandle, local_eMode, &oMode));
        oMode = Mode(1280, 720, 50);
        oMode.hBackPorch = 220;
        EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hHandle, local_eMode, &oMode));
        OMX_PARAM_DC_CUSTOM_MODE_INFO oRead = Mode(0, 0, 0);
        ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hHandle, local_eMode, &oRead));
        EXPECT_EQ(0, memcmp(&oMode, &oRead, sizeof(oMode)));
    }
    OMX_PARAM_BUFFER_MEMORYTYPE oMemory;
    InitStruct(oMemory, 3);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_CUSTOM_TILER;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(m_poDisplay->Handle(), static_cast<OMX_INDEXTYPE>(
                                                                                 OMX_TI_IndexParamBuffMemType), &oMemory));
    OMX_CONFIG_CTRL_SET_CSC oCsc;
    InitStruct(oCsc);
    oCsc.auiRedVector[0] = 0x1C00;     // -1.0
    oCsc.auiOffsetVector[2] = 0x1000;  // beyond the 12 bits of an offset
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetConfig(oController.Handle(), local_eCsc, &oCsc));
    oCsc.auiOffsetVector[2] = 0xFFF;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(oController.Handle(), local_eCsc, &oCsc));
    OMX_CONFIG_CTRL_SET_CSC oCscRead;
    InitStruct(oCscRead);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oController.Handle(), local_eCsc, &oCscRead));
    EXPECT_TRUE(oCscRead.auiRedVector[0] == 0x1C00 && oCscRead.auiOffsetVector[2] == 0xFFF);
    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    InitStruct(oRange);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oController.Handle(), local_eRange, &oRange));
    EXPECT_EQ(OMX_FALSE, oRange.bFullRange);
    oRange.bFullRange = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(oController.Handle(), local_eRange, &oRange));
    // Without ports to wait for, both reach Idle at once; then the range stays, the CSC may change.
    ASSERT_TRUE(oController.GoTo(OMX_StateIdle) && m_poDisplay->GoTo(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetParameter(oController.Handle(), local_eRange, &oRange));
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(oController.Handle(), local_eCsc, &oCsc));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateLoaded) && oController.GoTo(OMX_StateLoaded));
}

TEST_F(DisplayComponent, LayoutsAndPortMapsAreValidated)
{
    const OMX_HANDLETYPE hDisplay = m_poDisplay->Handle();
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = Mode(1280, 720, 60);
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(hDisplay, local_eMode, &oMode));
    ASSERT_TRUE(EnablePort(0) && EnablePort(1));
    ASSERT_TRUE(Ok(SetUpPort(*m_poDisplay, 0, 640, 360)) && Ok(SetUpPort(*m_poDisplay, 1, 320, 180)));
    const auto fnCreate = [hDisplay](OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout) {
        return OMX_SetParameter(hDisplay, local_eCreate, &oLayout);
    };
    const auto fnMap = [hDisplay](OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap) { return OMX_SetConfig(hDisplay, local_eMap, &oMap); };
    OMX_VFDC_MultipleWindowFmt oTwelveBits = Window(0, 0, 640, 360);
    oTwelveBits.bpp = VFDC_BPP_BITS12;
    OMX_VFDC_MultipleWindowFmt oShortPitch = Window(0, 0, 640, 360);
    oShortPitch.pitch[0] = 1279;
    OMX_VFDC_MultipleWindowFmt oNoWidth = Window(0, 0, 0, 360);
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oTooMany = Layout(0, {});
    oTooMany.nNumWindows = OMX_VFDC_MAX_WINDOWS + 1;
    for (const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT& roRefused :
         {Layout(0, {Window(700, 0, 640, 360)}), Layout(0, {Window(0, 400, 640, 360)}), Layout(5, {Window(0, 0, 640, 360)}),
          Layout(0, {oTwelveBits}), Layout(0, {oShortPitch}), Layout(0, {oNoWidth}), oTooMany})
        EXPECT_EQ(OMX_ErrorBadParameter, fnCreate(roRefused)) << roRefused.nLayoutId << " " << roRefused.sMosaicWinFmt[0].winStartX;
    EXPECT_EQ(OMX_ErrorBadParameter, fnMap(Map(1, {0})));  // layout 1 was never created
    ASSERT_EQ(OMX_ErrorNone, fnCreate(Layout(1, {Window(0, 0, 640, 360), Window(640, 0, 320, 180)})));
    ASSERT_EQ(OMX_ErrorNone, fnCreate(Layout(2, {{0, 0, 640, 360, {640, 320}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}})));
    // One window of two; a port feeds one window; 640 x 360 from 320 x 180 frames; no port 20;
    // a packed port read as semi-planar.
    for (const OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP& roRefused :
         {Map(1, {0}), Map(1, {0, 0}), Map(1, {1, 0}), Map(1, {0, 20}), Map(2, {0})})
        EXPECT_EQ(OMX_ErrorBadParameter, fnMap(roRefused)) << roRefused.nLayoutId << " " << roRefused.omxPortList[0];
    ASSERT_EQ(OMX_ErrorNone, fnMap(Map(1, {0, 1})));
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMapRead = Map(0, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hDisplay, local_eMap, &oMapRead));
    EXPECT_TRUE(oMapRead.nLayoutId == 1 && oMapRead.numWindows == 2 && oMapRead.omxPortList[1] == 1);
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayoutRead = Layout(1, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hDisplay, local_eCreate, &oLayoutRead));
    EXPECT_TRUE(oLayoutRead.nNumWindows == 2 && oLayoutRead.sMosaicWinFmt[1].winStartX == 640);
    oLayoutRead = Layout(3, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hDisplay, local_eModify, &oLayoutRead));
    EXPECT_EQ(0u, oLayoutRead.nNumWindows);
    // Out of Loaded, layouts are only modified, and never the one on screen.
    ASSERT_TRUE(m_poDisplay->GoToExecuting());
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, fnCreate(Layout(2, {Window(0, 0, 640, 360)})));
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oModify = Layout(1, {Window(0, 0, 640, 360)});
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetConfig(hDisplay, local_eModify, &oModify));
    oModify.nLayoutId = 4;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(hDisplay, local_eModify, &oModify));
    EXPECT_EQ(OMX_ErrorNone, fnMap(Map(4, {0})));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}

TEST_F(DisplayComponent, EachFrameStaysOnScreenUntilTheNextReplacesItAtTheRefreshRate)
{
    Run(Mode(1280, 720, 60), {Window(0, 0, 64, 16)}, [this](OMX_U32 nPort) { return SetUpPort(*m_poDisplay, nPort, 64, 16); });
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SubmitAll(0, true));
    ASSERT_TRUE(Eventually([this] { return Shown() == 3; }));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(3u, Shown());
    // The last frame is still on screen: its buffer stays with the display until Idle.
    EXPECT_EQ(2u, m_poDisplay->ReturnedCount(0));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateIdle));
    EXPECT_EQ(3u, m_poDisplay->ReturnedCount(0));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());

    // Handed back at once: 30 frames a second at 30 Hz; an interlaced mode of 100 fields shows 50.
    std::atomic<bool> bResubmit{true};
    m_poDisplay->OnEmptyDone([&bResubmit, this](OMX_BUFFERHEADERTYPE* poHeader) {
        if (bResubmit)
            OMX_EmptyThisBuffer(m_poDisplay->Handle(), poHeader);
    });
    for (const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode : {Mode(1280, 720, 30), Mode(1920, 540, 100, true)})
    {
        bResubmit = true;
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = roMode;
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), local_eMode, &oMode));
        ASSERT_TRUE(m_poDisplay->GoToExecuting());
        ExpectRate(roMode.scanFormat == OMX_DC_SF_INTERLACED ? 50.0 : 30.0);
        bResubmit = false;
        ASSERT_TRUE(m_poDisplay->GoToLoaded());
    }
}

TEST_F(DisplayComponent, SnapshotShowsEachWindowAtItsPlaceAndOutlivesTheStop)
{
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("none.ppm").c_str()));
    // Port 1's window overlaps port 0's and lies above it.
    OMX_VFDC_MultipleWindowFmt oUpper = Window(132, 58, 32, 8);
    oUpper.priority = 1;
    Run(Mode(320, 240, 60), {Window(100, 50, 64, 16), oUpper}, [this](OMX_U32 nPort) {
        return SetUpPort(*m_poDisplay, nPort, nPort == 0 ? 64 : 32, nPort == 0 ? 16 : 8, 2);
    });
    for (OMX_U32 nPort : {0u, 1u})
    {
        OMX_BUFFERHEADERTYPE* poHeader = m_poDisplay->Buffers(nPort)[0];
        const uint8_t* aucColour = nPort == 0 ? local_aucRed : local_aucGreen;
        for (OMX_U32 nAt = 0; nAt + 4 <= poHeader->nAllocLen; nAt += 4)
        {
            const uint8_t aucPair[4] = {aucColour[0], aucColour[1], aucColour[0], aucColour[2]};
            memcpy(poHeader->pBuffer + nAt, aucPair, 4);
        }
        poHeader->nFilledLen = poHeader->nAllocLen;
    }
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("early.ppm").c_str()));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), m_poDisplay->Buffers(0)[0]));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), m_poDisplay->Buffers(1)[0]));
    ASSERT_TRUE(Eventually([this] { return Shown() >= 1; }));
    std::this_thread::sleep_for(g_oQuietPeriod);
    for (const char* szWhen : {"running.ppm", "stopped.ppm"})
    {
        SCOPED_TRACE(szWhen);
        ASSERT_TRUE(szWhen[0] == 'r' || m_poDisplay->GoTo(OMX_StateIdle));
        ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot(szWhen).c_str()));
        const SPicture oPicture = ReadSnapshot(szWhen);
        ASSERT_TRUE(oPicture.uiWidth == 320 && oPicture.uiHeight == 240);
        EXPECT_TRUE(oPicture.Is(0, 0, 0, 0, 0) && oPicture.Is(99, 50, 0, 0, 0) && oPicture.Is(164, 50, 0, 0, 0) &&
                    oPicture.Is(100, 66, 0, 0, 0));
        EXPECT_TRUE(oPicture.Is(100, 50, 255, 0, 0) && oPicture.Is(163, 50, 255, 0, 0) && oPicture.Is(131, 65, 255, 0, 0));
        EXPECT_TRUE(oPicture.Is(132, 58, 0, 255, 0) && oPicture.Is(163, 65, 0, 255, 0));
    }
    ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot("stopped.png").c_str()));
    char acSignature[8] = {};
    std::ifstream(Snapshot("stopped.png"), std::ios::binary).read(acSignature, sizeof(acSignature));
    EXPECT_EQ(0, memcmp(acSignature, "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(OMX_ErrorUndefined, PellixTest_WriteDisplaySnapshot(Snapshot("no/such/folder.ppm").c_str()));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->FreeHandle());
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("gone.ppm").c_str()));
}

TEST_F(DisplayComponent, SemiPlanarWindowsReadTheChromaPlaneAfterTheWholeBuffer)
{
    // A 4:2:0 port of 64 x 32 buffers shown through a 32 x 16 window at (10, 20): the chroma
    // plane starts after the 32 luma lines of the buffer, not after the window's 16.
    Run(Mode(320, 240, 60), {{10, 20, 32, 16, {64, 32}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}},
        [this](OMX_U32 nPort) { return SetUpPort(*m_poDisplay, nPort, 32, 16, 2, true, 64, 32); });
    OMX_BUFFERHEADERTYPE* poHeader = m_poDisplay->Buffers(0)[0];
    memset(poHeader->pBuffer, local_aucRed[0], 64 * 32);
    for (OMX_U32 nAt = 64 * 32; nAt + 2 <= poHeader->nAllocLen; nAt += 2)
        memcpy(poHeader->pBuffer + nAt, local_aucRed + 1, 2);
    poHeader->nFilledLen = 64 * 32 * 3 / 2;
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), poHeader));
    ASSERT_TRUE(Eventually([this] { return Shown() >= 1; }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot("semi.ppm").c_str()));
    const SPicture oPicture = ReadSnapshot("semi.ppm");
    EXPECT_TRUE(oPicture.Is(10, 20, 255, 0, 0) && oPicture.Is(41, 35, 255, 0, 0));
    EXPECT_TRUE(oPicture.Is(42, 35, 0, 0, 0) && oPicture.Is(41, 36, 0, 0, 0));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}
