#include "ti-components/EncoderVIDENC.h"

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

// Held by the codec's static and dynamic parameters, one level below them.
void local_DumpRateControl(const IH264ENC_RateControlParams& roRateControl)
{
    local_DumpRecord(2, "IH264ENC_RateControlParams");
    LOCAL_DUMP(3, roRateControl, rateControlParamsPreset);
    LOCAL_DUMP(3, roRateControl, qpI);
    LOCAL_DUMP(3, roRateControl, qpMaxI);
    LOCAL_DUMP(3, roRateControl, qpMinI);
    LOCAL_DUMP(3, roRateControl, qpP);
    LOCAL_DUMP(3, roRateControl, qpMaxP);
    LOCAL_DUMP(3, roRateControl, qpMinP);
    LOCAL_DUMP(3, roRateControl, qpOffsetB);
    LOCAL_DUMP(3, roRateControl, qpMaxB);
    LOCAL_DUMP(3, roRateControl, qpMinB);
    LOCAL_DUMP(3, roRateControl, allowFrameSkip);
}

void local_DumpStatic(const OMX_VIDEO_PARAM_STATICPARAMS& roStatic)
{
    const IH264ENC_Params& roParams = roStatic.videoStaticParams;
    local_DumpBegin("OMX_VIDEO_PARAM_STATICPARAMS");
    local_DumpHead(roStatic);
    local_DumpRecord(1, "IH264ENC_Params");
    LOCAL_DUMP(2, roParams, entropyCodingMode);
    LOCAL_DUMP(2, roParams, transformBlockSize);
    local_DumpRecord(2, "IVIDENC2_Params");
    LOCAL_DUMP(3, roParams.videnc2Params, size);
    LOCAL_DUMP(3, roParams.videnc2Params, encodingPreset);
    LOCAL_DUMP(3, roParams.videnc2Params, rateControlPreset);
    LOCAL_DUMP(3, roParams.videnc2Params, maxHeight);
    LOCAL_DUMP(3, roParams.videnc2Params, maxWidth);
    LOCAL_DUMP(3, roParams.videnc2Params, maxInterFrameInterval);
    LOCAL_DUMP(3, roParams.videnc2Params, inputChromaFormat);
    LOCAL_DUMP(3, roParams.videnc2Params, profile);
    LOCAL_DUMP(3, roParams.videnc2Params, level);
    local_DumpRateControl(roParams.rateControlParams);
    local_DumpRecord(2, "IH264ENC_SliceCodingParams");
    LOCAL_DUMP(3, roParams.sliceCodingParams, sliceMode);
    LOCAL_DUMP(3, roParams.sliceCodingParams, sliceUnitSize);
    for (int i = 0; i < IH264ENC_MAX_NUM_SLICE_START_OFFSET; ++i)
        local_DumpElement(3, "sliceStartOffset", i, roParams.sliceCodingParams.sliceStartOffset[i]);
    LOCAL_DUMP(3, roParams.sliceCodingParams, streamFormat);
    local_DumpEnd();
}

void local_DumpDynamic(const OMX_VIDEO_PARAM_DYNAMICPARAMS& roDynamic)
{
    const IVIDENC2_DynamicParams& roVidenc = roDynamic.videoDynamicParams.videnc2DynamicParams;
    local_DumpBegin("OMX_VIDEO_PARAM_DYNAMICPARAMS");
    local_DumpHead(roDynamic);
    local_DumpRecord(1, "IH264ENC_DynamicParams");
    local_DumpRecord(2, "IVIDENC2_DynamicParams");
    LOCAL_DUMP(3, roVidenc, size);
    LOCAL_DUMP(3, roVidenc, inputHeight);
    LOCAL_DUMP(3, roVidenc, inputWidth);
    LOCAL_DUMP(3, roVidenc, refFrameRate);
    LOCAL_DUMP(3, roVidenc, targetFrameRate);
    LOCAL_DUMP(3, roVidenc, targetBitRate);
    LOCAL_DUMP(3, roVidenc, intraFrameInterval);
    LOCAL_DUMP(3, roVidenc, interFrameInterval);
    local_DumpRateControl(roDynamic.videoDynamicParams.rateControlParams);
    local_DumpEnd();
}

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
        IH264ENC_RateControlParams& roParams = oDynamic.videoDynamicParams.rateControlParams;
        roParams.rateControlParamsPreset = IH264_RATECONTROLPARAMS_USERDEFINED;
        roParams.qpI = -1;
        roParams.qpP = -1;
        roParams.qpOffsetB = -1;
        roParams.qpMinI = static_cast<OMX_S8>(roRateCtl.m_uiQpMinI);
        roParams.qpMaxI = static_cast<OMX_S8>(roRateCtl.m_uiQpMaxI);
        roParams.qpMinP = static_cast<OMX_S8>(roRateCtl.m_uiQpMinP);
        roParams.qpMaxP = static_cast<OMX_S8>(roRateCtl.m_uiQpMaxP);
        roParams.qpMinB = static_cast<OMX_S8>(roRateCtl.m_uiQpMinB);
        roParams.qpMaxB = static_cast<OMX_S8>(roRateCtl.m_uiQpMaxB);
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
