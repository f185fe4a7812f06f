// The system's video path on the simulated platform, set up as the control library sets it up:
// capture -> deinterlacer -> display (primary output, through one window placed by FitRectangle)
// and -> encoder (secondary output) -> a sink. The screen shows the picture upright at the
// window's place; live layout changes move it (and a failed one is reported), a matrix goes out at
// once, and the stop takes every component down, the deinterlacer after its second. The pictures
// are kept in the build's artifacts folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TestPicture.h"
#include "WrapperTestSupport.h"
#include "ti-components/CaptureVFCC.h"
#include "ti-components/DEIMDualOutputVFPC.h"
#include "ti-components/DisplayVFDC.h"
#include "ti-components/EncoderVIDENC.h"

namespace
{
const std::filesystem::path local_oArtifacts = std::filesystem::path(PELLIX_BINARY_DIR) / "artifacts";

// The picture (white bar top left, black bar top right, the ramp black on the left and white on
// the right below them) upright in the window of the display's last frame, black around it. The
// moving bar is never wider than 1/48 of the picture: of two samples 1/24 apart, one shows what
// lies under it.
void ExpectPictureAt(const std::string& roName, const tagMRECT32& roWindow)
{
    const SSnapshot o((local_oArtifacts / ("video-path-" + roName + ".ppm")).string());
    ASSERT_TRUE(o.eWritten == OMX_ErrorNone && o.uiWidth == 1920 && o.uiHeight == 1080);
    const int iX = roWindow.m_oPos.m_iX, iY = roWindow.m_oPos.m_iY, iW = int(roWindow.m_oSize.m_uiCx),
              iH = int(roWindow.m_oSize.m_uiCy);
    const int iStep = iW / 24;
    EXPECT_FALSE(o.IsDark(iX + 4, iY + 4) && o.IsDark(iX + 4 + iStep, iY + 4)) << roName << " top left";
    EXPECT_TRUE(o.IsDark(iX + iW - 4, iY + 4) || o.IsDark(iX + iW - 4 - iStep, iY + 4)) << roName << " top right";
    EXPECT_TRUE(o.IsDark(iX + 4, iY + iH - 4) || o.IsDark(iX + 4 + iStep, iY + iH - 4)) << roName << " bottom left";
    EXPECT_FALSE(o.IsDark(iX + iW - 4, iY + iH - 4) && o.IsDark(iX + iW - 4 - iStep, iY + iH - 4))
        << roName << " bottom right";
    EXPECT_TRUE((iX == 0 || o.IsDark(iX - 1, iY + iH / 2)) && (iY == 0 || o.IsDark(iX + iW / 2, iY - 1)) &&
                (iX + iW == 1920 || o.IsDark(iX + iW, iY + iH / 2)) && (iY + iH == 1080 || o.IsDark(iX + 1, iY + iH)))
        << roName << " around the window";
}

typedef CWrapperTest VideoPath;
} // namespace

TEST_F(VideoPath, ShowsTheFittedPictureMovesItLiveAndStopsEveryComponent)
{
    // A picture smaller than the screen, not scaled up. (The control API's end-to-end tests decode
    // what the encoder makes of it, progressive and interlaced.)
    const std::string oName = "1024x768p60";
    std::filesystem::create_directories(local_oArtifacts);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(oName.c_str()));
    CCaptureVFCC oCapture;
    CDEIMDualOutput oDei;
    CDisplayVFDC oDisplay;
    CVideoEncoder oEncoder;
    CFrameSink oSink;
    for (CComponent* po : std::vector<CComponent*>{&oCapture, &oDei, &oDisplay, &oEncoder, &oSink})
        ASSERT_EQ(OMX_ErrorNone, po->Init());
    ASSERT_EQ(OMX_ErrorNone,
              oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 6, true, 1920, 1080, 60));
    const MSIZE32 oSize = oCapture.GetFrameSize();
    oDisplay.SetVideoOutParams(true, 1920, 1080, false, 60, 148500, 88, 148, 44, 4, 36, 5);
    tagMRECT32 oWindow;
    ASSERT_TRUE(FitRectangle(oSize, {oDisplay.GetDisplayWidth(), oDisplay.GetDisplayHeight()}, true, true, oWindow));
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, oWindow));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams(oSize, oWindow.m_oSize, oSize, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV420, oCapture.IsInterlaced(), 6, 6, 8, false));
    EncodingParam oParam = {oSize, OmxPixFmt_YUV420, oCapture.GetFrameRate(), 8000000, EncPre_BetterQuality, {90, 1},
                            {false, 10, 51, 10, 51, 10, 51, 0}};
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetEncoderParams(oParam, 8, 8));
    ASSERT_TRUE(Ok(oCapture.ConnectTo(&oDei, 0)) && Ok(oDei.ConnectPrimaryTo(&oDisplay, 0)) &&
                Ok(oDei.ConnectSecondaryTo(&oEncoder, 0)) && Ok(oEncoder.ConnectTo(&oSink, 0)));

    ASSERT_EQ(OMX_ErrorNone, oCapture.Start());
    EXPECT_TRUE(oDisplay.GetComponentState() == OMX_StateExecuting && oDisplay.GetCtrlState() == OMX_StateExecuting);
    EXPECT_EQ("148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("timings"));
    // Frames are shown at the input's frame rate, never faster than the refresh rate: measured over
    // a second and printed; the bounds (it moves, never beyond 90 a second) are ones a busy machine
    // or a sanitizer cannot break. (That the display keeps showing while nobody takes the stream,
    // the control API's end-to-end tests show: before a client comes, the stream holds the
    // encoder's buffers.)
    const auto fnShown = [] { return PellixTest_GetCounter("OMX.TI.VPSSM3.VFDC", PellixCounter_FramesShown); };
    ASSERT_TRUE(Eventually([&] { return fnShown() >= 5; }));
    const unsigned long long uiShownBefore = fnShown();
    const auto oStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double dRate =
        (fnShown() - uiShownBefore) / std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    printf("%s: frames shown per second %.1f (mode: 60 Hz)\n", oName.c_str(), dRate);
    EXPECT_TRUE(dRate >= 1 && dRate < 90) << dRate;
    ExpectPictureAt(oName + "-fitted", oWindow);
    EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(
                                 (local_oArtifacts / ("video-path-" + oName + ".png")).c_str()));  // for a person
    // Ports are set while loaded only. Live changes rewrite the next layout and select it: 1, 2,
    // 3, 4, then 0 again; a matrix goes out at once.
    EXPECT_EQ(CDisplayVFDC::s_uiInvalidPort,
              oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, oWindow.m_oSize, oWindow.m_oSize));
    const OMX_U32 uiMap = OMX_TI_IndexConfigVFDCMosaicPort2WinMap;
    const tagMRECT32 oMoved = {{96, 48}, oWindow.m_oSize};
    for (OMX_U32 nExpected : {1u, 2u, 3u, 4u, 0u})
    {
        const CDisplayVFDC::MosaicRegion oRegion = {0, oMoved.m_oPos, 0};
        ASSERT_TRUE(oDisplay.SetMosaicLayout(1, &oRegion));
        EXPECT_TRUE(
            oDisplay.GetMosaicLayoutId() == nExpected &&
            ReadParam<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP>(oDisplay.GetOMXHandle(), uiMap, 0, true).nLayoutId ==
                nExpected);
    }
    const unsigned long long uiShown = fnShown();
    ASSERT_TRUE(Eventually([&] { return fnShown() >= uiShown + 20; }));
    ExpectPictureAt(oName + "-moved", oMoved);
    EXPECT_TRUE(oDisplay.SetCscMatrix(CscMatrix{{1.5f, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}));
    EXPECT_EQ(1536u,
              ReadParam<OMX_CONFIG_CTRL_SET_CSC>(oDisplay.GetOMXCtrlHandle(), OMX_TI_IndexConfigCtrlSetCsc, 0, true)
                  .auiRedVector[0]);
    // A failed rewrite or selection is reported; the id moves on, the screen keeps its layout.
    const std::string oFailed = LogOf(0, [&] {
        for (OMX_U32 uiIndex : {OMX_U32(OMX_TI_IndexConfigVFDCModifyMosaicLayout), uiMap})
        {
            ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetConfig, "OMX.TI.VPSSM3.VFDC", uiIndex, 1,
                                                            OMX_ErrorInsufficientResources));
            const CDisplayVFDC::MosaicRegion oRegion = {0, {0, 0}, 0};
            EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oRegion));
            EXPECT_EQ(
                0u,
                ReadParam<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP>(oDisplay.GetOMXHandle(), uiMap, 0, true).nLayoutId);
        }
    });
    EXPECT_TRUE(Occurrences(oFailed, "Failed modifying layout id= 1!\n") == 1 &&
                Occurrences(oFailed, "Failed selecting layout id= 2!\n") == 1)
        << oFailed;

    // The deinterlacer waits a second before it goes down to idle; everything ends loaded, the
    // last frame stays on the screen.
    const std::string oLog = LogOf(2, [&] { ASSERT_EQ(OMX_ErrorNone, oCapture.Stop()); });
    const std::string oTransition =
        "Component OMX.TI.VPSSM3.VFPC.DEIMDUALOUT transition from OMX_StateExecuting to OMX_StateIdle, waiting ";
    EXPECT_TRUE(Occurrences(oLog, oTransition + "1 sec...\n") == 1 && Occurrences(oLog, oTransition + "done.\n") == 1)
        << oLog;
    for (OMX_HANDLETYPE h :
         {oCapture.GetOMXHandle(), oDei.GetOMXHandle(), oDisplay.GetOMXHandle(), oEncoder.GetOMXHandle()})
        EXPECT_EQ(OMX_StateLoaded, PlatformState(h));
    ExpectPictureAt(oName + "-stopped", oMoved);
    for (CComponent* po : std::vector<CComponent*>{&oSink, &oEncoder, &oDisplay, &oDei, &oCapture})
        EXPECT_EQ(OMX_ErrorNone, po->Deinit());
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot((m_oRoot.Path() / "gone.ppm").c_str()));
}
