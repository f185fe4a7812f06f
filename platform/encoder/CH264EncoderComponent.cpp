#include "CH264EncoderComponent.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "ComponentRegistry.h"

namespace
{
const OMX_U32 local_nIn = CH264EncoderSettings::s_nInputPort;
const OMX_U32 local_nOut = CH264EncoderSettings::s_nOutputPort;

OMX_INDEXTYPE local_Index(OMX_TI_INDEXTYPE eIndex)
{
    return static_cast<OMX_INDEXTYPE>(eIndex);
}

// The quantiser range the codec would be opened with under these limits.
bool local_SameLimits(CH264EncoderSettings::SState oState, const IH264ENC_RateControlParams& roOld,
                      const IH264ENC_RateControlParams& roNew)
{
    oState.oRateControl = roOld;
    const SH264SessionConfig oOld = CH264EncoderSettings::SessionConfig(oState);
    oState.oRateControl = roNew;
    const SH264SessionConfig oNew = CH264EncoderSettings::SessionConfig(oState);
    return oOld.iQpMin == oNew.iQpMin && oOld.iQpMax == oNew.iQpMax;
}
} // namespace

CH264EncoderComponent::CH264EncoderComponent(const char* szName)
    : CPlatformComponent(szName),
      m_oRateControl(CH264EncoderSettings::DefaultRateControl()),
      m_nBitRate(0),
      m_bBitRateChanged(false),
      m_bLimitsChanged(false),
      m_bIdrRequested(false),
      m_bBehindSaid(false),
      m_bParameterSetsDue(false),
      m_bForceIdr(false),
      m_bEndOfStreamSent(false),
      m_eDrain(Drain_None),
      m_nLastTimeStamp(0)
{
    CH264EncoderSettings::SetDefaultInputPort(AddPort(local_nIn, OMX_DirInput, OMX_PortDomainVideo));
    CPlatformPort& roOutput = AddPort(local_nOut, OMX_DirOutput, OMX_PortDomainVideo);
    CH264EncoderSettings::SetDefaultOutputPort(roOutput);
    m_nBitRate = roOutput.Definition().format.video.nBitrate;

    const OMX_VIDEO_PARAM_ENCODER_PRESETTYPE oPreset = CH264EncoderSettings::DefaultPreset();
    AddParameter(local_Index(OMX_TI_IndexParamVideoEncoderPreset), SettingAccess_LoadedOnly, true, &oPreset);
    const OMX_VIDEO_PARAM_AVCTYPE oAvc = CH264EncoderSettings::DefaultAvc();
    AddParameter(OMX_IndexParamVideoAvc, SettingAccess_LoadedOnly, true, &oAvc);
}

CH264EncoderComponent::~CH264EncoderComponent() = default;

// ---- Settings ---------------------------------------------------------------------------------

OMX_ERRORTYPE CH264EncoderComponent::ReadStateFor(OMX_INDEXTYPE eIndex, const void* pvStruct, size_t uiSize,
                                                  CH264EncoderSettings::SState& roState) const
{
    const OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, uiSize);
    if (eError != OMX_ErrorNone)
        return eError;
    if (static_cast<const SOmxPortStructHead*>(pvStruct)->nPortIndex != local_nOut)
        return OMX_ErrorBadPortIndex;
    return ReadState(roState) ? OMX_ErrorNone : OMX_ErrorUndefined;
}

bool CH264EncoderComponent::ReadState(CH264EncoderSettings::SState& roState) const
{
    if (!ReadPortDefinition(local_nIn, roState.oInput) || !ReadPortDefinition(local_nOut, roState.oOutput) ||
        !ReadSetting(local_Index(OMX_TI_IndexParamVideoEncoderPreset), false, local_nOut, &roState.oPreset,
                     sizeof(roState.oPreset)) ||
        !ReadSetting(OMX_IndexParamVideoAvc, false, local_nOut, &roState.oAvc, sizeof(roState.oAvc)))
        return false;
    std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
    roState.oRateControl = m_oRateControl;
    roState.nBitRate = m_nBitRate;
    return true;
}

OMX_ERRORTYPE CH264EncoderComponent::CheckPortDefinition(const CPlatformPort& roPort,
                                                         OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    if (roPort.Index() == local_nIn)
        return CH264EncoderSettings::CheckInputPort(roNew);
    const OMX_ERRORTYPE eError = CH264EncoderSettings::CheckOutputPort(roNew);
    if (eError == OMX_ErrorNone && roNew.format.video.nBitrate != roPort.Definition().format.video.nBitrate)
    {
        // The rate given last is the one in force, whichever way it came.
        std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
        m_nBitRate = roNew.format.video.nBitrate;
        m_bBitRateChanged = true;
    }
    return eError;
}

OMX_ERRORTYPE CH264EncoderComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool /*bConfig*/, OMX_PTR pvNew)
{
    if (eIndex == local_Index(OMX_TI_IndexParamVideoEncoderPreset))
        return CH264EncoderSettings::CheckPreset(*static_cast<OMX_VIDEO_PARAM_ENCODER_PRESETTYPE*>(pvNew));
    if (eIndex == OMX_IndexParamVideoAvc)
        return CH264EncoderSettings::CheckAvc(*static_cast<OMX_VIDEO_PARAM_AVCTYPE*>(pvNew));
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderComponent::OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (eIndex != local_Index(OMX_TI_IndexParamVideoStaticParams))
        return OMX_ErrorUnsupportedIndex;
    CH264EncoderSettings::SState oState;
    const OMX_ERRORTYPE eError = ReadStateFor(eIndex, pvStruct, sizeof(OMX_VIDEO_PARAM_STATICPARAMS), oState);
    if (eError != OMX_ErrorNone)
        return eError;
    static_cast<OMX_VIDEO_PARAM_STATICPARAMS*>(pvStruct)->videoStaticParams.h264EncStaticParams =
        CH264EncoderSettings::StaticView(oState);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderComponent::OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR /*pvStruct*/)
{
    // The static parameters follow the other settings; they are not set themselves.
    if (eIndex == local_Index(OMX_TI_IndexParamVideoStaticParams))
        return OMX_ErrorUnsupportedSetting;
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CH264EncoderComponent::OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (eIndex == OMX_IndexConfigVideoIntraVOPRefresh)
        return AccessIdrRequest(pvStruct, false);
    if (eIndex != local_Index(OMX_TI_IndexConfigVideoDynamicParams))
        return OMX_ErrorUnsupportedIndex;
    CH264EncoderSettings::SState oState;
    const OMX_ERRORTYPE eError = ReadStateFor(eIndex, pvStruct, sizeof(OMX_VIDEO_PARAM_DYNAMICPARAMS), oState);
    if (eError != OMX_ErrorNone)
        return eError;
    static_cast<OMX_VIDEO_PARAM_DYNAMICPARAMS*>(pvStruct)->videoDynamicParams.h264EncDynamicParams =
        CH264EncoderSettings::DynamicView(oState);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderComponent::OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (eIndex == OMX_IndexConfigVideoIntraVOPRefresh)
        return AccessIdrRequest(pvStruct, true);
    if (eIndex != local_Index(OMX_TI_IndexConfigVideoDynamicParams))
        return OMX_ErrorUnsupportedIndex;
    CH264EncoderSettings::SState oState;
    const OMX_ERRORTYPE eError = ReadStateFor(eIndex, pvStruct, sizeof(OMX_VIDEO_PARAM_DYNAMICPARAMS), oState);
    if (eError != OMX_ErrorNone)
        return eError;
    return SetDynamicParams(*static_cast<const OMX_VIDEO_PARAM_DYNAMICPARAMS*>(pvStruct), oState);
}

OMX_ERRORTYPE CH264EncoderComponent::SetDynamicParams(const OMX_VIDEO_PARAM_DYNAMICPARAMS& roGiven,
                                                      const CH264EncoderSettings::SState& roState)
{
    const IH264ENC_DynamicParams& roNew = roGiven.videoDynamicParams.h264EncDynamicParams;
    if (CH264EncoderSettings::CheckDynamicParams(roNew, CH264EncoderSettings::DynamicView(roState)) != OMX_ErrorNone)
        return OMX_ErrorBadParameter;
    const IH264ENC_RateControlParams& roRateControl = roNew.rateControlParams;

    {
        std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
        if (roRateControl.rateControlParamsPreset != IH264_RATECONTROLPARAMS_EXISTING)
        {
            if (!local_SameLimits(roState, m_oRateControl, roRateControl))
                m_bLimitsChanged = true;
            m_oRateControl = roRateControl;
        }
        const OMX_U32 nBitRate = static_cast<OMX_U32>(roNew.videnc2DynamicParams.targetBitRate);
        if (nBitRate != m_nBitRate)
        {
            m_nBitRate = nBitRate;
            m_bBitRateChanged = true;
        }
    }
    RequestProcess();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CH264EncoderComponent::AccessIdrRequest(OMX_PTR pvStruct, bool bSet)
{
    const OMX_ERRORTYPE eError =
        CheckStructHead(OMX_IndexConfigVideoIntraVOPRefresh, pvStruct, sizeof(OMX_CONFIG_INTRAREFRESHVOPTYPE));
    if (eError != OMX_ErrorNone)
        return eError;
    OMX_CONFIG_INTRAREFRESHVOPTYPE& roRefresh = *static_cast<OMX_CONFIG_INTRAREFRESHVOPTYPE*>(pvStruct);
    if (roRefresh.nPortIndex != local_nOut)
        return OMX_ErrorBadPortIndex;
    {
        std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
        if (!bSet)
        {
            roRefresh.IntraRefreshVOP = m_bIdrRequested ? OMX_TRUE : OMX_FALSE;
            return OMX_ErrorNone;
        }
        m_bIdrRequested = roRefresh.IntraRefreshVOP != OMX_FALSE;
    }
    RequestProcess();
    return OMX_ErrorNone;
}

// ---- The component's thread -------------------------------------------------------------------

OMX_ERRORTYPE CH264EncoderComponent::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    if (eTo == OMX_StateExecuting && eFrom == OMX_StateIdle)
    {
        // A new stream: it opens with the settings in force now and starts with its parameter
        // sets. From Pause the stream goes on.
        {
            std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
            m_bBitRateChanged = false;
            m_bLimitsChanged = false;
            m_bIdrRequested = false;
        }
        m_eDrain = Drain_None;
        m_bForceIdr = false;
        m_bEndOfStreamSent = false;
        if (!OpenSession())
            return OMX_ErrorInsufficientResources;
        m_bParameterSetsDue = true;
        return OMX_ErrorNone;
    }
    if (eTo == OMX_StateIdle && (eFrom == OMX_StateExecuting || eFrom == OMX_StatePause))
    {
        // Pictures still held by the codec are dropped with it.
        m_oSession.Close();
    }
    return OMX_ErrorNone;
}

bool CH264EncoderComponent::OpenSession()
{
    CH264EncoderSettings::SState oState;
    if (!ReadState(oState) || !m_oSession.Open(CH264EncoderSettings::SessionConfig(oState)))
        return false;
    m_oPace.Start(m_oSession.Config().xFramerate);
    m_bBehindSaid = false;
    return true;
}

void CH264EncoderComponent::OnProcess()
{
    while (Step())
    {
    }
}

void CH264EncoderComponent::TakeSettingChanges()
{
    bool bBitRateChanged = false;
    bool bLimitsChanged = false;
    OMX_U32 nBitRate = 0;
    {
        std::lock_guard<std::mutex> oLock(m_oSettingsMutex);
        bBitRateChanged = m_bBitRateChanged;
        bLimitsChanged = m_bLimitsChanged;
        nBitRate = m_nBitRate;
        m_bBitRateChanged = false;
        m_bLimitsChanged = false;
        // Asked for while a picture is coded: it holds for the next one.
        m_bForceIdr = m_bForceIdr || m_bIdrRequested;
        m_bIdrRequested = false;
    }
    // Without a running stream the next one opens with the new settings.
    if (!m_oSession.IsOpen())
        return;
    // The codec takes new quantiser limits only when it is opened: the pictures it holds come
    // out first, then it restarts with an IDR picture (and the new rate).
    if (bLimitsChanged && m_eDrain == Drain_None)
        m_eDrain = Drain_Restart;
    else if (bBitRateChanged && m_eDrain == Drain_None)
        m_oSession.SetBitRate(static_cast<unsigned>(nBitRate));
}

bool CH264EncoderComponent::Step()
{
    TakeSettingChanges();
    if (m_eDrain != Drain_None)
        return StepDrain();
    // A picture is taken only when its access unit has somewhere to go.
    OMX_BUFFERHEADERTYPE* poInput = PeekBuffer(local_nIn);
    if (poInput == nullptr || QueuedBuffers(local_nOut) == 0)
        return false;
    if (!m_oSession.IsOpen() && !OpenSession())
    {
        // The codec refuses the settings: the picture goes back uncoded.
        Count(PellixCounter_FramesDropped);
        ReturnBuffer(TakeBuffer(local_nIn));
        SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInsufficientResources), local_nOut);
        return true;
    }
    // A stream begins with its first picture: a buffer without one does not open it.
    if (m_bParameterSetsDue && poInput->nFilledLen >= m_oSession.PictureBytes())
    {
        DeliverParameterSets(poInput->nTimeStamp);
        return true;
    }
    EncodeInput(TakeBuffer(local_nIn));
    return true;
}

bool CH264EncoderComponent::StepDrain()
{
    if (m_oSession.DelayedPictures() > 0)
    {
        if (QueuedBuffers(local_nOut) == 0)
            return false;
        const int iResult = m_oSession.Encode(nullptr, 0, false);
        if (iResult > 0)
            DeliverAccessUnit(m_eDrain == Drain_EndOfStream && m_oSession.DelayedPictures() == 0);
        else
            m_oSession.Close();  // a codec that gives nothing back is not waited for
        return true;
    }
    if (m_eDrain == Drain_EndOfStream && !m_bEndOfStreamSent)
    {
        if (QueuedBuffers(local_nOut) == 0)
            return false;
        DeliverEmptyEndOfStream();
        return true;
    }
    if (m_eDrain == Drain_EndOfStream)
    {
        // The next picture begins a new stream.
        m_oSession.Close();
        m_bParameterSetsDue = true;
    }
    else if (OpenSession())
    {
        // Restarted: the parameter sets go out again only when they changed (or when the
        // stream has not begun yet).
        m_bParameterSetsDue = m_bParameterSetsDue || m_oSession.ParameterSets() != m_aucSentParameterSets;
    }
    m_eDrain = Drain_None;
    return true;
}

void CH264EncoderComponent::EncodeInput(OMX_BUFFERHEADERTYPE* poInput)
{
    const bool bEndOfStream = (poInput->nFlags & OMX_BUFFERFLAG_EOS) != 0;
    int iResult = 0;
    if (poInput->nFilledLen >= m_oSession.PictureBytes())
    {
        const std::chrono::steady_clock::time_point oStart = std::chrono::steady_clock::now();
        iResult = m_oSession.Encode(poInput->pBuffer + poInput->nOffset, poInput->nTimeStamp, m_bForceIdr);
        KeepPace(static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - oStart).count()));
        m_bForceIdr = false;
        Count(PellixCounter_FramesConsumed);
    }
    else if (poInput->nFilledLen > 0)
    {
        Count(PellixCounter_FramesDropped);
    }
    m_nLastTimeStamp = poInput->nTimeStamp;
    ReturnBuffer(poInput);

    if (bEndOfStream)
    {
        m_eDrain = Drain_EndOfStream;
        m_bEndOfStreamSent = false;
    }
    if (iResult > 0)
        DeliverAccessUnit(bEndOfStream && m_oSession.DelayedPictures() == 0);
    else if (iResult < 0)
    {
        Count(PellixCounter_FramesDropped);
        m_bForceIdr = true;
        SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorUndefined), local_nOut);
    }
}

void CH264EncoderComponent::KeepPace(uint64_t uiMicroseconds)
{
    if (!m_oPace.Note(uiMicroseconds))
        return;
    const char* szPreset = m_oSession.Preset();
    if (m_oSession.SpeedUp())
    {
        fprintf(stderr,
                "%s: coding took %.1f ms a picture over the last second, more than the %.1f ms the input allows: "
                "x264 preset %s -> %s\n",
                Name(), m_oPace.MeanUs() / 1000.0, m_oPace.BudgetUs() / 1000.0, szPreset, m_oSession.Preset());
        m_oPace.Restart();
    }
    else if (!m_bBehindSaid)
    {
        fprintf(stderr,
                "%s: coding takes %.1f ms a picture, more than the %.1f ms the input allows, at the fastest x264 "
                "preset %s: the input is held back\n",
                Name(), m_oPace.MeanUs() / 1000.0, m_oPace.BudgetUs() / 1000.0, szPreset);
        m_bBehindSaid = true;
    }
}

void CH264EncoderComponent::DeliverAccessUnit(bool bEndOfStream)
{
    const OMX_BUFFERHEADERTYPE* poFree = PeekBuffer(local_nOut);
    const size_t uiSize = m_oSession.AccessUnitSize();
    if (poFree == nullptr)
        return;
    if (uiSize > poFree->nAllocLen)
    {
        // Cutting it would corrupt the stream: the picture is lost, and the next one does not
        // refer to it.
        Count(PellixCounter_FramesDropped);
        m_bForceIdr = true;
        SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorOverflow), local_nOut);
        if (bEndOfStream)
            DeliverEmptyEndOfStream();
        return;
    }
    OMX_BUFFERHEADERTYPE* poOutput = TakeBuffer(local_nOut);
    m_oSession.CopyAccessUnit(poOutput->pBuffer);
    poOutput->nOffset = 0;
    poOutput->nFilledLen = static_cast<OMX_U32>(uiSize);
    poOutput->nTimeStamp = m_oSession.Pts();
    poOutput->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (m_oSession.IsIdr() ? OMX_BUFFERFLAG_SYNCFRAME : 0) |
                       (bEndOfStream ? OMX_BUFFERFLAG_EOS : 0);
    if (bEndOfStream)
        m_bEndOfStreamSent = true;
    Count(PellixCounter_FramesEncoded);
    ReturnBuffer(poOutput);
}

void CH264EncoderComponent::DeliverParameterSets(OMX_TICKS nTimeStamp)
{
    const std::vector<uint8_t>& raucSets = m_oSession.ParameterSets();
    m_bParameterSetsDue = false;
    if (raucSets.size() > PeekBuffer(local_nOut)->nAllocLen)
    {
        SendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorOverflow), local_nOut);
        return;
    }
    OMX_BUFFERHEADERTYPE* poOutput = TakeBuffer(local_nOut);
    memcpy(poOutput->pBuffer, raucSets.data(), raucSets.size());
    poOutput->nOffset = 0;
    poOutput->nFilledLen = static_cast<OMX_U32>(raucSets.size());
    poOutput->nTimeStamp = nTimeStamp;
    poOutput->nFlags = OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME;
    m_aucSentParameterSets = raucSets;
    ReturnBuffer(poOutput);
}

void CH264EncoderComponent::DeliverEmptyEndOfStream()
{
    OMX_BUFFERHEADERTYPE* poOutput = TakeBuffer(local_nOut);
    poOutput->nOffset = 0;
    poOutput->nFilledLen = 0;
    poOutput->nTimeStamp = m_nLastTimeStamp;
    poOutput->nFlags = OMX_BUFFERFLAG_EOS;
    m_bEndOfStreamSent = true;
    ReturnBuffer(poOutput);
}

PELLIX_REGISTER_COMPONENT("OMX.TI.DUCATI.VIDENC", PellixCreateComponent<CH264EncoderComponent>)
