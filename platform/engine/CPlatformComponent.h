// CPlatformComponent: the OpenMAX IL 1.1 component engine every device component of the platform
// derives from. It implements the whole OMX_COMPONENTTYPE function table: the state machine with
// its completion rules, port enable and disable, flush, port definitions, buffer allocation,
// use and freeing, parameter and configuration storage, and one thread per instance from which
// every callback to the client is made.
//
// Threads. The client's calls (the OMX_* macros) run on the client's threads; they validate,
// record and queue, and never call back. Everything else runs on the component's own thread:
// commands, the buffer returns (EmptyBufferDone, FillBufferDone), every event, and the hooks a
// device component overrides to do its work. The engine's mutex is never held while a callback
// or a hook runs, so a callback may call straight into this or any other component.
//
// A device component:
//   - adds its ports and settings in its constructor (AddPort, AddParameter, AddConfig);
//   - answers the indices it handles itself in OnGetParameter/OnSetParameter/OnGetConfig/
//     OnSetConfig (client threads), or checks stored ones in CheckSetting/CheckPortDefinition;
//   - does its work on its thread in OnProcess (buffers arrived) and OnTick (clocked work),
//     taking buffers with TakeBuffer and handing them back with ReturnBuffer;
//   - starts and stops its clock and its resources in OnStateChange;
//   - is registered with PELLIX_REGISTER_COMPONENT(name, PellixCreateComponent<CClass>).
#ifndef CPLATFORM_COMPONENT_H
#define CPLATFORM_COMPONENT_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CParameterStore.h"
#include "CPlatformPort.h"
#include "CTestControl.h"

class CPlatformComponent
{
public:
    // Fills the handle's function table with the engine's entry points and starts the
    // component's thread. Takes ownership of poComponent (deleted on failure, and by
    // ComponentDeInit). For factories; see PellixCreateComponent.
    static OMX_ERRORTYPE Attach(CPlatformComponent* poComponent, OMX_COMPONENTTYPE* poHandle);

    virtual ~CPlatformComponent();

    CPlatformComponent(const CPlatformComponent&) = delete;
    CPlatformComponent& operator=(const CPlatformComponent&) = delete;

    const char* Name() const { return m_szName.c_str(); }
    OMX_HANDLETYPE Handle() const { return m_poHandle; }

    // Queues an event for the client; it is sent from the component's thread. Any thread.
    void PostEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2);

protected:
    typedef std::chrono::steady_clock CClock;

    explicit CPlatformComponent(const char* szName);

    // ---- Set-up: from the derived constructor only ----------------------------------------
    // Adds a port (enabled, one buffer minimum); the caller completes its definition
    // (nBufferCountMin/Actual, nBufferSize, the domain's format).
    CPlatformPort& AddPort(OMX_U32 nPortIndex, OMX_DIRTYPE eDir, OMX_PORTDOMAINTYPE eDomain);
    // Registers a parameter or configuration the engine stores; pvDefault is the full structure
    // with nSize set (and nPortIndex when bPerPort).
    void AddParameter(OMX_INDEXTYPE eIndex, ESettingAccess eAccess, bool bPerPort, const void* pvDefault);
    void AddConfig(OMX_INDEXTYPE eIndex, ESettingAccess eAccess, bool bPerPort, const void* pvDefault);
    // A vendor extension name that OMX_GetExtensionIndex answers.
    void AddExtension(const char* szName, OMX_INDEXTYPE eIndex);

    // ---- Hooks on the component's thread (the engine's mutex is not held) ------------------
    // A state transition is about to complete (its conditions are met; on the way down from
    // Executing or Pause the buffers are still held). An error refuses it: the client gets
    // OMX_EventError with that code and the state stays. Default: OMX_ErrorNone.
    virtual OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo);
    // In Executing, after buffers were queued, a port enabled, the move to Executing, or
    // RequestProcess. Do what the queued buffers allow, then return. Default: nothing.
    virtual void OnProcess();
    // In Executing while the clock runs: uiElapsedTicks periods have passed since the last call
    // (more than 1 when the thread was late). Default: nothing.
    virtual void OnTick(unsigned uiElapsedTicks);
    // The engine is about to give back every buffer of the port (flush, disable, move to Idle):
    // forget the buffers taken from it. Default: nothing.
    virtual void OnReleaseBuffers(OMX_U32 nPortIndex);

    // ---- Hooks on the client's threads (the engine's mutex is not held) --------------------
    // Indices the component answers itself. OMX_ErrorUnsupportedIndex (the default) leaves the
    // index to the engine: port definitions, port counts, then the stored settings. Called after
    // the null-pointer, state and fault checks.
    virtual OMX_ERRORTYPE OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct);
    virtual OMX_ERRORTYPE OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct);
    virtual OMX_ERRORTYPE OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct);
    virtual OMX_ERRORTYPE OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct);

    // ---- Checks under the engine's mutex: keep them short, call nothing of the engine ------
    // A new port definition the client sets, after the engine's checks (state, counts). May
    // adjust roNew (for example compute nBufferSize) or refuse it with an error. Default: accept.
    virtual OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew);
    // A new value of a stored setting (the client's structure), after the engine's checks. May
    // adjust it or refuse it. Default: accept.
    virtual OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew);

    // ---- For the component's thread -------------------------------------------------------
    // The oldest buffer queued on the port, taken for processing (null when none). The
    // component holds it until ReturnBuffer.
    OMX_BUFFERHEADERTYPE* TakeBuffer(OMX_U32 nPortIndex);
    // The oldest buffer queued on the port, left queued; null when none.
    OMX_BUFFERHEADERTYPE* PeekBuffer(OMX_U32 nPortIndex) const;
    unsigned QueuedBuffers(OMX_U32 nPortIndex) const;
    // Gives a taken buffer back to the client now: EmptyBufferDone for an input, FillBufferDone
    // for an output (followed by OMX_EventBufferFlag when it carries OMX_BUFFERFLAG_EOS). False,
    // and nothing sent, when the buffer is not taken or this is not the component's thread.
    bool ReturnBuffer(OMX_BUFFERHEADERTYPE* poHeader);
    // Sends an event to the client now.
    void SendEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, OMX_PTR pvEventData = nullptr);
    // Runs OnTick every uiPeriodNs from now on, in Executing. Restarts the phase.
    void StartClock(uint64_t uiPeriodNs);
    void StopClock();

    // ---- For any thread -------------------------------------------------------------------
    // Makes the thread call OnProcess again (in Executing).
    void RequestProcess();
    OMX_STATETYPE State() const;
    // Copies of the current values; false for an unknown port or setting.
    bool ReadPortDefinition(OMX_U32 nPortIndex, OMX_PARAM_PORTDEFINITIONTYPE& roDefinition) const;
    bool ReadSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_U32 nPortIndex, void* pvOut, size_t uiSize) const;
    // True when settings of the port may change now: in Loaded, or while the port is disabled.
    bool IsPortSettable(OMX_U32 nPortIndex) const;
    // The size and version of a structure given for the index: OMX_ErrorBadParameter unless nSize
    // is exactly uiSize (the platform's own indices) or at least uiSize (the standard ones),
    // OMX_ErrorVersionMismatch unless the major version is 1.
    static OMX_ERRORTYPE CheckStructHead(OMX_INDEXTYPE eIndex, const void* pvStruct, size_t uiSize);
    void Count(PellixCounter eCounter, unsigned long long uiCount = 1) { m_poCounters->Bump(eCounter, uiCount); }

private:
    struct SCommand
    {
        OMX_COMMANDTYPE eCommand;
        OMX_U32 nParam;
        CClock::time_point oDue;
    };

    struct SPendingEvent
    {
        OMX_EVENTTYPE eEvent;
        OMX_U32 nData1;
        OMX_U32 nData2;
    };

    // The function table's entry points.
    static OMX_ERRORTYPE EntryGetComponentVersion(OMX_HANDLETYPE hComponent, OMX_STRING pComponentName,
                                                  OMX_VERSIONTYPE* pComponentVersion, OMX_VERSIONTYPE* pSpecVersion,
                                                  OMX_UUIDTYPE* pComponentUUID);
    static OMX_ERRORTYPE EntrySendCommand(OMX_HANDLETYPE hComponent, OMX_COMMANDTYPE Cmd, OMX_U32 nParam1,
                                          OMX_PTR pCmdData);
    static OMX_ERRORTYPE EntryGetParameter(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nParamIndex, OMX_PTR pStruct);
    static OMX_ERRORTYPE EntrySetParameter(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct);
    static OMX_ERRORTYPE EntryGetConfig(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct);
    static OMX_ERRORTYPE EntrySetConfig(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex, OMX_PTR pStruct);
    static OMX_ERRORTYPE EntryGetExtensionIndex(OMX_HANDLETYPE hComponent, OMX_STRING cParameterName,
                                                OMX_INDEXTYPE* pIndexType);
    static OMX_ERRORTYPE EntryGetState(OMX_HANDLETYPE hComponent, OMX_STATETYPE* pState);
    static OMX_ERRORTYPE EntryComponentTunnelRequest(OMX_HANDLETYPE hComp, OMX_U32 nPort, OMX_HANDLETYPE hTunneledComp,
                                                     OMX_U32 nTunneledPort, OMX_TUNNELSETUPTYPE* pTunnelSetup);
    static OMX_ERRORTYPE EntryUseBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBufferHdr,
                                        OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes, OMX_U8* pBuffer);
    static OMX_ERRORTYPE EntryAllocateBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBuffer,
                                             OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes);
    static OMX_ERRORTYPE EntryFreeBuffer(OMX_HANDLETYPE hComponent, OMX_U32 nPortIndex,
                                         OMX_BUFFERHEADERTYPE* pBuffer);
    static OMX_ERRORTYPE EntryEmptyThisBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer);
    static OMX_ERRORTYPE EntryFillThisBuffer(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer);
    static OMX_ERRORTYPE EntrySetCallbacks(OMX_HANDLETYPE hComponent, OMX_CALLBACKTYPE* pCallbacks, OMX_PTR pAppData);
    static OMX_ERRORTYPE EntryComponentDeInit(OMX_HANDLETYPE hComponent);
    static OMX_ERRORTYPE EntryUseEGLImage(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBufferHdr,
                                          OMX_U32 nPortIndex, OMX_PTR pAppPrivate, void* eglImage);
    static OMX_ERRORTYPE EntryComponentRoleEnum(OMX_HANDLETYPE hComponent, OMX_U8* cRole, OMX_U32 nIndex);

    static void ComponentThread(CPlatformComponent* poComponent);

    // The client's calls.
    OMX_ERRORTYPE SendCommand(OMX_COMMANDTYPE eCommand, OMX_U32 nParam);
    // OMX_Get/SetParameter and OMX_Get/SetConfig.
    OMX_ERRORTYPE AccessSetting(OMX_INDEXTYPE eIndex, bool bConfig, bool bSet, OMX_PTR pvStruct);
    OMX_ERRORTYPE GetPortDefinition(OMX_PTR pvStruct) const;
    OMX_ERRORTYPE SetPortDefinition(OMX_PTR pvStruct);
    OMX_ERRORTYPE GetPortCounts(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const;
    OMX_ERRORTYPE SetPortCounts(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const;
    OMX_ERRORTYPE AddBuffer(OMX_BUFFERHEADERTYPE** ppoHeader, OMX_U32 nPortIndex, OMX_PTR pAppPrivate,
                            OMX_U32 nSizeBytes, OMX_U8* pvMemory);
    OMX_ERRORTYPE FreeBuffer(OMX_U32 nPortIndex, OMX_BUFFERHEADERTYPE* poHeader);
    OMX_ERRORTYPE QueueBuffer(OMX_BUFFERHEADERTYPE* poHeader, bool bInput);
    OMX_ERRORTYPE SetCallbacks(const OMX_CALLBACKTYPE* poCallbacks, OMX_PTR pvAppData);
    void DeInit();

    // The thread.
    void Run();
    // One step of the command at the head of the queue; true when it made progress.
    bool AdvanceCommand(std::unique_lock<std::mutex>& roLock);
    bool AdvanceStateSet(std::unique_lock<std::mutex>& roLock);
    bool AdvancePortCommand(std::unique_lock<std::mutex>& roLock);
    void FinishCommand();
    // Gives back every buffer held on the port (OMX_ALL: every port), after OnReleaseBuffers.
    void ReleaseHeldBuffers(std::unique_lock<std::mutex>& roLock, OMX_U32 nPortIndex);
    // Sends an event with the mutex released; nothing once the component is being torn down.
    void SendEventUnlocked(std::unique_lock<std::mutex>& roLock, OMX_EVENTTYPE eEvent, OMX_U32 nData1,
                           OMX_U32 nData2);
    // Sends EmptyBufferDone or FillBufferDone for a header the client owns again; call unlocked.
    void SendBufferDone(OMX_BUFFERHEADERTYPE* poHeader, bool bInput);

    CPlatformPort* FindPort(OMX_U32 nPortIndex) const;
    bool IsOnThread() const { return std::this_thread::get_id() == m_oThreadId; }
    bool IsLoadedLike() const { return m_eState == OMX_StateLoaded || m_eState == OMX_StateWaitForResources; }
    bool CanSetPort(const CPlatformPort& roPort) const { return IsLoadedLike() || !roPort.IsEnabled(); }
    bool PortSelected(const CPlatformPort& roPort, OMX_U32 nParam) const
    {
        return nParam == OMX_ALL || roPort.Index() == nParam;
    }

    const std::string m_szName;
    SComponentCounters* const m_poCounters;
    OMX_COMPONENTTYPE* m_poHandle;

    // Guards everything below but the thread's own bookkeeping.
    mutable std::mutex m_oMutex;
    std::condition_variable m_oWake;
    // Signalled when a buffer has been handed back (its callback returned).
    std::condition_variable m_oReturned;
    OMX_CALLBACKTYPE m_oCallbacks;
    OMX_PTR m_pvAppData;
    OMX_STATETYPE m_eState;
    std::vector<std::unique_ptr<CPlatformPort>> m_apoPorts;
    CParameterStore m_oSettings;
    std::vector<std::pair<std::string, OMX_INDEXTYPE>> m_aoExtensions;
    std::deque<SCommand> m_aoCommands;
    std::deque<SPendingEvent> m_aoPendingEvents;
    unsigned m_uiIdleRequests;    // commands to Idle queued or in progress
    unsigned m_uiLoadedRequests;  // commands to Loaded queued or in progress
    bool m_bProcessRequested;
    bool m_bClockRunning;
    std::chrono::nanoseconds m_oClockPeriod;
    CClock::time_point m_oNextTick;
    bool m_bQuit;

    // The thread's own.
    std::thread m_oThread;
    std::thread::id m_oThreadId;
    bool m_bCommandActive;  // the head of m_aoCommands is being carried out
    bool m_bCommandStarted;
    bool m_bDeleteOnExit;   // torn down from its own thread: the thread deletes the object
};

// The factory of a component class whose constructor takes the registered name.
template <class TComponent>
OMX_ERRORTYPE PellixCreateComponent(OMX_COMPONENTTYPE* poHandle, const char* szName)
{
    CPlatformComponent* poComponent = nullptr;
    try
    {
        poComponent = new TComponent(szName);
    }
    catch (...)
    {
        return OMX_ErrorInsufficientResources;
    }
    return CPlatformComponent::Attach(poComponent, poHandle);
}

#endif // CPLATFORM_COMPONENT_H
