// The system's video path on the simulated platform, set up as the control library sets it up:
// capture -> deinterlacer -> display (primary output, through one window placed by FitRectangle)
// and -> encoder (secondary output) -> a sink keeping the stream. The screen shows the picture
// upright at the window's place at the display's refresh rate, live layout changes move it (and a
// failed one is reported), and the stream decodes in ffprobe and ffmpeg. Pictures and streams are
// kept in the build's artifacts folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CStreamProbe.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "WrapperTestSupport.h"
#include "ti-components/CaptureVFCC.h"
#include "ti-components/DEIMDualOutputVFPC.h"
#include "ti-components/DisplayVFDC.h"
#include "ti-components/EncoderVIDENC.h"

namespace
{
const std::filesystem::path local_oArtifacts = std::filesystem::path(PELLIX_BINARY_DIR) / "artifacts";

// The display's last frame, read back from its PPM snapshot: whether a pixel is dark.
struct SScreen
{
    explicit SScreen(const std::string& roName)
    {
        const std::string oPath = (local_oArtifacts / ("video-path-" + roName + ".ppm")).string();
        EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(oPath.c_str()));
        std::ifstream oFile(oPath, std::ios::binary);
        unsigned uiMax = 0;
        oFile >> m_oMagic >> m_uiWidth >> m_uiHeight >> uiMax;
        oFile.get();
        m_aucRgb.assign(std::istreambuf_iterator<char>(oFile), std::istreambuf_iterator<char>());
        EXPECT_EQ("P6 1920x1080", m_oMagic + " " + std::to_string(m_uiWidth) + "x" + std::to_string(m_uiHeight));
        m_aucRgb.resize(size_t(m_uiWidth) * m_uiHeight * 3);
    }
    bool IsDark(int iX, int iY) const
    {
        const char* pc = &m_aucRgb[(size_t(iY) * m_uiWidth + size_t(iX)) * 3];
        return uint8_t(pc[0]) < 48 && uint8_t(pc[1]) < 48 && uint8_t(pc[2]) < 48;
    }
    // The picture (white bar top left, black bar top right, the ramp black on the left and white
    // on the right below them) upright in the window, black around it. The moving bar is never
    // wider than 1/48 of the picture: of two samples 1/24 apart, one shows what lies under it.
    void ExpectPictureAt(const tagMRECT32& roWindow) const
    {
        const int iX = roWindow.m_oPos.m_iX, iY = roWindow.m_oPos.m_iY;
        const int iW = int(roWindow.m_oSize.m_uiCx), iH = int(roWindow.m_oSize.m_uiCy), iStep = iW / 24;
        EXPECT_FALSE(IsDark(iX + 4, iY + 4) && IsDark(iX + 4 + iStep, iY + 4)) << "top left";
        EXPECT_TRUE(IsDark(iX + iW - 4, iY + 4) || IsDark(iX + iW - 4 - iStep, iY + 4)) << "top right";
        EXPECT_TRUE(IsDark(iX + 4, iY + iH - 4) || IsDark(iX + 4 + iStep, iY + iH - 4)) << "bottom left";
        EXPECT_FALSE(IsDark(iX + iW - 4, iY + iH - 4) && IsDark(iX + iW - 4 - iStep, iY + iH - 4)) << "bottom right";
        EXPECT_TRUE((iX == 0 || IsDark(iX - 1, iY + iH / 2)) && (iY == 0 || IsDark(iX + iW / 2, iY - 1)) &&
                    (iX + iW == 1920 || IsDark(iX + iW, iY + iH / 2)) && (iY + iH == 1080 || IsDark(iX + 1, iY + iH)))
            << "around the window";
    }
    std::string m_oMagic;
    unsigned m_uiWidth = 0, m_uiHeight = 0;
    std::string m_aucRgb;
};

struct SCase
{
    const char* szSignal;
    bool bLimits;  // quantiser limits in the encoder's record
    const char* szProfile;
};

class VideoPath : public CWrapperTest, public ::testing::WithParamInterface<SCase>
{
};
} // namespace

TEST_P(VideoPath, ShowsTheFittedPictureAndEncodesADecodableStream)
{
    const SCase& roCase = GetParam();
    std::filesystem::create_directories(local_oArtifacts);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
    CCaptureVFCC oCapture;
    CDEIMDualOutput oDei;
    CDisplayVFDC oDisplay;
    CVideoEncoder oEncoder;
    CFrameSink oSink;
    oSink.m_bKeepData = true;
    for (CComponent* poComponent : std::vector<CComponent*>{&oCapture, &oDei, &oDisplay, &oEncoder, &oSink})
        ASSERT_EQ(OMX_ErrorNone, poComponent->Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 6, true, 1920,
                                                      1080, 60));
    const MSIZE32 oSize = oCapture.GetFrameSize();
    oDisplay.SetVideoOutParams(true, 1920, 1080, false, 60, 148500, 88, 148, 44, 4, 36, 5);
    tagMRECT32 oWindow;
    ASSERT_TRUE(FitRectangle(oSize, {oDisplay.GetDisplayWidth(), oDisplay.GetDisplayHeight()}, true, true, oWindow));
    ASSERT_EQ(OMX_ErrorNone, oDisplay.InitSingleWindowLayout(OmxPixFmt_YUV422, 6, oWindow));
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams(oSize, oWindow.m_oSize, oSize, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV420, oCapture.IsInterlaced(), 6, 6, 8, false));
    EncodingParam oParam = {oSize, OmxPixFmt_YUV420, oCapture.GetFrameRate(), 8000000, EncPre_BetterQuality, {90, 1},
                            {roCase.bLimits, 10, 51, 10, 51, 10, 51, 0}};
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetEncoderParams(oParam, 8, 8));
    ASSERT_EQ(OMX_ErrorNone, oCapture.ConnectTo(&oDei, 0));
    ASSERT_EQ(OMX_ErrorNone, oDei.ConnectPrimaryTo(&oDisplay, 0));
    ASSERT_EQ(OMX_ErrorNone, oDei.ConnectSecondaryTo(&oEncoder, 0));
    ASSERT_EQ(OMX_ErrorNone, oEncoder.ConnectTo(&oSink, 0));

    ASSERT_EQ(OMX_ErrorNone, oCapture.Start());
    EXPECT_EQ(OMX_StateExecuting, oDisplay.GetComponentState());
    EXPECT_EQ(OMX_StateExecuting, oDisplay.GetCtrlState());
    EXPECT_EQ("148500,1920/88/148/44,1080/4/36/5,1\n", DriverFile("timings"));
    // Frames are shown at the input's frame rate, never faster than the refresh rate: measured over
    // a second and printed; the bounds (it moves, never beyond 90 a second) are ones a busy machine
    // or a sanitizer cannot break.
    const auto fnShown = [] { return PellixTest_GetCounter("OMX.TI.VPSSM3.VFDC", PellixCounter_FramesShown); };
    ASSERT_TRUE(Eventually([&] { return fnShown() >= 5; }));
    const unsigned long long uiShown = fnShown();
    const auto oStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double dRate =
        (fnShown() - uiShown) / std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count();
    printf("%s: frames shown per second %.1f (mode: 60 Hz)\n", roCase.szSignal, dRate);
    EXPECT_TRUE(dRate >= 1 && dRate < 90) << dRate;
    SScreen(std::string(roCase.szSignal) + "-fitted").ExpectPictureAt(oWindow);
    const std::string oPng = (local_oArtifacts / ("video-path-" + std::string(roCase.szSignal) + ".png")).string();
    EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot(oPng.c_str()));  // for a person to look at
    // Ports are set while loaded only. Live changes rewrite the next layout and select it: 1,
    // 2, 3, 4, then 0 again; a matrix goes out at once.
    EXPECT_EQ(CDisplayVFDC::s_uiInvalidPort, oDisplay.AddInputPort(false, OmxPixFmt_YUV422, false, 2, oWindow.m_oSize,
                                                                   oWindow.m_oSize));
    const OMX_U32 uiMap = OMX_TI_IndexConfigVFDCMosaicPort2WinMap;
    const tagMRECT32 oMoved = {oWindow.m_oSize.m_uiCx < 1920 ? tagMPOS32{96, 48} : tagMPOS32{0, 0}, oWindow.m_oSize};
    for (OMX_U32 nExpected : {1u, 2u, 3u, 4u, 0u})
    {
        const CDisplayVFDC::MosaicRegion oRegion = {0, oMoved.m_oPos, 0};
        ASSERT_TRUE(oDisplay.SetMosaicLayout(1, &oRegion));
        EXPECT_EQ(nExpected, oDisplay.GetMosaicLayoutId());
        EXPECT_EQ(
            nExpected,
            ReadParam<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP>(oDisplay.GetOMXHandle(), uiMap, 0, true).nLayoutId);
    }
    ASSERT_TRUE(Eventually([&] { return fnShown() >= uiShown + 80; }));
    SScreen(std::string(roCase.szSignal) + "-moved").ExpectPictureAt(oMoved);
    EXPECT_TRUE(oDisplay.SetCscMatrix(CscMatrix{{1.5f, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}));
    EXPECT_EQ(1536u, ReadParam<OMX_CONFIG_CTRL_SET_CSC>(oDisplay.GetOMXCtrlHandle(), OMX_TI_IndexConfigCtrlSetCsc, 0,
                                                        true).auiRedVector[0]);
    // A failed rewrite or selection is reported; the id moves on, the screen keeps its layout.
    COutputCapture oFailures(STDOUT_FILENO);
    for (OMX_U32 uiIndex : {OMX_U32(OMX_TI_IndexConfigVFDCModifyMosaicLayout), uiMap})
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetConfig, "OMX.TI.VPSSM3.VFDC", uiIndex, 1,
                                                        OMX_ErrorInsufficientResources));
        const CDisplayVFDC::MosaicRegion oRegion = {0, {0, 0}, 0};
        EXPECT_FALSE(oDisplay.SetMosaicLayout(1, &oRegion));
        EXPECT_EQ(
            0u, ReadParam<OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP>(oDisplay.GetOMXHandle(), uiMap, 0, true).nLayoutId);
    }
    const std::string oFailed = oFailures.Finish();
    EXPECT_NE(std::string::npos, oFailed.find("Failed modifying layout id= 1!\n")) << oFailed;
    EXPECT_NE(std::string::npos, oFailed.find("Failed selecting layout id= 2!\n")) << oFailed;

    // The deinterlacer waits a second before it goes down to idle; everything ends loaded, the
    // last frame stays on the screen.
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, oCapture.Stop());
    SetInfoMessageLevel(0);
    const std::string oLog = oOut.Finish();
    const std::string oTransition =
        "Component OMX.TI.VPSSM3.VFPC.DEIMDUALOUT transition from OMX_StateExecuting to OMX_StateIdle, waiting ";
    EXPECT_NE(std::string::npos, oLog.find(oTransition + "1 sec...\n"));
    EXPECT_NE(std::string::npos, oLog.find(oTransition + "done.\n"));
    for (OMX_HANDLETYPE hHandle :
         {oCapture.GetOMXHandle(), oDei.GetOMXHandle(), oDisplay.GetOMXHandle(), oEncoder.GetOMXHandle()})
        EXPECT_EQ(OMX_StateLoaded, PlatformState(hHandle));
    SScreen(std::string(roCase.szSignal) + "-stopped").ExpectPictureAt(oMoved);

    // Parameter sets alone first, then one picture per buffer, an IDR picture every 90, in
    // capture order up to the stop (after which the stop hands back empty buffers).
    std::vector<CFrameSink::SBuffer> aoBuffers = oSink.Buffers();
    while (!aoBuffers.empty() && aoBuffers.back().nFilledLen == 0)
        aoBuffers.pop_back();
    ASSERT_GT(aoBuffers.size(), 60u);
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), aoBuffers[0].nFlags);
    for (size_t i = 1; i < aoBuffers.size(); ++i)
    {
        EXPECT_EQ((i - 1) % 90 == 0, (aoBuffers[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0) << i;
        EXPECT_TRUE(i < 2 || i + 8 > aoBuffers.size() || aoBuffers[i].nTimeStamp > aoBuffers[i - 1].nTimeStamp) << i;
    }
    const std::string oPath = (local_oArtifacts / (std::string("video-path-") + roCase.szSignal + ".h264")).string();
    std::ofstream(oPath, std::ios::binary) << oSink.Data();
    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
    EXPECT_EQ(std::to_string(oSize.m_uiCx) + "x" + std::to_string(oSize.m_uiCy) + " " + roCase.szProfile + " 42",
              std::to_string(oProbe.uiWidth) + "x" + std::to_string(oProbe.uiHeight) + " " + oProbe.oProfile + " " +
                  std::to_string(oProbe.iLevel));
    EXPECT_EQ(aoBuffers.size() - 1, oProbe.abKeyFrame.size());

    for (CComponent* poComponent : std::vector<CComponent*>{&oSink, &oEncoder, &oDisplay, &oDei, &oCapture})
        EXPECT_EQ(OMX_ErrorNone, poComponent->Deinit());
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot((m_oRoot.Path() / "gone.ppm").c_str()));
}

// A picture smaller than the screen, not scaled up; an interlaced one filling it, encoded with
// quantiser limits (High profile).
INSTANTIATE_TEST_SUITE_P(Inputs, VideoPath,
                         ::testing::Values(SCase{"1024x768p60", false, "Constrained Baseline"},
                                           SCase{"1920x1080i60", true, "High"}),
                         [](const ::testing::TestParamInfo<SCase>& roInfo)
                         { return roInfo.param.bLimits ? "Interlaced" : "Progressive"; });
