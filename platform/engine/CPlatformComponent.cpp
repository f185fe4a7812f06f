#include "CPlatformComponent.h"

#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace
{
CPlatformComponent* local_FromHandle(OMX_HANDLETYPE hComponent)
{
    if (hComponent == nullptr)
        return nullptr;
    return static_cast<CPlatformComponent*>(static_cast<OMX_COMPONENTTYPE*>(hComponent)->pComponentPrivate);
}

// Runs one client call on the component of the handle; no exception leaves the C API.
template <typename TCall>
OMX_ERRORTYPE local_Call(OMX_HANDLETYPE hComponent, TCall&& oCall)
{
    CPlatformComponent* poComponent = local_FromHandle(hComponent);
    if (poComponent == nullptr)
        return OMX_ErrorBadParameter;
    try
    {
        return oCall(*poComponent);
    }
    catch (const std::bad_alloc&)
    {
        return OMX_ErrorInsufficientResources;
    }
    catch (...)
    {
        return OMX_ErrorUndefined;
    }
}

// The transitions OpenMAX IL 1.1 allows (to Invalid is always allowed and handled apart).
bool local_IsLegalTransition(OMX_STATETYPE eFrom, OMX_STATETYPE eTo)
{
    switch (eFrom)
    {
    case OMX_StateLoaded:
        return eTo == OMX_StateIdle || eTo == OMX_StateWaitForResources;
    case OMX_StateWaitForResources:
        return eTo == OMX_StateLoaded || eTo == OMX_StateIdle;
    case OMX_StateIdle:
        return eTo == OMX_StateLoaded || eTo == OMX_StateExecuting || eTo == OMX_StatePause;
    case OMX_StateExecuting:
        return eTo == OMX_StateIdle || eTo == OMX_StatePause;
    case OMX_StatePause:
        return eTo == OMX_StateIdle || eTo == OMX_StateExecuting;
    default:
        return false;
    }
}

bool local_IsPortCountIndex(OMX_INDEXTYPE eIndex, OMX_PORTDOMAINTYPE& reDomain)
{
    switch (eIndex)
    {
    case OMX_IndexParamAudioInit:
        reDomain = OMX_PortDomainAudio;
        return true;
    case OMX_IndexParamImageInit:
        reDomain = OMX_PortDomainImage;
        return true;
    case OMX_IndexParamVideoInit:
        reDomain = OMX_PortDomainVideo;
        return true;
    case OMX_IndexParamOtherInit:
        reDomain = OMX_PortDomainOther;
        return true;
    default:
        return false;
    }
}

// Size and version of a structure the engine reads or writes itself.
OMX_ERRORTYPE local_CheckStruct(const void* pvStruct, size_t uiSize, bool bExactSize = false)
{
    const auto* poHead = static_cast<const SOmxStructHead*>(pvStruct);
    if (bExactSize ? poHead->nSize != uiSize : poHead->nSize < uiSize)
        return OMX_ErrorBadParameter;
    if (poHead->nVersion.s.nVersionMajor != 1)
        return OMX_ErrorVersionMismatch;
    return OMX_ErrorNone;
}
} // namespace

OMX_ERRORTYPE CPlatformComponent::CheckStructHead(OMX_INDEXTYPE eIndex, const void* pvStruct, size_t uiSize)
{
    // The platform's structures are taken at their published size only, as its components do.
    return local_CheckStruct(pvStruct, uiSize, static_cast<OMX_U32>(eIndex) >= OMX_IndexVendorStartUnused);
}

// ---- Creation and teardown -----------------------------------------------------------------

CPlatformComponent::CPlatformComponent(const char* szName)
    : m_szName(szName != nullptr ? szName : ""),
      m_poCounters(CTestControl::Instance().CountersFor(m_szName.c_str())),
      m_poHandle(nullptr),
      m_oCallbacks(),
      m_pvAppData(nullptr),
      m_eState(OMX_StateLoaded),
      m_uiIdleRequests(0),
      m_uiLoadedRequests(0),
      m_bProcessRequested(false),
      m_bClockRunning(false),
      m_oClockPeriod(0),
      m_bQuit(false),
      m_bCommandActive(false),
      m_bCommandStarted(false),
      m_bDeleteOnExit(false)
{
}

CPlatformComponent::~CPlatformComponent()
{
    if (m_oThread.joinable())
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_bQuit = true;
        }
        m_oWake.notify_all();
        m_oThread.join();
    }
}

OMX_ERRORTYPE CPlatformComponent::Attach(CPlatformComponent* poComponent, OMX_COMPONENTTYPE* poHandle)
{
    if (poComponent == nullptr)
        return OMX_ErrorInsufficientResources;
    if (poHandle == nullptr)
    {
        delete poComponent;
        return OMX_ErrorBadParameter;
    }
    poComponent->m_poHandle = poHandle;
    try
    {
        CTestControl::Instance().AddComponent(poComponent);
        std::lock_guard<std::mutex> oLock(poComponent->m_oMutex);
        // The thread starts by taking the mutex, so it sees the handle and its own id.
        poComponent->m_oThread = std::thread(&CPlatformComponent::ComponentThread, poComponent);
        poComponent->m_oThreadId = poComponent->m_oThread.get_id();
    }
    catch (...)
    {
        CTestControl::Instance().RemoveComponent(poComponent);
        delete poComponent;
        return OMX_ErrorInsufficientResources;
    }

    poHandle->pComponentPrivate = poComponent;
    poHandle->GetComponentVersion = &EntryGetComponentVersion;
    poHandle->SendCommand = &EntrySendCommand;
    poHandle->GetParameter = &EntryGetParameter;
    poHandle->SetParameter = &EntrySetParameter;
    poHandle->GetConfig = &EntryGetConfig;
    poHandle->SetConfig = &EntrySetConfig;
    poHandle->GetExtensionIndex = &EntryGetExtensionIndex;
    poHandle->GetState = &EntryGetState;
    poHandle->ComponentTunnelRequest = &EntryComponentTunnelRequest;
    poHandle->UseBuffer = &EntryUseBuffer;
    poHandle->AllocateBuffer = &EntryAllocateBuffer;
    poHandle->FreeBuffer = &EntryFreeBuffer;
    poHandle->EmptyThisBuffer = &EntryEmptyThisBuffer;
    poHandle->FillThisBuffer = &EntryFillThisBuffer;
    poHandle->SetCallbacks = &EntrySetCallbacks;
    poHandle->ComponentDeInit = &EntryComponentDeInit;
    poHandle->UseEGLImage = &EntryUseEGLImage;
    poHandle->ComponentRoleEnum = &EntryComponentRoleEnum;
    return OMX_ErrorNone;
}

void CPlatformComponent::DeInit()
{
    CTestControl::Instance().RemoveComponent(this);
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bQuit = true;
    }
    m_oWake.notify_all();
    if (IsOnThread())
    {
        // Freed from one of its own callbacks: the thread cannot join itself, so it finishes
        // the callback, leaves its loop and deletes the component.
        m_bDeleteOnExit = true;
        m_oThread.detach();
        return;
    }
    m_oThread.join();
}

void CPlatformComponent::ComponentThread(CPlatformComponent* poComponent)
{
    char szThreadName[16];
    snprintf(szThreadName, sizeof(szThreadName), "%s", poComponent->m_szName.c_str() +
             (poComponent->m_szName.size() > 15 ? poComponent->m_szName.size() - 15 : 0));
    pthread_setname_np(pthread_self(), szThreadName);
    poComponent->Run();
    if (poComponent->m_bDeleteOnExit)
        delete poComponent;
}

// ---- Set-up --------------------------------------------------------------------------------

CPlatformPort& CPlatformComponent::AddPort(OMX_U32 nPortIndex, OMX_DIRTYPE eDir, OMX_PORTDOMAINTYPE eDomain)
{
    m_apoPorts.emplace_back(new CPlatformPort(nPortIndex, eDir, eDomain));
    return *m_apoPorts.back();
}

void CPlatformComponent::AddParameter(OMX_INDEXTYPE eIndex, ESettingAccess eAccess, bool bPerPort,
                                      const void* pvDefault)
{
    m_oSettings.Add(eIndex, false, bPerPort, eAccess, pvDefault);
}

void CPlatformComponent::AddConfig(OMX_INDEXTYPE eIndex, ESettingAccess eAccess, bool bPerPort, const void* pvDefault)
{
    m_oSettings.Add(eIndex, true, bPerPort, eAccess, pvDefault);
}

void CPlatformComponent::AddExtension(const char* szName, OMX_INDEXTYPE eIndex)
{
    m_aoExtensions.emplace_back(szName, eIndex);
}

// ---- Default hooks -------------------------------------------------------------------------

OMX_ERRORTYPE CPlatformComponent::OnStateChange(OMX_STATETYPE, OMX_STATETYPE)
{
    return OMX_ErrorNone;
}

void CPlatformComponent::OnProcess()
{
}

void CPlatformComponent::OnTick(unsigned)
{
}

void CPlatformComponent::OnReleaseBuffers(OMX_U32)
{
}

OMX_ERRORTYPE CPlatformComponent::OnGetParameter(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CPlatformComponent::OnSetParameter(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CPlatformComponent::OnGetConfig(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CPlatformComponent::OnSetConfig(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CPlatformComponent::CheckPortDefinition(const CPlatformPort&, OMX_PARAM_PORTDEFINITIONTYPE&)
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::CheckSetting(OMX_INDEXTYPE, bool, OMX_PTR)
{
    return OMX_ErrorNone;
}

// ---- Services for device components ----------------------------------------------------------

OMX_BUFFERHEADERTYPE* CPlatformComponent::TakeBuffer(OMX_U32 nPortIndex)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    CPlatformPort* poPort = FindPort(nPortIndex);
    return poPort != nullptr ? poPort->Take() : nullptr;
}

OMX_BUFFERHEADERTYPE* CPlatformComponent::PeekBuffer(OMX_U32 nPortIndex) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const CPlatformPort* poPort = FindPort(nPortIndex);
    return poPort != nullptr ? poPort->Peek() : nullptr;
}

unsigned CPlatformComponent::QueuedBuffers(OMX_U32 nPortIndex) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const CPlatformPort* poPort = FindPort(nPortIndex);
    return poPort != nullptr ? poPort->QueuedCount() : 0;
}

bool CPlatformComponent::ReturnBuffer(OMX_BUFFERHEADERTYPE* poHeader)
{
    if (poHeader == nullptr || !IsOnThread())
        return false;
    bool bInput = false;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        SPlatformBuffer* poBuffer = nullptr;
        for (const auto& rpoPort : m_apoPorts)
        {
            poBuffer = rpoPort->Find(poHeader);
            if (poBuffer != nullptr)
            {
                bInput = rpoPort->IsInput();
                break;
            }
        }
        if (poBuffer == nullptr || poBuffer->eOwner != PlatformBufferOwner_Taken)
            return false;
        poBuffer->eOwner = PlatformBufferOwner_Returning;
    }
    SendBufferDone(poHeader, bInput);
    return true;
}

void CPlatformComponent::SendEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, OMX_PTR pvEventData)
{
    OMX_CALLBACKTYPE oCallbacks;
    OMX_PTR pvAppData;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_bQuit)
            return;
        oCallbacks = m_oCallbacks;
        pvAppData = m_pvAppData;
    }
    if (oCallbacks.EventHandler != nullptr)
        oCallbacks.EventHandler(m_poHandle, pvAppData, eEvent, nData1, nData2, pvEventData);
}

void CPlatformComponent::StartClock(uint64_t uiPeriodNs)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_oClockPeriod = std::chrono::nanoseconds(uiPeriodNs > 0 ? uiPeriodNs : 1);
    m_oNextTick = CClock::now() + m_oClockPeriod;
    m_bClockRunning = true;
}

void CPlatformComponent::StopClock()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_bClockRunning = false;
}

void CPlatformComponent::RequestProcess()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_bProcessRequested = true;
    m_oWake.notify_one();
}

void CPlatformComponent::PostEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_aoPendingEvents.push_back(SPendingEvent{eEvent, nData1, nData2});
    m_oWake.notify_one();
}

OMX_STATETYPE CPlatformComponent::State() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_eState;
}

bool CPlatformComponent::ReadPortDefinition(OMX_U32 nPortIndex, OMX_PARAM_PORTDEFINITIONTYPE& roDefinition) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const CPlatformPort* poPort = FindPort(nPortIndex);
    if (poPort == nullptr)
        return false;
    roDefinition = poPort->Definition();
    return true;
}

bool CPlatformComponent::ReadSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_U32 nPortIndex, void* pvOut,
                                     size_t uiSize) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const SStoredSetting* poSetting = m_oSettings.Find(eIndex, bConfig, nPortIndex);
    if (poSetting == nullptr || poSetting->aucValue.size() != uiSize)
        return false;
    memcpy(pvOut, poSetting->aucValue.data(), uiSize);
    return true;
}

bool CPlatformComponent::IsPortSettable(OMX_U32 nPortIndex) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const CPlatformPort* poPort = FindPort(nPortIndex);
    return poPort != nullptr && CanSetPort(*poPort);
}

CPlatformPort* CPlatformComponent::FindPort(OMX_U32 nPortIndex) const
{
    for (const auto& rpoPort : m_apoPorts)
    {
        if (rpoPort->Index() == nPortIndex)
            return rpoPort.get();
    }
    return nullptr;
}

// ---- The component's thread ----------------------------------------------------------------

void CPlatformComponent::Run()
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    while (!m_bQuit)
    {
        try
        {
            if (!m_aoPendingEvents.empty())
            {
                const SPendingEvent oEvent = m_aoPendingEvents.front();
                m_aoPendingEvents.pop_front();
                SendEventUnlocked(oLock, oEvent.eEvent, oEvent.nData1, oEvent.nData2);
                continue;
            }
            if (AdvanceCommand(oLock))
                continue;
            const bool bExecuting = m_eState == OMX_StateExecuting;
            if (bExecuting && m_bProcessRequested)
            {
                m_bProcessRequested = false;
                oLock.unlock();
                OnProcess();
                oLock.lock();
                continue;
            }
            if (bExecuting && m_bClockRunning)
            {
                const CClock::time_point oNow = CClock::now();
                if (oNow >= m_oNextTick)
                {
                    // Periods the thread missed are reported, not replayed.
                    const unsigned uiElapsed = 1 + static_cast<unsigned>((oNow - m_oNextTick) / m_oClockPeriod);
                    m_oNextTick += uiElapsed * m_oClockPeriod;
                    oLock.unlock();
                    OnTick(uiElapsed);
                    oLock.lock();
                    continue;
                }
            }

            CClock::time_point oDeadline = CClock::time_point::max();
            if (!m_bCommandActive && !m_aoCommands.empty())
                oDeadline = m_aoCommands.front().oDue;
            if (bExecuting && m_bClockRunning && m_oNextTick < oDeadline)
                oDeadline = m_oNextTick;
            // A step above may have released the lock (a state command asks the test control
            // for its fault first), so a quit request can have come and gone meanwhile.
            if (m_bQuit)
                break;
            if (oDeadline == CClock::time_point::max())
                m_oWake.wait(oLock);
            else
                m_oWake.wait_until(oLock, oDeadline);
        }
        catch (...)
        {
            // A device component's hook failed with an exception: the command in progress is
            // dropped, the client hears of it as an error event, and the component carries on.
            if (!oLock.owns_lock())
                oLock.lock();
            if (m_bCommandActive)
                FinishCommand();
            m_aoPendingEvents.push_back(SPendingEvent{OMX_EventError, static_cast<OMX_U32>(OMX_ErrorUndefined), 0});
        }
    }
}

bool CPlatformComponent::AdvanceCommand(std::unique_lock<std::mutex>& roLock)
{
    if (!m_bCommandActive)
    {
        if (m_aoCommands.empty() || CClock::now() < m_aoCommands.front().oDue)
            return false;
        m_bCommandActive = true;
        m_bCommandStarted = false;
    }
    if (m_aoCommands.front().eCommand == OMX_CommandStateSet)
        return AdvanceStateSet(roLock);
    return AdvancePortCommand(roLock);
}

bool CPlatformComponent::AdvanceStateSet(std::unique_lock<std::mutex>& roLock)
{
    const auto eTarget = static_cast<OMX_STATETYPE>(m_aoCommands.front().nParam);
    const OMX_STATETYPE eFrom = m_eState;

    if (!m_bCommandStarted)
    {
        m_bCommandStarted = true;
        roLock.unlock();
        OMX_ERRORTYPE eRefusal = CTestControl::Instance().TakeFault(PellixFault_StateTransition, Name(), eTarget);
        roLock.lock();
        if (eRefusal == OMX_ErrorNone)
        {
            if (eTarget == eFrom)
                eRefusal = OMX_ErrorSameState;
            else if (eTarget == OMX_StateInvalid)
            {
                m_eState = OMX_StateInvalid;
                m_bClockRunning = false;
                eRefusal = OMX_ErrorInvalidState;
            }
            else if (!local_IsLegalTransition(eFrom, eTarget))
                eRefusal = OMX_ErrorIncorrectStateTransition;
        }
        if (eRefusal != OMX_ErrorNone)
        {
            FinishCommand();
            SendEventUnlocked(roLock, OMX_EventError, static_cast<OMX_U32>(eRefusal), 0);
            return true;
        }
        if (eFrom == OMX_StateIdle && eTarget == OMX_StateLoaded)
        {
            // Buffers queued in Idle go back, so that the client can free them.
            ReleaseHeldBuffers(roLock, OMX_ALL);
            return true;
        }
    }

    // Loaded -> Idle completes once every enabled port holds all its buffers, Idle -> Loaded
    // once every buffer is freed.
    if (eTarget == OMX_StateIdle && (eFrom == OMX_StateLoaded || eFrom == OMX_StateWaitForResources))
    {
        for (const auto& rpoPort : m_apoPorts)
        {
            if (rpoPort->IsEnabled() && !rpoPort->IsPopulated())
                return false;
        }
    }
    if (eTarget == OMX_StateLoaded && eFrom == OMX_StateIdle)
    {
        for (const auto& rpoPort : m_apoPorts)
        {
            if (rpoPort->BufferCount() > 0)
                return false;
        }
    }

    roLock.unlock();
    const OMX_ERRORTYPE eError = OnStateChange(eFrom, eTarget);
    roLock.lock();
    if (eError != OMX_ErrorNone)
    {
        FinishCommand();
        SendEventUnlocked(roLock, OMX_EventError, static_cast<OMX_U32>(eError), 0);
        return true;
    }
    if ((eFrom == OMX_StateExecuting || eFrom == OMX_StatePause) && eTarget == OMX_StateIdle)
        ReleaseHeldBuffers(roLock, OMX_ALL);
    m_eState = eTarget;
    if (eTarget == OMX_StateExecuting)
        m_bProcessRequested = true;
    FinishCommand();
    SendEventUnlocked(roLock, OMX_EventCmdComplete, OMX_CommandStateSet, eTarget);
    return true;
}

bool CPlatformComponent::AdvancePortCommand(std::unique_lock<std::mutex>& roLock)
{
    const SCommand oCommand = m_aoCommands.front();

    if (!m_bCommandStarted)
    {
        m_bCommandStarted = true;
        if (oCommand.eCommand == OMX_CommandPortDisable || oCommand.eCommand == OMX_CommandPortEnable)
        {
            for (const auto& rpoPort : m_apoPorts)
            {
                if (PortSelected(*rpoPort, oCommand.nParam))
                    rpoPort->SetEnabled(oCommand.eCommand == OMX_CommandPortEnable);
            }
        }
        if (oCommand.eCommand == OMX_CommandPortDisable || oCommand.eCommand == OMX_CommandFlush)
        {
            ReleaseHeldBuffers(roLock, oCommand.nParam);
            return true;
        }
    }

    // A disabled port completes once its buffers are freed; an enabled one, outside Loaded,
    // once it holds all its buffers again.
    for (const auto& rpoPort : m_apoPorts)
    {
        if (!PortSelected(*rpoPort, oCommand.nParam))
            continue;
        if (oCommand.eCommand == OMX_CommandPortDisable && rpoPort->BufferCount() > 0)
            return false;
        if (oCommand.eCommand == OMX_CommandPortEnable && !IsLoadedLike() && m_eState != OMX_StateInvalid &&
            !rpoPort->IsPopulated())
            return false;
    }

    if (oCommand.eCommand == OMX_CommandPortEnable)
        m_bProcessRequested = true;
    FinishCommand();
    // One completion per port, in port order; the list of ports never changes after creation.
    for (size_t ui = 0; ui < m_apoPorts.size() && !m_bQuit; ++ui)
    {
        if (PortSelected(*m_apoPorts[ui], oCommand.nParam))
            SendEventUnlocked(roLock, OMX_EventCmdComplete, oCommand.eCommand, m_apoPorts[ui]->Index());
    }
    return true;
}

void CPlatformComponent::FinishCommand()
{
    const SCommand& roCommand = m_aoCommands.front();
    if (roCommand.eCommand == OMX_CommandStateSet)
    {
        if (roCommand.nParam == OMX_StateIdle)
            --m_uiIdleRequests;
        else if (roCommand.nParam == OMX_StateLoaded)
            --m_uiLoadedRequests;
    }
    for (const auto& rpoPort : m_apoPorts)
    {
        if (!PortSelected(*rpoPort, roCommand.nParam))
            continue;
        if (roCommand.eCommand == OMX_CommandPortEnable)
            --rpoPort->EnableRequests();
        else if (roCommand.eCommand == OMX_CommandPortDisable)
            --rpoPort->DisableRequests();
    }
    m_aoCommands.pop_front();
    m_bCommandActive = false;
    m_bCommandStarted = false;
}

void CPlatformComponent::ReleaseHeldBuffers(std::unique_lock<std::mutex>& roLock, OMX_U32 nPortIndex)
{
    OMX_BUFFERHEADERTYPE* apoHeaders[CPlatformPort::s_uiMaxBuffers];
    for (size_t ui = 0; ui < m_apoPorts.size(); ++ui)
    {
        CPlatformPort& roPort = *m_apoPorts[ui];
        if (!PortSelected(roPort, nPortIndex))
            continue;
        roLock.unlock();
        OnReleaseBuffers(roPort.Index());
        roLock.lock();
        const unsigned uiCount = roPort.ReleaseHeld(apoHeaders);
        const bool bInput = roPort.IsInput();
        // An output handed back unproduced carries no data.
        for (unsigned uiBuffer = 0; uiBuffer < uiCount && !bInput; ++uiBuffer)
        {
            apoHeaders[uiBuffer]->nFilledLen = 0;
            apoHeaders[uiBuffer]->nOffset = 0;
            apoHeaders[uiBuffer]->nFlags = 0;
        }
        roLock.unlock();
        for (unsigned uiBuffer = 0; uiBuffer < uiCount; ++uiBuffer)
            SendBufferDone(apoHeaders[uiBuffer], bInput);
        roLock.lock();
    }
}

void CPlatformComponent::SendEventUnlocked(std::unique_lock<std::mutex>& roLock, OMX_EVENTTYPE eEvent,
                                           OMX_U32 nData1, OMX_U32 nData2)
{
    if (m_bQuit)
        return;
    const OMX_CALLBACKTYPE oCallbacks = m_oCallbacks;
    const OMX_PTR pvAppData = m_pvAppData;
    roLock.unlock();
    if (oCallbacks.EventHandler != nullptr)
        oCallbacks.EventHandler(m_poHandle, pvAppData, eEvent, nData1, nData2, nullptr);
    roLock.lock();
}

void CPlatformComponent::SendBufferDone(OMX_BUFFERHEADERTYPE* poHeader, bool bInput)
{
    OMX_CALLBACKTYPE oCallbacks;
    OMX_PTR pvAppData;
    // Once handed over, the header is the client's: what the event needs is read before.
    const OMX_U32 nFlags = poHeader->nFlags;
    const OMX_U32 nPortIndex = poHeader->nOutputPortIndex;
    bool bQuit = false;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        bQuit = m_bQuit;
        oCallbacks = m_oCallbacks;
        pvAppData = m_pvAppData;
    }
    if (!bQuit && bInput)
    {
        Count(PellixCounter_BuffersEmptied);
        if (oCallbacks.EmptyBufferDone != nullptr)
            oCallbacks.EmptyBufferDone(m_poHandle, pvAppData, poHeader);
    }
    else if (!bQuit)
    {
        Count(PellixCounter_BuffersFilled);
        if (oCallbacks.FillBufferDone != nullptr)
            oCallbacks.FillBufferDone(m_poHandle, pvAppData, poHeader);
    }
    {
        // The callback is over: a free from another thread may go ahead. The callback may have
        // freed the buffer itself, or queued it again.
        std::lock_guard<std::mutex> oLock(m_oMutex);
        for (const auto& rpoPort : m_apoPorts)
        {
            SPlatformBuffer* poBuffer = rpoPort->Find(poHeader);
            if (poBuffer != nullptr && poBuffer->eOwner == PlatformBufferOwner_Returning)
                poBuffer->eOwner = PlatformBufferOwner_Client;
        }
        m_oReturned.notify_all();
    }
    if (!bQuit && !bInput && (nFlags & OMX_BUFFERFLAG_EOS) != 0)
        SendEvent(OMX_EventBufferFlag, nPortIndex, nFlags);
}

// ---- The client's calls ----------------------------------------------------------------------

OMX_ERRORTYPE CPlatformComponent::SendCommand(OMX_COMMANDTYPE eCommand, OMX_U32 nParam)
{
    const OMX_ERRORTYPE eFault = CTestControl::Instance().TakeFault(PellixFault_SendCommand, Name(), eCommand);
    if (eFault != OMX_ErrorNone)
        return eFault;
    const CClock::time_point oDue =
        CClock::now() + std::chrono::milliseconds(CTestControl::Instance().DelayFor(Name()));

    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        if (m_eState == OMX_StateInvalid)
            return OMX_ErrorInvalidState;
        switch (eCommand)
        {
        case OMX_CommandStateSet:
            if (nParam > OMX_StateWaitForResources)
                return OMX_ErrorBadParameter;
            m_aoCommands.push_back(SCommand{eCommand, nParam, oDue});
            if (nParam == OMX_StateIdle)
                ++m_uiIdleRequests;
            else if (nParam == OMX_StateLoaded)
                ++m_uiLoadedRequests;
            break;
        case OMX_CommandFlush:
        case OMX_CommandPortDisable:
        case OMX_CommandPortEnable:
            if (nParam != OMX_ALL && FindPort(nParam) == nullptr)
                return OMX_ErrorBadPortIndex;
            m_aoCommands.push_back(SCommand{eCommand, nParam, oDue});
            for (const auto& rpoPort : m_apoPorts)
            {
                if (!PortSelected(*rpoPort, nParam))
                    continue;
                if (eCommand == OMX_CommandPortEnable)
                    ++rpoPort->EnableRequests();
                else if (eCommand == OMX_CommandPortDisable)
                    ++rpoPort->DisableRequests();
            }
            break;
        case OMX_CommandMarkBuffer:
            return OMX_ErrorNotImplemented;
        default:
            return OMX_ErrorBadParameter;
        }
        // The client's calls wake the thread with the mutex held: once it runs, a callback may
        // free the component, so nothing may touch it after the mutex is released.
        m_oWake.notify_one();
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::AccessSetting(OMX_INDEXTYPE eIndex, bool bConfig, bool bSet, OMX_PTR pvStruct)
{
    const PellixFaultKind eFaultKind = bConfig ? (bSet ? PellixFault_SetConfig : PellixFault_GetConfig)
                                               : (bSet ? PellixFault_SetParameter : PellixFault_GetParameter);
    const OMX_ERRORTYPE eFault = CTestControl::Instance().TakeFault(eFaultKind, Name(), eIndex);
    if (eFault != OMX_ErrorNone)
        return eFault;
    if (pvStruct == nullptr)
        return OMX_ErrorBadParameter;
    if (State() == OMX_StateInvalid)
        return OMX_ErrorInvalidState;
    OMX_ERRORTYPE eOwn;
    if (bConfig)
        eOwn = bSet ? OnSetConfig(eIndex, pvStruct) : OnGetConfig(eIndex, pvStruct);
    else
        eOwn = bSet ? OnSetParameter(eIndex, pvStruct) : OnGetParameter(eIndex, pvStruct);
    if (eOwn != OMX_ErrorUnsupportedIndex)
        return eOwn;

    std::lock_guard<std::mutex> oLock(m_oMutex);
    OMX_PORTDOMAINTYPE eDomain;
    if (!bConfig && eIndex == OMX_IndexParamPortDefinition)
        return bSet ? SetPortDefinition(pvStruct) : GetPortDefinition(pvStruct);
    if (!bConfig && local_IsPortCountIndex(eIndex, eDomain))
        return bSet ? SetPortCounts(eIndex, pvStruct) : GetPortCounts(eIndex, pvStruct);

    bool bKnownIndex = false;
    SStoredSetting* poSetting = m_oSettings.Find(eIndex, bConfig, pvStruct, &bKnownIndex);
    if (poSetting == nullptr)
    {
        if (!bKnownIndex)
            return OMX_ErrorUnsupportedIndex;
        return static_cast<SOmxStructHead*>(pvStruct)->nSize < sizeof(SOmxPortStructHead) ? OMX_ErrorBadParameter
                                                                                           : OMX_ErrorBadPortIndex;
    }
    const OMX_ERRORTYPE eCheck = CheckStructHead(eIndex, pvStruct, poSetting->aucValue.size());
    if (eCheck != OMX_ErrorNone)
        return eCheck;
    if (!bSet)
    {
        memcpy(pvStruct, poSetting->aucValue.data(), poSetting->aucValue.size());
        return OMX_ErrorNone;
    }

    if (poSetting->eAccess == SettingAccess_ReadOnly)
        return OMX_ErrorUnsupportedSetting;
    if (poSetting->eAccess == SettingAccess_LoadedOnly && !IsLoadedLike())
    {
        const CPlatformPort* poPort = poSetting->bPerPort ? FindPort(poSetting->nPortIndex) : nullptr;
        if (poPort == nullptr || poPort->IsEnabled())
            return OMX_ErrorIncorrectStateOperation;
    }
    const OMX_ERRORTYPE eVerdict = CheckSetting(eIndex, bConfig, pvStruct);
    if (eVerdict != OMX_ErrorNone)
        return eVerdict;
    memcpy(poSetting->aucValue.data(), pvStruct, poSetting->aucValue.size());
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::GetPortDefinition(OMX_PTR pvStruct) const
{
    const OMX_ERRORTYPE eCheck = local_CheckStruct(pvStruct, sizeof(OMX_PARAM_PORTDEFINITIONTYPE));
    if (eCheck != OMX_ErrorNone)
        return eCheck;
    auto* poDefinition = static_cast<OMX_PARAM_PORTDEFINITIONTYPE*>(pvStruct);
    const CPlatformPort* poPort = FindPort(poDefinition->nPortIndex);
    if (poPort == nullptr)
        return OMX_ErrorBadPortIndex;
    *poDefinition = poPort->Definition();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::SetPortDefinition(OMX_PTR pvStruct)
{
    const OMX_ERRORTYPE eCheck = local_CheckStruct(pvStruct, sizeof(OMX_PARAM_PORTDEFINITIONTYPE));
    if (eCheck != OMX_ErrorNone)
        return eCheck;
    const auto* poGiven = static_cast<const OMX_PARAM_PORTDEFINITIONTYPE*>(pvStruct);
    CPlatformPort* poPort = FindPort(poGiven->nPortIndex);
    if (poPort == nullptr)
        return OMX_ErrorBadPortIndex;
    if (!CanSetPort(*poPort) || poPort->BufferCount() > 0)
        return OMX_ErrorIncorrectStateOperation;

    // The client chooses the count, the size and the format; direction, domain, minimum and
    // the enabled and populated flags stay the component's.
    OMX_PARAM_PORTDEFINITIONTYPE oNew = poPort->Definition();
    oNew.nBufferCountActual = poGiven->nBufferCountActual;
    oNew.nBufferSize = poGiven->nBufferSize;
    oNew.format = poGiven->format;
    if (oNew.nBufferCountActual < oNew.nBufferCountMin || oNew.nBufferCountActual > CPlatformPort::s_uiMaxBuffers ||
        oNew.nBufferSize == 0)
        return OMX_ErrorBadParameter;
    const OMX_ERRORTYPE eVerdict = CheckPortDefinition(*poPort, oNew);
    if (eVerdict != OMX_ErrorNone)
        return eVerdict;
    poPort->Definition() = oNew;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::GetPortCounts(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const
{
    const OMX_ERRORTYPE eCheck = local_CheckStruct(pvStruct, sizeof(OMX_PORT_PARAM_TYPE));
    if (eCheck != OMX_ErrorNone)
        return eCheck;
    OMX_PORTDOMAINTYPE eDomain = OMX_PortDomainOther;
    local_IsPortCountIndex(eIndex, eDomain);
    auto* poCounts = static_cast<OMX_PORT_PARAM_TYPE*>(pvStruct);
    poCounts->nPorts = 0;
    poCounts->nStartPortNumber = 0;
    for (const auto& rpoPort : m_apoPorts)
    {
        if (rpoPort->Definition().eDomain != eDomain)
            continue;
        if (poCounts->nPorts == 0 || rpoPort->Index() < poCounts->nStartPortNumber)
            poCounts->nStartPortNumber = rpoPort->Index();
        ++poCounts->nPorts;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::SetPortCounts(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const
{
    // The ports are the component's: a set is accepted in Loaded when it states them as they are.
    OMX_PORT_PARAM_TYPE oActual;
    oActual.nSize = sizeof(oActual);
    oActual.nVersion.nVersion = 0;
    oActual.nVersion.s.nVersionMajor = 1;
    const OMX_ERRORTYPE eCheck = local_CheckStruct(pvStruct, sizeof(OMX_PORT_PARAM_TYPE));
    if (eCheck != OMX_ErrorNone)
        return eCheck;
    GetPortCounts(eIndex, &oActual);
    const auto* poGiven = static_cast<const OMX_PORT_PARAM_TYPE*>(pvStruct);
    if (!IsLoadedLike())
        return OMX_ErrorIncorrectStateOperation;
    if (poGiven->nPorts != oActual.nPorts || poGiven->nStartPortNumber != oActual.nStartPortNumber)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::AddBuffer(OMX_BUFFERHEADERTYPE** ppoHeader, OMX_U32 nPortIndex,
                                            OMX_PTR pAppPrivate, OMX_U32 nSizeBytes, OMX_U8* pvMemory)
{
    const bool bAllocate = pvMemory == nullptr;
    const OMX_ERRORTYPE eFault = CTestControl::Instance().TakeFault(
        bAllocate ? PellixFault_AllocateBuffer : PellixFault_UseBuffer, Name(), nPortIndex);
    if (eFault != OMX_ErrorNone)
        return eFault;
    if (ppoHeader == nullptr)
        return OMX_ErrorBadParameter;

    // Judged twice: before the memory is allocated (outside the mutex) and when it is added.
    const auto oCheck = [&]() -> OMX_ERRORTYPE {
        const CPlatformPort* poPort = FindPort(nPortIndex);
        if (poPort == nullptr)
            return OMX_ErrorBadPortIndex;
        if (m_eState == OMX_StateInvalid)
            return OMX_ErrorInvalidState;
        // Buffers come while Loaded moves to Idle, or while a port is being enabled.
        const bool bExpected = (IsLoadedLike() && poPort->IsEnabled() && m_uiIdleRequests > 0) ||
                               poPort->EnableRequests() > 0;
        if (!bExpected || poPort->IsPopulated())
            return OMX_ErrorIncorrectStateOperation;
        if (nSizeBytes < poPort->Definition().nBufferSize)
            return OMX_ErrorBadParameter;
        return OMX_ErrorNone;
    };
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        const OMX_ERRORTYPE eError = oCheck();
        if (eError != OMX_ErrorNone)
            return eError;
    }
    if (bAllocate)
    {
        pvMemory = CPlatformPort::AllocateMemory(nSizeBytes);
        if (pvMemory == nullptr)
            return OMX_ErrorInsufficientResources;
    }
    OMX_ERRORTYPE eError;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        eError = oCheck();
        if (eError == OMX_ErrorNone)
            eError = FindPort(nPortIndex)->AddBuffer(ppoHeader, pAppPrivate, nSizeBytes, pvMemory, bAllocate);
        if (eError == OMX_ErrorNone)
            m_oWake.notify_one();
    }
    if (eError != OMX_ErrorNone && bAllocate)
        CPlatformPort::FreeMemory(pvMemory);
    return eError;
}

OMX_ERRORTYPE CPlatformComponent::FreeBuffer(OMX_U32 nPortIndex, OMX_BUFFERHEADERTYPE* poHeader)
{
    const OMX_ERRORTYPE eFault = CTestControl::Instance().TakeFault(PellixFault_FreeBuffer, Name(), nPortIndex);
    if (eFault != OMX_ErrorNone)
        return eFault;
    if (poHeader == nullptr)
        return OMX_ErrorBadParameter;
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        CPlatformPort* poPort = FindPort(nPortIndex);
        if (poPort == nullptr)
            return OMX_ErrorBadPortIndex;
        SPlatformBuffer* poBuffer = poPort->Find(poHeader);
        // A buffer being handed back is freed once its callback has returned, unless the callback
        // frees it itself.
        while (poBuffer != nullptr && poBuffer->eOwner == PlatformBufferOwner_Returning && !IsOnThread())
        {
            m_oReturned.wait(oLock);
            poBuffer = poPort->Find(poHeader);
        }
        if (poBuffer == nullptr)
            return OMX_ErrorBadParameter;
        // A buffer the component is working on, or may take any moment, stays. One queued while
        // nothing runs (Idle, a disabled port) is simply dropped with its header.
        const bool bProcessing = (m_eState == OMX_StateExecuting || m_eState == OMX_StatePause) && poPort->IsEnabled();
        if (poBuffer->eOwner == PlatformBufferOwner_Taken ||
            (poBuffer->eOwner == PlatformBufferOwner_Queued && bProcessing))
            return OMX_ErrorIncorrectStateOperation;
        // Freeing outside a move to Loaded or a disable takes a needed buffer away.
        const bool bUnpopulates = !IsLoadedLike() && m_eState != OMX_StateInvalid && poPort->IsEnabled() &&
                                  m_uiLoadedRequests == 0 && poPort->DisableRequests() == 0;
        poPort->RemoveBuffer(poBuffer);
        if (bUnpopulates)
            m_aoPendingEvents.push_back(
                SPendingEvent{OMX_EventError, static_cast<OMX_U32>(OMX_ErrorPortUnpopulated), nPortIndex});
        m_oWake.notify_one();
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::QueueBuffer(OMX_BUFFERHEADERTYPE* poHeader, bool bInput)
{
    if (poHeader == nullptr)
        return OMX_ErrorBadParameter;
    const OMX_U32 nPortIndex = bInput ? poHeader->nInputPortIndex : poHeader->nOutputPortIndex;
    const OMX_ERRORTYPE eFault = CTestControl::Instance().TakeFault(
        bInput ? PellixFault_EmptyThisBuffer : PellixFault_FillThisBuffer, Name(), nPortIndex);
    if (eFault != OMX_ErrorNone)
        return eFault;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        CPlatformPort* poPort = FindPort(nPortIndex);
        if (poPort == nullptr || poPort->IsInput() != bInput)
            return OMX_ErrorBadPortIndex;
        SPlatformBuffer* poBuffer = poPort->Find(poHeader);
        if (poBuffer == nullptr ||
            (poBuffer->eOwner != PlatformBufferOwner_Client && poBuffer->eOwner != PlatformBufferOwner_Returning))
            return OMX_ErrorBadParameter;
        if (bInput && poHeader->nOffset + poHeader->nFilledLen > poHeader->nAllocLen)
            return OMX_ErrorBadParameter;
        if (m_eState == OMX_StateInvalid)
            return OMX_ErrorInvalidState;
        if ((m_eState != OMX_StateIdle && m_eState != OMX_StateExecuting && m_eState != OMX_StatePause) ||
            !poPort->IsEnabled())
            return OMX_ErrorIncorrectStateOperation;
        poPort->Queue(poBuffer);
        m_bProcessRequested = true;
        m_oWake.notify_one();
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPlatformComponent::SetCallbacks(const OMX_CALLBACKTYPE* poCallbacks, OMX_PTR pvAppData)
{
    if (poCallbacks == nullptr)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (!IsLoadedLike())
        return OMX_ErrorIncorrectStateOperation;
    m_oCallbacks = *poCallbacks;
    m_pvAppData = pvAppData;
    return OMX_ErrorNone;
}

// ---- Entry points ----------------------------------------------------------------------------

OMX_ERRORTYPE CPlatformComponent::EntryGetComponentVersion(OMX_HANDLETYPE hComponent, OMX_STRING pComponentName,
                                                           OMX_VERSIONTYPE* pComponentVersion,
                                                           OMX_VERSIONTYPE* pSpecVersion,
                                                           OMX_UUIDTYPE* pComponentUUID)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        if (pComponentName == nullptr || pComponentVersion == nullptr || pSpecVersion == nullptr ||
            pComponentUUID == nullptr)
            return OMX_ErrorBadParameter;
        snprintf(pComponentName, OMX_MAX_STRINGNAME_SIZE, "%s", roComponent.Name());
        pComponentVersion->nVersion = 0;
        pComponentVersion->s.nVersionMajor = 1;
        pSpecVersion->nVersion = 0;
        pSpecVersion->s.nVersionMajor = 1;
        pSpecVersion->s.nVersionMinor = 1;
        // Unique among the live components: the address of the instance.
        memset(*pComponentUUID, 0, sizeof(OMX_UUIDTYPE));
        const CPlatformComponent* poSelf = &roComponent;
        memcpy(*pComponentUUID, &poSelf, sizeof(poSelf));
        return OMX_ErrorNone;
    });
}

OMX_ERRORTYPE CPlatformComponent::EntrySendCommand(OMX_HANDLETYPE hComponent, OMX_COMMANDTYPE Cmd, OMX_U32 nParam1,
                                                   OMX_PTR)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.SendCommand(Cmd, nParam1); });
}

OMX_ERRORTYPE CPlatformComponent::EntryGetParameter(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nParamIndex,
                                                    OMX_PTR pStruct)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        return roComponent.AccessSetting(nParamIndex, false, false, pStruct);
    });
}

OMX_ERRORTYPE CPlatformComponent::EntrySetParameter(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.AccessSetting(nIndex, false, true, pStruct); });
}

OMX_ERRORTYPE CPlatformComponent::EntryGetConfig(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.AccessSetting(nIndex, true, false, pStruct); });
}

OMX_ERRORTYPE CPlatformComponent::EntrySetConfig(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.AccessSetting(nIndex, true, true, pStruct); });
}

OMX_ERRORTYPE CPlatformComponent::EntryGetExtensionIndex(OMX_HANDLETYPE hComponent, OMX_STRING cParameterName,
                                                         OMX_INDEXTYPE* pIndexType)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        if (cParameterName == nullptr || pIndexType == nullptr)
            return OMX_ErrorBadParameter;
        // The list is fixed once the component is created.
        for (const auto& roExtension : roComponent.m_aoExtensions)
        {
            if (roExtension.first == cParameterName)
            {
                *pIndexType = roExtension.second;
                return OMX_ErrorNone;
            }
        }
        return OMX_ErrorUnsupportedIndex;
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryGetState(OMX_HANDLETYPE hComponent, OMX_STATETYPE* pState)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        if (pState == nullptr)
            return OMX_ErrorBadParameter;
        *pState = roComponent.State();
        return OMX_ErrorNone;
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryComponentTunnelRequest(OMX_HANDLETYPE hComp, OMX_U32, OMX_HANDLETYPE, OMX_U32,
                                                              OMX_TUNNELSETUPTYPE*)
{
    // The client links components itself; the platform's components never tunnel.
    return local_Call(hComp, [](CPlatformComponent&) { return OMX_ErrorTunnelingUnsupported; });
}

OMX_ERRORTYPE CPlatformComponent::EntryUseBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBufferHdr,
                                                 OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes,
                                                 OMX_U8* pBuffer)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        if (pBuffer == nullptr)
            return OMX_ErrorBadParameter;
        return roComponent.AddBuffer(ppBufferHdr, nPortIndex, pAppPrivate, nSizeBytes, pBuffer);
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryAllocateBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBuffer,
                                                      OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        return roComponent.AddBuffer(ppBuffer, nPortIndex, pAppPrivate, nSizeBytes, nullptr);
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryFreeBuffer(OMX_HANDLETYPE hComponent, OMX_U32 nPortIndex,
                                                  OMX_BUFFERHEADERTYPE* pBuffer)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.FreeBuffer(nPortIndex, pBuffer); });
}

OMX_ERRORTYPE CPlatformComponent::EntryEmptyThisBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.QueueBuffer(pBuffer, true); });
}

OMX_ERRORTYPE CPlatformComponent::EntryFillThisBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer)
{
    return local_Call(hComponent,
                      [&](CPlatformComponent& roComponent) { return roComponent.QueueBuffer(pBuffer, false); });
}

OMX_ERRORTYPE CPlatformComponent::EntrySetCallbacks(OMX_HANDLETYPE hComponent, OMX_CALLBACKTYPE* pCallbacks,
                                                    OMX_PTR pAppData)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        return roComponent.SetCallbacks(pCallbacks, pAppData);
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryComponentDeInit(OMX_HANDLETYPE hComponent)
{
    return local_Call(hComponent, [&](CPlatformComponent& roComponent) {
        // Until the thread has stopped, its callbacks may still call into the handle.
        roComponent.DeInit();
        static_cast<OMX_COMPONENTTYPE*>(hComponent)->pComponentPrivate = nullptr;
        if (!roComponent.m_bDeleteOnExit)
            delete &roComponent;
        return OMX_ErrorNone;
    });
}

OMX_ERRORTYPE CPlatformComponent::EntryUseEGLImage(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE**, OMX_U32,
                                                   OMX_PTR, void*)
{
    return local_Call(hComponent, [](CPlatformComponent&) { return OMX_ErrorNotImplemented; });
}

OMX_ERRORTYPE CPlatformComponent::EntryComponentRoleEnum(OMX_HANDLETYPE hComponent, OMX_U8* cRole, OMX_U32)
{
    return local_Call(hComponent, [&](CPlatformComponent&) {
        // The platform's components have no standard roles.
        return cRole == nullptr ? OMX_ErrorBadParameter : OMX_ErrorNoMore;
    });
}
