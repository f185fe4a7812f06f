#include "CAacEncoderComponent.h"

#include <cstring>

#include "CAacEncoderSettings.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.DSP.AUDENC", PellixCreateComponent<CAacEncoderComponent>)

namespace
{
const OMX_U32 local_nBytesPerSample = 2;
const OMX_U32 local_nMaxBuffers = 32;
const int64_t local_iUsecPerSecond = 1000000;
char local_szPcmMime[] = "audio/x-raw";
char local_szAacMime[] = "audio/mpeg";
} // namespace

CAacEncoderComponent::CAacEncoderComponent(const char* szName)
    : CPlatformComponent(szName),
      m_poInput(nullptr),
      m_nInputOffset(0),
      m_bPacketPending(false),
      m_bMayReceive(false),
      m_bAdts(true),
      m_bMpeg2(false),
      m_iRateIndex(0),
      m_uiRate(0),
      m_uiChannels(0)
{
    CPlatformPort& roInput = AddPort(CAacEncoderSettings::s_nInputPort, OMX_DirInput, OMX_PortDomainAudio);
    roInput.SetBufferRequirements(1, 1, CAacEncoderSettings::s_nInputBufferSize);
    roInput.Definition().format.audio.cMIMEType = local_szPcmMime;
    roInput.Definition().format.audio.eEncoding = OMX_AUDIO_CodingPCM;
    CPlatformPort& roOutput = AddPort(CAacEncoderSettings::s_nOutputPort, OMX_DirOutput, OMX_PortDomainAudio);
    roOutput.SetBufferRequirements(1, 1, CAacEncoderSettings::s_nOutputBufferSize);
    roOutput.Definition().format.audio.cMIMEType = local_szAacMime;
    roOutput.Definition().format.audio.eEncoding = OMX_AUDIO_CodingAAC;

    const OMX_AUDIO_PARAM_PCMMODETYPE oPcm = CAacEncoderSettings::DefaultPcm();
    AddParameter(OMX_IndexParamAudioPcm, SettingAccess_LoadedOnly, true, &oPcm);
    const OMX_AUDIO_PARAM_AACPROFILETYPE oAac = CAacEncoderSettings::DefaultAac();
    AddParameter(OMX_IndexParamAudioAac, SettingAccess_LoadedOnly, true, &oAac);
}

CAacEncoderComponent::~CAacEncoderComponent() = default;

OMX_ERRORTYPE CAacEncoderComponent::CheckPortDefinition(const CPlatformPort& roPort,
                                                        OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    const bool bInput = roPort.IsInput();
    if (roNew.format.audio.eEncoding != (bInput ? OMX_AUDIO_CodingPCM : OMX_AUDIO_CodingAAC) ||
        roNew.nBufferCountActual > local_nMaxBuffers)
        return OMX_ErrorBadParameter;
    // The sizes are the component's.
    roNew.nBufferSize = bInput ? CAacEncoderSettings::s_nInputBufferSize : CAacEncoderSettings::s_nOutputBufferSize;
    roNew.format.audio.cMIMEType = bInput ? local_szPcmMime : local_szAacMime;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CAacEncoderComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    if (eIndex == OMX_IndexParamAudioPcm)
        return CAacEncoderSettings::CheckPcm(*static_cast<const OMX_AUDIO_PARAM_PCMMODETYPE*>(pvNew));
    if (eIndex == OMX_IndexParamAudioAac)
        return CAacEncoderSettings::CheckAac(*static_cast<const OMX_AUDIO_PARAM_AACPROFILETYPE*>(pvNew));
    return OMX_ErrorNone;
}

bool CAacEncoderComponent::ReadSettings(OMX_AUDIO_PARAM_PCMMODETYPE& roPcm,
                                        OMX_AUDIO_PARAM_AACPROFILETYPE& roAac) const
{
    return ReadSetting(OMX_IndexParamAudioPcm, false, CAacEncoderSettings::s_nInputPort, &roPcm, sizeof(roPcm)) &&
           ReadSetting(OMX_IndexParamAudioAac, false, CAacEncoderSettings::s_nOutputPort, &roAac, sizeof(roAac));
}

OMX_ERRORTYPE CAacEncoderComponent::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
    OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
    if (eFrom == OMX_StateLoaded && eTo == OMX_StateIdle)
    {
        // No resampling and no channel mixing: what comes in is what goes out.
        if (!ReadSettings(oPcm, oAac))
            return OMX_ErrorUndefined;
        if (oPcm.nSamplingRate != oAac.nSampleRate || oPcm.nChannels != oAac.nChannels)
            return OMX_ErrorUnsupportedSetting;
        return OMX_ErrorNone;
    }
    if (eFrom == OMX_StateIdle && eTo == OMX_StateExecuting)
        return OpenSession();
    if (eTo == OMX_StateIdle)
    {
        // Every stream starts afresh at the next move to Executing.
        m_oSession.Close();
        m_poInput = nullptr;
        m_bPacketPending = false;
        m_bMayReceive = false;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CAacEncoderComponent::OpenSession()
{
    OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
    OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
    if (!ReadSettings(oPcm, oAac))
        return OMX_ErrorUndefined;
    m_uiRate = static_cast<unsigned>(oAac.nSampleRate);
    m_uiChannels = static_cast<unsigned>(oAac.nChannels);
    m_iRateIndex = CAacEncoderSettings::SampleRateIndex(oAac.nSampleRate);
    m_bAdts = oAac.eAACStreamFormat != OMX_AUDIO_AACStreamFormatRAW;
    m_bMpeg2 = oAac.eAACStreamFormat == OMX_AUDIO_AACStreamFormatMP2ADTS;
    m_poInput = nullptr;
    m_nInputOffset = 0;
    m_bPacketPending = false;
    m_bMayReceive = false;
    if (!m_oSession.Open(m_uiRate, m_uiChannels, static_cast<unsigned>(oAac.nBitRate)))
        return OMX_ErrorInsufficientResources;
    return OMX_ErrorNone;
}

void CAacEncoderComponent::OnReleaseBuffers(OMX_U32 nPortIndex)
{
    if (nPortIndex == CAacEncoderSettings::s_nInputPort || nPortIndex == OMX_ALL)
        m_poInput = nullptr;
}

void CAacEncoderComponent::OnProcess()
{
    if (!m_oSession.IsOpen())
        return;
    while (Step())
    {
    }
}

bool CAacEncoderComponent::Step()
{
    if (!m_bPacketPending && m_bMayReceive)
    {
        m_bPacketPending = m_oSession.ReceivePacket();
        m_bMayReceive = m_bPacketPending;
    }
    if (m_bPacketPending)
    {
        if (PeekBuffer(CAacEncoderSettings::s_nOutputPort) == nullptr)
            return false;
        DeliverPacket();
        return true;
    }
    if (m_oSession.IsFrameFull())
    {
        m_bMayReceive = true;
        if (!m_oSession.SendFrame())
            SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorUndefined), 0);
        return true;
    }

    if (m_poInput == nullptr)
    {
        m_poInput = TakeBuffer(CAacEncoderSettings::s_nInputPort);
        m_nInputOffset = 0;
        if (m_poInput == nullptr)
            return false;
    }
    const OMX_U32 nFrameBytes = m_uiChannels * local_nBytesPerSample;
    const OMX_U32 nFrames = (m_poInput->nFilledLen - m_nInputOffset) / nFrameBytes;
    const OMX_U32 nTaken = nFrames < m_oSession.FrameRoom() ? nFrames : m_oSession.FrameRoom();
    m_oSession.Append(m_poInput->pBuffer + m_poInput->nOffset + m_nInputOffset, static_cast<unsigned>(nTaken));
    m_nInputOffset += nTaken * nFrameBytes;
    if (nTaken == nFrames)
    {
        // Gathered whole; a part of a sample frame at its end is dropped.
        Count(PellixCounter_FramesConsumed);
        OMX_BUFFERHEADERTYPE* poDone = m_poInput;
        m_poInput = nullptr;
        poDone->nFilledLen = 0;
        poDone->nOffset = 0;
        ReturnBuffer(poDone);
    }
    return true;
}

void CAacEncoderComponent::DeliverPacket()
{
    m_bPacketPending = false;
    const unsigned uiHeader = m_bAdts ? CAacEncoderSettings::s_uiAdtsHeaderSize : 0;
    const unsigned uiPayload = m_oSession.PacketSize();
    OMX_BUFFERHEADERTYPE* poOutput = PeekBuffer(CAacEncoderSettings::s_nOutputPort);
    if (uiHeader + uiPayload > poOutput->nAllocLen)
    {
        // Cannot happen with buffers of the size this component asks for.
        Count(PellixCounter_FramesDropped);
        SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorOverflow), 0);
        return;
    }
    poOutput = TakeBuffer(CAacEncoderSettings::s_nOutputPort);
    if (m_bAdts)
        CAacEncoderSettings::WriteAdtsHeader(poOutput->pBuffer, m_bMpeg2, m_iRateIndex, m_uiChannels, uiPayload);
    memcpy(poOutput->pBuffer + uiHeader, m_oSession.PacketData(), uiPayload);
    poOutput->nOffset = 0;
    poOutput->nFilledLen = uiHeader + uiPayload;
    poOutput->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
    poOutput->nTimeStamp = m_oSession.PacketPts() * local_iUsecPerSecond / static_cast<int64_t>(m_uiRate);
    Count(PellixCounter_FramesEncoded);
    ReturnBuffer(poOutput);
}
