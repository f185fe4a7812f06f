// The encoder component's settings through the OpenMAX IL core: defaults, what it refuses, what
// it adjusts, and what its static and dynamic parameters report.
#include <gtest/gtest.h>

#include "CEncoderTestDriver.h"
#include "EngineTestSupport.h"

namespace
{
const OMX_INDEXTYPE local_ePreset = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoEncoderPreset);
const OMX_INDEXTYPE local_eStatic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVideoStaticParams);
const OMX_INDEXTYPE local_eDynamic = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVideoDynamicParams);

class H264EncoderSettings : public CEngineTest
{
protected:
    template <typename TStruct>
    TStruct Get(OMX_INDEXTYPE eIndex, bool bConfig = false)
    {
        TStruct oStruct;
        InitStruct(oStruct, 1);
        const OMX_ERRORTYPE eError = bConfig ? OMX_GetConfig(m_oDriver.Handle(), eIndex, &oStruct)
                                             : OMX_GetParameter(m_oDriver.Handle(), eIndex, &oStruct);
        EXPECT_EQ(OMX_ErrorNone, eError);
        return oStruct;
    }

    OMX_ERRORTYPE SetPort(const OMX_PARAM_PORTDEFINITIONTYPE& roPort)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oCopy = roPort;
        return OMX_SetParameter(m_oDriver.Handle(), OMX_IndexParamPortDefinition, &oCopy);
    }

    template <typename TStruct>
    OMX_ERRORTYPE Set(OMX_INDEXTYPE eIndex, TStruct oStruct, bool bConfig = false)
    {
        return bConfig ? OMX_SetConfig(m_oDriver.Handle(), eIndex, &oStruct)
                       : OMX_SetParameter(m_oDriver.Handle(), eIndex, &oStruct);
    }

    CEncoderTestDriver m_oDriver;
};
} // namespace

TEST_F(H264EncoderSettings, DefaultsDescribeA1080p60MainProfileStream)
{
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Client().GetHandleResult());
    const OMX_PARAM_PORTDEFINITIONTYPE oInput = m_oDriver.Client().PortDefinition(0);
    EXPECT_EQ(OMX_DirInput, oInput.eDir);
    EXPECT_EQ(OMX_COLOR_FormatYUV420SemiPlanar, oInput.format.video.eColorFormat);
    EXPECT_EQ(1920u, oInput.format.video.nFrameWidth);
    EXPECT_EQ(1080u, oInput.format.video.nFrameHeight);
    EXPECT_EQ(1920u * 1080u * 3u / 2u, oInput.nBufferSize);
    const OMX_PARAM_PORTDEFINITIONTYPE oOutput = m_oDriver.Client().PortDefinition(1);
    EXPECT_EQ(OMX_DirOutput, oOutput.eDir);
    EXPECT_EQ(OMX_VIDEO_CodingAVC, oOutput.format.video.eCompressionFormat);

    const auto oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    EXPECT_EQ(OMX_VIDEO_AVCProfileMain, oAvc.eProfile);
    EXPECT_EQ(OMX_VIDEO_AVCLevel42, oAvc.eLevel);
    const auto oDynamic = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams;
    EXPECT_EQ(static_cast<OMX_S32>(oOutput.format.video.nBitrate), oDynamic.videnc2DynamicParams.targetBitRate);
    EXPECT_EQ(60000, oDynamic.videnc2DynamicParams.targetFrameRate);
    EXPECT_EQ(static_cast<OMX_S32>(oAvc.nPFrames + 1), oDynamic.videnc2DynamicParams.intraFrameInterval);
    EXPECT_EQ(IH264_RATECONTROLPARAMS_DEFAULTPRESET, oDynamic.rateControlParams.rateControlParamsPreset);

    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_EQ(77, oStatic.videnc2Params.profile);
    EXPECT_EQ(42, oStatic.videnc2Params.level);
    EXPECT_EQ(IH264_ENTROPYCODING_CABAC, oStatic.entropyCodingMode);
    // Two slice threads: 68 macroblock rows split at row 34.
    EXPECT_EQ(IH264_SLICEMODE_MBUNIT, oStatic.sliceCodingParams.sliceMode);
    EXPECT_EQ(34, oStatic.sliceCodingParams.sliceStartOffset[0]);
    EXPECT_EQ(34 * 120, oStatic.sliceCodingParams.sliceUnitSize);
}

TEST_F(H264EncoderSettings, InputPortTakesNv12OnlyAndCompletesItsLayout)
{
    OMX_PARAM_PORTDEFINITIONTYPE oInput = m_oDriver.Client().PortDefinition(0);
    oInput.format.video.nFrameWidth = 1280;
    oInput.format.video.nFrameHeight = 720;
    oInput.format.video.nStride = 0;
    oInput.nBufferSize = 1;
    ASSERT_EQ(OMX_ErrorNone, SetPort(oInput));
    const OMX_PARAM_PORTDEFINITIONTYPE oRead = m_oDriver.Client().PortDefinition(0);
    EXPECT_EQ(1280, oRead.format.video.nStride);
    EXPECT_EQ(720u, oRead.format.video.nSliceHeight);
    EXPECT_EQ(1280u * 720u * 3u / 2u, oRead.nBufferSize);

    OMX_PARAM_PORTDEFINITIONTYPE oBad = oRead;
    oBad.format.video.eColorFormat = OMX_COLOR_FormatYCbYCr;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oBad));
    oBad = oRead;
    oBad.format.video.nFrameWidth = 1281;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oBad));
    oBad = oRead;
    oBad.format.video.nFrameHeight = 4098;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oBad));
    oBad = oRead;
    oBad.format.video.xFramerate = 0;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oBad));

    OMX_PARAM_PORTDEFINITIONTYPE oOutput = m_oDriver.Client().PortDefinition(1);
    oOutput.format.video.nBitrate = 0;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oOutput));
    oOutput.format.video.nBitrate = 4000000;
    oOutput.format.video.eCompressionFormat = OMX_VIDEO_CodingMPEG4;
    EXPECT_EQ(OMX_ErrorBadParameter, SetPort(oOutput));
    // Nothing refused was kept.
    EXPECT_EQ(1280u, m_oDriver.Client().PortDefinition(0).format.video.nFrameWidth);
    EXPECT_EQ(OMX_VIDEO_CodingAVC, m_oDriver.Client().PortDefinition(1).format.video.eCompressionFormat);
}

TEST_F(H264EncoderSettings, PresetAndAvcAreCheckedAndSetOnlyWhileLoaded)
{
    auto oPreset = Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset);
    oPreset.eEncodingModePreset = static_cast<OMX_VIDEO_ENCODING_MODE_PRESETTYPE>(7);
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_ePreset, oPreset));
    oPreset.eEncodingModePreset = OMX_Video_Enc_User_Defined;
    oPreset.eRateControlPreset = OMX_Video_RC_Twopass;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_ePreset, oPreset));
    oPreset.eRateControlPreset = OMX_Video_RC_Storage;
    EXPECT_EQ(OMX_ErrorNone, Set(local_ePreset, oPreset));
    EXPECT_EQ(OMX_Video_Enc_User_Defined, Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset).eEncodingModePreset);

    auto oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    oAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oAvc.nBFrames = 2;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamVideoAvc, oAvc));
    oAvc.eProfile = OMX_VIDEO_AVCProfileExtended;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamVideoAvc, oAvc));
    oAvc.eProfile = OMX_VIDEO_AVCProfileMain;
    oAvc.eLevel = static_cast<OMX_VIDEO_AVCLEVELTYPE>(0x10000);
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamVideoAvc, oAvc));
    oAvc.eLevel = OMX_VIDEO_AVCLevel5;
    oAvc.bMBAFF = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(OMX_IndexParamVideoAvc, oAvc));

    // The entropy coding and the picture types follow the profile and the intervals.
    oAvc.bMBAFF = OMX_FALSE;
    oAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oAvc.nBFrames = 0;
    oAvc.nPFrames = 89;
    oAvc.bEntropyCodingCABAC = OMX_TRUE;
    ASSERT_EQ(OMX_ErrorNone, Set(OMX_IndexParamVideoAvc, oAvc));
    oAvc = Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc);
    EXPECT_EQ(OMX_FALSE, oAvc.bEntropyCodingCABAC);
    EXPECT_EQ(static_cast<OMX_U32>(OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP), oAvc.nAllowedPictureTypes);
    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_EQ(66, oStatic.videnc2Params.profile);
    EXPECT_EQ(50, oStatic.videnc2Params.level);
    EXPECT_EQ(OMX_Video_RC_Storage, oStatic.videnc2Params.rateControlPreset);
    EXPECT_EQ(IH264_ENTROPYCODING_CAVLC, oStatic.entropyCodingMode);
    EXPECT_EQ(90, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true)
                      .videoDynamicParams.videnc2DynamicParams.intraFrameInterval);

    // Static parameters are read only; outside Loaded the preset and the AVC parameters stay.
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, Set(local_eStatic, Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic)));
    ASSERT_EQ(OMX_ErrorNone, m_oDriver.Configure(SEncoderSetup()));
    ASSERT_TRUE(m_oDriver.Start(0));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(local_ePreset, Get<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE>(local_ePreset)));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(OMX_IndexParamVideoAvc, Get<OMX_VIDEO_PARAM_AVCTYPE>(OMX_IndexParamVideoAvc)));
    EXPECT_TRUE(m_oDriver.Stop());
}

TEST_F(H264EncoderSettings, DynamicParametersChangeRateAndLimitsOnly)
{
    auto oDynamic = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true);
    // Written back as read: accepted, nothing changes.
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oDynamic, true));

    auto oBad = oDynamic;
    oBad.videoDynamicParams.videnc2DynamicParams.inputWidth = 1280;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    oBad = oDynamic;
    oBad.videoDynamicParams.videnc2DynamicParams.intraFrameInterval = 30;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    oBad = oDynamic;
    oBad.videoDynamicParams.videnc2DynamicParams.targetBitRate = 0;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    oBad = oDynamic;
    IH264ENC_RateControlParams& roBadRate = oBad.videoDynamicParams.rateControlParams;
    roBadRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
    roBadRate.qpMinB = 30;
    roBadRate.qpMaxB = 20;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    roBadRate.qpMinB = 0;
    roBadRate.qpMaxP = 52;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    roBadRate.rateControlParamsPreset = 3;
    EXPECT_EQ(OMX_ErrorBadParameter, Set(local_eDynamic, oBad, true));
    OMX_VIDEO_PARAM_DYNAMICPARAMS oOtherPort = oDynamic;
    oOtherPort.nPortIndex = 0;
    EXPECT_EQ(OMX_ErrorBadPortIndex, Set(local_eDynamic, oOtherPort, true));

    auto oGood = oDynamic;
    oGood.videoDynamicParams.videnc2DynamicParams.targetBitRate = 3000000;
    IH264ENC_RateControlParams& roRate = oGood.videoDynamicParams.rateControlParams;
    roRate.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
    roRate.qpMinI = 20;
    roRate.qpMaxI = 30;
    roRate.qpMinP = 22;
    roRate.qpMaxP = 40;
    roRate.qpMinB = 10;
    roRate.qpMaxB = 51;
    roRate.allowFrameSkip = 1;
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oGood, true));
    const auto oRead = Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams;
    EXPECT_EQ(3000000, oRead.videnc2DynamicParams.targetBitRate);
    EXPECT_EQ(0, memcmp(&roRate, &oRead.rateControlParams, sizeof(roRate)));
    // The static parameters show the limits that the next stream is created with.
    const auto oStatic = Get<OMX_VIDEO_PARAM_STATICPARAMS>(local_eStatic).videoStaticParams;
    EXPECT_EQ(0, memcmp(&roRate, &oStatic.rateControlParams, sizeof(roRate)));

    // "Existing" keeps the limits in force whatever the record says.
    auto oExisting = oGood;
    oExisting.videoDynamicParams.rateControlParams.rateControlParamsPreset = IH264_RATECONTROLPARAMS_EXISTING;
    oExisting.videoDynamicParams.rateControlParams.qpMinI = 99;
    ASSERT_EQ(OMX_ErrorNone, Set(local_eDynamic, oExisting, true));
    EXPECT_EQ(20, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true).videoDynamicParams.rateControlParams.qpMinI);

    // A bit rate set through the port definition afterwards is the one in force.
    OMX_PARAM_PORTDEFINITIONTYPE oOutput = m_oDriver.Client().PortDefinition(1);
    oOutput.format.video.nBitrate = 5000000;
    ASSERT_EQ(OMX_ErrorNone, SetPort(oOutput));
    EXPECT_EQ(5000000, Get<OMX_VIDEO_PARAM_DYNAMICPARAMS>(local_eDynamic, true)
                           .videoDynamicParams.videnc2DynamicParams.targetBitRate);
}
