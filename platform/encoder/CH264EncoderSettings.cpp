#include "CH264EncoderSettings.h"

#include <algorithm>

#include "CPlatformPort.h"

namespace
{
const OMX_U32 local_nDefaultWidth = 1920;
const OMX_U32 local_nDefaultHeight = 1080;
const OMX_U32 local_xDefaultFramerate = 60u << 16;
const OMX_U32 local_nDefaultBitRate = 10000000;
const OMX_U32 local_nMaxFramerate = 240u << 16;
const OMX_U32 local_nMaxBFrames = 16;
const OMX_U32 local_nMaxRefFrames = 16;
// Intervals from here on mean "never again": the codec's own infinity.
const OMX_U32 local_nInfiniteKeyInterval = 1u << 30;

OMX_U32 local_FrameBytes(OMX_U32 nStride, OMX_U32 nHeight)
{
    return nStride * nHeight + nStride * nHeight / 2;
}

bool local_IsQp(int iQp)
{
    return iQp >= 0 && iQp <= CH264EncoderSettings::s_iMaxQp;
}

bool local_IsStartQp(int iQp)
{
    return iQp == -1 || local_IsQp(iQp);
}

bool local_IsRange(int iMin, int iMax)
{
    return local_IsQp(iMin) && local_IsQp(iMax) && iMin <= iMax;
}

unsigned local_KeyInterval(const OMX_VIDEO_PARAM_AVCTYPE& roAvc)
{
    return roAvc.nPFrames >= local_nInfiniteKeyInterval - 1 ? local_nInfiniteKeyInterval
                                                            : static_cast<unsigned>(roAvc.nPFrames + 1);
}

unsigned local_BFrames(const OMX_VIDEO_PARAM_AVCTYPE& roAvc)
{
    // Pictures that are all intra have nothing to predict from.
    return local_KeyInterval(roAvc) == 1 ? 0 : static_cast<unsigned>(roAvc.nBFrames);
}

OMX_S32 local_MilliFramerate(OMX_U32 xFramerate)
{
    return static_cast<OMX_S32>((static_cast<unsigned long long>(xFramerate) * 1000 + 0x8000) >> 16);
}
} // namespace

// ---- Defaults ---------------------------------------------------------------------------------

void CH264EncoderSettings::SetDefaultInputPort(CPlatformPort& roPort)
{
    roPort.SetBufferRequirements(1, 4, local_FrameBytes(local_nDefaultWidth, local_nDefaultHeight));
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
    roVideo.nFrameWidth = local_nDefaultWidth;
    roVideo.nFrameHeight = local_nDefaultHeight;
    roVideo.nStride = static_cast<OMX_S32>(local_nDefaultWidth);
    roVideo.nSliceHeight = local_nDefaultHeight;
    roVideo.xFramerate = local_xDefaultFramerate;
    roVideo.eCompressionFormat = OMX_VIDEO_CodingUnused;
    roVideo.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
}

void CH264EncoderSettings::SetDefaultOutputPort(CPlatformPort& roPort)
{
    roPort.SetBufferRequirements(1, 4, local_FrameBytes(local_nDefaultWidth, local_nDefaultHeight));
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roPort.Definition().format.video;
    roVideo.nFrameWidth = local_nDefaultWidth;
    roVideo.nFrameHeight = local_nDefaultHeight;
    roVideo.xFramerate = local_xDefaultFramerate;
    roVideo.nBitrate = local_nDefaultBitRate;
    roVideo.eCompressionFormat = OMX_VIDEO_CodingAVC;
    roVideo.eColorFormat = OMX_COLOR_FormatUnused;
}

OMX_VIDEO_PARAM_ENCODER_PRESETTYPE CH264EncoderSettings::DefaultPreset()
{
    OMX_VIDEO_PARAM_ENCODER_PRESETTYPE oPreset;
    InitStruct(oPreset, s_nOutputPort);
    oPreset.eEncodingModePreset = OMX_Video_Enc_Med_Speed_High_Quality;
    oPreset.eRateControlPreset = OMX_Video_RC_Low_Delay;
    return oPreset;
}

OMX_VIDEO_PARAM_AVCTYPE CH264EncoderSettings::DefaultAvc()
{
    OMX_VIDEO_PARAM_AVCTYPE oAvc;
    InitStruct(oAvc, s_nOutputPort);
    oAvc.nPFrames = 59;
    oAvc.nBFrames = 0;
    oAvc.nRefFrames = 1;
    oAvc.eProfile = OMX_VIDEO_AVCProfileMain;
    oAvc.eLevel = OMX_VIDEO_AVCLevel42;
    oAvc.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI | OMX_VIDEO_PictureTypeP;
    oAvc.bFrameMBsOnly = OMX_TRUE;
    oAvc.bEntropyCodingCABAC = OMX_TRUE;
    oAvc.bDirect8x8Inference = OMX_TRUE;
    oAvc.bDirectSpatialTemporal = OMX_TRUE;
    oAvc.eLoopFilterMode = OMX_VIDEO_AVCLoopFilterEnable;
    return oAvc;
}

IH264ENC_RateControlParams CH264EncoderSettings::DefaultRateControl()
{
    IH264ENC_RateControlParams oRateControl;
    memset(&oRateControl, 0, sizeof(oRateControl));
    oRateControl.rateControlParamsPreset = IH264_RATECONTROLPARAMS_DEFAULTPRESET;
    oRateControl.qpI = -1;
    oRateControl.qpP = -1;
    oRateControl.qpOffsetB = -1;
    oRateControl.qpMaxI = oRateControl.qpMaxP = oRateControl.qpMaxB = s_iMaxQp;
    return oRateControl;
}

// ---- Checks -----------------------------------------------------------------------------------

OMX_ERRORTYPE CH264EncoderSettings::CheckInputPort(OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roNew.format.video;
    if (roVideo.eColorFormat != OMX_COLOR_FormatYUV420SemiPlanar || roVideo.eCompressionFormat != OMX_VIDEO_CodingUnused)
        return OMX_ErrorBadParameter;
    if (roVideo.nFrameWidth < 2 || roVideo.nFrameWidth > s_nMaxSize || roVideo.nFrameWidth % 2 != 0 ||
        roVideo.nFrameHeight < 2 || roVideo.nFrameHeight > s_nMaxSize || roVideo.nFrameHeight % 2 != 0)
        return OMX_ErrorBadParameter;
    if (roVideo.xFramerate == 0 || roVideo.xFramerate > local_nMaxFramerate)
        return OMX_ErrorBadParameter;
    if (roVideo.nStride < static_cast<OMX_S32>(roVideo.nFrameWidth))
        roVideo.nStride = static_cast<OMX_S32>(roVideo.nFrameWidth);
    if (static_cast<OMX_U32>(roVideo.nStride) > 2 * s_nMaxSize)
        return OMX_ErrorBadParameter;
    roVideo.nSliceHeight = roVideo.nFrameHeight;
    roNew.nBufferSize = std::max(roNew.nBufferSize,
                                 local_FrameBytes(static_cast<OMX_U32>(roVideo.nStride), roVideo.nFrameHeight));
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderSettings::CheckOutputPort(const OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roNew.format.video;
    if (roVideo.eCompressionFormat != OMX_VIDEO_CodingAVC || roVideo.nBitrate == 0 || roVideo.nBitrate > s_nMaxBitRate)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderSettings::CheckPreset(const OMX_VIDEO_PARAM_ENCODER_PRESETTYPE& roNew)
{
    if (roNew.eEncodingModePreset < OMX_Video_Enc_Default || roNew.eEncodingModePreset > OMX_Video_Enc_High_Speed)
        return OMX_ErrorBadParameter;
    if (roNew.eRateControlPreset != OMX_Video_RC_Low_Delay && roNew.eRateControlPreset != OMX_Video_RC_Storage)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderSettings::CheckAvc(OMX_VIDEO_PARAM_AVCTYPE& roNew)
{
    if (ProfileIdc(roNew.eProfile) == 0 || LevelIdc(roNew.eLevel) == 0)
        return OMX_ErrorBadParameter;
    if (roNew.nBFrames > local_nMaxBFrames || roNew.nRefFrames > local_nMaxRefFrames)
        return OMX_ErrorBadParameter;
    if (roNew.eProfile == OMX_VIDEO_AVCProfileBaseline && local_BFrames(roNew) > 0)
        return OMX_ErrorBadParameter;
    if (roNew.bFrameMBsOnly != OMX_TRUE || roNew.bMBAFF != OMX_FALSE)
        return OMX_ErrorBadParameter;
    roNew.bEntropyCodingCABAC = roNew.eProfile == OMX_VIDEO_AVCProfileBaseline ? OMX_FALSE : OMX_TRUE;
    roNew.nAllowedPictureTypes = OMX_VIDEO_PictureTypeI | (local_KeyInterval(roNew) > 1 ? OMX_VIDEO_PictureTypeP : 0) |
                                 (local_BFrames(roNew) > 0 ? OMX_VIDEO_PictureTypeB : 0);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderSettings::CheckRateControl(const IH264ENC_RateControlParams& roNew)
{
    switch (roNew.rateControlParamsPreset)
    {
    case IH264_RATECONTROLPARAMS_DEFAULTPRESET:
    case IH264_RATECONTROLPARAMS_EXISTING:
        return OMX_ErrorNone;
    case IH264_RATECONTROLPARAMS_USERDEFINED:
        break;
    default:
        return OMX_ErrorBadParameter;
    }
    if (!local_IsRange(roNew.qpMinI, roNew.qpMaxI) || !local_IsRange(roNew.qpMinP, roNew.qpMaxP) ||
        !local_IsRange(roNew.qpMinB, roNew.qpMaxB))
        return OMX_ErrorBadParameter;
    if (!local_IsStartQp(roNew.qpI) || !local_IsStartQp(roNew.qpP) || !local_IsStartQp(roNew.qpOffsetB))
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

int CH264EncoderSettings::ProfileIdc(OMX_VIDEO_AVCPROFILETYPE eProfile)
{
    switch (eProfile)
    {
    case OMX_VIDEO_AVCProfileBaseline: return 66;
    case OMX_VIDEO_AVCProfileMain: return 77;
    case OMX_VIDEO_AVCProfileHigh: return 100;
    default: return 0;
    }
}

int CH264EncoderSettings::LevelIdc(OMX_VIDEO_AVCLEVELTYPE eLevel)
{
    switch (eLevel)
    {
    case OMX_VIDEO_AVCLevel1: return 10;
    case OMX_VIDEO_AVCLevel1b: return 9;
    case OMX_VIDEO_AVCLevel11: return 11;
    case OMX_VIDEO_AVCLevel12: return 12;
    case OMX_VIDEO_AVCLevel13: return 13;
    case OMX_VIDEO_AVCLevel2: return 20;
    case OMX_VIDEO_AVCLevel21: return 21;
    case OMX_VIDEO_AVCLevel22: return 22;
    case OMX_VIDEO_AVCLevel3: return 30;
    case OMX_VIDEO_AVCLevel31: return 31;
    case OMX_VIDEO_AVCLevel32: return 32;
    case OMX_VIDEO_AVCLevel4: return 40;
    case OMX_VIDEO_AVCLevel41: return 41;
    case OMX_VIDEO_AVCLevel42: return 42;
    case OMX_VIDEO_AVCLevel5: return 50;
    case OMX_VIDEO_AVCLevel51: return 51;
    default: return 0;
    }
}

// ---- Views ------------------------------------------------------------------------------------

IH264ENC_RateControlParams CH264EncoderSettings::EffectiveRateControl(const IH264ENC_RateControlParams& roGiven)
{
    if (roGiven.rateControlParamsPreset == IH264_RATECONTROLPARAMS_USERDEFINED)
        return roGiven;
    IH264ENC_RateControlParams oDefault = DefaultRateControl();
    oDefault.rateControlParamsPreset = roGiven.rateControlParamsPreset;
    return oDefault;
}

SH264SessionConfig CH264EncoderSettings::SessionConfig(const SState& roState)
{
    const OMX_VIDEO_PORTDEFINITIONTYPE& roInput = roState.oInput.format.video;
    const IH264ENC_RateControlParams oRateControl = EffectiveRateControl(roState.oRateControl);
    SH264SessionConfig oConfig;
    oConfig.uiWidth = static_cast<unsigned>(roInput.nFrameWidth);
    oConfig.uiHeight = static_cast<unsigned>(roInput.nFrameHeight);
    oConfig.uiStride = static_cast<unsigned>(roInput.nStride);
    oConfig.xFramerate = roInput.xFramerate;
    oConfig.uiBitRate = static_cast<unsigned>(roState.nBitRate);
    oConfig.uiKeyInterval = local_KeyInterval(roState.oAvc);
    oConfig.uiBFrames = local_BFrames(roState.oAvc);
    oConfig.uiRefFrames = std::max<unsigned>(1, static_cast<unsigned>(roState.oAvc.nRefFrames));
    oConfig.iProfileIdc = ProfileIdc(roState.oAvc.eProfile);
    oConfig.iLevelIdc = LevelIdc(roState.oAvc.eLevel);
    oConfig.eEncodingPreset = roState.oPreset.eEncodingModePreset;
    oConfig.eRateControlPreset = roState.oPreset.eRateControlPreset;
    // The codec has one quantiser range for every picture type: the one that spans those of
    // the types the stream has.
    oConfig.iQpMin = std::min(oRateControl.qpMinI, oRateControl.qpMinP);
    oConfig.iQpMax = std::max(oRateControl.qpMaxI, oRateControl.qpMaxP);
    if (oConfig.uiBFrames > 0)
    {
        oConfig.iQpMin = std::min<int>(oConfig.iQpMin, oRateControl.qpMinB);
        oConfig.iQpMax = std::max<int>(oConfig.iQpMax, oRateControl.qpMaxB);
    }
    return oConfig;
}

IVIDENC2_DynamicParams CH264EncoderSettings::DynamicView(const SState& roState)
{
    IVIDENC2_DynamicParams oView;
    memset(&oView, 0, sizeof(oView));
    oView.size = sizeof(oView);
    oView.inputHeight = static_cast<OMX_S32>(roState.oInput.format.video.nFrameHeight);
    oView.inputWidth = static_cast<OMX_S32>(roState.oInput.format.video.nFrameWidth);
    oView.refFrameRate = local_MilliFramerate(roState.oInput.format.video.xFramerate);
    oView.targetFrameRate = oView.refFrameRate;
    oView.targetBitRate = static_cast<OMX_S32>(roState.nBitRate);
    oView.intraFrameInterval = static_cast<OMX_S32>(local_KeyInterval(roState.oAvc));
    oView.interFrameInterval = static_cast<OMX_S32>(local_BFrames(roState.oAvc) + 1);
    return oView;
}

IH264ENC_Params CH264EncoderSettings::StaticView(const SState& roState)
{
    const SH264SessionConfig oConfig = SessionConfig(roState);
    IH264ENC_Params oView;
    memset(&oView, 0, sizeof(oView));
    IVIDENC2_Params& roVidenc = oView.videnc2Params;
    roVidenc.size = sizeof(roVidenc);
    roVidenc.encodingPreset = oConfig.eEncodingPreset;
    roVidenc.rateControlPreset = oConfig.eRateControlPreset;
    roVidenc.maxHeight = static_cast<OMX_S32>(oConfig.uiHeight);
    roVidenc.maxWidth = static_cast<OMX_S32>(oConfig.uiWidth);
    roVidenc.maxInterFrameInterval = static_cast<OMX_S32>(oConfig.uiBFrames + 1);
    roVidenc.inputChromaFormat = roState.oInput.format.video.eColorFormat;
    roVidenc.profile = oConfig.iProfileIdc;
    roVidenc.level = oConfig.iLevelIdc;
    oView.rateControlParams = EffectiveRateControl(roState.oRateControl);

    // Each codec thread codes a band of whole macroblock rows; bands of fewer than four rows are
    // not split.
    IH264ENC_SliceCodingParams& roSlices = oView.sliceCodingParams;
    const unsigned uiRows = (oConfig.uiHeight + 15) / 16;
    const unsigned uiColumns = (oConfig.uiWidth + 15) / 16;
    const unsigned uiSlices = std::min(s_uiSliceThreads, std::max(1u, uiRows / 4));
    roSlices.streamFormat = IH264_BYTE_STREAM;
    roSlices.sliceMode = uiSlices > 1 ? IH264_SLICEMODE_MBUNIT : IH264_SLICEMODE_NONE;
    roSlices.sliceUnitSize = uiSlices > 1 ? static_cast<OMX_S32>((uiRows + uiSlices - 1) / uiSlices * uiColumns) : 0;
    for (unsigned uiSlice = 1; uiSlice < uiSlices && uiSlice <= IH264ENC_MAX_NUM_SLICE_START_OFFSET; ++uiSlice)
        roSlices.sliceStartOffset[uiSlice - 1] = static_cast<OMX_S32>((uiSlice * uiRows + uiSlices - 1) / uiSlices);

    oView.entropyCodingMode = oConfig.iProfileIdc == 66 ? IH264_ENTROPYCODING_CAVLC : IH264_ENTROPYCODING_CABAC;
    oView.transformBlockSize = oConfig.iProfileIdc == 100 ? IH264_TRANSFORM_ADAPTIVE : IH264_TRANSFORM_4x4;
    return oView;
}
