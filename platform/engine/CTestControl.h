// The state behind the test-control API: armed faults, command delays, per-component counters,
// the live components (for injected error events) and the display's snapshot writer.
#ifndef CTEST_CONTROL_H
#define CTEST_CONTROL_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PellixTestControl.h"

class CPlatformComponent;

// The counters of all components of one name. Bumped without a lock from component threads.
struct SComponentCounters
{
    std::atomic<unsigned long long> auiValue[PellixCounter_Count];

    SComponentCounters()
    {
        for (auto& ruiValue : auiValue)
            ruiValue.store(0, std::memory_order_relaxed);
    }
    void Bump(PellixCounter eCounter, unsigned long long uiCount = 1)
    {
        auiValue[eCounter].fetch_add(uiCount, std::memory_order_relaxed);
    }
};

class CTestControl
{
public:
    // Writes the display's last shown frame to a file; called under the control's mutex, so it
    // must not call back into the control.
    typedef OMX_ERRORTYPE (*PfnSnapshotWriter)(void* pvContext, const char* szPath);

    static CTestControl& Instance();

    // ---- Faults ----------------------------------------------------------------------------
    // The first uiSkip matching calls pass, the uiCount after them fail.
    OMX_ERRORTYPE ArmFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex, unsigned uiSkip,
                           unsigned uiCount, OMX_ERRORTYPE eError);
    // The error of the first fault armed for this call, using it once; OMX_ErrorNone when none.
    // Costs one atomic load while no fault is armed.
    OMX_ERRORTYPE TakeFault(PellixFaultKind eKind, const char* szComponent, OMX_U32 uiIndex);
    unsigned PendingFaults() const;

    // ---- Command delays --------------------------------------------------------------------
    void SetDelay(const char* szComponent, unsigned uiMilliseconds);
    unsigned DelayFor(const char* szComponent) const;

    // ---- Counters --------------------------------------------------------------------------
    // The counters of the name, created on first use; the address stays valid for the life of
    // the process.
    SComponentCounters* CountersFor(const char* szComponent);
    unsigned long long Counter(const char* szComponent, PellixCounter eCounter) const;

    // ---- Live components -------------------------------------------------------------------
    void AddComponent(CPlatformComponent* poComponent);
    void RemoveComponent(CPlatformComponent* poComponent);
    OMX_ERRORTYPE RaiseError(const char* szComponent, void* hComponent, OMX_ERRORTYPE eError, OMX_U32 nData2);

    // ---- Display snapshot ------------------------------------------------------------------
    void SetSnapshotWriter(void* pvContext, PfnSnapshotWriter pfnWriter);
    // Removes the writer when it is still the one registered with that context.
    void ClearSnapshotWriter(void* pvContext);
    OMX_ERRORTYPE WriteSnapshot(const char* szPath);

    // Disarms the faults, removes the delays, zeroes the counters.
    void Reset();

private:
    struct SFault
    {
        PellixFaultKind eKind;
        std::string oComponent;  // empty: any component
        OMX_U32 uiIndex;
        unsigned uiSkip;  // matching calls still to let pass
        unsigned uiRemaining;
        OMX_ERRORTYPE eError;
    };

    CTestControl() = default;

    mutable std::mutex m_oMutex;
    std::vector<SFault> m_aoFaults;
    std::atomic<unsigned> m_uiArmedFaults{0};
    std::map<std::string, unsigned> m_oDelays;  // "" stands for every component
    std::map<std::string, std::unique_ptr<SComponentCounters>> m_oCounters;
    std::vector<CPlatformComponent*> m_apoComponents;
    void* m_pvSnapshotContext = nullptr;
    PfnSnapshotWriter m_pfnSnapshotWriter = nullptr;
};

#endif // CTEST_CONTROL_H
