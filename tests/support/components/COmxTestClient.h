// An IL client for the platform's tests: owns one handle, records every callback (with the thread
// it came on) and keeps the buffers it allocated or gave, per port.
#ifndef COMX_TEST_CLIENT_H
#define COMX_TEST_CLIENT_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

class COmxTestClient
{
public:
    struct SEvent
    {
        OMX_EVENTTYPE eEvent;
        OMX_U32 nData1;
        OMX_U32 nData2;
    };
    // Runs on the component's thread for every buffer it gives back, after the client counted it.
    typedef std::function<void(OMX_BUFFERHEADERTYPE*)> FnBufferDone;
    typedef std::chrono::milliseconds Bound;

    explicit COmxTestClient(const char* szName);
    ~COmxTestClient() { FreeHandle(); }  // when the test has not
    COmxTestClient(const COmxTestClient&) = delete;
    COmxTestClient& operator=(const COmxTestClient&) = delete;

    OMX_ERRORTYPE GetHandleResult() const { return m_eGetHandle; }
    OMX_HANDLETYPE Handle() const { return m_hComponent; }
    OMX_ERRORTYPE FreeHandle();

    // ---- Commands and events ----------------------------------------------------------------
    OMX_ERRORTYPE SendState(OMX_STATETYPE eState)
    {
        return OMX_SendCommand(m_hComponent, OMX_CommandStateSet, eState, nullptr);
    }
    OMX_STATETYPE State() const;
    // Waits for the first unconsumed event that matches, and consumes it.
    bool WaitEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, Bound oBound = std::chrono::seconds(20));
    bool WaitState(OMX_STATETYPE eState) { return WaitEvent(OMX_EventCmdComplete, OMX_CommandStateSet, eState); }
    // Unconsumed events that match, and all unconsumed events.
    unsigned CountEvents(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2) const;
    unsigned PendingEvents() const;
    // Sends the command and waits for its completion.
    bool GoTo(OMX_STATETYPE eState) { return SendState(eState) == OMX_ErrorNone && WaitState(eState); }
    // Loaded -> Idle -> Executing with nBufferCountActual buffers allocated on every port.
    bool GoToExecuting();
    // Back to Loaded from Executing, Pause or Idle, freeing every buffer.
    bool GoToLoaded();

    // ---- Buffers ----------------------------------------------------------------------------
    OMX_PARAM_PORTDEFINITIONTYPE PortDefinition(OMX_U32 nPort) const;
    OMX_ERRORTYPE SetBufferCount(OMX_U32 nPort, OMX_U32 nCount);
    // OMX_AllocateBuffer uiCount times (nSize 0: the port's nBufferSize); stops at a failure.
    OMX_ERRORTYPE AllocateBuffers(OMX_U32 nPort, unsigned uiCount, OMX_U32 nSize = 0);
    // OMX_UseBuffer with each memory block given.
    OMX_ERRORTYPE UseBuffers(OMX_U32 nPort, const std::vector<OMX_U8*>& apvMemory, OMX_U32 nSize);
    OMX_ERRORTYPE FreeBuffers(OMX_U32 nPort);
    std::vector<OMX_BUFFERHEADERTYPE*> Buffers(OMX_U32 nPort) const;
    // Hands every buffer of the port to the component (EmptyThisBuffer on an input, else
    // FillThisBuffer).
    OMX_ERRORTYPE SubmitAll(OMX_U32 nPort, bool bInput);

    // Buffers given back so far on a port (EmptyBufferDone and FillBufferDone).
    unsigned ReturnedCount(OMX_U32 nPort) const;
    bool WaitReturned(OMX_U32 nPort, unsigned uiCount, Bound oBound = std::chrono::seconds(20));
    void OnEmptyDone(FnBufferDone fnDone) { m_fnEmptyDone = std::move(fnDone); }
    void OnFillDone(FnBufferDone fnDone) { m_fnFillDone = std::move(fnDone); }

    // ---- Threads ----------------------------------------------------------------------------
    // The threads the callbacks came on.
    std::set<std::thread::id> CallbackThreads() const;
    unsigned CallbackCount() const { return m_uiCallbacks.load(); }

private:
    void Note(const SEvent* poEvent, const OMX_U32* pnReturnedPort, const FnBufferDone& rfnDone,
              OMX_BUFFERHEADERTYPE* poHeader);

    OMX_HANDLETYPE m_hComponent = nullptr;
    OMX_ERRORTYPE m_eGetHandle = OMX_ErrorUndefined;
    FnBufferDone m_fnEmptyDone;
    FnBufferDone m_fnFillDone;

    mutable std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    std::vector<SEvent> m_aoEvents;
    std::map<OMX_U32, unsigned> m_oReturned;
    std::set<std::thread::id> m_oCallbackThreads;
    std::map<OMX_U32, std::vector<OMX_BUFFERHEADERTYPE*>> m_oBuffers;  // the test thread's only
    std::atomic<unsigned> m_uiCallbacks{0};
};

#endif // COMX_TEST_CLIENT_H
