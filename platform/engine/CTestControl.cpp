#include "CTestControl.h"

#include "CPlatformComponent.h"

namespace
{
std::string local_Key(const char* szComponent)
{
    return szComponent != nullptr ? std::string(szComponent) : std::string();
}
} // namespace

CTestControl& CTestControl::Instance()
{
    static CTestControl s_oControl;
    return s_oControl;
}

OMX_ERRORTYPE CTestControl::ArmFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex,
                                     unsigned uiSkip, unsigned uiCount, OMX_ERRORTYPE eError)
{
    if (eKind < 0 || eKind >= PellixFault_KindCount || eError == OMX_ErrorNone)
        return OMX_ErrorBadParameter;
    if (uiCount == 0)
        return OMX_ErrorNone;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_aoFaults.push_back(SFault{eKind, local_Key(szComponent), uiIndex, uiSkip, uiCount, eError});
    m_uiArmedFaults.fetch_add(uiCount);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CTestControl::TakeFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex)
{
    if (m_uiArmedFaults.load() == 0)
        return OMX_ErrorNone;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (auto it = m_aoFaults.begin(); it != m_aoFaults.end(); ++it)
    {
        if (it->eKind != eKind || (!it->oComponent.empty() && it->oComponent != szComponent))
            continue;
        // A call without an index of its own (GetHandle, FreeHandle) matches whatever was armed.
        if (uiIndex != PELLIX_ANY_INDEX && it->uiIndex != PELLIX_ANY_INDEX && it->uiIndex != uiIndex)
            continue;
        if (it->uiSkip > 0)
        {
            --it->uiSkip;
            return OMX_ErrorNone;
        }
        const OMX_ERRORTYPE eError = it->eError;
        if (--it->uiRemaining == 0)
            m_aoFaults.erase(it);
        m_uiArmedFaults.fetch_sub(1);
        return eError;
    }
    return OMX_ErrorNone;
}

unsigned CTestControl::PendingFaults() const
{
    return m_uiArmedFaults.load();
}

void CTestControl::SetDelay(const char* szComponent, unsigned uiMilliseconds)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (uiMilliseconds == 0)
        m_oDelays.erase(local_Key(szComponent));
    else
        m_oDelays[local_Key(szComponent)] = uiMilliseconds;
}

unsigned CTestControl::DelayFor(const char* szComponent) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (m_oDelays.empty())
        return 0;
    // The delay for the name wins over the one for every component.
    auto it = m_oDelays.find(local_Key(szComponent));
    if (it == m_oDelays.end())
        it = m_oDelays.find(std::string());
    return it != m_oDelays.end() ? it->second : 0;
}

SComponentCounters* CTestControl::CountersFor(const char* szComponent)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    std::unique_ptr<SComponentCounters>& rpoCounters = m_oCounters[local_Key(szComponent)];
    if (!rpoCounters)
        rpoCounters.reset(new SComponentCounters());
    return rpoCounters.get();
}

unsigned long long CTestControl::Counter(const char* szComponent, PellixCounter eCounter) const
{
    if (eCounter < 0 || eCounter >= PellixCounter_Count)
        return 0;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const auto it = m_oCounters.find(local_Key(szComponent));
    return it != m_oCounters.end() ? it->second->auiValue[eCounter].load() : 0;
}

void CTestControl::AddComponent(CPlatformComponent* poComponent)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_apoComponents.push_back(poComponent);
}

void CTestControl::RemoveComponent(CPlatformComponent* poComponent)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    for (auto it = m_apoComponents.begin(); it != m_apoComponents.end(); ++it)
    {
        if (*it == poComponent)
        {
            m_apoComponents.erase(it);
            return;
        }
    }
}

OMX_ERRORTYPE CTestControl::RaiseError(const char* szComponent, void* hComponent, OMX_ERRORTYPE eError,
                                       OMX_U32 nData2)
{
    if (hComponent == nullptr && szComponent == nullptr)
        return OMX_ErrorBadParameter;
    // Under the mutex no component can leave (RemoveComponent waits for it).
    std::lock_guard<std::mutex> oLock(m_oMutex);
    bool bFound = false;
    for (CPlatformComponent* poComponent : m_apoComponents)
    {
        const bool bMatch = hComponent != nullptr ? poComponent->Handle() == hComponent
                                                  : local_Key(szComponent) == poComponent->Name();
        if (!bMatch)
            continue;
        poComponent->PostEvent(OMX_EventError, static_cast<OMX_U32>(eError), nData2);
        bFound = true;
    }
    return bFound ? OMX_ErrorNone : OMX_ErrorComponentNotFound;
}

void CTestControl::SetSnapshotWriter(void* pvContext, PfnSnapshotWriter pfnWriter)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_pvSnapshotContext = pvContext;
    m_pfnSnapshotWriter = pfnWriter;
}

void CTestControl::ClearSnapshotWriter(void* pvContext)
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (m_pvSnapshotContext != pvContext)
        return;
    m_pvSnapshotContext = nullptr;
    m_pfnSnapshotWriter = nullptr;
}

OMX_ERRORTYPE CTestControl::WriteSnapshot(const char* szPath)
{
    if (szPath == nullptr)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> oLock(m_oMutex);
    if (m_pfnSnapshotWriter == nullptr)
        return OMX_ErrorNotReady;
    return m_pfnSnapshotWriter(m_pvSnapshotContext, szPath);
}

void CTestControl::Reset()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_aoFaults.clear();
    m_uiArmedFaults.store(0);
    m_oDelays.clear();
    for (auto& roEntry : m_oCounters)
    {
        for (auto& ruiValue : roEntry.second->auiValue)
            ruiValue.store(0);
    }
}
