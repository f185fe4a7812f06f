#include "ti-components/DSPAudioEncoder.h"

#include <OMX_Audio.h>

#include <cstring>

#include "ti814x-framework.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szEncoderName = "OMX.TI.DSP.AUDENC";
const OMX_U32 local_uiPcmPort = 0;
const OMX_U32 local_uiAacPort = 1;
const OMX_U32 local_uiFrameLength = 1024;
} // namespace

CDSPAudioEncoder::CDSPAudioEncoder()
    : COMXComponent(const_cast<char*>(local_szEncoderName)),
      m_oInputPort(),
      m_oOutputPort(),
      m_uiNumberOfInputBuffers(1),
      m_uiNumberOfOutputBuffers(1),
      m_uiInputBufferSize(4096),
      m_uiOutputBufferSize(4608),
      m_uiNumChannels(2),
      m_eInputSampleRate(SampleRate_48000Hz),
      m_uiAACBitrate(192000)
{
    ZEM_INFO(3, "");
}

CDSPAudioEncoder::~CDSPAudioEncoder()
{
    ZEM_INFO(3, "");
}

OMX_ERRORTYPE CDSPAudioEncoder::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDSPAudioEncoder");
    ZEM_CHECK(COMXComponent::Init());
    ZEM_CHECK(InitPorts());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDSPAudioEncoder::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "CDSPAudioEncoder");
    ZEM_CHECK(DeinitPortsAndHandles());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDSPAudioEncoder::CreatePorts()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    m_uiInputPortCount = 1;
    m_poInputPort = &m_oInputPort;
    m_oInputPort.SetPortID(local_uiPcmPort);
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutputPort;
    m_oOutputPort.SetPortID(local_uiAacPort);
    ZEM_CHECK(EnablePort(local_uiPcmPort, OMX_TRUE));
    ZEM_CHECK(EnablePort(local_uiAacPort, OMX_TRUE));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDSPAudioEncoder::SetAudioEncoderParams(ESupportedSampleRates eSampleRate, OMX_U32 uiAACBitrate,
                                                      OMX_U32 uiNumChannels, OMX_U32 uiNumberOfInputBuffers,
                                                      OMX_U32 uiNumberOfOutputBuffers, OMX_U32 uiInputBufferSize,
                                                      OMX_U32 uiOutputBufferSize)
{
    m_eInputSampleRate = eSampleRate;
    m_uiAACBitrate = uiAACBitrate;
    m_uiNumChannels = uiNumChannels;
    m_uiNumberOfInputBuffers = uiNumberOfInputBuffers;
    m_uiNumberOfOutputBuffers = uiNumberOfOutputBuffers;
    m_uiInputBufferSize = uiInputBufferSize;
    m_uiOutputBufferSize = uiOutputBufferSize;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDSPAudioEncoder::ConnectTo(CComponent* poSink, unsigned long uiInputIndex)
{
    return CComponent::ConnectTo(0, poSink, static_cast<MUINT32>(uiInputIndex));
}

OMX_ERRORTYPE CDSPAudioEncoder::SetPortDefinition(OMX_U32 uiPort, OMX_U32 uiBufferCount, OMX_AUDIO_CODINGTYPE eEncoding,
                                                  OMX_PARAM_PORTDEFINITIONTYPE& roDefinition)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    OmxInitStructure(roDefinition, uiPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &roDefinition));
    roDefinition.nBufferCountActual = uiBufferCount;
    roDefinition.format.audio.eEncoding = eEncoding;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamPortDefinition, &roDefinition));
    ZEM_CHECK(GetOmxParam(OMX_IndexParamPortDefinition, &roDefinition));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CDSPAudioEncoder::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_PORT_PARAM_TYPE oPortParam;
    OMX_PARAM_PORTDEFINITIONTYPE oPortDefinition;
    OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
    OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
    SPortBufferInfo oBufferInfo;

    // Two audio ports, numbered from 0.
    OmxInitStructureHeader(oPortParam);
    oPortParam.nPorts = 2;
    oPortParam.nStartPortNumber = 0;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamAudioInit, &oPortParam));

    // PCM in, AAC out: the counts asked for; the sizes are the component's.
    ZEM_CHECK(SetPortDefinition(local_uiPcmPort, m_uiNumberOfInputBuffers, OMX_AUDIO_CodingPCM, oPortDefinition));
    m_uiInputBufferSize = oPortDefinition.nBufferSize;
    ZEM_CHECK(SetPortDefinition(local_uiAacPort, m_uiNumberOfOutputBuffers, OMX_AUDIO_CodingAAC, oPortDefinition));
    m_uiOutputBufferSize = oPortDefinition.nBufferSize;
    ZEM_INFO(2, "DSPAudioEncoder provide output buffers: size = %lu, buffer count: %lu", m_uiOutputBufferSize,
             oPortDefinition.nBufferCountActual);

    // The output buffers are this side's; the input buffers are provided by the capture.
    memset(&oBufferInfo, 0, sizeof(oBufferInfo));
    oBufferInfo.uiBufferSize = static_cast<MUINT32>(m_uiOutputBufferSize);
    ZEM_CHECK(m_oOutputPort.ProvideBuffer(&oBufferInfo, static_cast<MUINT32>(m_uiNumberOfOutputBuffers)));

    OmxInitStructure(oPcm, local_uiPcmPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamAudioPcm, &oPcm));
    oPcm.nChannels = m_uiNumChannels;
    oPcm.nSamplingRate = static_cast<OMX_U32>(m_eInputSampleRate);
    oPcm.eNumData = OMX_NumericalDataSigned;
    oPcm.eEndian = OMX_EndianLittle;
    oPcm.bInterleaved = OMX_TRUE;
    oPcm.ePCMMode = OMX_AUDIO_PCMModeLinear;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamAudioPcm, &oPcm));

    OmxInitStructure(oAac, local_uiAacPort);
    ZEM_CHECK(GetOmxParam(OMX_IndexParamAudioAac, &oAac));
    oAac.nChannels = m_uiNumChannels;
    oAac.nSampleRate = static_cast<OMX_U32>(m_eInputSampleRate);
    oAac.nBitRate = m_uiAACBitrate;
    oAac.nFrameLength = local_uiFrameLength;
    oAac.eAACProfile = OMX_AUDIO_AACObjectLC;
    oAac.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4ADTS;
    ZEM_CHECK(SetOmxParam(OMX_IndexParamAudioAac, &oAac));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
