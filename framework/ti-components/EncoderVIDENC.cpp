#include "ti-components/EncoderVIDENC.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ti814x-framework.h"
#include "ti814x-omx.h"

const MSIZE32 CVideoEncoder::s_oMaxFrameSize = {1920, 1200};

namespace
{
const char* const local_szEncoderName = "OMX.TI.DUCATI.VIDENC";
const OMX_U32 local_uiInputPort = 0;
const OMX_U32 local_uiOutputPort = 1;
const MUINT32 local_uiMaxQp = 51;
// Pictures larger than this need level 5.
const MUINT32 local_uiLevel42Pixels = 0x220000;

bool local_IsQpRange(MUINT32 uiMin, MUINT32 uiMax)
{
    return uiMax >= uiMin && uiMax <= local_uiMaxQp;
}

// ---- Parameter listings, on the log at level 1 ----------------------------------------------
// One line per field: the name indented by two blanks per level and padded so that the equals
// signs of one level line up, then the value in decimal. A nested record is introduced by a line
// with its type at its own level, and its fields sit one level deeper: a record nested in another
// is indented two blanks more than the one that holds it.

void local_DumpBegin(const char* szStructure)
{
    LInfoMessage(1, "\n%s\n{\n", szStructure);
}

void local_DumpEnd()
{
    LInfoMessage(1, "}\n");
}

void local_DumpRecord(int iLevel, const char* szType)
{
    LInfoMessage(1, "%*s%s\n", 2 * iLevel, "", szType);
}

void local_DumpField(int iLevel, const char* szName, long long llValue)
{
    const int iIndent = 2 * iLevel;
    LInfoMessage(1, "%*s%-*s = %lld\n", iIndent, "", 17 + iIndent, szName, llValue);
}

void local_DumpElement(int iLevel, const char* szName, int iIndex, long long llValue)
{
    char szElement[64];
    snprintf(szElement, sizeof(szElement), "%s[%d]", szName, iIndex);
    local_DumpField(iLevel, szElement, llValue);
}

#define LOCAL_DUMP(iLevel, roRecord, field) local_DumpField((iLevel), #field, static_cast<long long>((roRecord).field))

template <typename TStruct>
void local_DumpHead(const TStruct& roStruct)
{
    LOCAL_DUMP(1, roStruct, nSize);
    local_DumpField(1, "nVersion", static_cast<long long>(roStruct.nVersion.nVersion));
    LOCAL_DUMP(1, roStruct, nPortIndex);
}

void local_DumpPreset(const OMX_VIDEO_PARAM_ENCODER_PRESETTYPE& roPreset)
{
    local_DumpBegin("OMX_VIDEO_PARAM_ENCODER_PRESETTYPE");
    local_DumpHead(roPreset);
    LOCAL_DUMP(1, roPreset, eEncodingModePreset);
    LOCAL_DUMP(1, roPreset, eRateControlPreset);
    local_DumpEnd();
}

void local_DumpAvc(const OMX_VIDEO_PARAM_AVCTYPE& roAvc)
{
    local_DumpBegin("OMX_VIDEO_PARAM_AVCTYPE");
    local_DumpHead(roAvc);
    LOCAL_DUMP(1, roAvc, nSliceHeaderSpacing);
    LOCAL_DUMP(1, roAvc, nPFrames);
    LOCAL_DUMP(1, roAvc, nBFrames);
    LOCAL_DUMP(1, roAvc, bUseHadamard);
    LOCAL_DUMP(1, roAvc, nRefFrames);
    LOCAL_DUMP(1, roAvc, nRefIdx10ActiveMinus1);
    LOCAL_DUMP(1, roAvc, nRefIdx11ActiveMinus1);
    LOCAL_DUMP(1, roAvc, bEnableUEP);
    LOCAL_DUMP(1, roAvc, bEnableFMO);
    LOCAL_DUMP(1, roAvc, bEnableASO);
    LOCAL_DUMP(1, roAvc, bEnableRS);
    LOCAL_DUMP(1, roAvc, eProfile);
    LOCAL_DUMP(1, roAvc, eLevel);
    LOCAL_DUMP(1, roAvc, nAllowedPictureTypes);
    LOCAL_DUMP(1, roAvc, bFrameMBsOnly);
    LOCAL_DUMP(1, roAvc, bMBAFF);
    LOCAL_DUMP(1, roAvc, bEntropyCodingCABAC);
    LOCAL_DUMP(1, roAvc, bWeightedPPrediction);
    LOCAL_DUMP(1, roAvc, nWeightedBipredicitonMode);
    LOCAL_DUMP(1, roAvc, bconstIpred);
    LOCAL_DUMP(1, roAvc, bDirect8x8Inference);
    LOCAL_DUMP(1, roAvc, bDirectSpatialTemporal);
    LOCAL_DUMP(1, roAvc, nCabacInitIdc);
    LOCAL_DUMP(1, roAvc, eLoopFilterMode);
    local_DumpEnd();
}

// ---- The codec's records: each introduced by its type at its level, its fields one deeper ----

template <typename TElement, size_t uiCount>
void local_DumpArray(int iLevel, const char* szName, const TElement (&aElements)[uiCount])
{
    for (size_t i = 0; i < uiCount; ++i)
        local_DumpElement(iLevel, szName, static_cast<int>(i), static_cast<long long>(aElements[i]));
}

#define LOCAL_DUMP_ARRAY(iLevel, roRecord, field) local_DumpArray((iLevel), #field, (roRecord).field)
// Callbacks and their handles, by address.
#define LOCAL_DUMP_POINTER(iLevel, roRecord, field)                                                 \
    local_DumpField((iLevel), #field, static_cast<long long>(reinterpret_cast<intptr_t>((roRecord).field)))

void local_DumpVidenc2Params(int iLevel, const IVIDENC2_Params& ro)
{
    local_DumpRecord(iLevel, "IVIDENC2_Params");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, size);
    LOCAL_DUMP(i, ro, encodingPreset);
    LOCAL_DUMP(i, ro, rateControlPreset);
    LOCAL_DUMP(i, ro, maxHeight);
    LOCAL_DUMP(i, ro, maxWidth);
    LOCAL_DUMP(i, ro, dataEndianness);
    LOCAL_DUMP(i, ro, maxInterFrameInterval);
    LOCAL_DUMP(i, ro, maxBitRate);
    LOCAL_DUMP(i, ro, minBitRate);
    LOCAL_DUMP(i, ro, inputChromaFormat);
    LOCAL_DUMP(i, ro, inputContentType);
    LOCAL_DUMP(i, ro, operatingMode);
    LOCAL_DUMP(i, ro, profile);
    LOCAL_DUMP(i, ro, level);
    LOCAL_DUMP(i, ro, inputDataMode);
    LOCAL_DUMP(i, ro, outputDataMode);
    LOCAL_DUMP(i, ro, numInputDataUnits);
    LOCAL_DUMP(i, ro, numOutputDataUnits);
    LOCAL_DUMP_ARRAY(i, ro, metadataType);
}

void local_DumpVidenc2Dynamic(int iLevel, const IVIDENC2_DynamicParams& ro)
{
    local_DumpRecord(iLevel, "IVIDENC2_DynamicParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, size);
    LOCAL_DUMP(i, ro, inputHeight);
    LOCAL_DUMP(i, ro, inputWidth);
    LOCAL_DUMP(i, ro, refFrameRate);
    LOCAL_DUMP(i, ro, targetFrameRate);
    LOCAL_DUMP(i, ro, targetBitRate);
    LOCAL_DUMP(i, ro, intraFrameInterval);
    LOCAL_DUMP(i, ro, generateHeader);
    LOCAL_DUMP(i, ro, captureWidth);
    LOCAL_DUMP(i, ro, forceFrame);
    LOCAL_DUMP(i, ro, interFrameInterval);
    LOCAL_DUMP(i, ro, mvAccuracy);
    LOCAL_DUMP(i, ro, sampleAspectRatioHeight);
    LOCAL_DUMP(i, ro, sampleAspectRatioWidth);
    LOCAL_DUMP(i, ro, ignoreOutbufSizeFlag);
    LOCAL_DUMP_POINTER(i, ro, putDataFxn);
    LOCAL_DUMP_POINTER(i, ro, putDataHandle);
    LOCAL_DUMP_POINTER(i, ro, getDataFxn);
    LOCAL_DUMP_POINTER(i, ro, getDataHandle);
    LOCAL_DUMP_POINTER(i, ro, getBufferFxn);
    LOCAL_DUMP_POINTER(i, ro, getBufferHandle);
    LOCAL_DUMP(i, ro, lateAcquireArg);
}

void local_DumpRateControl(int iLevel, const IH264ENC_RateControlParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_RateControlParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, rateControlParamsPreset);
    LOCAL_DUMP(i, ro, scalingMatrixPreset);
    LOCAL_DUMP(i, ro, rcAlgo);
    LOCAL_DUMP(i, ro, qpI);
    LOCAL_DUMP(i, ro, qpMaxI);
    LOCAL_DUMP(i, ro, qpMinI);
    LOCAL_DUMP(i, ro, qpP);
    LOCAL_DUMP(i, ro, qpMaxP);
    LOCAL_DUMP(i, ro, qpMinP);
    LOCAL_DUMP(i, ro, qpOffsetB);
    LOCAL_DUMP(i, ro, qpMaxB);
    LOCAL_DUMP(i, ro, qpMinB);
    LOCAL_DUMP(i, ro, allowFrameSkip);
    LOCAL_DUMP(i, ro, removeExpensiveCoeff);
    LOCAL_DUMP(i, ro, chromaQPIndexOffset);
    LOCAL_DUMP(i, ro, IPQualityFactor);
    LOCAL_DUMP(i, ro, initialBufferLevel);
    LOCAL_DUMP(i, ro, HRDBufferSize);
    LOCAL_DUMP(i, ro, minPicSizeRatioI);
    LOCAL_DUMP(i, ro, maxPicSizeRatioI);
    LOCAL_DUMP(i, ro, minPicSizeRatioP);
    LOCAL_DUMP(i, ro, maxPicSizeRatioP);
    LOCAL_DUMP(i, ro, minPicSizeRatioB);
    LOCAL_DUMP(i, ro, maxPicSizeRatioB);
    LOCAL_DUMP(i, ro, enablePRC);
    LOCAL_DUMP(i, ro, enablePartialFrameSkip);
    LOCAL_DUMP(i, ro, discardSavedBits);
    LOCAL_DUMP(i, ro, reserved);
    LOCAL_DUMP(i, ro, VBRDuration);
    LOCAL_DUMP(i, ro, VBRsensitivity);
    LOCAL_DUMP(i, ro, skipDistributionWindowLength);
    LOCAL_DUMP(i, ro, numSkipInDistributionWindow);
    LOCAL_DUMP(i, ro, enableHRDComplianceMode);
    LOCAL_DUMP(i, ro, frameSkipThMulQ5);
    LOCAL_DUMP(i, ro, vbvUseLevelThQ5);
    LOCAL_DUMP_ARRAY(i, ro, reservedRC);
}

void local_DumpInterCoding(int iLevel, const IH264ENC_InterCodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_InterCodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, interCodingPreset);
    LOCAL_DUMP(i, ro, searchRangeHorP);
    LOCAL_DUMP(i, ro, searchRangeVerP);
    LOCAL_DUMP(i, ro, searchRangeHorB);
    LOCAL_DUMP(i, ro, searchRangeVerB);
    LOCAL_DUMP(i, ro, interCodingBias);
    LOCAL_DUMP(i, ro, skipMVCodingBias);
    LOCAL_DUMP(i, ro, minBlockSizeP);
    LOCAL_DUMP(i, ro, minBlockSizeB);
    LOCAL_DUMP(i, ro, meAlgoMode);
}

void local_DumpIntraCoding(int iLevel, const IH264ENC_IntraCodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_IntraCodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, intraCodingPreset);
    LOCAL_DUMP(i, ro, lumaIntra4x4Enable);
    LOCAL_DUMP(i, ro, lumaIntra8x8Enable);
    LOCAL_DUMP(i, ro, lumaIntra16x16Enable);
    LOCAL_DUMP(i, ro, chromaIntra8x8Enable);
    LOCAL_DUMP(i, ro, chromaComponentEnable);
    LOCAL_DUMP(i, ro, intraRefreshMethod);
    LOCAL_DUMP(i, ro, intraRefreshRate);
    LOCAL_DUMP(i, ro, gdrOverlapRowsBtwFrames);
    LOCAL_DUMP(i, ro, constrainedIntraPredEnable);
    LOCAL_DUMP(i, ro, intraCodingBias);
}

void local_DumpSliceCoding(int iLevel, const IH264ENC_SliceCodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_SliceCodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, sliceCodingPreset);
    LOCAL_DUMP(i, ro, sliceMode);
    LOCAL_DUMP(i, ro, sliceUnitSize);
    LOCAL_DUMP_ARRAY(i, ro, sliceStartOffset);
    LOCAL_DUMP(i, ro, streamFormat);
}

void local_DumpNaluControl(int iLevel, const IH264ENC_NALUControlParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_NALUControlParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, naluControlPreset);
    LOCAL_DUMP(i, ro, naluPresentMaskStartOfSequence);
    LOCAL_DUMP(i, ro, naluPresentMaskIDRPicture);
    LOCAL_DUMP(i, ro, naluPresentMaskIntraPicture);
    LOCAL_DUMP(i, ro, naluPresentMaskNonIntraPicture);
    LOCAL_DUMP(i, ro, naluPresentMaskEndOfSequence);
}

void local_DumpLoopFilter(int iLevel, const IH264ENC_LoopFilterParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_LoopFilterParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, loopfilterPreset);
    LOCAL_DUMP(i, ro, loopfilterDisableIDC);
    LOCAL_DUMP(i, ro, filterOffsetA);
    LOCAL_DUMP(i, ro, filterOffsetB);
}

void local_DumpFmoCoding(int iLevel, const IH264ENC_FMOCodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_FMOCodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, fmoCodingPreset);
    LOCAL_DUMP(i, ro, numSliceGroups);
    LOCAL_DUMP(i, ro, sliceGroupMapType);
    LOCAL_DUMP(i, ro, sliceGroupChangeDirectionFlag);
    LOCAL_DUMP(i, ro, sliceGroupChangeRate);
    LOCAL_DUMP(i, ro, sliceGroupChangeCycle);
    LOCAL_DUMP_ARRAY(i, ro, sliceGroupParams);
}

void local_DumpVuiCoding(int iLevel, const IH264ENC_VUICodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_VUICodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, vuiCodingPreset);
    LOCAL_DUMP(i, ro, aspectRatioInfoPresentFlag);
    LOCAL_DUMP(i, ro, aspectRatioIdc);
    LOCAL_DUMP(i, ro, videoSignalTypePresentFlag);
    LOCAL_DUMP(i, ro, videoFormat);
    LOCAL_DUMP(i, ro, videoFullRangeFlag);
    LOCAL_DUMP(i, ro, timingInfoPresentFlag);
    LOCAL_DUMP(i, ro, hrdParamsPresentFlag);
    LOCAL_DUMP(i, ro, numUnitsInTicks);
}

void local_DumpStereoInfo(int iLevel, const IH264ENC_StereoInfoParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_StereoInfoParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, stereoInfoPreset);
    LOCAL_DUMP(i, ro, topFieldIsLeftViewFlag);
    LOCAL_DUMP(i, ro, viewSelfContainedFlag);
}

void local_DumpFramePacking(int iLevel, const IH264ENC_FramePackingSEIParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_FramePackingSEIParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, framePackingPreset);
    LOCAL_DUMP(i, ro, framePackingType);
    LOCAL_DUMP(i, ro, frame0PositionX);
    LOCAL_DUMP(i, ro, frame0PositionY);
    LOCAL_DUMP(i, ro, frame1PositionX);
    LOCAL_DUMP(i, ro, frame1PositionY);
    LOCAL_DUMP(i, ro, reservedByte);
}

void local_DumpSvcCoding(int iLevel, const IH264ENC_SVCCodingParams& ro)
{
    local_DumpRecord(iLevel, "IH264ENC_SVCCodingParams");
    const int i = iLevel + 1;
    LOCAL_DUMP(i, ro, svcExtensionFlag);
    LOCAL_DUMP(i, ro, dependencyID);
    LOCAL_DUMP(i, ro, qualityID);
    LOCAL_DUMP(i, ro, enhancementProfileID);
    LOCAL_DUMP(i, ro, layerIndex);
    LOCAL_DUMP(i, ro, refLayerDQId);
}

void local_DumpStatic(const OMX_VIDEO_PARAM_STATICPARAMS& roStatic)
{
    const IH264ENC_Params& ro = roStatic.videoStaticParams.h264EncStaticParams;
    local_DumpBegin("OMX_VIDEO_PARAM_STATICPARAMS");
    local_DumpHead(roStatic);
    local_DumpRecord(1, "IH264ENC_Params");
    local_DumpVidenc2Params(2, ro.videnc2Params);
    local_DumpRateControl(2, ro.rateControlParams);
    local_DumpInterCoding(2, ro.interCodingParams);
    local_DumpIntraCoding(2, ro.intraCodingParams);
    local_DumpNaluControl(2, ro.nalUnitControlParams);
    local_DumpSliceCoding(2, ro.sliceCodingParams);
    local_DumpLoopFilter(2, ro.loopFilterParams);
    local_DumpFmoCoding(2, ro.fmoCodingParams);
    local_DumpVuiCoding(2, ro.vuiCodingParams);
    local_DumpStereoInfo(2, ro.stereoInfoParams);
    local_DumpFramePacking(2, ro.framePackingSEIParams);
    local_DumpSvcCoding(2, ro.svcCodingParams);
    LOCAL_DUMP(2, ro, interlaceCodingType);
    LOCAL_DUMP(2, ro, bottomFieldIntra);
    LOCAL_DUMP(2, ro, gopStructure);
    LOCAL_DUMP(2, ro, entropyCodingMode);
    LOCAL_DUMP(2, ro, transformBlockSize);
    LOCAL_DUMP(2, ro, log2MaxFNumMinus4);
    LOCAL_DUMP(2, ro, picOrderCountType);
    LOCAL_DUMP(2, ro, enableWatermark);
    LOCAL_DUMP(2, ro, IDRFrameInterval);
    LOCAL_DUMP(2, ro, pConstantMemory);
    LOCAL_DUMP(2, ro, maxIntraFrameInterval);
    LOCAL_DUMP(2, ro, debugTraceLevel);
    LOCAL_DUMP(2, ro, lastNFramesToLog);
    LOCAL_DUMP(2, ro, enableAnalyticinfo);
    LOCAL_DUMP(2, ro, enableGMVSei);
    LOCAL_DUMP(2, ro, constraintSetFlags);
    LOCAL_DUMP(2, ro, enableRCDO);
    LOCAL_DUMP(2, ro, enableLongTermRefFrame);
    LOCAL_DUMP(2, ro, LTRPPeriod);
    LOCAL_DUMP(2, ro, numTemporalLayer);
    LOCAL_DUMP(2, ro, referencePicMarking);
    LOCAL_DUMP_ARRAY(2, ro, reservedParams);
    local_DumpEnd();
}

void local_DumpDynamic(const OMX_VIDEO_PARAM_DYNAMICPARAMS& roDynamic)
{
    const IH264ENC_DynamicParams& ro = roDynamic.videoDynamicParams.h264EncDynamicParams;
    local_DumpBegin("OMX_VIDEO_PARAM_DYNAMICPARAMS");
    local_DumpHead(roDynamic);
    local_DumpRecord(1, "IH264ENC_DynamicParams");
    local_DumpVidenc2Dynamic(2, ro.videnc2DynamicParams);
    local_DumpRateControl(2, ro.rateControlParams);
    local_DumpInterCoding(2, ro.interCodingParams);
    local_DumpIntraCoding(2, ro.intraCodingParams);
    local_DumpSliceCoding(2, ro.sliceCodingParams);
    LOCAL_DUMP(2, ro, sliceGroupChangeCycle);
    local_DumpRecord(2, "XDM_Point");
    LOCAL_DUMP(3, ro.searchCenter, x);
    LOCAL_DUMP(3, ro.searchCenter, y);
    LOCAL_DUMP(2, ro, enableStaticMBCount);
    LOCAL_DUMP(2, ro, intraRefreshRateGDRDynamic);
    LOCAL_DUMP(2, ro, gdrOverlapRowsBtwFramesDynamic);
    LOCAL_DUMP(2, ro, enableROI);
    LOCAL_DUMP_ARRAY(2, ro, reservedDynParams);
    local_DumpEnd();
}

#undef LOCAL_DUMP_POINTER
#undef LOCAL_DUMP_ARRAY
#undef LOCAL_DUMP
} // namespace

CVideoEncoder::CVideoEncoder()
    : COMXComponent(const_cast<char*>(local_szEncoderName)),
      m_oInputPort(),
      m_oOutputPort(),
      m_oParam(),
      m_uiNumberOfInputBuffer(0),
      m_uiNumberOfOutputBuffer(0)
{
    ZEM_INFO(3, "");
}

CVideoEncoder::~CVideoEncoder()
{
    ZEM_INFO(3, "");
}

OMX_ERRORTYPE CVideoEncoder::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CVideoEncoder");
    ZEM_CHECK(COMXComponent::Init());
    ZEM_CHECK(InitPorts());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CVideoEncoder::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CVideoEncoder");
    ZEM_CHECK(DeinitPortsAndHandles());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CVideoEncoder::CreatePorts()
{
    m_uiInputPortCount = 1;
    m_uiOutputPortCount = 1;
    m_poInputPort = &m_oInputPort;
    m_poOutputPort = &m_oOutputPort;
    m_oInputPort.SetPortID(local_uiInputPort);
    m_oOutputPort.SetPortID(local_uiOutputPort);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CVideoEncoder::SetEncoderParams(EncodingParam& roParam, MUINT uiNbBufferIn, MUINT uiNbBufferOut)
{
    // Refused without a word and without keeping anything: the previous record stays.
    if (roParam.m_oFrameSize.m_uiCx > s_oMaxFrameSize.m_uiCx || roParam.m_oFrameSize.m_uiCy > s_oMaxFrameSize.m_uiCy ||
        roParam.m_ePixelFormat != OmxPixFmt_YUV420 || roParam.m_oGop.m_uiIFrameInterval == 0 ||
        roParam.m_oGop.m_uiPFrameInterval == 0)
        return OMX_ErrorBadParameter;
    const EncodingParam::tagRateCtl& roRateCtl = roParam.m_oRateCtl;
    if (roRateCtl.m_bEnable &&
        (!local_IsQpRange(roRateCtl.m_uiQpMinI, roRateCtl.m_uiQpMaxI) ||
         !local_IsQpRange(roRateCtl.m_uiQpMinP, roRateCtl.m_uiQpMaxP) ||
         !local_IsQpRange(roRateCtl.m_uiQpMinB, roRateCtl.m_uiQpMaxB)))
        return OMX_ErrorBadParameter;
    m_oParam = roParam;
    m_uiNumberOfInputBuffer = uiNbBufferIn;
    m_uiNumberOfOutputBuffer = uiNbBufferOut;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CVideoEncoder::ConnectTo(CComponent* poSink, OMX_U32 uiInputIndex)
{
    return CComponent::ConnectTo(0, poSink, static_cast<MUINT32>(uiInputIndex));
}

OMX_ERRORTYPE CVideoEncoder::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const MSIZE32& roSize = m_oParam.m_oFrameSize;
    const MUINT32 uiBufferSize = GetBufferSize(roSize, m_oParam.m_ePixelFormat);
    const OMX_U32 xFramerate = static_cast<OMX_U32>(m_oParam.m_uiFrameRate) << 16;
    const bool bRateControl = m_oParam.m_oRateCtl.m_bEnable != 0;
    const bool bBFrames = m_oParam.m_oGop.m_uiPFrameInterval >= 2;
    OMX_PARAM_PORTDEFINITIONTYPE oPort;
    OMX_VIDEO_PARAM_ENCODER_PRESETTYPE oPreset;
    OMX_VIDEO_PARAM_AVCTYPE oAvc;
    OMX_VIDEO_PARAM_STATICPARAMS oStatic;
    SPortBufferInfo oOutputInfo = {static_cast<OMX_COLOR_FORMATTYPE>(0), uiBufferSize, roSize.m_uiCx, roSize.m_uiCy};

    // Raw frames in.
    OmxInitStructure(oPort, local_uiInputPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oPort));
    oPort.nBufferCountActual = m_uiNumberOfInputBuffer;
    oPort.nBufferSize = uiBufferSize;
    oPort.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
    oPort.format.video.eColorFormat = static_cast<OMX_COLOR_FORMATTYPE>(m_oParam.m_ePixelFormat);
    oPort.format.video.nFrameWidth = roSize.m_uiCx;
    oPort.format.video.nFrameHeight = roSize.m_uiCy;
    oPort.format.video.xFramerate = xFramerate;
    oPort.format.video.nStride = static_cast<OMX_S32>(GetPitch(roSize.m_uiCx, m_oParam.m_ePixelFormat));
    ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oPort));

    // H.264 out.
    OmxInitStructure(oPort, local_uiOutputPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &oPort));
    oPort.nBufferCountActual = m_uiNumberOfOutputBuffer;
    oPort.nBufferSize = uiBufferSize;
    oPort.format.video.eCompressionFormat = OMX_VIDEO_CodingAVC;
    oPort.format.video.nFrameWidth = roSize.m_uiCx;
    oPort.format.video.nFrameHeight = roSize.m_uiCy;
    oPort.format.video.xFramerate = xFramerate;
    oPort.format.video.nBitrate = m_oParam.m_uiTargetBitRate;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &oPort));

    // The output allocates its buffers; the input uses those of the component that feeds it.
    m_oOutputPort.ProvideBuffer(&oOutputInfo, m_uiNumberOfOutputBuffer);

    OmxInitStructure(oPreset, local_uiOutputPort);
    ZEM_CHECK(GetOmxParam(OMX_TI_IndexParamVideoEncoderPreset, &oPreset));
    oPreset.eEncodingModePreset = m_oParam.m_eEncodingPreset == EncPre_BetterQuality
                                      ? OMX_Video_Enc_Med_Speed_High_Quality
                                      : OMX_Video_Enc_High_Speed_Med_Quality;
    oPreset.eRateControlPreset = bBFrames ? OMX_Video_RC_Storage : OMX_Video_RC_Low_Delay;
    ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamVideoEncoderPreset, &oPreset));
    local_DumpPreset(oPreset);
    if (bRateControl)
    {
        // The quantiser limits of the dynamic parameters rule the coding.
        oPreset.eEncodingModePreset = OMX_Video_Enc_User_Defined;
        ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamVideoEncoderPreset, &oPreset));
        local_DumpPreset(oPreset);
    }

    OmxInitStructure(oAvc, local_uiOutputPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamVideoAvc, &oAvc));
    oAvc.eProfile = bRateControl ? OMX_VIDEO_AVCProfileHigh
                    : bBFrames   ? OMX_VIDEO_AVCProfileMain
                                 : OMX_VIDEO_AVCProfileBaseline;
    oAvc.eLevel = roSize.m_uiCx * roSize.m_uiCy > local_uiLevel42Pixels ? OMX_VIDEO_AVCLevel5 : OMX_VIDEO_AVCLevel42;
    oAvc.nPFrames = m_oParam.m_oGop.m_uiIFrameInterval - 1;
    oAvc.nBFrames = m_oParam.m_oGop.m_uiPFrameInterval - 1;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamVideoAvc, &oAvc));
    local_DumpAvc(oAvc);

    OmxInitStructure(oStatic, local_uiOutputPort);
    ZEM_CHECK(GetOmxParam(OMX_TI_IndexParamVideoStaticParams, &oStatic));
    local_DumpStatic(oStatic);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CVideoEncoder::SetParametersIdle()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const EncodingParam::tagRateCtl& roRateCtl = m_oParam.m_oRateCtl;
    OMX_VIDEO_PARAM_DYNAMICPARAMS oDynamic;

    OmxInitStructure(oDynamic, local_uiOutputPort);
    ZEM_CHECK(GetOmxConfig(OMX_TI_IndexConfigVideoDynamicParams, &oDynamic));
    if (roRateCtl.m_bEnable)
    {
        IH264ENC_RateControlParams& roParams = oDynamic.videoDynamicParams.h264EncDynamicParams.rateControlParams;
        roParams.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        roParams.qpI = -1;
        roParams.qpP = -1;
        roParams.qpOffsetB = -1;
        roParams.qpMinI = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMinI);
        roParams.qpMaxI = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMaxI);
        roParams.qpMinP = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMinP);
        roParams.qpMaxP = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMaxP);
        roParams.qpMinB = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMinB);
        roParams.qpMaxB = static_cast<XDAS_Int8>(roRateCtl.m_uiQpMaxB);
        // A 32-bit truth value: any bit set means true (cut to 8 bits, 0x100 would read as false).
        roParams.allowFrameSkip = roRateCtl.m_bSkipFrame != 0 ? 1 : 0;
    }
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigVideoDynamicParams, &oDynamic));
    local_DumpDynamic(oDynamic);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CVideoEncoder::RequestKeyFrame()
{
    OMX_CONFIG_INTRAREFRESHVOPTYPE oRefresh;
    OmxInitStructure(oRefresh, local_uiOutputPort);
    oRefresh.IntraRefreshVOP = OMX_TRUE;
    return SetOmxConfig(OMX_IndexConfigVideoIntraVOPRefresh, &oRefresh);
}
