#include "CCaptureComponent.h"

#include <algorithm>

#include "CCaptureSettings.h"
#include "CCaptureTimeCode.h"
#include "CMediaSource.h"
#include "CSourcePicture.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.VFCC", PellixCreateComponent<CCaptureComponent>)

namespace
{
const uint64_t local_uiNsPerSecond = 1000000000;
const unsigned local_uiSkipCycle = 30;
}

CCaptureComponent::CCaptureComponent(const char* szName)
    : CPlatformComponent(szName),
      m_ePattern(Pattern_Bars),
      m_bFields(false),
      m_uiSignalGeneration(0),
      m_bSignalPresent(false),
      m_uiFramePeriodNs(0),
      m_uiFrame(0),
      m_uiFrameTimeNs(0),
      m_uiLastCaptureUs(0),
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
    // Each waits for a notice being given to this component to finish.
    CSimulatedInput::Instance().RemoveListener(this);
    FollowSource(nullptr);
}

void CCaptureComponent::SignalChanged(void* pvContext, const SSimulatedSignal&)
{
    // The thread takes the change up.
    static_cast<CCaptureComponent*>(pvContext)->RequestProcess();
}

void CCaptureComponent::PictureReady(void* pvContext)
{
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
        FollowSource(nullptr);
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
        m_oGeometry = CVideoFrameGeometry::FromPortDefinition(oDefinition);
        m_bFields = oProperties.eScanType == OMX_VIDEO_CaptureScanTypeInterlaced;
        m_oLines.Configure(m_oGeometry, m_bFields);
        m_oPattern.Configure(m_oGeometry, m_bFields);
        m_uiFrame = 0;
        m_uiFrameTimeNs = 0;
        m_uiLastCaptureUs = 0;
        m_oExecutingSince = std::chrono::steady_clock::now();
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
    if (m_poSource != nullptr)
        DeliverPictures();
}

void CCaptureComponent::FollowSource(const std::shared_ptr<CMediaSource>& rpoSource)
{
    if (rpoSource == m_poSource)
        return;
    if (m_poSource != nullptr)
        m_poSource->SetPictureConsumer(nullptr, nullptr);
    m_poSource = rpoSource;
    if (m_poSource == nullptr)
        return;
    m_poSource->SetPictureFormat(m_oGeometry.m_uiWidth, m_oGeometry.m_uiHeight, m_oGeometry.m_eFormat);
    m_poSource->SetPictureConsumer(this, &CCaptureComponent::PictureReady);
}

void CCaptureComponent::FollowSignal()
{
    const unsigned uiGeneration = CSimulatedInput::Instance().Generation();
    if (uiGeneration == m_uiSignalGeneration)
        return;
    m_uiSignalGeneration = uiGeneration;
    const SSimulatedSignal oSignal = CSimulatedInput::Instance().Current();
    m_ePattern = CSimulatedInput::Instance().Pattern();
    if (m_ePattern == Pattern_Motion)
        m_oMotion.Configure(m_oGeometry, m_bFields);
    // A real source brings its pictures at its own pace.
    FollowSource(CSimulatedInput::Instance().MediaSource());
    if (m_poSource != nullptr)
    {
        StopClock();
        m_bSignalPresent = oSignal.bPresent;
        return;
    }
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

void CCaptureComponent::ReadSkipMask()
{
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oFrameSkip;
    if (ReadSetting(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), true, 0, &oFrameSkip,
                    sizeof(oFrameSkip)))
        m_uiSkipMask = static_cast<OMX_U32>(oFrameSkip.frameSkipMask);
}

void CCaptureComponent::OnTick(unsigned uiElapsedTicks)
{
    ReadSkipMask();
    // When the thread was late, the frames of the periods it slept through are captured now, as
    // the hardware would have captured them in their time, each stamped with that time, as far as
    // buffers are free: the newest frames take the free buffers, the older ones are lost.
    const unsigned uiFree = QueuedBuffers(0);
    for (unsigned i = 0; i < uiElapsedTicks; ++i)
    {
        const unsigned uiLate = uiElapsedTicks - 1 - i;  // periods since the frame was due
        if (!IsSkipped(m_uiFrame))
        {
            OMX_BUFFERHEADERTYPE* poHeader = uiLate < uiFree ? TakeBuffer(0) : nullptr;
            if (poHeader != nullptr)
                Deliver(poHeader, CCaptureTimeCode::NowUs() - uiLate * (m_uiFramePeriodNs / 1000));
            else
                Count(PellixCounter_FramesDropped);
        }
        ++m_uiFrame;
        m_uiFrameTimeNs += m_uiFramePeriodNs;
    }
}

void CCaptureComponent::Deliver(OMX_BUFFERHEADERTYPE* poHeader, uint64_t uiCaptureUs)
{
    // Capture times only go forward: a thread so late that making a picture takes longer than a
    // period would stamp the first frame it catches up on before the last one it delivered.
    uiCaptureUs = std::max(uiCaptureUs, m_uiLastCaptureUs + 1);
    m_uiLastCaptureUs = uiCaptureUs;
    poHeader->nOffset = 0;
    poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
    poHeader->nTimeStamp = static_cast<OMX_TICKS>(m_uiFrameTimeNs / 1000);
    if (poHeader->nAllocLen < m_oLines.FrameBytes())
    {
        // Cannot happen with a buffer of the port's size; handed back empty all the same.
        poHeader->nFilledLen = 0;
        Count(PellixCounter_FramesDropped);
    }
    else
    {
        if (m_ePattern == Pattern_Motion)
            m_oMotion.Draw(m_uiFrame, poHeader->pBuffer);
        else
            m_oPattern.Draw(m_uiFrame, poHeader->pBuffer);
        Stamp(poHeader->pBuffer, m_uiFrame, uiCaptureUs);
        poHeader->nFilledLen = static_cast<OMX_U32>(m_oLines.FrameBytes());
        Count(PellixCounter_FramesProduced);
    }
    ReturnBuffer(poHeader);
}

void CCaptureComponent::Stamp(uint8_t* pPicture, uint64_t uiFrame, uint64_t uiCaptureUs) const
{
    const CCaptureTimeCode::SValue oValue = {uiCaptureUs, static_cast<uint32_t>(uiFrame)};
    CCaptureTimeCode::Write(m_oLines, pPicture, oValue);
}

void CCaptureComponent::DeliverPictures()
{
    for (;;)
    {
        const CSourcePicture oPicture(m_poSource->TakePicture());
        if (!oPicture.IsValid())
            return;
        ReadSkipMask();
        const uint64_t uiFrame = m_uiFrame++;
        if (IsSkipped(uiFrame))
            continue;
        // A picture of the format before the last change is of no use.
        OMX_BUFFERHEADERTYPE* poHeader = oPicture.Matches(m_oGeometry) ? TakeBuffer(0) : nullptr;
        if (poHeader == nullptr)
        {
            Count(PellixCounter_FramesDropped);
            continue;
        }
        poHeader->nOffset = 0;
        poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME;
        poHeader->nTimeStamp = static_cast<OMX_TICKS>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_oExecutingSince)
                .count());
        if (oPicture.CopyTo(poHeader->pBuffer, poHeader->nAllocLen, m_oGeometry, m_bFields))
        {
            poHeader->nFilledLen = static_cast<OMX_U32>(CSourcePicture::FrameBytes(m_oGeometry, m_bFields));
            Count(PellixCounter_FramesProduced);
        }
        else
        {
            // A buffer smaller than the port's: handed back empty, as the pattern does.
            poHeader->nFilledLen = 0;
            Count(PellixCounter_FramesDropped);
        }
        ReturnBuffer(poHeader);
    }
}
