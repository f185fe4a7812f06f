// An IL client for the platform's tests: owns one handle, records every callback (with the thread
// it came on), keeps the buffers it allocated or gave per port, and, on request, what came back
// produced. A buffer coming back on a port set to recycle goes straight back to the component.
#ifndef COMX_TEST_CLIENT_H
#define COMX_TEST_CLIENT_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"

class COmxTestClient
{
    // Used by the members below.
    template <typename TFn>
    auto Locked(TFn fn) const
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return fn();
    }
    template <typename TPredicate>
    bool Wait(TPredicate fnPredicate)
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        return m_oChanged.wait_for(oLock, std::chrono::seconds(20), fnPredicate);
    }

public:
    struct SEvent
    {
        OMX_EVENTTYPE eEvent;
        OMX_U32 nData1, nData2;
    };
    // An output that came back produced (with data or flags), as it came.
    struct SBuffer
    {
        OMX_U32 nFlags;
        OMX_TICKS nTimeStamp;
        std::string oData;
    };

    explicit COmxTestClient(const char* szName)
    {
        static OMX_CALLBACKTYPE s_oCallbacks = {
            [](OMX_HANDLETYPE, OMX_PTR pv, OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, OMX_PTR) {
                return static_cast<COmxTestClient*>(pv)->Note(nullptr, false, {eEvent, nData1, nData2});
            },
            [](OMX_HANDLETYPE, OMX_PTR pv, OMX_BUFFERHEADERTYPE* po)
            { return static_cast<COmxTestClient*>(pv)->Note(po, false); },
            [](OMX_HANDLETYPE, OMX_PTR pv, OMX_BUFFERHEADERTYPE* po)
            { return static_cast<COmxTestClient*>(pv)->Note(po, true); }};
        m_eGetHandle = OMX_GetHandle(&m_hComponent, const_cast<OMX_STRING>(szName), this, &s_oCallbacks);
    }
    ~COmxTestClient() { FreeHandle(); }  // when the test has not
    COmxTestClient(const COmxTestClient&) = delete;
    COmxTestClient& operator=(const COmxTestClient&) = delete;

    OMX_ERRORTYPE GetHandleResult() const { return m_eGetHandle; }
    OMX_HANDLETYPE Handle() const { return m_hComponent; }
    OMX_ERRORTYPE FreeHandle()
    {
        const OMX_ERRORTYPE eError = m_hComponent == nullptr ? OMX_ErrorNone : OMX_FreeHandle(m_hComponent);
        m_hComponent = eError == OMX_ErrorNone ? nullptr : m_hComponent;
        return eError;
    }

    // ---- Commands, settings and events ------------------------------------------------------
    OMX_ERRORTYPE Command(OMX_COMMANDTYPE eCommand, OMX_U32 nParam)
    {
        return OMX_SendCommand(m_hComponent, eCommand, nParam, nullptr);
    }
    OMX_ERRORTYPE SendState(OMX_STATETYPE eState) { return Command(OMX_CommandStateSet, eState); }
    OMX_STATETYPE State() const { return PlatformState(m_hComponent); }
    // A parameter (bConfig: a configuration) read into or written from roStruct.
    template <typename TStruct>
    OMX_ERRORTYPE Param(OMX_U32 uiIndex, TStruct& roStruct, bool bSet, bool bConfig = false) const
    {
        const auto e = static_cast<OMX_INDEXTYPE>(uiIndex);
        void* const pv = const_cast<void*>(static_cast<const void*>(&roStruct));  // a const one only to set
        return bConfig ? (bSet ? OMX_SetConfig(m_hComponent, e, pv) : OMX_GetConfig(m_hComponent, e, pv))
                       : (bSet ? OMX_SetParameter(m_hComponent, e, pv) : OMX_GetParameter(m_hComponent, e, pv));
    }
    // Waits for the first unconsumed event that matches, and consumes it.
    bool WaitEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2)
    {
        return Wait([&] {
            for (auto it = m_aoEvents.begin(); it != m_aoEvents.end(); ++it)
                if (it->eEvent == eEvent && it->nData1 == nData1 && it->nData2 == nData2)
                    return m_aoEvents.erase(it), true;
            return false;
        });
    }
    bool WaitState(OMX_STATETYPE eState) { return WaitEvent(OMX_EventCmdComplete, OMX_CommandStateSet, eState); }
    // Unconsumed events that match, or (eEvent OMX_EventMax) all unconsumed events.
    unsigned CountEvents(OMX_EVENTTYPE eEvent = OMX_EventMax, OMX_U32 nData1 = 0, OMX_U32 nData2 = 0) const
    {
        return Locked([&] {
            return unsigned(std::count_if(m_aoEvents.begin(), m_aoEvents.end(), [&](const SEvent& ro) {
                return eEvent == OMX_EventMax || (ro.eEvent == eEvent && ro.nData1 == nData1 && ro.nData2 == nData2);
            }));
        });
    }
    // Sends the command and waits for its completion.
    bool GoTo(OMX_STATETYPE eState) { return SendState(eState) == OMX_ErrorNone && WaitState(eState); }
    // Loaded -> Idle -> Executing with nBufferCountActual buffers allocated on every enabled port.
    bool GoToExecuting()
    {
        bool bOk = SendState(OMX_StateIdle) == OMX_ErrorNone;
        for (OMX_U32 nPort = 0; nPort < 64 && bOk; ++nPort)
        {
            OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
            InitStruct(oDefinition, nPort);
            bOk = Param(OMX_IndexParamPortDefinition, oDefinition, false) != OMX_ErrorNone || !oDefinition.bEnabled ||
                  AllocateBuffers(nPort, oDefinition.nBufferCountActual) == OMX_ErrorNone;
        }
        return bOk && WaitState(OMX_StateIdle) && GoTo(OMX_StateExecuting);
    }
    // Back to Loaded from Executing, Pause or Idle, freeing every buffer; recycling ends first.
    bool GoToLoaded()
    {
        Locked([this] { m_oRecycled.clear(); });
        bool bOk = (State() == OMX_StateIdle || GoTo(OMX_StateIdle)) && SendState(OMX_StateLoaded) == OMX_ErrorNone;
        for (auto& roPort : m_oBuffers)
            bOk = bOk && FreeBuffers(roPort.first) == OMX_ErrorNone;
        return bOk && WaitState(OMX_StateLoaded);
    }

    // ---- Buffers ----------------------------------------------------------------------------
    OMX_PARAM_PORTDEFINITIONTYPE PortDefinition(OMX_U32 nPort) const
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition, nPort);
        Param(OMX_IndexParamPortDefinition, oDefinition, false);
        return oDefinition;
    }
    // The port's definition changed by fnChange and set.
    OMX_ERRORTYPE SetPort(OMX_U32 nPort, const std::function<void(OMX_PARAM_PORTDEFINITIONTYPE&)>& fnChange)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(nPort);
        fnChange(oDefinition);
        return Param(OMX_IndexParamPortDefinition, oDefinition, true);
    }
    // OMX_AllocateBuffer uiCount times (nSize 0: the port's nBufferSize), or OMX_UseBuffer with each
    // memory block given; stops at a failure.
    OMX_ERRORTYPE AllocateBuffers(OMX_U32 nPort, unsigned uiCount, OMX_U32 nSize = 0,
                                  const std::vector<OMX_U8*>& apvMemory = {})
    {
        nSize = nSize != 0 ? nSize : PortDefinition(nPort).nBufferSize;
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        for (unsigned ui = 0; ui < uiCount + apvMemory.size() && eError == OMX_ErrorNone; ++ui)
        {
            OMX_BUFFERHEADERTYPE* po = nullptr;
            eError = ui < uiCount ? OMX_AllocateBuffer(m_hComponent, &po, nPort, this, nSize)
                                  : OMX_UseBuffer(m_hComponent, &po, nPort, this, nSize, apvMemory[ui - uiCount]);
            if (eError == OMX_ErrorNone)
                m_oBuffers[nPort].push_back(po);
        }
        return eError;
    }
    OMX_ERRORTYPE FreeBuffers(OMX_U32 nPort)
    {
        std::vector<OMX_BUFFERHEADERTYPE*>& rapo = m_oBuffers[nPort];
        for (; !rapo.empty(); rapo.pop_back())
            if (const OMX_ERRORTYPE eError = OMX_FreeBuffer(m_hComponent, nPort, rapo.back()))
                return eError;
        return OMX_ErrorNone;
    }
    std::vector<OMX_BUFFERHEADERTYPE*> Buffers(OMX_U32 nPort) const
    {
        const auto it = m_oBuffers.find(nPort);
        return it != m_oBuffers.end() ? it->second : std::vector<OMX_BUFFERHEADERTYPE*>();
    }
    // Hands one buffer, or every buffer of the port, to the component (EmptyThisBuffer on an
    // input, else FillThisBuffer).
    OMX_ERRORTYPE Submit(OMX_BUFFERHEADERTYPE* po) const
    {
        return PortDefinition(po->nInputPortIndex).eDir == OMX_DirInput ? OMX_EmptyThisBuffer(m_hComponent, po)
                                                                        : OMX_FillThisBuffer(m_hComponent, po);
    }
    OMX_ERRORTYPE SubmitAll(OMX_U32 nPort) const
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        for (OMX_BUFFERHEADERTYPE* po : Buffers(nPort))
            eError = eError == OMX_ErrorNone ? Submit(po) : eError;
        return eError;
    }
    // Buffers given back so far on a port (EmptyBufferDone and FillBufferDone).
    unsigned ReturnedCount(OMX_U32 nPort) const
    {
        return Locked([&] { return m_oReturned.count(nPort) != 0 ? m_oReturned.at(nPort) : 0u; });
    }
    bool WaitReturned(OMX_U32 nPort, unsigned uiCount) { return Wait([&] { return m_oReturned[nPort] >= uiCount; }); }
    // Runs on the component's thread for every input it gives back, after the client noted it.
    void OnEmptyDone(std::function<void(OMX_BUFFERHEADERTYPE*)> fnDone) { m_fnEmptyDone = std::move(fnDone); }
    // From now on every output coming back produced is kept (bKeep); the buffers coming back on the
    // port go straight back to the component (until GoToLoaded).
    void Keep(bool bKeep) { Locked([&] { m_bKeep = bKeep; }); }
    void Recycle(OMX_U32 nPort) { Locked([&] { m_oRecycled.insert(nPort); }); }
    std::vector<SBuffer> Kept(OMX_U32 nPort) const
    {
        return Locked([&] { return m_oKept.count(nPort) != 0 ? m_oKept.at(nPort) : std::vector<SBuffer>(); });
    }
    // Forgets what came back so far: the kept buffers and the counts.
    void Forget() { Locked([this] { m_oKept.clear(); m_oReturned.clear(); }); }
    // The threads the callbacks came on.
    std::set<std::thread::id> CallbackThreads() const { return Locked([this] { return m_oCallbackThreads; }); }

private:
    OMX_ERRORTYPE Note(OMX_BUFFERHEADERTYPE* po, bool bFilled, const SEvent& roEvent = SEvent())
    {
        const OMX_U32 nPort = po == nullptr ? 0 : bFilled ? po->nOutputPortIndex : po->nInputPortIndex;
        const bool bRecycle = Locked([&] {
            m_oCallbackThreads.insert(std::this_thread::get_id());
            if (po == nullptr)
                return m_aoEvents.push_back(roEvent), false;
            ++m_oReturned[nPort];
            // An output handed back unproduced (on the way to Idle) carries neither data nor flags.
            if (m_bKeep && bFilled && (po->nFilledLen > 0 || po->nFlags != 0))
                m_oKept[nPort].push_back(
                    SBuffer{po->nFlags, po->nTimeStamp,
                            std::string(reinterpret_cast<const char*>(po->pBuffer) + po->nOffset, po->nFilledLen)});
            return m_oRecycled.count(nPort) != 0;
        });
        m_oChanged.notify_all();
        if (po != nullptr && !bFilled && m_fnEmptyDone)
            m_fnEmptyDone(po);
        if (bRecycle)
            bFilled ? OMX_FillThisBuffer(m_hComponent, po) : OMX_EmptyThisBuffer(m_hComponent, po);
        return OMX_ErrorNone;
    }

    OMX_HANDLETYPE m_hComponent = nullptr;
    OMX_ERRORTYPE m_eGetHandle = OMX_ErrorUndefined;
    std::function<void(OMX_BUFFERHEADERTYPE*)> m_fnEmptyDone;
    mutable std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    bool m_bKeep = false;
    std::vector<SEvent> m_aoEvents;
    std::map<OMX_U32, unsigned> m_oReturned;
    std::map<OMX_U32, std::vector<SBuffer>> m_oKept;
    std::set<OMX_U32> m_oRecycled;
    std::set<std::thread::id> m_oCallbackThreads;
    std::map<OMX_U32, std::vector<OMX_BUFFERHEADERTYPE*>> m_oBuffers;  // the test thread's only
};

#endif // COMX_TEST_CLIENT_H
