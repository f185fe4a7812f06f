#include "CH264EncoderSettings.h"

#include <algorithm>
#include <numeric>

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

XDAS_Int32 local_MilliFramerate(OMX_U32 xFramerate)
{
    return static_cast<XDAS_Int32>((static_cast<unsigned long long>(xFramerate) * 1000 + 0x8000) >> 16);
}

unsigned local_KiloBits(unsigned uiBits)
{
    const unsigned uiKilo = (uiBits + 500) / 1000;
    return uiKilo > 0 ? uiKilo : 1;
}

// The codec's numbers for the component's presets.
XDAS_Int32 local_CodecEncodingPreset(OMX_VIDEO_ENCODING_MODE_PRESETTYPE ePreset)
{
    switch (ePreset)
    {
    case OMX_Video_Enc_High_Quality: return XDM_HIGH_QUALITY;
    case OMX_Video_Enc_User_Defined: return XDM_USER_DEFINED;
    case OMX_Video_Enc_High_Speed_Med_Quality: return XDM_HIGH_SPEED_MED_QUALITY;
    case OMX_Video_Enc_Med_Speed_Med_Quality: return XDM_MED_SPEED_MED_QUALITY;
    case OMX_Video_Enc_Med_Speed_High_Quality: return XDM_MED_SPEED_HIGH_QUALITY;
    case OMX_Video_Enc_High_Speed: return XDM_HIGH_SPEED;
    default: return XDM_DEFAULT;
    }
}

// The denominator of the frame rate the codec is given: its VUI's ticks per frame.
unsigned local_FramerateDenominator(OMX_U32 xFramerate)
{
    return static_cast<unsigned>(65536ul / std::gcd(static_cast<unsigned long>(xFramerate), 65536ul));
}

// The codec's motion search: 16 pixels around the prediction, quarter-pixel vectors (the base
// record's mvAccuracy), blocks down to 8 x 8.
IH264ENC_InterCodingParams local_InterCoding()
{
    IH264ENC_InterCodingParams oInter;
    memset(&oInter, 0, sizeof(oInter));
    oInter.interCodingPreset = IH264_INTERCODING_DEFAULT;
    oInter.searchRangeHorP = oInter.searchRangeVerP = oInter.searchRangeHorB = oInter.searchRangeVerB = 16;
    oInter.interCodingBias = IH264_BIASFACTOR_DEFAULT;
    oInter.skipMVCodingBias = IH264_BIASFACTOR_DEFAULT;
    oInter.minBlockSizeP = IH264_BLOCKSIZE_8x8;
    oInter.minBlockSizeB = IH264_BLOCKSIZE_8x8;
    oInter.meAlgoMode = IH264ENC_MOTIONESTMODE_NORMAL;
    return oInter;
}

// The intra predictions the codec uses (1: used): 8 x 8 luma blocks in the High profile only.
IH264ENC_IntraCodingParams local_IntraCoding(int iProfileIdc)
{
    IH264ENC_IntraCodingParams oIntra;
    memset(&oIntra, 0, sizeof(oIntra));
    oIntra.intraCodingPreset = IH264_INTRACODING_DEFAULT;
    oIntra.lumaIntra4x4Enable = 1;
    oIntra.lumaIntra8x8Enable = iProfileIdc == 100 ? 1 : 0;
    oIntra.lumaIntra16x16Enable = 1;
    oIntra.chromaIntra8x8Enable = 1;
    oIntra.chromaComponentEnable = IH264_CHROMA_COMPONENT_CB_CR_BOTH;
    oIntra.intraRefreshMethod = IH264_INTRAREFRESH_NONE;
    oIntra.intraCodingBias = IH264ENC_INTRACODINGBIAS_NORMAL;
    return oIntra;
}

// Each codec thread codes a band of whole macroblock rows; bands of fewer than four rows are not
// split. sliceStartOffset[i] is the first row of slice i + 1.
IH264ENC_SliceCodingParams local_SliceCoding(const SH264SessionConfig& roConfig)
{
    IH264ENC_SliceCodingParams oSlices;
    memset(&oSlices, 0, sizeof(oSlices));
    const unsigned uiRows = (roConfig.uiHeight + 15) / 16;
    const unsigned uiColumns = (roConfig.uiWidth + 15) / 16;
    const unsigned uiSlices = std::min(CH264EncoderSettings::s_uiSliceThreads, std::max(1u, uiRows / 4));
    oSlices.sliceCodingPreset = IH264_SLICECODING_DEFAULT;
    oSlices.streamFormat = IH264_BYTE_STREAM;
    oSlices.sliceMode = uiSlices > 1 ? IH264_SLICEMODE_MBUNIT : IH264_SLICEMODE_NONE;
    oSlices.sliceUnitSize = uiSlices > 1 ? static_cast<XDAS_Int16>((uiRows + uiSlices - 1) / uiSlices * uiColumns) : 0;
    for (unsigned uiSlice = 1; uiSlice < uiSlices && uiSlice <= IH264ENC_MAX_NUM_SLICE_START_OFFSET; ++uiSlice)
        oSlices.sliceStartOffset[uiSlice - 1] = static_cast<XDAS_Int8>((uiSlice * uiRows + uiSlices - 1) / uiSlices);
    return oSlices;
}

// The codec's own preset of an inter, intra or slice record, or the one in force.
bool local_IsCodecOwn(XDAS_Int8 iPreset, int iDefault, int iExisting)
{
    return iPreset == iDefault || iPreset == iExisting;
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
    oRateControl.rateControlParamsPreset = IH264_RATECONTROLPARAMS_DEFAULT;
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
        roVideo.nFrameHeight < 2 || roVideo.nFrameHeight > s_nMaxHeight || roVideo.nFrameHeight % 2 != 0)
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
    case IH264_RATECONTROLPARAMS_DEFAULT:
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

OMX_ERRORTYPE CH264EncoderSettings::CheckDynamicParams(const IH264ENC_DynamicParams& roNew,
                                                       const IH264ENC_DynamicParams& roNow)
{
#define LOCAL_KEPT(field) (roNew.field == roNow.field)
    // Size, frame rates and picture intervals are those of the ports and the AVC parameters; no
    // forced picture, no header-only call, no data-sync callbacks.
    const bool bBaseKept =
        LOCAL_KEPT(videnc2DynamicParams.size) && LOCAL_KEPT(videnc2DynamicParams.inputHeight) &&
        LOCAL_KEPT(videnc2DynamicParams.inputWidth) && LOCAL_KEPT(videnc2DynamicParams.refFrameRate) &&
        LOCAL_KEPT(videnc2DynamicParams.targetFrameRate) && LOCAL_KEPT(videnc2DynamicParams.intraFrameInterval) &&
        LOCAL_KEPT(videnc2DynamicParams.generateHeader) && LOCAL_KEPT(videnc2DynamicParams.captureWidth) &&
        LOCAL_KEPT(videnc2DynamicParams.forceFrame) && LOCAL_KEPT(videnc2DynamicParams.interFrameInterval) &&
        LOCAL_KEPT(videnc2DynamicParams.mvAccuracy) && LOCAL_KEPT(videnc2DynamicParams.sampleAspectRatioHeight) &&
        LOCAL_KEPT(videnc2DynamicParams.sampleAspectRatioWidth) &&
        LOCAL_KEPT(videnc2DynamicParams.ignoreOutbufSizeFlag) && LOCAL_KEPT(videnc2DynamicParams.putDataFxn) &&
        LOCAL_KEPT(videnc2DynamicParams.putDataHandle) && LOCAL_KEPT(videnc2DynamicParams.getDataFxn) &&
        LOCAL_KEPT(videnc2DynamicParams.getDataHandle) && LOCAL_KEPT(videnc2DynamicParams.getBufferFxn) &&
        LOCAL_KEPT(videnc2DynamicParams.getBufferHandle) && LOCAL_KEPT(videnc2DynamicParams.lateAcquireArg);
    // The codec's own motion search, intra prediction and slices; no slice groups, search
    // centre, static macroblock count, gradual refresh or regions of interest.
    const bool bToolsKept =
        local_IsCodecOwn(roNew.interCodingParams.interCodingPreset, IH264_INTERCODING_DEFAULT,
                         IH264_INTERCODING_EXISTING) &&
        local_IsCodecOwn(roNew.intraCodingParams.intraCodingPreset, IH264_INTRACODING_DEFAULT,
                         IH264_INTRACODING_EXISTING) &&
        local_IsCodecOwn(roNew.sliceCodingParams.sliceCodingPreset, IH264_SLICECODING_DEFAULT,
                         IH264_SLICECODING_EXISTING) &&
        LOCAL_KEPT(sliceGroupChangeCycle) && LOCAL_KEPT(searchCenter.x) && LOCAL_KEPT(searchCenter.y) &&
        LOCAL_KEPT(enableStaticMBCount) && LOCAL_KEPT(intraRefreshRateGDRDynamic) &&
        LOCAL_KEPT(gdrOverlapRowsBtwFramesDynamic) && LOCAL_KEPT(enableROI);
#undef LOCAL_KEPT
    const XDAS_Int32 iBitRate = roNew.videnc2DynamicParams.targetBitRate;
    if (!bBaseKept || !bToolsKept || iBitRate <= 0 || static_cast<OMX_U32>(iBitRate) > s_nMaxBitRate)
        return OMX_ErrorBadParameter;
    return CheckRateControl(roNew.rateControlParams);
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

IH264ENC_RateControlParams CH264EncoderSettings::EffectiveRateControl(const SState& roState)
{
    if (roState.oRateControl.rateControlParamsPreset == IH264_RATECONTROLPARAMS_USERDEFINED)
        return roState.oRateControl;
    const OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControl = roState.oPreset.eRateControlPreset;
    const SH264BufferModel oBuffer = BufferModel(eRateControl, static_cast<unsigned>(roState.nBitRate));
    IH264ENC_RateControlParams oOwn = DefaultRateControl();
    oOwn.rateControlParamsPreset = roState.oRateControl.rateControlParamsPreset;
    oOwn.rcAlgo = eRateControl == OMX_Video_RC_Low_Delay ? IH264_RATECONTROL_PRC_LOW_DELAY : IH264_RATECONTROL_PRC;
    // The decoder buffer in bits, 90 % full when the stream starts; the rate is controlled row by
    // row within each picture, and the stream never overflows the buffer.
    oOwn.HRDBufferSize = static_cast<XDAS_Int32>(oBuffer.uiBufferKiloBits * 1000);
    oOwn.initialBufferLevel = oOwn.HRDBufferSize / 10 * 9;
    oOwn.enablePRC = 1;
    oOwn.enableHRDComplianceMode = 1;
    return oOwn;
}

SH264BufferModel CH264EncoderSettings::BufferModel(OMX_VIDEO_RATECONTROL_PRESETTYPE eRateControl, unsigned uiBitRate)
{
    // A buffer of half a second that never fills faster than the target for live streams, two
    // seconds at up to twice the target otherwise.
    const unsigned uiKiloBits = local_KiloBits(uiBitRate);
    if (eRateControl == OMX_Video_RC_Storage)
        return SH264BufferModel{uiKiloBits, 2 * uiKiloBits, 2 * uiKiloBits};
    return SH264BufferModel{uiKiloBits, uiKiloBits, uiKiloBits / 2 > 0 ? uiKiloBits / 2 : 1};
}

SH264SessionConfig CH264EncoderSettings::SessionConfig(const SState& roState)
{
    const OMX_VIDEO_PORTDEFINITIONTYPE& roInput = roState.oInput.format.video;
    const IH264ENC_RateControlParams oRateControl = EffectiveRateControl(roState);
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

IH264ENC_DynamicParams CH264EncoderSettings::DynamicView(const SState& roState)
{
    const SH264SessionConfig oConfig = SessionConfig(roState);
    IH264ENC_DynamicParams oView;
    memset(&oView, 0, sizeof(oView));
    IVIDENC2_DynamicParams& roBase = oView.videnc2DynamicParams;
    roBase.size = sizeof(oView);
    roBase.inputHeight = static_cast<XDAS_Int32>(oConfig.uiHeight);
    roBase.inputWidth = static_cast<XDAS_Int32>(oConfig.uiWidth);
    roBase.refFrameRate = local_MilliFramerate(oConfig.xFramerate);
    roBase.targetFrameRate = roBase.refFrameRate;
    roBase.targetBitRate = static_cast<XDAS_Int32>(oConfig.uiBitRate);
    roBase.intraFrameInterval = static_cast<XDAS_Int32>(oConfig.uiKeyInterval);
    roBase.generateHeader = XDM_ENCODE_AU;
    roBase.captureWidth = static_cast<XDAS_Int32>(oConfig.uiStride);  // pixels of a luma line
    roBase.forceFrame = IVIDEO_NA_FRAME;
    roBase.interFrameInterval = static_cast<XDAS_Int32>(oConfig.uiBFrames + 1);
    roBase.mvAccuracy = IVIDENC2_MOTIONVECTOR_QUARTERPEL;
    roBase.sampleAspectRatioHeight = 1;
    roBase.sampleAspectRatioWidth = 1;
    roBase.ignoreOutbufSizeFlag = 0;  // an access unit larger than the output buffer is dropped
    oView.rateControlParams = EffectiveRateControl(roState);
    oView.interCodingParams = local_InterCoding();
    oView.intraCodingParams = local_IntraCoding(oConfig.iProfileIdc);
    oView.sliceCodingParams = local_SliceCoding(oConfig);
    return oView;
}

IH264ENC_Params CH264EncoderSettings::StaticView(const SState& roState)
{
    const SH264SessionConfig oConfig = SessionConfig(roState);
    const SH264BufferModel oBuffer = BufferModel(oConfig.eRateControlPreset, oConfig.uiBitRate);
    IH264ENC_Params oView;
    memset(&oView, 0, sizeof(oView));
    IVIDENC2_Params& roBase = oView.videnc2Params;
    roBase.size = sizeof(oView);
    roBase.encodingPreset = local_CodecEncodingPreset(oConfig.eEncodingPreset);
    roBase.rateControlPreset = oConfig.eRateControlPreset == OMX_Video_RC_Storage ? IVIDEO_STORAGE : IVIDEO_LOW_DELAY;
    roBase.maxHeight = static_cast<XDAS_Int32>(oConfig.uiHeight);
    roBase.maxWidth = static_cast<XDAS_Int32>(oConfig.uiWidth);
    roBase.dataEndianness = XDM_BYTE;
    roBase.maxInterFrameInterval = static_cast<XDAS_Int32>(oConfig.uiBFrames + 1);
    roBase.maxBitRate = static_cast<XDAS_Int32>(oBuffer.uiMaxKiloBitRate * 1000);
    roBase.minBitRate = 0;
    roBase.inputChromaFormat = XDM_YUV_420SP;
    roBase.inputContentType = IVIDEO_PROGRESSIVE;
    roBase.operatingMode = IVIDEO_ENCODE_ONLY;
    roBase.profile = oConfig.iProfileIdc;
    roBase.level = oConfig.iLevelIdc;
    roBase.inputDataMode = IVIDEO_ENTIREFRAME;
    roBase.outputDataMode = IVIDEO_ENTIREFRAME;
    roBase.numInputDataUnits = 1;
    roBase.numOutputDataUnits = 1;
    for (XDAS_Int32& riType : roBase.metadataType)
        riType = IVIDEO_METADATAPLANE_NONE;
    oView.rateControlParams = EffectiveRateControl(roState);
    oView.interCodingParams = local_InterCoding();
    oView.intraCodingParams = local_IntraCoding(oConfig.iProfileIdc);
    oView.sliceCodingParams = local_SliceCoding(oConfig);

    // The stream: bit n of a mask stands for NAL units of type n. The parameter sets (7, 8) come
    // alone at its start, then IDR slices (5) and other slices (1); no SEI, no delimiters.
    IH264ENC_NALUControlParams& roNalUnits = oView.nalUnitControlParams;
    roNalUnits.naluPresentMaskStartOfSequence = (1 << 7) | (1 << 8);
    roNalUnits.naluPresentMaskIDRPicture = 1 << 5;
    roNalUnits.naluPresentMaskIntraPicture = 1 << 1;
    roNalUnits.naluPresentMaskNonIntraPicture = 1 << 1;
    // The deblocking filter runs over every edge (the loop-filter record's zeros); the VUI carries
    // the timing (ticks per frame).
    oView.vuiCodingParams.timingInfoPresentFlag = 1;
    oView.vuiCodingParams.numUnitsInTicks = local_FramerateDenominator(oConfig.xFramerate);

    oView.entropyCodingMode = oConfig.iProfileIdc == 66 ? IH264_ENTROPYCODING_CAVLC : IH264_ENTROPYCODING_CABAC;
    oView.transformBlockSize = oConfig.iProfileIdc == 100 ? IH264_TRANSFORM_ADAPTIVE : IH264_TRANSFORM_4x4;
    // Picture order counts are coded only where B pictures reorder the pictures.
    oView.picOrderCountType = oConfig.uiBFrames > 0 ? 0 : 2;
    oView.IDRFrameInterval = static_cast<XDAS_Int32>(oConfig.uiKeyInterval);
    oView.maxIntraFrameInterval = static_cast<XDAS_Int32>(oConfig.uiKeyInterval);
    oView.numTemporalLayer = 1;
    return oView;
}
