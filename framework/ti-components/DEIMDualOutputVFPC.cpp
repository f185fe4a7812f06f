#include "ti-components/DEIMDualOutputVFPC.h"

#include <cstring>

#include "GenUtils.h"
#include "ti814x-framework.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szComponentName = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
const MSIZE32 local_oMinSize = {640, 480};
const MSIZE32 local_oMaxSize = {1920, 1200};
// The primary output's buffers hold whole macroblock rows of lines: its height is rounded up.
const MUINT32 local_uiPrimaryLineAlignment = 32;
const MUINT32 local_uiStopWaitMilliSec = 1000;

bool local_IsAccepted(const MSIZE32& roSize, OmxPixelFormat ePixelFormat)
{
    return (ePixelFormat == OmxPixFmt_YUV420 || ePixelFormat == OmxPixFmt_YUV422) &&
           roSize.m_uiCx >= local_oMinSize.m_uiCx && roSize.m_uiCx <= local_oMaxSize.m_uiCx &&
           roSize.m_uiCy >= local_oMinSize.m_uiCy && roSize.m_uiCy <= local_oMaxSize.m_uiCy;
}

// The port allocates uiCount buffers of uiBufferSize bytes holding pictures of roSize. A failure
// shows when the wrapper allocates the buffers.
void local_ProvideBuffers(CPort& roPort, const MSIZE32& roSize, OmxPixelFormat ePixelFormat, MUINT32 uiBufferSize,
                          MUINT32 uiCount)
{
    SPortBufferInfo oInfo;
    oInfo.eFormat = static_cast<OMX_COLOR_FORMATTYPE>(ePixelFormat);
    oInfo.uiBufferSize = uiBufferSize;
    oInfo.uiWidth = roSize.m_uiCx;
    oInfo.uiHeight = roSize.m_uiCy;
    roPort.ProvideBuffer(&oInfo, uiCount);
}
} // namespace

CDEIMDualOutput::CDEIMDualOutput()
    : COMXComponent(const_cast<char*>(local_szComponentName)),
      m_oInputSize{0, 0},
      m_oPriOutSize{0, 0},
      m_oSecOutSize{0, 0},
      m_eInPixelFormat(OmxPixFmt_YUV420),
      m_ePriOutPixelFormat(OmxPixFmt_YUV422),
      m_eSecOutPixelFormat(OmxPixFmt_YUV420),
      m_bInterlaced(false),
      m_uiNbBufferIn(0),
      m_uiNbBufferPriOut(0),
      m_uiNbBufferSecOut(0),
      m_bProvideInputBuffers(false)
{
    ZEM_INFO(3, "");
}

CDEIMDualOutput::~CDEIMDualOutput()
{
    ZEM_INFO(3, "");
}

OMX_ERRORTYPE CDEIMDualOutput::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDEIMDualOutput");
    ZEM_CHECK(COMXComponent::Init());
    ZEM_CHECK(InitPorts());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDEIMDualOutput::CreatePorts()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    m_uiInputPortCount = 1;
    m_poInputPort = &m_oInputPort;
    m_oInputPort.SetPortID(InputPortID);
    m_uiOutputPortCount = 2;
    m_poOutputPort = m_aoOutputPort;
    m_aoOutputPort[0].SetPortID(PrimaryOutputPortID);
    m_aoOutputPort[1].SetPortID(SecondaryOutputPortID);
    ZEM_CHECK(EnablePort(InputPortID, 1));
    ZEM_CHECK(EnablePort(PrimaryOutputPortID, 1));
    ZEM_CHECK(EnablePort(SecondaryOutputPortID, 1));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDEIMDualOutput::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDEIMDualOutput");
    ZEM_CHECK(DeinitPortsAndHandles());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDEIMDualOutput::ConnectPrimaryTo(CComponent* poSink, OMX_U32 uiInputIndex)
{
    return ConnectTo(0, poSink, static_cast<MUINT32>(uiInputIndex));
}

OMX_ERRORTYPE CDEIMDualOutput::ConnectSecondaryTo(CComponent* poSink, OMX_U32 uiInputIndex)
{
    return ConnectTo(1, poSink, static_cast<MUINT32>(uiInputIndex));
}

OMX_ERRORTYPE CDEIMDualOutput::SetDeiParams(const MSIZE32& roInputSize, const MSIZE32& roPriOutSize,
                                            const MSIZE32& roSecOutSize, OmxPixelFormat eInPixelFormat,
                                            OmxPixelFormat ePriOutPixelFormat, OmxPixelFormat eSecOutPixelFormat,
                                            bool bInterlaced, MUINT uiNbBufferIn, MUINT uiNbBufferPriOut,
                                            MUINT uiNbBufferSecOut, bool bProvideInputBuffers)
{
    if (!local_IsAccepted(roInputSize, eInPixelFormat) || !local_IsAccepted(roPriOutSize, ePriOutPixelFormat) ||
        !local_IsAccepted(roSecOutSize, eSecOutPixelFormat))
        return OMX_ErrorBadParameter;
    m_oInputSize = roInputSize;
    m_oPriOutSize = roPriOutSize;
    m_oSecOutSize = roSecOutSize;
    m_eInPixelFormat = eInPixelFormat;
    m_ePriOutPixelFormat = ePriOutPixelFormat;
    m_eSecOutPixelFormat = eSecOutPixelFormat;
    m_bInterlaced = bInterlaced;
    // Each upstream frame buffer reaches the platform as two field buffers.
    m_uiNbBufferIn = uiNbBufferIn * (bInterlaced ? 2 : 1);
    m_uiNbBufferPriOut = uiNbBufferPriOut;
    m_uiNbBufferSecOut = uiNbBufferSecOut;
    m_bProvideInputBuffers = bProvideInputBuffers;
    m_oInputPort.SetInterlaced(bInterlaced);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDEIMDualOutput::SetPortDefinition(MUINT32 uiPortID, const MSIZE32& roSize, OmxPixelFormat ePixelFormat,
                                                 MUINT32 uiBufferSize, MUINT32 uiBufferCount)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;

    OmxInitStructure(oDefinition, uiPortID);
    eError = GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition);
    if (eError != OMX_ErrorNone)
        return eError;
    oDefinition.format.video.nFrameWidth = roSize.m_uiCx;
    oDefinition.format.video.nFrameHeight = roSize.m_uiCy;
    oDefinition.format.video.nStride = static_cast<OMX_S32>(GetPitch(roSize.m_uiCx, ePixelFormat));
    oDefinition.format.video.eCompressionFormat = OMX_VIDEO_CodingUnused;
    oDefinition.format.video.eColorFormat = static_cast<OMX_COLOR_FORMATTYPE>(ePixelFormat);
    oDefinition.nBufferSize = uiBufferSize;
    oDefinition.nBufferAlignment = 0;
    oDefinition.nBufferCountActual = uiBufferCount;
    if (uiPortID == InputPortID)
        oDefinition.bBuffersContiguous = OMX_FALSE;
    return SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition);
}

OMX_ERRORTYPE CDEIMDualOutput::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    // The input is handled field by field when interlaced.
    const MUINT32 uiFieldDiv = m_bInterlaced ? 2 : 1;
    const MSIZE32 oInputBufferSize = {m_oInputSize.m_uiCx, m_oInputSize.m_uiCy / uiFieldDiv};
    const MUINT32 uiInputBufferSize = GetBufferSize(m_oInputSize, m_eInPixelFormat) / uiFieldDiv;
    const MUINT32 uiInputPitch = GetPitch(m_oInputSize.m_uiCx, m_eInPixelFormat);
    const MSIZE32 oPrimaryBufferSize = {m_oPriOutSize.m_uiCx,
                                        (m_oPriOutSize.m_uiCy + local_uiPrimaryLineAlignment - 1) /
                                            local_uiPrimaryLineAlignment * local_uiPrimaryLineAlignment};
    const MUINT32 uiPrimaryBufferSize = GetBufferSize(oPrimaryBufferSize, m_ePriOutPixelFormat);
    const MUINT32 uiSecondaryBufferSize = GetBufferSize(m_oSecOutSize, m_eSecOutPixelFormat);
    const MUINT32 auiMemoryPorts[] = {InputPortID, PrimaryOutputPortID, SecondaryOutputPortID};
    OMX_CONFIG_SUBSAMPLING_FACTOR oSubSampling;
    OMX_PARAM_BUFFER_MEMORYTYPE oMemoryType;
    OMX_PARAM_VFPC_NUMCHANNELPERHANDLE oChannels;
    OMX_CONFIG_VIDCHANNEL_RESOLUTION oResolution;
    OMX_CONFIG_RESOLUTIONCHANGE_TYPE oChangeType;
    OMX_CONFIG_ALG_ENABLE oAlgorithm;

    OmxInitStructure(oSubSampling, InputPortID);
    oSubSampling.nSubSamplingFactor = uiFieldDiv;
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigSubSamplingFactor, &oSubSampling));

    for (MUINT32 uiPort : auiMemoryPorts)
    {
        OmxInitStructure(oMemoryType, uiPort);
        oMemoryType.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
        ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamBuffMemType, &oMemoryType));
    }

    ZEM_CHECK(SetPortDefinition(InputPortID, oInputBufferSize, m_eInPixelFormat, uiInputBufferSize, m_uiNbBufferIn));
    if (m_bProvideInputBuffers)
        local_ProvideBuffers(m_oInputPort, oInputBufferSize, m_eInPixelFormat, uiInputBufferSize, m_uiNbBufferIn);
    // Both outputs always provide their buffers. The primary port's description keeps the picture
    // height; only its buffers are rounded up.
    ZEM_CHECK(SetPortDefinition(PrimaryOutputPortID, m_oPriOutSize, m_ePriOutPixelFormat, uiPrimaryBufferSize,
                                m_uiNbBufferPriOut));
    local_ProvideBuffers(m_aoOutputPort[0], m_oPriOutSize, m_ePriOutPixelFormat, uiPrimaryBufferSize,
                         m_uiNbBufferPriOut);
    ZEM_CHECK(SetPortDefinition(SecondaryOutputPortID, m_oSecOutSize, m_eSecOutPixelFormat, uiSecondaryBufferSize,
                                m_uiNbBufferSecOut));
    local_ProvideBuffers(m_aoOutputPort[1], m_oSecOutSize, m_eSecOutPixelFormat, uiSecondaryBufferSize,
                         m_uiNbBufferSecOut);

    OmxInitStructure(oChannels, InputPortID);
    oChannels.nNumChannelsPerHandle = 1;
    ZEM_CHECK(SetOmxParam(OMX_TI_IndexParamVFPCNumChPerHandle, &oChannels));

    OmxInitStructure(oResolution, InputPortID);
    oResolution.eDir = OMX_DirInput;
    oResolution.nChId = 0;
    oResolution.Frm0Width = oInputBufferSize.m_uiCx;
    oResolution.Frm0Height = oInputBufferSize.m_uiCy;
    oResolution.Frm0Pitch = uiInputPitch;
    oResolution.FrmCropWidth = oInputBufferSize.m_uiCx;
    oResolution.FrmCropHeight = oInputBufferSize.m_uiCy;
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigVidChResolution, &oResolution));

    OmxInitStructure(oResolution, InputPortID);
    oResolution.eDir = OMX_DirOutput;
    oResolution.nChId = 0;
    oResolution.Frm0Width = m_oPriOutSize.m_uiCx;
    oResolution.Frm0Height = m_oPriOutSize.m_uiCy;
    oResolution.Frm0Pitch = GetPitch(m_oPriOutSize.m_uiCx, m_ePriOutPixelFormat);
    oResolution.Frm1Width = m_oSecOutSize.m_uiCx;
    oResolution.Frm1Height = m_oSecOutSize.m_uiCy;
    oResolution.Frm1Pitch = GetPitch(m_oSecOutSize.m_uiCx, m_eSecOutPixelFormat);
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigVidChResolution, &oResolution));

    OmxInitStructure(oChangeType, InputPortID);
    oChangeType.nChId = 0;
    oChangeType.eResolutionChangeType = OMX_RESOLUTIONCHANGE_TYPE_AUTODETECT;
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigResolutionChangeType, &oChangeType));

    // Deinterlacing runs only for an interlaced input.
    OmxInitStructure(oAlgorithm, InputPortID);
    oAlgorithm.nChId = 0;
    oAlgorithm.bAlgBypass = m_bInterlaced ? OMX_FALSE : OMX_TRUE;
    ZEM_CHECK(SetOmxConfig(OMX_TI_IndexConfigAlgEnable, &oAlgorithm));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDEIMDualOutput::StopBufferProcessing()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    if (m_bBufferProcessing)
    {
        // Frames in flight settle before the component is taken down to idle.
        ZEM_INFO(2, "Component %s transition from %s to %s, waiting 1 sec...\n", m_szComponentName,
                 StateToStr(m_eComponentState), StateToStr(OMX_StateIdle));
        LCpuThread_Sleep(local_uiStopWaitMilliSec);
        ZEM_INFO(2, "Component %s transition from %s to %s, waiting done.\n", m_szComponentName,
                 StateToStr(m_eComponentState), StateToStr(OMX_StateIdle));
    }
    ZEM_CHECK(COMXComponent::StopBufferProcessing());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
