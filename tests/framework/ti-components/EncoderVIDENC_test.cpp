// CVideoEncoder on the platform stand-in: the record's checks, what the platform receives from
// SetParameters and SetParametersIdle and their listings on the log, and each failing platform
// call. (VideoPath_test.cpp encodes the captured video into streams that real decoders read.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "WrapperTestSupport.h"
#include "Words.h"
#include "ti-components/EncoderVIDENC.h"

namespace
{
const OMX_U32 local_uiDynamic = OMX_TI_IndexConfigVideoDynamicParams;
const std::string local_oFile = "framework/ti-components/EncoderVIDENC/";

// The system's record: 4:2:0 at 60 frames a second, better quality, an I frame every 90, no B
// frames; quantiser limits (I, P, B minimum and maximum) in force or not, no frame skipping.
EncodingParam Record(MUINT32 uiWidth, MUINT32 uiHeight, MUINT32 uiPInterval = 1,
                     EncPreset ePreset = EncPre_BetterQuality, bool bLimits = false)
{
    // Any bit of the frame-skipping truth value skips.
    return EncodingParam{{uiWidth, uiHeight}, OmxPixFmt_YUV420, 60, 8000000, ePreset, {90, uiPInterval},
                         {bLimits, 10, 40, 12, 42, 14, 51, 0x100}};
}

class EncoderVIDENC : public CWrapperTest
{
protected:
    // SetEncoderParams, then SetParameters and (when it succeeded) SetParametersIdle at log level
    // 1: their results, the ABORT records, and the structures listed on the log, in order.
    std::vector<std::string> Configure(EncodingParam oParam, OMX_ERRORTYPE& reSet, OMX_ERRORTYPE& reIdle)
    {
        EXPECT_EQ(OMX_ErrorNone, m_oEncoder.SetEncoderParams(oParam, 8, 8));
        m_oLog = LogOf(1, [&] {
            m_aoAborts = AbortKeys([&] {
                reSet = m_oEncoder.SetParameters();
                // The dynamic parameters as the platform holds them before SetParametersIdle.
                m_auiDynamic = Words(
                    ReadParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(m_oEncoder.GetOMXHandle(), local_uiDynamic, 1, true));
                reIdle = reSet == OMX_ErrorNone ? m_oEncoder.SetParametersIdle() : OMX_ErrorNone;
            });
        });
        std::vector<std::string> aoNames;
        for (size_t uiPos = m_oLog.find("\nOMX_VIDEO_PARAM_"); uiPos != std::string::npos;
             uiPos = m_oLog.find("\nOMX_VIDEO_PARAM_", uiPos + 1))
            aoNames.push_back(m_oLog.substr(uiPos + 1, m_oLog.find('\n', uiPos + 1) - uiPos - 1));
        return aoNames;
    }

    CVideoEncoder m_oEncoder;
    std::string m_oLog;
    std::vector<std::string> m_aoAborts;
    std::vector<uint32_t> m_auiDynamic;
};
} // namespace

TEST_F(EncoderVIDENC, RefusesBadRecordsSilentlyAndKeepsTheLastGoodOne)
{
    EncodingParam oGood = Record(1920, 1200);
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.SetEncoderParams(oGood, 6, 7));
    EXPECT_TRUE(m_oEncoder.GetNumberOfInputBuffer() == 6 && m_oEncoder.GetNumberOfOutputBuffer() == 7);
    // The quantiser limits are checked (0..51, minimum at most maximum) only when they apply.
    const std::vector<std::pair<void (*)(EncodingParam&), bool>> aoCases = {
        {[](EncodingParam& ro) { ro.m_oFrameSize.m_uiCx = 1921; }, false},
        {[](EncodingParam& ro) { ro.m_oFrameSize.m_uiCy = 1201; }, false},
        {[](EncodingParam& ro) { ro.m_ePixelFormat = OmxPixFmt_YUV422; }, false},
        {[](EncodingParam& ro) { ro.m_oGop.m_uiIFrameInterval = 0; }, false},
        {[](EncodingParam& ro) { ro.m_oGop.m_uiPFrameInterval = 0; }, false},
        {[](EncodingParam& ro) { ro.m_oRateCtl = {1, 0, 51, 0, 52, 0, 51, 0}; }, false},
        {[](EncodingParam& ro) { ro.m_oRateCtl = {1, 0, 51, 0, 51, 30, 20, 0}; }, false},
        {[](EncodingParam& ro) { ro.m_oRateCtl = {0, 0, 51, 0, 52, 30, 20, 0}; }, true},
        {[](EncodingParam& ro) { ro.m_oFrameSize = {2, 2}; }, true},
        {[](EncodingParam& ro) { ro.m_oRateCtl = {1, 10, 40, 12, 42, 14, 51, 1}; }, true}};
    for (size_t i = 0; i < aoCases.size(); ++i)
    {
        EncodingParam oParam = Record(1920, 1080);
        aoCases[i].first(oParam);
        COutputCapture oErr(STDERR_FILENO);
        OMX_ERRORTYPE eError = OMX_ErrorUndefined;
        EXPECT_EQ("", LogOf(9, [&] { eError = m_oEncoder.SetEncoderParams(oParam, 3, 4); }) + oErr.Finish());
        EXPECT_EQ(aoCases[i].second ? OMX_ErrorNone : OMX_ErrorBadParameter, eError) << i;
        oGood = aoCases[i].second ? oParam : oGood;
        EXPECT_EQ(0, memcmp(&oGood, &m_oEncoder.GetEncoderParams(), sizeof(oGood))) << i;
    }
}

TEST_F(EncoderVIDENC, SendsTheRecordToThePlatformListsEachStructureAndFailsWithTheStepOfTheFailingCall)
{
    ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
    const OMX_HANDLETYPE hEncoder = m_oEncoder.GetOMXHandle();
    OMX_ERRORTYPE eSet = OMX_ErrorUndefined, eIdle = OMX_ErrorUndefined;
    // One listing after each write (and after the static read), in the order of the steps.
    EXPECT_EQ((std::vector<std::string>{"OMX_VIDEO_PARAM_ENCODER_PRESETTYPE", "OMX_VIDEO_PARAM_AVCTYPE",
                                        "OMX_VIDEO_PARAM_STATICPARAMS", "OMX_VIDEO_PARAM_DYNAMICPARAMS"}),
              Configure(Record(1920, 1080), eSet, eIdle));
    EXPECT_TRUE(eSet == OMX_ErrorNone && eIdle == OMX_ErrorNone && m_aoAborts.empty());
    // Both ports: count, size, frame size, Q16 rate; the input's stride and colour format, the
    // output's bit rate and coding. The output allocates its buffers, the input adopts its feeder's.
    const auto oIn = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hEncoder, OMX_IndexParamPortDefinition, 0);
    const auto oOut = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hEncoder, OMX_IndexParamPortDefinition, 1);
    EXPECT_EQ(
        (std::vector<OMX_U32>{8, 3110400, 1920, 1080, 60 << 16, 1920, OMX_COLOR_FormatYUV420SemiPlanar, 8, 3110400,
                              1920, 1080, 60 << 16, 8000000, OMX_VIDEO_CodingAVC, 1, 0, 8, 3110400}),
        (std::vector<OMX_U32>{
            oIn.nBufferCountActual, oIn.nBufferSize, oIn.format.video.nFrameWidth, oIn.format.video.nFrameHeight,
            oIn.format.video.xFramerate, OMX_U32(oIn.format.video.nStride), oIn.format.video.eColorFormat,
            oOut.nBufferCountActual, oOut.nBufferSize, oOut.format.video.nFrameWidth, oOut.format.video.nFrameHeight,
            oOut.format.video.xFramerate, oOut.format.video.nBitrate, oOut.format.video.eCompressionFormat,
            m_oEncoder.GetOutputPort().IsBufferProvider(), m_oEncoder.GetInputPort().IsBufferProvider(),
            m_oEncoder.GetOutputPort().GetBufferCount(), m_oEncoder.GetOutputPort().GetPortBufferInfo().uiBufferSize}));
    // Without quantiser limits the dynamic parameters go back as they were, with the bit rate.
    const auto oDynamic = ReadParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(hEncoder, local_uiDynamic, 1, true);
    const IH264ENC_DynamicParams& roH264 = oDynamic.videoDynamicParams.h264EncDynamicParams;
    EXPECT_TRUE(m_auiDynamic == Words(oDynamic) && roH264.videnc2DynamicParams.targetBitRate == 8000000 &&
                roH264.rateControlParams.rateControlParamsPreset == IH264_RATECONTROLPARAMS_DEFAULT);
    for (const char* szLine :
         {"\nOMX_VIDEO_PARAM_ENCODER_PRESETTYPE\n{\n  nSize               = ",
          "  eEncodingModePreset = 5\n  eRateControlPreset  = 0\n}\n", "  nPFrames            = 89\n",
          "  eLevel              = 8192\n", "  IH264ENC_Params\n", "    IVIDENC2_Params\n",
          "      level                   = 42\n",
          "    IH264ENC_SliceCodingParams\n", "      sliceStartOffset[0]     = 34\n",
          "  IH264ENC_DynamicParams\n    IVIDENC2_DynamicParams\n", "    IH264ENC_RateControlParams\n"})
        EXPECT_NE(std::string::npos, m_oLog.find(szLine)) << szLine << "\n" << m_oLog;
    EXPECT_EQ(4, std::count(m_oLog.begin(), m_oLog.end(), '{'));
    // Size, GOP and limits choose level, profile and presets: 1920 x 1200 is 2,304,000 pixels,
    // level 5; B frames: Main profile, storage rate control; quantiser limits: High profile, the
    // user-defined preset written after the other, the limits in the dynamic parameters.
    // Level, static level, profile, B frames, encoding preset, rate-control preset, listings.
    const std::vector<std::pair<EncodingParam, std::vector<OMX_U32>>> aoCases = {
        {Record(1920, 1200),
         {OMX_VIDEO_AVCLevel5, 50, OMX_VIDEO_AVCProfileBaseline, 0, OMX_Video_Enc_Med_Speed_High_Quality,
          OMX_Video_RC_Low_Delay, 4}},
        {Record(1280, 720, 3, EncPre_BetterSpeed),
         {OMX_VIDEO_AVCLevel42, 42, OMX_VIDEO_AVCProfileMain, 2, OMX_Video_Enc_High_Speed_Med_Quality,
          OMX_Video_RC_Storage, 4}},
        {Record(1280, 720, 3, EncPre_BetterQuality, true),
         {OMX_VIDEO_AVCLevel42, 42, OMX_VIDEO_AVCProfileHigh, 2, OMX_Video_Enc_User_Defined, OMX_Video_RC_Storage, 5}}};
    for (const auto& roCase : aoCases)
    {
        const size_t uiListings = Configure(roCase.first, eSet, eIdle).size();
        ASSERT_TRUE(eSet == OMX_ErrorNone && eIdle == OMX_ErrorNone);
        const auto oAvc = ReadParam<OMX_VIDEO_PARAM_AVCTYPE>(hEncoder, OMX_IndexParamVideoAvc, 1);
        const auto oPreset =
            ReadParam<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(hEncoder, OMX_TI_IndexParamVideoEncoderPreset, 1);
        const auto oStatic = ReadParam<OMX_VIDEO_PARAM_STATICPARAMS>(hEncoder, OMX_TI_IndexParamVideoStaticParams, 1);
        const IH264ENC_Params& roH264 = oStatic.videoStaticParams.h264EncStaticParams;
        EXPECT_EQ(roCase.second,
                  (std::vector<OMX_U32>{oAvc.eLevel, OMX_U32(roH264.videnc2Params.level),
                                        oAvc.eProfile, oAvc.nBFrames, oPreset.eEncodingModePreset,
                                        oPreset.eRateControlPreset, OMX_U32(uiListings)}));
    }
    EXPECT_NE(std::string::npos,
              m_oLog.find("  eEncodingModePreset = 2\n", m_oLog.find("  eEncodingModePreset = 5\n")));
    EXPECT_NE(std::string::npos,
              m_oLog.find("      rateControlParamsPreset = 1\n      scalingMatrixPreset     = 0\n"
                          "      rcAlgo                  = 0\n      qpI                     = -1\n"));
    const IH264ENC_RateControlParams oRate =
        ReadParam<OMX_VIDEO_PARAM_DYNAMICPARAMS>(hEncoder, local_uiDynamic, 1, true)
            .videoDynamicParams.h264EncDynamicParams.rateControlParams;
    EXPECT_EQ(
        (std::vector<int>{IH264_RATECONTROLPARAMS_USERDEFINED, -1, -1, -1, 10, 40, 12, 42, 14, 51, 1}),
        (std::vector<int>{oRate.rateControlParamsPreset, oRate.qpI, oRate.qpP, oRate.qpOffsetB, oRate.qpMinI,
                          oRate.qpMaxI, oRate.qpMinP, oRate.qpMaxP, oRate.qpMinB, oRate.qpMaxB, oRate.allowFrameSkip}));

    // A record that passes the wrapper's checks but not the platform's (no frame rate) fails at the
    // first write, with no listing.
    EncodingParam oNoRate = Record(1280, 720);
    oNoRate.m_uiFrameRate = 0;
    EXPECT_EQ(0u, Configure(oNoRate, eSet, eIdle).size());
    EXPECT_EQ(std::vector<std::string>{local_oFile + "SetParameters/OMX_ErrorBadParameter"}, m_aoAborts);
    // Each platform call of both steps failing in turn (with quantiser limits, which add a write
    // of the preset): the later calls skipped.
    const auto fnRecord = [](CVideoEncoder& ro) {
        EncodingParam oLimits = Record(1280, 720, 1, EncPre_BetterQuality, true);
        ASSERT_EQ(OMX_ErrorNone, ro.SetEncoderParams(oLimits, 8, 8));
    };
    ExpectEachCallFails<CVideoEncoder>(10, local_oFile + "SetParameters", fnRecord,
                                       [](CVideoEncoder& ro) { return ro.SetParameters(); });
    const auto fnConfigured = [&fnRecord](CVideoEncoder& ro) {
        fnRecord(ro);
        ASSERT_EQ(OMX_ErrorNone, ro.SetParameters());
    };
    ExpectEachCallFails<CVideoEncoder>(2, local_oFile + "SetParametersIdle", fnConfigured,
                                       [](CVideoEncoder& ro) { return ro.SetParametersIdle(); });
    EXPECT_EQ(OMX_ErrorNone, m_oEncoder.Deinit());
}
