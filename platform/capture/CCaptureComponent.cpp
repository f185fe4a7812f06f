#include "CCaptureComponent.h"

#include "CCaptureSettings.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.VFCC", PellixCreateComponent<CCaptureComponent>)

namespace
{
const uint64_t local_uiNsPerSecond = 1000000000;
const unsigned local_uiSkipCycle = 30;
}

CCaptureComponent::CCaptureComponent(const char* szName)
    : CPlatformComponent(szName),
      m_uiSignalGeneration(0),
      m_bSignalPresent(false),
      m_uiFramePeriodNs(0),
      m_uiFrame(0),
      m_uiFrameTimeNs(0),
      m_uiSkipMask(0)
{
    // 1920 x 1080 YUV 4:2:2 in four buffers until told otherwise.
    CPlatformPort& roOutput = AddPort(0, OMX_DirOutput, OMX_PortDomainVideo);
    CVideoFrameGeometry(1920, 1080, 1920 * 2, OMX_COLOR_FormatYCbYCr).WriteTo(roOutput.Definition());
    roOutput.SetBufferRequirements(1, 4, roOutput.Definition().nBufferSize);

    OMX_PARAM_BUFFER_MEMORYTYPE oMemoryType;
    CCaptureSettings::InitStruct(oMemoryType);
    oMemoryType.eBufMemoryType = OMX_BUFFER_MEMORY_DEFAULT;
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamBuffMemType), SettingAccess_LoadedOnly, true,
                 &oMemoryType);
    const OMX_PARAM_VFCC_HWPORT_ID oPortId = CCaptureSettings::DefaultHwPortId();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortID), SettingAccess_LoadedOnly, true, &oPortId);
    const OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties = CCaptureSettings::DefaultHwPortProperties();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortProperties), SettingAccess_LoadedOnly, true,
                 &oProperties);
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oFrameSkip;
    CCaptureSettings::InitStruct(oFrameSkip);
    oFrameSkip.frameSkipMask = 0;
    AddConfig(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), SettingAccess_AnyState, true, &oFrameSkip);

    CSimulatedInput::Instance().AddListener(this, &CCaptureComponent::SignalChanged);
}

CCaptureComponent::~CCaptureComponent()
{
    // Waits for a change being told to this component to finish.
    CSimulatedInput::Instance().RemoveListener(this);
}

void CCaptureComponent::SignalChanged(void* pvContext, const SSimulatedSignal&)
{
    // The thread takes the change up.
    static_cast<CCaptureComponent*>(pvContext)->RequestProcess();
}

OMX_ERRORTYPE CCaptureComponent::CheckPortDefinition(const CPlatformPort&, OMX_PARAM_PORTDEFINITIONTYPE& roNew)
{
    return CVideoFrameGeometry::CheckPortDefinition(roNew);
}

OMX_ERRORTYPE CCaptureComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    // No tiled memory on this platform.
    if (static_cast<OMX_U32>(eIndex) == OMX_TI_IndexParamBuffMemType)
        return static_cast<const OMX_PARAM_BUFFER_MEMORYTYPE*>(pvNew)->eBufMemoryType == OMX_BUFFER_MEMORY_DEFAULT
                   ? OMX_ErrorNone
                   : OMX_ErrorBadParameter;
    return CCaptureSettings::CheckHwPortSetting(eIndex, pvNew);
}

OMX_ERRORTYPE CCaptureComponent::OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    if (eTo != OMX_StateExecuting)
    {
        StopClock();
        return OMX_ErrorNone;
    }
    if (eFrom == OMX_StateIdle)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
        if (!ReadPortDefinition(0, oDefinition) ||
            !ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortProperties), false, 0, &oProperties,
                         sizeof(oProperties)))
            return OMX_ErrorUndefined;
        m_oPattern.Configure(CVideoFrameGeometry::FromPortDefinition(oDefinition),
                             oProperties.eScanType == OMX_VIDEO_CaptureScanTypeInterlaced);
        m_uiFrame = 0;
        m_uiFrameTimeNs = 0;
    }
    // The clock starts again with the signal as it is now.
    m_bSignalPresent = false;
    m_uiSignalGeneration = CSimulatedInput::Instance().Generation() - 1;
    FollowSignal();
    return OMX_ErrorNone;
}

void CCaptureComponent::OnProcess()
{
    FollowSignal();
}

void CCaptureComponent::FollowSignal()
{
    const unsigned uiGeneration = CSimulatedInput::Instance().Generation();
    if (uiGeneration == m_uiSignalGeneration)
        return;
    m_uiSignalGeneration = uiGeneration;
    const SSimulatedSignal oSignal = CSimulatedInput::Instance().Current();
    if (!oSignal.bPresent || oSignal.uiRate == 0)
    {
        m_bSignalPresent = false;
        StopClock();
        return;
    }
    // An interlaced signal counts fields: a frame takes two of them.
    const uint64_t uiPeriodNs = local_uiNsPerSecond * (oSignal.bInterlaced ? 2 : 1) / oSignal.uiRate;
    if (!m_bSignalPresent || uiPeriodNs != m_uiFramePeriodNs)
        StartClock(uiPeriodNs);
    m_bSignalPresent = true;
    m_uiFramePeriodNs = uiPeriodNs;
}

bool CCaptureComponent::IsSkipped(uint64_t uiFrame) const
{
    return (m_uiSkipMask >> (uiFrame % local_uiSkipCycle) & 1) != 0;
}

void CCaptureComponent::OnTick(unsigned uiElapsedTicks)
{
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oFrameSkip;
    if (ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), true, 0, &oFrameSkip,
                    sizeof(oFrameSkip)))
        m_uiSkipMask = static_cast<OMX_U32>(oFrameSkip.frameSkipMask);
    // Frames of the periods the thread slept through were lost, unless they were to be skipped.
    for (unsigned i = 1; i < uiElapsedTicks; ++i)
    {
        if (!IsSkipped(m_uiFrame))
            Count(PellixCounter_FramesDropped);
        ++m_uiFrame;
        m_uiFrameTimeNs += m_uiFramePeriodNs;
    }
    if (!IsSkipped(m_uiFrame))
    {
        OMX_BUFFERHEADERTYPE* poHeader = TakeBuffer(0);
        if (poHeader != nullptr)
            Deliver(poHeader);
        else
            Count(PellixCounter_FramesDropped);
    }
    ++m_uiFrame;
    m_uiFrameTimeNs += m_uiFramePeriodNs;
}

void CCaptureComponent::Deliver(OMX_BUFFERHEADERTYPE* poHeader)
{
    poHeader->nOffset = 0;
    poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
    poHeader->nTimeStamp = static_cast<OMX_TICKS>(m_uiFrameTimeNs / 1000);
    if (poHeader->nAllocLen < m_oPattern.FrameBytes())
    {
        // Cannot happen with a buffer of the port's size; handed back empty all the same.
        poHeader->nFilledLen = 0;
        Count(PellixCounter_FramesDropped);
    }
    else
    {
        m_oPattern.Draw(m_uiFrame, poHeader->pBuffer);
        poHeader->nFilledLen = static_cast<OMX_U32>(m_oPattern.FrameBytes());
        Count(PellixCounter_FramesProduced);
    }
    ReturnBuffer(poHeader);
}
