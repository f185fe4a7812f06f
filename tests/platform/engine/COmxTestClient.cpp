#include "COmxTestClient.h"

#include <cstring>

namespace
{
OMX_CALLBACKTYPE local_oCallbacks;

template <typename TStruct>
void InitStruct(TStruct& roStruct)
{
    memset(&roStruct, 0, sizeof(roStruct));
    roStruct.nSize = sizeof(roStruct);
    roStruct.nVersion.s.nVersionMajor = 1;
    roStruct.nVersion.s.nVersionMinor = 1;
}
} // namespace

COmxTestClient::COmxTestClient(const char* szName)
{
    local_oCallbacks.EventHandler = &CallbackEvent;
    local_oCallbacks.EmptyBufferDone = &CallbackEmptyBufferDone;
    local_oCallbacks.FillBufferDone = &CallbackFillBufferDone;
    m_eGetHandle = OMX_GetHandle(&m_hComponent, const_cast<OMX_STRING>(szName), this, &local_oCallbacks);
}

COmxTestClient::~COmxTestClient()
{
    FreeHandle();
}

OMX_ERRORTYPE COmxTestClient::FreeHandle()
{
    if (m_hComponent == nullptr)
        return OMX_ErrorNone;
    const OMX_ERRORTYPE eError = OMX_FreeHandle(m_hComponent);
    if (eError == OMX_ErrorNone)
        m_hComponent = nullptr;
    return eError;
}

OMX_ERRORTYPE COmxTestClient::SendState(OMX_STATETYPE eState)
{
    return OMX_SendCommand(m_hComponent, OMX_CommandStateSet, eState, nullptr);
}

OMX_STATETYPE COmxTestClient::State() const
{
    OMX_STATETYPE eState = OMX_StateInvalid;
    OMX_GetState(m_hComponent, &eState);
    return eState;
}

bool COmxTestClient::Matches(const SEvent& roEvent, OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2) const
{
    return roEvent.eEvent == eEvent && roEvent.nData1 == nData1 && roEvent.nData2 == nData2;
}

bool COmxTestClient::WaitEvent(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2,
                               std::chrono::milliseconds oBound)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    const auto oDeadline = std::chrono::steady_clock::now() + oBound;
    while (true)
    {
        for (auto it = m_aoEvents.begin(); it != m_aoEvents.end(); ++it)
        {
            if (Matches(*it, eEvent, nData1, nData2))
            {
                m_aoEvents.erase(it);
                return true;
            }
        }
        if (m_oChanged.wait_until(oLock, oDeadline) == std::cv_status::timeout)
            return false;
    }
}

unsigned COmxTestClient::CountEvents(OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    unsigned uiCount = 0;
    for (const SEvent& roEvent : m_aoEvents)
        uiCount += Matches(roEvent, eEvent, nData1, nData2) ? 1 : 0;
    return uiCount;
}

unsigned COmxTestClient::PendingEvents() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return static_cast<unsigned>(m_aoEvents.size());
}

bool COmxTestClient::GoTo(OMX_STATETYPE eState)
{
    return SendState(eState) == OMX_ErrorNone && WaitState(eState);
}

bool COmxTestClient::GoToExecuting()
{
    if (SendState(OMX_StateIdle) != OMX_ErrorNone)
        return false;
    OMX_PORT_PARAM_TYPE oPorts;
    InitStruct(oPorts);
    if (OMX_GetParameter(m_hComponent, OMX_IndexParamVideoInit, &oPorts) != OMX_ErrorNone)
        return false;
    for (OMX_U32 nPort = oPorts.nStartPortNumber; nPort < oPorts.nStartPortNumber + oPorts.nPorts; ++nPort)
    {
        if (AllocateBuffers(nPort, static_cast<unsigned>(PortDefinition(nPort).nBufferCountActual)) != OMX_ErrorNone)
            return false;
    }
    return WaitState(OMX_StateIdle) && GoTo(OMX_StateExecuting);
}

bool COmxTestClient::GoToLoaded()
{
    if ((State() != OMX_StateIdle && !GoTo(OMX_StateIdle)) || SendState(OMX_StateLoaded) != OMX_ErrorNone)
        return false;
    std::vector<OMX_U32> anPorts;
    for (const auto& roEntry : m_oBuffers)
        anPorts.push_back(roEntry.first);
    for (OMX_U32 nPort : anPorts)
    {
        if (FreeBuffers(nPort) != OMX_ErrorNone)
            return false;
    }
    return WaitState(OMX_StateLoaded);
}

OMX_PARAM_PORTDEFINITIONTYPE COmxTestClient::PortDefinition(OMX_U32 nPort) const
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition);
    oDefinition.nPortIndex = nPort;
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
    if (nSize == 0)
        nSize = PortDefinition(nPort).nBufferSize;
    for (unsigned ui = 0; ui < uiCount; ++ui)
    {
        OMX_BUFFERHEADERTYPE* poHeader = nullptr;
        const OMX_ERRORTYPE eError = OMX_AllocateBuffer(m_hComponent, &poHeader, nPort, this, nSize);
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
    std::vector<OMX_BUFFERHEADERTYPE*>& rapoBuffers = m_oBuffers[nPort];
    while (!rapoBuffers.empty())
    {
        const OMX_ERRORTYPE eError = OMX_FreeBuffer(m_hComponent, nPort, rapoBuffers.back());
        if (eError != OMX_ErrorNone)
            return eError;
        rapoBuffers.pop_back();
    }
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
    {
        const OMX_ERRORTYPE eError =
            bInput ? OMX_EmptyThisBuffer(m_hComponent, poHeader) : OMX_FillThisBuffer(m_hComponent, poHeader);
        if (eError != OMX_ErrorNone)
            return eError;
    }
    return OMX_ErrorNone;
}

unsigned COmxTestClient::ReturnedCount(OMX_U32 nPort) const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    const auto it = m_oReturned.find(nPort);
    return it != m_oReturned.end() ? it->second : 0;
}

bool COmxTestClient::WaitReturned(OMX_U32 nPort, unsigned uiCount, std::chrono::milliseconds oBound)
{
    std::unique_lock<std::mutex> oLock(m_oMutex);
    return m_oChanged.wait_for(oLock, oBound, [&] { return m_oReturned[nPort] >= uiCount; });
}

std::set<std::thread::id> COmxTestClient::CallbackThreads() const
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oCallbackThreads;
}

void COmxTestClient::NoteCallback()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    m_oCallbackThreads.insert(std::this_thread::get_id());
    ++m_uiCallbacks;
}

void COmxTestClient::NoteReturned(OMX_U32 nPort)
{
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        ++m_oReturned[nPort];
    }
    m_oChanged.notify_all();
}

OMX_ERRORTYPE COmxTestClient::CallbackEvent(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32 nData1,
                                            OMX_U32 nData2, OMX_PTR)
{
    auto* poClient = static_cast<COmxTestClient*>(pAppData);
    poClient->NoteCallback();
    {
        std::lock_guard<std::mutex> oLock(poClient->m_oMutex);
        poClient->m_aoEvents.push_back(SEvent{eEvent, nData1, nData2});
    }
    poClient->m_oChanged.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COmxTestClient::CallbackEmptyBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader)
{
    auto* poClient = static_cast<COmxTestClient*>(pAppData);
    poClient->NoteCallback();
    poClient->NoteReturned(poHeader->nInputPortIndex);
    if (poClient->m_fnEmptyDone)
        poClient->m_fnEmptyDone(poHeader);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COmxTestClient::CallbackFillBufferDone(OMX_HANDLETYPE, OMX_PTR pAppData, OMX_BUFFERHEADERTYPE* poHeader)
{
    auto* poClient = static_cast<COmxTestClient*>(pAppData);
    poClient->NoteCallback();
    poClient->NoteReturned(poHeader->nOutputPortIndex);
    if (poClient->m_fnFillDone)
        poClient->m_fnFillDone(poHeader);
    return OMX_ErrorNone;
}
