// The capture ("OMX.TI.VPSSM3.VFCC") and its receiver control ("OMX.TI.VPSSM3.CTRL.TVP") through
// the IL core: what the receiver reports for each simulated signal, and the settings both refuse,
// which the library never sends; the capture code every captured picture carries. (The frames the capture delivers are read through the library's
// wrapper in tests/framework/ti-components.)
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <tuple>

#include "CCaptureTimeCode.h"
#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "ti814x-omx.h"

namespace
{
typedef CEngineTest VideoCaptureTest;
} // namespace

TEST_F(VideoCaptureTest, ReceiverReportsTheSignalFromIdleOnAndBothRefuseWhatTheyCannotDo)
{
    COmxTestClient oReceiver("OMX.TI.VPSSM3.CTRL.TVP"), oCapture("OMX.TI.VPSSM3.VFCC");
    OMX_PARAM_CTRL_VIDDECODER_INFO oInfo =
        ReadParam<OMX_PARAM_CTRL_VIDDECODER_INFO>(oReceiver.Handle(), OMX_TI_IndexParamCTRLVidDecInfo);
    EXPECT_EQ(OMX_VID_DEC_ADV7611_DRV, oInfo.videoDecoderId);
    oInfo.videoDecoderId = static_cast<OMX_CTRL_VID_DECODER_ID>(3);
    auto oProperties =
        ReadParam<OMX_PARAM_VFCC_HWPORT_PROPERTIES>(oReceiver.Handle(), OMX_TI_IndexParamVFCCHwPortProperties);
    oProperties.nMaxChnlsPerHwPort = 2;
    auto oMemory = Initialised<OMX_PARAM_BUFFER_MEMORYTYPE>();
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_TILED_8BIT;
    auto oPortId = Initialised<OMX_PARAM_VFCC_HWPORT_ID>();
    oPortId.eHwPortId = static_cast<OMX_VIDEO_CAPTURE_HWPORT_ID>(9);
    EXPECT_EQ(OMX_ErrorBadParameter, oReceiver.Param(OMX_TI_IndexParamCTRLVidDecInfo, oInfo, true));
    EXPECT_EQ(OMX_ErrorBadParameter, oReceiver.Param(OMX_TI_IndexParamVFCCHwPortProperties, oProperties, true));
    auto oMerged = oProperties;
    oMerged.nMaxChnlsPerHwPort = 1;
    oMerged.bFieldMerged = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorBadParameter, oCapture.Param(OMX_TI_IndexParamVFCCHwPortProperties, oMerged, true));
    EXPECT_EQ(OMX_ErrorBadParameter, oCapture.Param(OMX_TI_IndexParamBuffMemType, oMemory, true));
    EXPECT_EQ(OMX_ErrorBadParameter, oCapture.Param(OMX_TI_IndexParamVFCCHwPortID, oPortId, true));
    // (What they accept is read back through the library's wrapper.)
    // The capture's port: a width or height it cannot split, a buffer too small, RGB; a stride of
    // 0 is a line of the width, the slice follows the height.
    const OMX_PARAM_PORTDEFINITIONTYPE oDefault = oCapture.PortDefinition(0);
    EXPECT_TRUE(oDefault.format.video.nFrameWidth == 1920 &&
                oDefault.format.video.eColorFormat == OMX_COLOR_FormatYCbYCr);
    const std::vector<std::tuple<OMX_U32, OMX_U32, OMX_COLOR_FORMATTYPE, OMX_U32, OMX_ERRORTYPE>> aoPorts = {
        {641, 480, OMX_COLOR_FormatYCbYCr, 641 * 480 * 2, OMX_ErrorBadParameter},
        {640, 481, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 482 * 3 / 2, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_FormatYCbYCr, 640 * 480 * 2 - 1, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_Format24bitRGB888, 640 * 480 * 3, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 480 * 3 / 2, OMX_ErrorNone}};
    for (const auto& ro : aoPorts)
        EXPECT_EQ(std::get<4>(ro), oCapture.SetPort(0, [&ro](OMX_PARAM_PORTDEFINITIONTYPE& roDefinition) {
            roDefinition.format.video.nFrameWidth = std::get<0>(ro);
            roDefinition.format.video.nFrameHeight = std::get<1>(ro);
            roDefinition.format.video.nStride = 0;
            roDefinition.format.video.eColorFormat = std::get<2>(ro);
            roDefinition.nBufferSize = std::get<3>(ro);
        })) << std::get<0>(ro) << "x" << std::get<1>(ro) << " " << std::get<3>(ro);
    EXPECT_TRUE(oCapture.PortDefinition(0).format.video.nStride == 640 &&
                oCapture.PortDefinition(0).format.video.nSliceHeight == 480);

    // Unpowered in Loaded; from Idle on the signal as it stands (one field every 1/60 s for 1080i),
    // for channel 0 only; the signal is not the client's to set; settings are for Loaded only.
    auto oDetect = Initialised<OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO>();
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation,
              oReceiver.Param(OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
    auto oRange = Initialised<OMX_PARAM_CTRL_COLOR_RANGE>();
    ASSERT_TRUE(Ok(oReceiver.Param(OMX_TI_IndexParamCtrlColorRange, oRange, true)) && oReceiver.GoTo(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, oReceiver.Param(OMX_TI_IndexParamCtrlColorRange, oRange, true));
    const std::vector<std::pair<const char*, std::vector<OMX_U32>>> aoSignals = {
        {"1920x1080p60", {1, 1920, 1080, 16667, 0}}, {"1920x1080i60", {1, 1920, 540, 16667, 1}},
        {"1280x720p50", {1, 1280, 720, 20000, 0}},   {"1918x1078p30", {1, 1918, 1078, 33333, 0}},
        {"none", {0, 0, 0, 0, 0}}};
    for (const auto& roSignal : aoSignals)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roSignal.first));
        ASSERT_EQ(OMX_ErrorNone, oReceiver.Param(OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
        EXPECT_EQ(roSignal.second,
                  (std::vector<OMX_U32>{OMX_U32(oDetect.bIsPresent), oDetect.uiFrameWidth, oDetect.uiFrameHeight,
                                        oDetect.uiFrameInterval, OMX_U32(oDetect.bInterlaced)}))
            << roSignal.first;
    }
    oDetect.uiChannelIndex = 1;
    EXPECT_EQ(OMX_ErrorBadParameter, oReceiver.Param(OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, oReceiver.Param(OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, true));
    EXPECT_TRUE(oReceiver.GoTo(OMX_StateLoaded));
}

TEST_F(VideoCaptureTest, EveryCapturedPictureCarriesItsCode)
{
    // The demanding picture in NV12, each stamped with its number and its capture time.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60:motion"));
    COmxTestClient oCapture("OMX.TI.VPSSM3.VFCC");
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetPort(0, [](OMX_PARAM_PORTDEFINITIONTYPE& ro) {
        ro.format.video.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
        ro.format.video.nFrameWidth = ro.format.video.nStride = 640;
        ro.format.video.nFrameHeight = 480;
    }));
    oCapture.Keep(true);
    oCapture.Recycle(0);
    const uint64_t uiStartUs = CCaptureTimeCode::NowUs();
    ASSERT_TRUE(oCapture.GoToExecuting() && Ok(oCapture.SubmitAll(0)));
    EXPECT_TRUE(Eventually([&] { return oCapture.Kept(0).size() >= 10; }) && oCapture.GoToLoaded());
    const uint64_t uiEndUs = CCaptureTimeCode::NowUs();
    CCaptureTimeCode::SValue oLast{uiStartUs - 1, 0};
    unsigned uiFrames = 0;
    for (const COmxTestClient::SBuffer& ro : oCapture.Kept(0))
    {
        CCaptureTimeCode::SValue o{0, 0};
        if (ro.oData.empty())  // handed back empty on the way to Loaded
            continue;
        ASSERT_TRUE(CCaptureTimeCode::Read(reinterpret_cast<const uint8_t*>(ro.oData.data()), 640, 1, 640, 480, o))
            << uiFrames;
        EXPECT_TRUE(o.uiTimeUs > oLast.uiTimeUs && o.uiTimeUs <= uiEndUs &&
                    (uiFrames++ == 0 || o.uiFrame > oLast.uiFrame))
            << o.uiTimeUs << " " << o.uiFrame;
        oLast = o;
    }
    EXPECT_GE(uiFrames, 10u);
}
