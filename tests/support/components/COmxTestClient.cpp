#include "COmxTestClient.h"

#include "EngineTestSupport.h"

namespace
{
COmxTestClient* local_Client(OMX_PTR pAppData)
{
    return static_cast<COmxTestClient*>(pAppData);
}
} // namespace

COmxTestClient::COmxTestClient(const char* szName)
{
    static OMX_CALLBACKTYPE s_oCallbacks = {
        [](OMX_HANDLETYPE, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, OMX_PTR) {
            const SEvent oEvent{eEvent, nData1, nData2};
            local_Client(pAppData)->Note(&oEvent, nullptr, nullptr, nullptr);
            return OMX_ErrorNone;
        },
        [](OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader) {
            local_Client(pAppData)->Note(nullptr, &poHeader->nInputPortIndex, local_Client(pAppData)->m_fnEmptyDone,
                                         poHeader);
            return OMX_ErrorNone;
        },
        [](OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader) {
            local_Client(pAppData)->Note(nullptr, &poHeader->nOutputPortIndex, local_Client(pAppData)->m_fnFillDone,
                                         poHeader);
            return OMX_ErrorNone;
        }};
    m_eGetHandle = OMX_GetHandle(&m_hComponent, const_cast<OMX_STRING>(szName), this, &s_oCallbacks);
}

void COmxTestClient::Note(const SEvent* poEvent, const OMX_U32* pnReturnedPort, const FnBufferDone& rfnDone,
                          OMX_BUFFERHEADERTYPE* poHeader)
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_oCallbackThreads.insert(std::this_thread::get_id());
        ++m_uiCallbacks;
        if (poEvent != nullptr)
            m_aoEvents.push_back(*poEvent);
        if (pnReturnedPort != nullptr)
            ++m_oReturned[*pnReturnedPort];
    }
    m_oChanged.notify_all();
    if (rfnDone)
        rfnDone(poHeader);
}

OMX_ERRORTYPE COmxTestClient::FreeHandle()
{
    const OMX_ERRORTYPE eError = m_hComponent == nullptr ? OMX_ErrorNone : OMX_FreeHandle(m_hComponent);
    if (eError == OMX_ErrorNone)
        m_hComponent = nullptr;
    return eError;
}

OMX_STATETYPE COmxTestClient::State() const
{
    OMX_STATETYPE eState = OMX_StateInvalid;
    OMX_GetState(m_hComponent, &eState);
    return eState;
}

bool COmxTestClient::WaitEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2, Bound oBound)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, oBound, [&] {
        for (auto it = m_aoEvents.begin(); it != m_aoEvents.end(); ++it)
        {
            if (it->eEvent == eEvent && it->nData1 == nData1 && it->nData2 == nData2)
            {
                m_aoEvents.erase(it);
                return true;
            }
        }
        return false;
    });
}

unsigned COmxTestClient::CountEvents(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    unsigned uiCount = 0;
    for (const SEvent& roEvent : m_aoEvents)
        uiCount += roEvent.eEvent == eEvent && roEvent.nData1 == nData1 && roEvent.nData2 == nData2 ? 1 : 0;
    return uiCount;
}

unsigned COmxTestClient::PendingEvents() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return static_cast<unsigned>(m_aoEvents.size());
}

bool COmxTestClient::GoToExecuting()
{
    if (SendState(OMX_StateIdle) != OMX_ErrorNone)
        return false;
    // Every enabled port, whatever its number, gets its buffers.
    for (OMX_U32 nPort = 0; nPort < 64; ++nPort)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition, nPort);
        if (OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition) == OMX_ErrorNone &&
            oDefinition.bEnabled && AllocateBuffers(nPort, oDefinition.nBufferCountActual) != OMX_ErrorNone)
            return false;
    }
    return WaitState(OMX_StateIdle) && GoTo(OMX_StateExecuting);
}

bool COmxTestClient::GoToLoaded()
{
    if ((State() != OMX_StateIdle && !GoTo(OMX_StateIdle)) || SendState(OMX_StateLoaded) != OMX_ErrorNone)
        return false;
    for (auto& roPort : m_oBuffers)
        if (FreeBuffers(roPort.first) != OMX_ErrorNone)
            return false;
    return WaitState(OMX_StateLoaded);
}

OMX_PARAM_PORTDEFINITIONTYPE COmxTestClient::PortDefinition(OMX_U32 nPort) const
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition, nPort);
    OMX_GetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition);
    return oDefinition;
}

OMX_ERRORTYPE COmxTestClient::SetBufferCount(OMX_U32 nPort, OMX_U32 nCount)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(nPort);
    oDefinition.nBufferCountActual = nCount;
    return OMX_SetParameter(m_hComponent, OMX_IndexParamPortDefinition, &oDefinition);
}

OMX_ERRORTYPE COmxTestClient::AllocateBuffers(OMX_U32 nPort, unsigned uiCount, OMX_U32 nSize)
{
    const OMX_U32 nBytes = nSize != 0 ? nSize : PortDefinition(nPort).nBufferSize;
    for (unsigned ui = 0; ui < uiCount; ++ui)
    {
        OMX_BUFFERHEADERTYPE* poHeader = nullptr;
        const OMX_ERRORTYPE eError = OMX_AllocateBuffer(m_hComponent, &poHeader, nPort, this, nBytes);
        if (eError != OMX_ErrorNone)
            return eError;
        m_oBuffers[nPort].push_back(poHeader);
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COmxTestClient::UseBuffers(OMX_U32 nPort, const std::vector<OMX_U8*>& apvMemory, OMX_U32 nSize)
{
    for (OMX_U8* pvMemory : apvMemory)
    {
        OMX_BUFFERHEADERTYPE* poHeader = nullptr;
        const OMX_ERRORTYPE eError = OMX_UseBuffer(m_hComponent, &poHeader, nPort, this, nSize, pvMemory);
        if (eError != OMX_ErrorNone)
            return eError;
        m_oBuffers[nPort].push_back(poHeader);
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COmxTestClient::FreeBuffers(OMX_U32 nPort)
{
    for (std::vector<OMX_BUFFERHEADERTYPE*>& rapoBuffers = m_oBuffers[nPort]; !rapoBuffers.empty(); rapoBuffers.pop_back())
        if (const OMX_ERRORTYPE eError = OMX_FreeBuffer(m_hComponent, nPort, rapoBuffers.back()))
            return eError;
    return OMX_ErrorNone;
}

std::vector<OMX_BUFFERHEADERTYPE*> COmxTestClient::Buffers(OMX_U32 nPort) const
{
    const auto it = m_oBuffers.find(nPort);
    return it != m_oBuffers.end() ? it->second : std::vector<OMX_BUFFERHEADERTYPE*>();
}

OMX_ERRORTYPE COmxTestClient::SubmitAll(OMX_U32 nPort, bool bInput)
{
    for (OMX_BUFFERHEADERTYPE* poHeader : Buffers(nPort))
        if (const OMX_ERRORTYPE eError =
                bInput ? OMX_EmptyThisBuffer(m_hComponent, poHeader) : OMX_FillThisBuffer(m_hComponent, poHeader))
            return eError;
    return OMX_ErrorNone;
}

unsigned COmxTestClient::ReturnedCount(OMX_U32 nPort) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const auto it = m_oReturned.find(nPort);
    return it != m_oReturned.end() ? it->second : 0;
}

bool COmxTestClient::WaitReturned(OMX_U32 nPort, unsigned uiCount, Bound oBound)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, oBound, [&] { return m_oReturned[nPort] >= uiCount; });
}

std::set<std::thread::id> COmxTestClient::CallbackThreads() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oCallbackThreads;
}
