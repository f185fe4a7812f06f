// The display component and its controller through the plain OMX_* calls: settings and their
// checks, mosaic layouts and port maps, frames shown at the mode's refresh rate, and the
// snapshot of the screen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "DisplayTestSupport.h"

namespace
{
const OMX_INDEXTYPE kMode = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo);
const OMX_INDEXTYPE kInstance = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCDriverInstId);
const OMX_INDEXTYPE kCreate = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCreateMosaicLayout);
const OMX_INDEXTYPE kModify = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCModifyMosaicLayout);
const OMX_INDEXTYPE kMap = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFDCMosaicPort2WinMap);
const OMX_INDEXTYPE kCsc = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc);
const OMX_INDEXTYPE kRange = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange);
const OMX_INDEXTYPE kMemory = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamBuffMemType);

// Full-range YCbCr of pure red and pure green.
const uint8_t kRed[3] = {76, 85, 255};
const uint8_t kGreen[3] = {150, 44, 21};

void Paint(OMX_BUFFERHEADERTYPE* poHeader, const uint8_t (&auiYCbCr)[3])
{
    for (OMX_U32 nAt = 0; nAt + 4 <= poHeader->nAllocLen; nAt += 4)
    {
        poHeader->pBuffer[nAt] = auiYCbCr[0];
        poHeader->pBuffer[nAt + 1] = auiYCbCr[1];
        poHeader->pBuffer[nAt + 2] = auiYCbCr[0];
        poHeader->pBuffer[nAt + 3] = auiYCbCr[2];
    }
    poHeader->nFilledLen = poHeader->nAllocLen;
}

bool IsNear(const uint8_t* puiRgb, int iR, int iG, int iB)
{
    return std::abs(puiRgb[0] - iR) <= 3 && std::abs(puiRgb[1] - iG) <= 3 && std::abs(puiRgb[2] - iB) <= 3;
}

class DisplayComponent : public CDisplayTest
{
protected:
    // The display in the given mode with port 0 (and port 1) shown through windows of w x h.
    void SetUpDisplay(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode, std::vector<OMX_VFDC_MultipleWindowFmt> aoWindows,
                      OMX_U32 nCount = 3)
    {
        ASSERT_EQ(OMX_ErrorNone, m_poDisplay->GetHandleResult());
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = roMode;
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), kMode, &oMode));
        std::vector<OMX_U32> anPorts;
        for (OMX_U32 nPort = 0; nPort < aoWindows.size(); ++nPort)
        {
            ASSERT_TRUE(EnablePort(*m_poDisplay, nPort));
            ASSERT_EQ(OMX_ErrorNone, SetUpPort(*m_poDisplay, nPort, aoWindows[nPort].winWidth,
                                               aoWindows[nPort].winHeight, nCount));
            anPorts.push_back(nPort);
        }
        OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout = MakeLayout(0, aoWindows);
        ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), kCreate, &oLayout));
        OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap = MakeMap(0, anPorts);
        ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(m_poDisplay->Handle(), kMap, &oMap));
        ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SendState(OMX_StateIdle));
        for (OMX_U32 nPort : anPorts)
            ASSERT_EQ(OMX_ErrorNone, m_poDisplay->AllocateBuffers(nPort, nCount));
        ASSERT_TRUE(m_poDisplay->WaitState(OMX_StateIdle));
        ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateExecuting));
    }

    // Frames shown over a measured second while buffers are handed back at once, against the
    // rate the mode implies; the bounds are wide so that a busy machine cannot break it.
    void ExpectRate(double dExpectedPerSecond, unsigned long long uiBefore)
    {
        ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SubmitAll(0, true));
        ASSERT_TRUE(Eventually([&] { return Shown() - uiBefore >= 5; }));
        const unsigned long long uiStart = Shown();
        const auto oStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
        const double dRate = static_cast<double>(Shown() - uiStart) / dSeconds;
        printf("frames shown per second: %.1f (mode: %.0f)\n", dRate, dExpectedPerSecond);
        EXPECT_GT(dRate, 0.5 * dExpectedPerSecond);
        EXPECT_LT(dRate, 1.5 * dExpectedPerSecond);
    }

    unsigned long long Shown() const { return PellixTest_GetCounter(DISPLAY_NAME, PellixCounter_FramesShown); }

    std::string Snapshot(const char* szName) const { return (m_oRoot.Path() / szName).string(); }

    void SetUp() override
    {
        CDisplayTest::SetUp();
        m_poDisplay.reset(new COmxTestClient(DISPLAY_NAME));
    }
    void TearDown() override
    {
        m_poDisplay.reset();
        CDisplayTest::TearDown();
    }

    std::unique_ptr<COmxTestClient> m_poDisplay;
};

TEST_F(DisplayComponent, PortsWaitToBeEnabledAndSettingsAreCheckedAndReadBack)
{
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->GetHandleResult());
    COmxTestClient oController(DISPLAY_CONTROL_NAME);
    EXPECT_EQ(OMX_FALSE, m_poDisplay->PortDefinition(0).bEnabled);
    EXPECT_EQ(OMX_FALSE, m_poDisplay->PortDefinition(19).bEnabled);

    for (OMX_HANDLETYPE hHandle : {m_poDisplay->Handle(), oController.Handle()})
    {
        OMX_PARAM_VFDC_DRIVERINSTID oInstance;
        InitStruct(oInstance);
        oInstance.nDrvInstID = 1;
        oInstance.eDispVencMode = OMX_DC_MODE_CUSTOM;
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hHandle, kInstance, &oInstance));
        oInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD0;
        EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hHandle, kInstance, &oInstance));

        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = MakeMode(1280, 720, 0);
        EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hHandle, kMode, &oMode));
        oMode = MakeMode(1280, 720, 50);
        oMode.hBackPorch = 220;
        EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hHandle, kMode, &oMode));
        OMX_PARAM_DC_CUSTOM_MODE_INFO oRead = MakeMode(0, 0, 0);
        ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hHandle, kMode, &oRead));
        EXPECT_EQ(0, memcmp(&oMode, &oRead, sizeof(oMode)));
    }

    OMX_PARAM_BUFFER_MEMORYTYPE oMemory;
    InitStruct(oMemory, 3);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_CUSTOM_TILER;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(m_poDisplay->Handle(), kMemory, &oMemory));

    OMX_CONFIG_CTRL_SET_CSC oCsc;
    InitStruct(oCsc);
    oCsc.auiRedVector[0] = 0x1C00;     // -1.0
    oCsc.auiOffsetVector[2] = 0x1000;  // beyond the 12 bits of an offset
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetConfig(oController.Handle(), kCsc, &oCsc));
    oCsc.auiOffsetVector[2] = 0xFFF;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(oController.Handle(), kCsc, &oCsc));
    OMX_CONFIG_CTRL_SET_CSC oCscRead;
    InitStruct(oCscRead);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(oController.Handle(), kCsc, &oCscRead));
    EXPECT_EQ(0x1C00u, oCscRead.auiRedVector[0]);
    EXPECT_EQ(0xFFFu, oCscRead.auiOffsetVector[2]);

    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    InitStruct(oRange);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oController.Handle(), kRange, &oRange));
    EXPECT_EQ(OMX_FALSE, oRange.bFullRange);
    oRange.bFullRange = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(oController.Handle(), kRange, &oRange));

    // Without ports to wait for, both reach Idle at once.
    ASSERT_TRUE(oController.GoTo(OMX_StateIdle));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetParameter(oController.Handle(), kRange, &oRange));
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(oController.Handle(), kCsc, &oCsc));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateLoaded));
    ASSERT_TRUE(oController.GoTo(OMX_StateLoaded));
}

TEST_F(DisplayComponent, LayoutsAndPortMapsAreValidated)
{
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->GetHandleResult());
    const OMX_HANDLETYPE hDisplay = m_poDisplay->Handle();
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = MakeMode(1280, 720, 60);
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(hDisplay, kMode, &oMode));
    ASSERT_TRUE(EnablePort(*m_poDisplay, 0));
    ASSERT_TRUE(EnablePort(*m_poDisplay, 1));
    ASSERT_EQ(OMX_ErrorNone, SetUpPort(*m_poDisplay, 0, 640, 360));
    ASSERT_EQ(OMX_ErrorNone, SetUpPort(*m_poDisplay, 1, 320, 180));

    auto Create = [hDisplay](OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout) {
        return OMX_SetParameter(hDisplay, kCreate, &oLayout);
    };
    auto Map = [hDisplay](OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap) { return OMX_SetConfig(hDisplay, kMap, &oMap); };

    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(0, {MakeWindow(700, 0, 640, 360)})));  // off the screen
    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(0, {MakeWindow(0, 400, 640, 360)})));
    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(5, {MakeWindow(0, 0, 640, 360)})));
    OMX_VFDC_MultipleWindowFmt oWindow = MakeWindow(0, 0, 640, 360);
    oWindow.bpp = VFDC_BPP_BITS12;
    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(0, {oWindow})));
    oWindow = MakeWindow(0, 0, 640, 360);
    oWindow.pitch[0] = 1279;
    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(0, {oWindow})));
    oWindow.winWidth = 0;
    EXPECT_EQ(OMX_ErrorBadParameter, Create(MakeLayout(0, {oWindow})));
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oTooMany = MakeLayout(0, {});
    oTooMany.nNumWindows = OMX_VFDC_MAX_WINDOWS + 1;
    EXPECT_EQ(OMX_ErrorBadParameter, Create(oTooMany));

    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(1, {0})));  // layout 1 was never created
    ASSERT_EQ(OMX_ErrorNone, Create(MakeLayout(1, {MakeWindow(0, 0, 640, 360), MakeWindow(640, 0, 320, 180)})));
    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(1, {0})));        // one window of two
    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(1, {0, 0})));     // a port feeds one window
    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(1, {1, 0})));     // 640 x 360 from 320 x 180 frames
    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(1, {0, 20})));
    ASSERT_EQ(OMX_ErrorNone, Create(MakeLayout(2, {{0, 0, 640, 360, {640, 320}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}})));
    EXPECT_EQ(OMX_ErrorBadParameter, Map(MakeMap(2, {0})));        // a packed port read as semi-planar
    ASSERT_EQ(OMX_ErrorNone, Map(MakeMap(1, {0, 1})));

    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMapRead = MakeMap(0, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hDisplay, kMap, &oMapRead));
    EXPECT_EQ(1u, oMapRead.nLayoutId);
    EXPECT_EQ(2u, oMapRead.numWindows);
    EXPECT_EQ(1u, oMapRead.omxPortList[1]);
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayoutRead = MakeLayout(1, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hDisplay, kCreate, &oLayoutRead));
    EXPECT_EQ(2u, oLayoutRead.nNumWindows);
    EXPECT_EQ(640u, oLayoutRead.sMosaicWinFmt[1].winStartX);
    oLayoutRead = MakeLayout(3, {});
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hDisplay, kModify, &oLayoutRead));
    EXPECT_EQ(0u, oLayoutRead.nNumWindows);

    // Out of Loaded, layouts are only modified, and never the one on screen.
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->AllocateBuffers(0, 3));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->AllocateBuffers(1, 3));
    ASSERT_TRUE(m_poDisplay->WaitState(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Create(MakeLayout(2, {MakeWindow(0, 0, 640, 360)})));
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oModify = MakeLayout(1, {MakeWindow(0, 0, 640, 360)});
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetConfig(hDisplay, kModify, &oModify));
    oModify.nLayoutId = 4;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(hDisplay, kModify, &oModify));
    EXPECT_EQ(OMX_ErrorNone, Map(MakeMap(4, {0})));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}

TEST_F(DisplayComponent, EachFrameStaysOnScreenUntilTheNextRefreshReplacesIt)
{
    SetUpDisplay(MakeMode(1280, 720, 60), {MakeWindow(0, 0, 64, 16)});
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SubmitAll(0, true));
    ASSERT_TRUE(Eventually([this] { return Shown() == 3; }));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(3u, Shown());
    // The last frame is still on screen: its buffer stays with the display.
    EXPECT_EQ(2u, m_poDisplay->ReturnedCount(0));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateIdle));
    EXPECT_EQ(3u, m_poDisplay->ReturnedCount(0));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}

TEST_F(DisplayComponent, FramesAreShownAtTheRefreshRateOfTheMode)
{
    std::atomic<bool> bResubmit{true};
    m_poDisplay->OnEmptyDone([&bResubmit, this](OMX_BUFFERHEADERTYPE* poHeader) {
        if (bResubmit)
            OMX_EmptyThisBuffer(m_poDisplay->Handle(), poHeader);
    });
    SetUpDisplay(MakeMode(1280, 720, 30), {MakeWindow(0, 0, 64, 16)});
    ExpectRate(30.0, 0);
    bResubmit = false;
    ASSERT_TRUE(m_poDisplay->GoToLoaded());

    // An interlaced mode of 100 fields per second shows 50 frames.
    const unsigned long long uiBefore = Shown();
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = MakeMode(1920, 540, 100, true);
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), kMode, &oMode));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->AllocateBuffers(0, 3));
    ASSERT_TRUE(m_poDisplay->WaitState(OMX_StateIdle));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateExecuting));
    bResubmit = true;
    ExpectRate(50.0, uiBefore);
    bResubmit = false;
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}

TEST_F(DisplayComponent, SnapshotShowsEachWindowAtItsPlaceAndOutlivesTheStop)
{
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("none.ppm").c_str()));
    // Port 1's window overlaps port 0's and lies above it.
    OMX_VFDC_MultipleWindowFmt oUpper = MakeWindow(132, 58, 32, 8);
    oUpper.priority = 1;
    SetUpDisplay(MakeMode(320, 240, 60), {MakeWindow(100, 50, 64, 16), oUpper}, 2);
    std::vector<OMX_BUFFERHEADERTYPE*> apoRed = m_poDisplay->Buffers(0);
    std::vector<OMX_BUFFERHEADERTYPE*> apoGreen = m_poDisplay->Buffers(1);
    Paint(apoRed[0], kRed);
    Paint(apoGreen[0], kGreen);
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("early.ppm").c_str()));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), apoRed[0]));
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), apoGreen[0]));
    ASSERT_TRUE(Eventually([this] { return Shown() >= 1; }));
    std::this_thread::sleep_for(g_oQuietPeriod);

    for (const char* szWhen : {"running.ppm", "stopped.ppm"})
    {
        SCOPED_TRACE(szWhen);
        if (std::string(szWhen) == "stopped.ppm")
        {
            ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateIdle));
        }
        ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot(szWhen).c_str()));
        SPicture oPicture;
        ASSERT_TRUE(ReadPpm(Snapshot(szWhen), oPicture));
        ASSERT_EQ(320u, oPicture.uiWidth);
        ASSERT_EQ(240u, oPicture.uiHeight);
        EXPECT_TRUE(IsNear(oPicture.At(0, 0), 0, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(99, 50), 0, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(100, 50), 255, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(163, 50), 255, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(131, 65), 255, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(164, 50), 0, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(100, 66), 0, 0, 0));
        EXPECT_TRUE(IsNear(oPicture.At(132, 58), 0, 255, 0));
        EXPECT_TRUE(IsNear(oPicture.At(163, 65), 0, 255, 0));
    }
    ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot("stopped.png").c_str()));
    std::ifstream oPng(Snapshot("stopped.png"), std::ios::binary);
    char acSignature[8] = {};
    oPng.read(acSignature, sizeof(acSignature));
    EXPECT_EQ(0, memcmp(acSignature, "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(OMX_ErrorUndefined, PellixTest_WriteDisplaySnapshot(Snapshot("no/such/folder.ppm").c_str()));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->FreeHandle());
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot(Snapshot("gone.ppm").c_str()));
}
TEST_F(DisplayComponent, SemiPlanarWindowsReadTheChromaPlaneAfterTheWholeBuffer)
{
    // A 4:2:0 port of 64 x 32 buffers shown through a 32 x 16 window: the chroma plane starts
    // after the 32 luma lines of the buffer, not after the window's 16.
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->GetHandleResult());
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = MakeMode(320, 240, 60);
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), kMode, &oMode));
    ASSERT_TRUE(EnablePort(*m_poDisplay, 0));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = m_poDisplay->PortDefinition(0);
    oDefinition.format.video.nFrameWidth = 32;
    oDefinition.format.video.nFrameHeight = 16;
    oDefinition.format.video.nStride = 64;
    oDefinition.format.video.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
    oDefinition.nBufferCountActual = 2;
    oDefinition.nBufferSize = 64 * 32 * 3 / 2;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), OMX_IndexParamPortDefinition, &oDefinition));
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT oLayout =
        MakeLayout(0, {{10, 20, 32, 16, {64, 32}, VFDC_DF_YUV422SP_VU, VFDC_BPP_BITS12, 0}});
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(m_poDisplay->Handle(), kCreate, &oLayout));
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP oMap = MakeMap(0, {0});
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(m_poDisplay->Handle(), kMap, &oMap));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, m_poDisplay->AllocateBuffers(0, 2));
    ASSERT_TRUE(m_poDisplay->WaitState(OMX_StateIdle));
    ASSERT_TRUE(m_poDisplay->GoTo(OMX_StateExecuting));

    OMX_BUFFERHEADERTYPE* poHeader = m_poDisplay->Buffers(0)[0];
    memset(poHeader->pBuffer, kRed[0], 64 * 32);
    for (OMX_U32 nAt = 64 * 32; nAt + 2 <= poHeader->nAllocLen; nAt += 2)
    {
        poHeader->pBuffer[nAt] = kRed[1];
        poHeader->pBuffer[nAt + 1] = kRed[2];
    }
    poHeader->nFilledLen = 64 * 32 * 3 / 2;
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(m_poDisplay->Handle(), poHeader));
    ASSERT_TRUE(Eventually([this] { return Shown() >= 1; }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(Snapshot("semi.ppm").c_str()));
    SPicture oPicture;
    ASSERT_TRUE(ReadPpm(Snapshot("semi.ppm"), oPicture));
    EXPECT_TRUE(IsNear(oPicture.At(10, 20), 255, 0, 0));
    EXPECT_TRUE(IsNear(oPicture.At(41, 35), 255, 0, 0));
    EXPECT_TRUE(IsNear(oPicture.At(42, 35), 0, 0, 0));
    EXPECT_TRUE(IsNear(oPicture.At(41, 36), 0, 0, 0));
    ASSERT_TRUE(m_poDisplay->GoToLoaded());
}
} // namespace
