#include "base-components/OMXClassComponent.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base-components/OMXClassPort.h"
#include "ti814x-framework.h"

// ---- CComponent ---------------------------------------------------------------------------

CComponent::CComponent()
    : m_uiInputPortCount(0),
      m_uiOutputPortCount(0),
      m_poInputPort(nullptr),
      m_poOutputPort(nullptr),
      m_bBufferProcessing(0)
{
    memset(m_szComponentName, 0, sizeof(m_szComponentName));
    ZEM_INFO(3, "");
}

CComponent::~CComponent()
{
    ZEM_INFO(3, "");
}

OMX_HANDLETYPE CComponent::GetOMXHandle()
{
    return nullptr;
}

OMX_ERRORTYPE CComponent::Start()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::Stop()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::Execute(MBOOL32 /*bTestMode*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::Pause()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::Loaded(MUINT /*uiInputPortId*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::StartBufferProcessing()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::StopBufferProcessing()
{
    return OMX_ErrorNotImplemented;
}

MBOOL32 CComponent::IsBufferProcessing()
{
    return m_bBufferProcessing;
}

OMX_ERRORTYPE CComponent::FillThisBuffer(OMX_BUFFERHEADERTYPE* /*poBufferHeader*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::FillBufferDone(OMX_BUFFERHEADERTYPE* /*poBufferHeader*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* /*poBufferHeader*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::EmptyBufferDone(OMX_BUFFERHEADERTYPE* /*poBufferHeader*/)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::RequestKeyFrame()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::SetParameters()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE CComponent::SetParametersIdle()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CComponent::InitPorts()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "OMXHandle(%p)", GetOMXHandle());
    ZEM_CHECK(CreatePorts());
    for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
        m_poInputPort[i].SetParent(this);
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        m_poOutputPort[i].SetParent(this);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CComponent::ConnectTo(MUINT32 uiOutputIndex, CComponent* poSink, MUINT32 uiInputIndex)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "%p[%d] to %p[%d]", GetOMXHandle(), uiOutputIndex, poSink ? poSink->GetOMXHandle() : nullptr,
             uiInputIndex);
    if (poSink == nullptr || uiOutputIndex >= m_uiOutputPortCount || uiInputIndex >= poSink->m_uiInputPortCount)
        ZEM_FAIL(OMX_ErrorBadParameter);
    ZEM_CHECK(m_poOutputPort[uiOutputIndex].ConnectTo(&poSink->m_poInputPort[uiInputIndex]));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

const char* CComponent::ErrorToStr(OMX_ERRORTYPE eError)
{
    static const char* const s_aszErrors[] = {
        "OMX_ErrorInsufficientResources", "OMX_ErrorUndefined",       "OMX_ErrorInvalidComponentName",
        "OMX_ErrorComponentNotFound",     "OMX_ErrorInvalidComponent", "OMX_ErrorBadParameter",
        "OMX_ErrorNotImplemented",        "OMX_ErrorUnderflow",        "OMX_ErrorOverflow",
        "OMX_ErrorHardware",              "OMX_ErrorInvalidState",     "OMX_ErrorStreamCorrupt",
        "OMX_ErrorPortsNotCompatible",    "OMX_ErrorResourcesLost",    "OMX_ErrorNoMore",
        "OMX_ErrorVersionMismatch",       "OMX_ErrorNotReady",         "OMX_ErrorTimeout",
    };
    if (eError == OMX_ErrorNone)
        return "OMX_ErrorNone";
    const MUINT32 uiCode = static_cast<MUINT32>(eError);
    const MUINT32 uiFirst = static_cast<MUINT32>(OMX_ErrorInsufficientResources);
    if (uiCode >= uiFirst && uiCode - uiFirst < sizeof(s_aszErrors) / sizeof(s_aszErrors[0]))
        return s_aszErrors[uiCode - uiFirst];
    return "Unknown error";
}

const char* CComponent::EventToStr(OMX_EVENTTYPE eEvent)
{
    static const char* const s_aszEvents[] = {
        "OMX_EventCmdComplete", "OMX_EventError",      "OMX_EventMark",
        "OMX_EventPortSettingsChanged", "OMX_EventBufferFlag", "OMX_EventResourcesAcquired",
    };
    const MUINT32 uiEvent = static_cast<MUINT32>(eEvent);
    return uiEvent < sizeof(s_aszEvents) / sizeof(s_aszEvents[0]) ? s_aszEvents[uiEvent] : "OMX_EventUnknow";
}

const char* CComponent::StateToStr(OMX_STATETYPE eState)
{
    static const char* const s_aszStates[] = {
        "OMX_StateInvalid", "OMX_StateLoaded", "OMX_StateIdle",
        "OMX_StateExecuting", "OMX_StatePause", "OMX_StateWaitForResources",
    };
    const MUINT32 uiState = static_cast<MUINT32>(eState);
    return uiState < sizeof(s_aszStates) / sizeof(s_aszStates[0]) ? s_aszStates[uiState] : "OMX_StateUnknow";
}

const char* CComponent::CommandToStr(OMX_COMMANDTYPE eCommand)
{
    static const char* const s_aszCommands[] = {
        "OMX_CommandStateSet", "OMX_CommandFlush", "OMX_CommandPortDisable",
        "OMX_CommandPortEnable", "OMX_CommandMarkBuffer",
    };
    const MUINT32 uiCommand = static_cast<MUINT32>(eCommand);
    return uiCommand < sizeof(s_aszCommands) / sizeof(s_aszCommands[0]) ? s_aszCommands[uiCommand]
                                                                        : "OMX_CommandUnknow";
}

// ---- COMXComponent ------------------------------------------------------------------------

OMX_CALLBACKTYPE COMXComponent::oOmxCallback = {
    COMXComponent::CallbackOMXEvent,
    COMXComponent::CallbackEmptyBufferDone,
    COMXComponent::CallbackFillBufferDone,
};

COMXComponent::COMXComponent(char* strName)
    : m_hOMXComponent(nullptr),
      m_hOMXCtrl(nullptr),
      m_eComponentState(OMX_StateInvalid),
      m_eCtrlState(OMX_StateInvalid),
      m_pszName(nullptr),
      m_aoEventCondition(),
      m_aoEventMutex(),
      m_auiEventCount(),
      m_uiEventObjectCount(0),
      m_uiBufferCalls(0),
      m_bBufferTrafficClosed(false)
{
    ZEM_INFO(3, "");
    strncpy(m_szComponentName, strName ? strName : "", sizeof(m_szComponentName));
    m_szComponentName[sizeof(m_szComponentName) - 1] = 0;
}

COMXComponent::~COMXComponent()
{
    ZEM_INFO(3, "");
    // Deinit releases the handles and the events; only a name copy left by an Init without
    // Deinit goes here.
    free(m_pszName);
}

OMX_ERRORTYPE COMXComponent::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const size_t uiNameLength = strlen(m_szComponentName);

    ZEM_INFO(1, "COMXComponent(%s)", m_szComponentName);
    free(m_pszName);
    m_pszName = static_cast<char*>(malloc(uiNameLength + 1));
    if (m_pszName == nullptr)
    {
        LErrorMessage("Allocate string buffer fails for component %s!", m_szComponentName);
        ZEM_FAIL(OMX_ErrorInsufficientResources);
    }
    memcpy(m_pszName, m_szComponentName, uiNameLength + 1);
    m_bBufferTrafficClosed = false;

    eError = OMX_GetHandle(&m_hOMXComponent, m_szComponentName, this, &oOmxCallback);
    if (eError != OMX_ErrorNone)
    {
        m_hOMXComponent = nullptr;
        LErrorMessage("OMX_GetHandle(%s) fails", m_szComponentName);
        ZEM_FAIL(eError);
    }

    for (MUINT32 i = m_uiEventObjectCount; i < OMXEvent_LastEvent; ++i)
    {
        // The pthread functions return the error number instead of setting errno.
        int iResult = pthread_cond_init(&m_aoEventCondition[i], nullptr);
        if (iResult != 0)
        {
            LErrorMessage("ERROR: pthread_cond_init fails: %s", strerror(iResult));
            ZEM_FAIL(OMX_ErrorUndefined);
        }
        iResult = pthread_mutex_init(&m_aoEventMutex[i], nullptr);
        if (iResult != 0)
        {
            pthread_cond_destroy(&m_aoEventCondition[i]);
            LErrorMessage("ERROR: pthread_mutex_init fails: %s", strerror(iResult));
            ZEM_FAIL(OMX_ErrorUndefined);
        }
        m_auiEventCount[i] = 0;
        m_uiEventObjectCount = i + 1;
    }
    m_eComponentState = OMX_StateLoaded;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "COMXComponent::%s", m_szComponentName);
    CloseBufferTraffic();
    if (m_hOMXComponent != nullptr)
    {
        ZEM_INFO(1, "OMX_FreeHandle(m_hOMXComponent:%p)", m_hOMXComponent);
        ZEM_CHECK(OMX_FreeHandle(m_hOMXComponent));
        m_hOMXComponent = nullptr;
    }
    if (m_hOMXCtrl != nullptr)
    {
        ZEM_INFO(1, "OMX_FreeHandle(m_hOMXCtrl:%p)", m_hOMXCtrl);
        ZEM_CHECK(OMX_FreeHandle(m_hOMXCtrl));
        m_hOMXCtrl = nullptr;
    }
    for (MUINT32 i = 0; i < m_uiEventObjectCount; ++i)
    {
        int iResult = pthread_cond_destroy(&m_aoEventCondition[i]);
        if (iResult != 0)
            LErrorMessage("ERROR: pthread_cond_destroy fails: %s", strerror(iResult));
        iResult = pthread_mutex_destroy(&m_aoEventMutex[i]);
        if (iResult != 0)
            LErrorMessage("ERROR: pthread_mutex_destroy fails: %s", strerror(iResult));
        m_auiEventCount[i] = 0;
    }
    m_uiEventObjectCount = 0;
    free(m_pszName);
    m_pszName = nullptr;
    m_eComponentState = OMX_StateInvalid;
    m_eCtrlState = OMX_StateInvalid;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::DeinitPortsAndHandles()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_ERRORTYPE eStep = OMX_ErrorNone;

    CloseBufferTraffic();
    for (MUINT32 i = m_uiOutputPortCount; i > 0; --i)
    {
        eStep = m_poOutputPort[i - 1].Deinit();
        if (eStep != OMX_ErrorNone && eError == OMX_ErrorNone)
        {
            eError = eStep;
            uiAbortLine = __LINE__;
        }
    }
    for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
    {
        eStep = m_poInputPort[i].Deinit();
        if (eStep != OMX_ErrorNone && eError == OMX_ErrorNone)
        {
            eError = eStep;
            uiAbortLine = __LINE__;
        }
    }
    eStep = COMXComponent::Deinit();
    if (eStep != OMX_ErrorNone && eError == OMX_ErrorNone)
    {
        eError = eStep;
        uiAbortLine = __LINE__;
    }
    if (eError != OMX_ErrorNone)
        goto Zem_Abort;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

// ---- Buffer traffic -----------------------------------------------------------------------------

class COMXComponent::CBufferCall
{
public:
    explicit CBufferCall(COMXComponent& roComponent) : m_roComponent(roComponent)
    {
        // Counted in before the closed flag is read, and the closer sets the flag before it reads
        // the count: one of the two sees the other.
        m_roComponent.m_uiBufferCalls.fetch_add(1);
        m_bOpen = !m_roComponent.m_bBufferTrafficClosed.load();
    }
    ~CBufferCall() { m_roComponent.m_uiBufferCalls.fetch_sub(1); }
    CBufferCall(const CBufferCall&) = delete;
    CBufferCall& operator=(const CBufferCall&) = delete;
    bool IsOpen() const { return m_bOpen; }

private:
    COMXComponent& m_roComponent;
    bool m_bOpen = false;
};

void COMXComponent::CloseBufferTraffic()
{
    m_bBufferTrafficClosed = true;
    // A call inside only queues on the platform or hands over to a neighbour: it leaves soon.
    while (m_uiBufferCalls.load() != 0)
        sched_yield();
}

OMX_HANDLETYPE COMXComponent::GetOMXHandle()
{
    return m_hOMXComponent;
}

// ---- Parameters and configurations ----------------------------------------------------------
// No log: the callers report what they set. A missing handle is refused rather than followed.

namespace
{
// OMX_GetParameter, OMX_SetParameter, OMX_GetConfig and OMX_SetConfig share one signature.
typedef OMX_ERRORTYPE (*local_PfnIndexCall)(OMX_HANDLETYPE, OMX_INDEXTYPE, OMX_PTR);

OMX_ERRORTYPE local_IndexCall(OMX_HANDLETYPE hHandle, local_PfnIndexCall OMX_COMPONENTTYPE::*pfnCall, MUINT32 uiIndex,
                              void* pvStruct)
{
    if (hHandle == nullptr)
        return OMX_ErrorInvalidComponent;
    return (static_cast<OMX_COMPONENTTYPE*>(hHandle)->*pfnCall)(hHandle, static_cast<OMX_INDEXTYPE>(uiIndex),
                                                                 pvStruct);
}
} // namespace

OMX_ERRORTYPE COMXComponent::SetOmxParam(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXComponent, &OMX_COMPONENTTYPE::SetParameter, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::GetOmxParam(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXComponent, &OMX_COMPONENTTYPE::GetParameter, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::SetOmxConfig(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXComponent, &OMX_COMPONENTTYPE::SetConfig, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::GetOmxConfig(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXComponent, &OMX_COMPONENTTYPE::GetConfig, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::SetOmxCtlParam(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXCtrl, &OMX_COMPONENTTYPE::SetParameter, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::GetOmxCtlParam(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXCtrl, &OMX_COMPONENTTYPE::GetParameter, uiIndex, pvStruct);
}

OMX_ERRORTYPE COMXComponent::SetOmxCtlConfig(MUINT32 uiIndex, void* pvStruct)
{
    return local_IndexCall(m_hOMXCtrl, &OMX_COMPONENTTYPE::SetConfig, uiIndex, pvStruct);
}

// ---- State commands and events ----------------------------------------------------------------

OMX_ERRORTYPE COMXComponent::SetState(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState, MBOOL32 bWait)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "COMXComponent(%p) %s %s", hOMXComponent, StateToStr(eState), bWait ? "WAIT" : "NOWAIT");
    if (hOMXComponent == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);
    ZEM_CHECK(OMX_SendCommand(hOMXComponent, OMX_CommandStateSet, eState, nullptr));
    if (bWait)
        WaitOMXEvent(OMXEvent_StateChanged);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::ScheduleStateTransition(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState)
{
    return SetState(hOMXComponent, eState, false);
}

OMX_ERRORTYPE COMXComponent::ScheduleAndWaitStateTransition(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState)
{
    return SetState(hOMXComponent, eState, true);
}

OMX_ERRORTYPE COMXComponent::WaitForStateTransition(OMX_HANDLETYPE hComponent, OMX_STATETYPE eState)
{
    OMX_ERRORTYPE eError = OMX_ErrorInvalidState;

    ZEM_INFO(2, "COMXComponent(%p) %s", m_hOMXComponent, StateToStr(eState));
    for (int iPass = 0; iPass < 2; ++iPass)
    {
        if (iPass > 0)
            ZEM_INFO(0, "Wait next OMX event...");
        WaitOMXEvent(OMXEvent_StateChanged);
        if (hComponent != nullptr && hComponent == m_hOMXComponent)
            eError = m_eComponentState == eState ? OMX_ErrorNone : OMX_ErrorInvalidState;
        else if (hComponent != nullptr && hComponent == m_hOMXCtrl)
            eError = m_eCtrlState == eState ? OMX_ErrorNone : OMX_ErrorInvalidState;
        else
            eError = OMX_ErrorInvalidState;
        if (eError == OMX_ErrorNone)
            break;
    }
    ZEM_INFO(2, "Done");
    return eError;
}

OMX_ERRORTYPE COMXComponent::EnablePort(MUINT32 uiPortID, MBOOL32 bEnable)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "COMXComponent(%p) %s  uiPortID==%d", m_hOMXComponent, bEnable ? "EnablePort" : "DisablePort",
             uiPortID);
    if (m_hOMXComponent == nullptr)
        ZEM_FAIL(OMX_ErrorInvalidComponent);
    ZEM_CHECK(OMX_SendCommand(m_hOMXComponent, bEnable ? OMX_CommandPortEnable : OMX_CommandPortDisable, uiPortID,
                              nullptr));
    WaitOMXEvent(OMXEvent_EnableDisablePort);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

void COMXComponent::PostOMXEvent(OMX_HANDLETYPE hComponent, OMXEventType eEvent, MUINT32 uiData2)
{
    if (eEvent < 0 || eEvent >= OMXEvent_LastEvent || static_cast<MUINT32>(eEvent) >= m_uiEventObjectCount)
        return;
    if (eEvent == OMXEvent_StateChanged)
    {
        if (hComponent == m_hOMXComponent)
            m_eComponentState = static_cast<OMX_STATETYPE>(uiData2);
        else if (hComponent == m_hOMXCtrl)
            m_eCtrlState = static_cast<OMX_STATETYPE>(uiData2);
    }
    pthread_mutex_lock(&m_aoEventMutex[eEvent]);
    ++m_auiEventCount[eEvent];
    pthread_cond_signal(&m_aoEventCondition[eEvent]);
    pthread_mutex_unlock(&m_aoEventMutex[eEvent]);
}

void COMXComponent::WaitOMXEvent(OMXEventType eEvent)
{
    if (eEvent < 0 || eEvent >= OMXEvent_LastEvent || static_cast<MUINT32>(eEvent) >= m_uiEventObjectCount)
        return;
    pthread_mutex_lock(&m_aoEventMutex[eEvent]);
    while (m_auiEventCount[eEvent] == 0)
        pthread_cond_wait(&m_aoEventCondition[eEvent], &m_aoEventMutex[eEvent]);
    --m_auiEventCount[eEvent];
    pthread_mutex_unlock(&m_aoEventMutex[eEvent]);
}

bool COMXComponent::IsBuffersReady()
{
    bool bReady = true;
    for (MUINT32 i = 0; i < m_uiInputPortCount && bReady; ++i)
        bReady = m_poInputPort[i].IsBufferReady();
    for (MUINT32 i = 0; i < m_uiOutputPortCount && bReady; ++i)
        bReady = m_poOutputPort[i].IsBufferReady();
    ZEM_INFO(1, "%s", bReady ? "Ready" : "Not ready");
    return bReady;
}

// ---- Platform callbacks -----------------------------------------------------------------------

OMX_ERRORTYPE COMXComponent::CallbackOMXEvent(OMX_HANDLETYPE hComponent, OMX_PTR pAppData, OMX_EVENTTYPE eEvent,
                                              OMX_U32 uiData1, OMX_U32 uiData2, OMX_PTR /*pEventData*/)
{
    auto* poThis = static_cast<COMXComponent*>(pAppData);

    ZEM_INFO(1, "<<COMXComponent(%p) Event(%s,%s,%s) [%08x(%d,%d)]>>", poThis->m_hOMXComponent, EventToStr(eEvent),
             CommandToStr(static_cast<OMX_COMMANDTYPE>(uiData1)), StateToStr(static_cast<OMX_STATETYPE>(uiData2)),
             static_cast<unsigned>(eEvent), static_cast<int>(uiData1), static_cast<int>(uiData2));
    switch (eEvent)
    {
    case OMX_EventCmdComplete:
        if (uiData1 == OMX_CommandStateSet)
            poThis->PostOMXEvent(hComponent, OMXEvent_StateChanged, static_cast<MUINT32>(uiData2));
        else if (uiData1 == OMX_CommandPortDisable || uiData1 == OMX_CommandPortEnable)
            poThis->PostOMXEvent(hComponent, OMXEvent_EnableDisablePort, static_cast<MUINT32>(uiData2));
        break;
    case OMX_EventError:
        // Only reported: a wait that expected a state change keeps waiting.
        ZEM_INFO(1, "OMX_EventError");
        if (uiData2 == 0)
            ZEM_INFO(1, "THIS COMPONENT CANNOT CHANGE TO THIS STATE!!!!!");
        break;
    case OMX_EventBufferFlag:
        if (uiData2 == OMX_BUFFERFLAG_EOS)
            poThis->PostOMXEvent(hComponent, OMXEvent_EOSBuffer, static_cast<MUINT32>(uiData2));
        break;
    default:
        ZEM_INFO(1, "Unhandled event, param1 = %i, param2 = %i.", static_cast<int>(uiData1),
                 static_cast<int>(uiData2));
        break;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COMXComponent::CallbackEmptyBufferDone(OMX_HANDLETYPE /*hComponent*/, OMX_PTR pAppData,
                                                     OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    return static_cast<COMXComponent*>(pAppData)->EmptyBufferDone(poBufferHeader);
}

OMX_ERRORTYPE COMXComponent::CallbackFillBufferDone(OMX_HANDLETYPE /*hComponent*/, OMX_PTR pAppData,
                                                    OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    return static_cast<COMXComponent*>(pAppData)->FillBufferDone(poBufferHeader);
}

// ---- Buffer exchange --------------------------------------------------------------------------

CPort* COMXComponent::FindLocalBufferHeader(OMX_BUFFERHEADERTYPE* poBufferheader,
                                            OMX_BUFFERHEADERTYPE** ppoLocalBufferheader, MUINT uiFieldOffset)
{
    // Headers are matched by the memory they describe: a neighbour's header and ours for the same
    // buffer (or field) share pBuffer. Inputs are searched first, then outputs.
    const OMX_U8* pAddress = poBufferheader != nullptr && poBufferheader->pBuffer != nullptr
                                 ? poBufferheader->pBuffer + uiFieldOffset
                                 : nullptr;
    const MUINT32 uiPortCount = m_uiInputPortCount + m_uiOutputPortCount;
    for (MUINT32 k = 0; pAddress != nullptr && k < uiPortCount; ++k)
    {
        // The arrays hold CSinkPort and CSourcePort objects: index each through its own type.
        CPort* poPort = k < m_uiInputPortCount ? static_cast<CPort*>(&m_poInputPort[k])
                                               : static_cast<CPort*>(&m_poOutputPort[k - m_uiInputPortCount]);
        const MUINT32 uiCount = poPort->GetBufferCount();
        for (MUINT32 j = 0; j < uiCount; ++j)
        {
            OMX_BUFFERHEADERTYPE* poHeader = poPort->GetBufferHeader(j);
            if (poHeader != nullptr && poHeader->pBuffer == pAddress)
            {
                *ppoLocalBufferheader = poHeader;
                ZEM_INFO(9, "%p::IN=%p OUT=%p", m_hOMXComponent, static_cast<void*>(poBufferheader),
                         static_cast<void*>(poHeader));
                return poPort;
            }
        }
    }
    *ppoLocalBufferheader = nullptr;
    ZEM_INFO(9, "CANOT FIND BUFFER...\n");
    return nullptr;
}

OMX_ERRORTYPE COMXComponent::PopulateBufferHeader(OMX_BUFFERHEADERTYPE* poDstBufferHeader,
                                                  OMX_BUFFERHEADERTYPE* poSrcBufferHeader)
{
    if (poDstBufferHeader == poSrcBufferHeader)
        return OMX_ErrorNone;
    ZEM_INFO(9, "nFilledLen=%d nOffset=%d nTimeStamp=%d nFlags=%08X %p %p",
             static_cast<int>(poSrcBufferHeader->nFilledLen), static_cast<int>(poSrcBufferHeader->nOffset),
             static_cast<int>(poSrcBufferHeader->nTimeStamp), static_cast<unsigned>(poSrcBufferHeader->nFlags),
             poSrcBufferHeader->hMarkTargetComponent, poSrcBufferHeader->pMarkData);
    poDstBufferHeader->nFilledLen = poSrcBufferHeader->nFilledLen;
    poDstBufferHeader->nOffset = poSrcBufferHeader->nOffset;
    poDstBufferHeader->nTimeStamp = poSrcBufferHeader->nTimeStamp;
    poDstBufferHeader->nFlags = poSrcBufferHeader->nFlags;
    poDstBufferHeader->hMarkTargetComponent = poSrcBufferHeader->hMarkTargetComponent;
    poDstBufferHeader->pMarkData = poSrcBufferHeader->pMarkData;
    poDstBufferHeader->nTickCount = 0;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE COMXComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_BUFFERHEADERTYPE* apoLocal[2] = {nullptr, nullptr};
    MUINT32 uiLocalCount = 1;
    CPort* poPort = nullptr;

    // Deinitialised or being deinitialised: nothing of the wrapper is touched any more.
    const CBufferCall oCall(*this);
    if (!oCall.IsOpen())
        return OMX_ErrorInvalidState;
    ZEM_INFO(9, "COMXComponent(%p) poBufferHeader:%p [%s]", m_hOMXComponent, static_cast<void*>(poBufferHeader),
             m_bBufferProcessing ? "Running" : "Stopped");
    poPort = FindLocalBufferHeader(poBufferHeader, &apoLocal[0], 0);
    if (poPort == nullptr || apoLocal[0] == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);
    PopulateBufferHeader(apoLocal[0], poBufferHeader);
    if (poPort->IsInterlaced())
    {
        // One upstream frame is two local field buffers: the first at the frame's start, the
        // second at the odd-field offset, each holding half of what the frame holds. Both are
        // marked before either reaches the platform, so that whichever comes back last knows it
        // is the last.
        if (FindLocalBufferHeader(poBufferHeader, &apoLocal[1], poPort->GetOddFieldOffset()) == nullptr ||
            apoLocal[1] == nullptr)
            ZEM_FAIL(OMX_ErrorBadParameter);
        PopulateBufferHeader(apoLocal[1], poBufferHeader);
        uiLocalCount = 2;
        for (OMX_BUFFERHEADERTYPE* poField : apoLocal)
            poField->nFilledLen = poBufferHeader->nFilledLen / 2;
        const OMX_U32 nKeep = ~static_cast<OMX_U32>(OMXBufferFlag_FieldMask);
        apoLocal[0]->nFlags = (apoLocal[0]->nFlags & nKeep) | OMXBufferFlag_Field;
        apoLocal[1]->nFlags = (apoLocal[1]->nFlags & nKeep) | OMXBufferFlag_Field | OMXBufferFlag_SecondField;
    }
    for (MUINT32 i = 0; i < uiLocalCount; ++i)
    {
        ZEM_INFO(4, "OMX_EmptyThisBuffer(%p, %p)", m_hOMXComponent, static_cast<void*>(apoLocal[i]));
        if (!m_bBufferProcessing)
        {
            ZEM_INFO(1, "   Skipped::This component(%p) is stopped", m_hOMXComponent);
            continue;
        }
        eError = OMX_EmptyThisBuffer(m_hOMXComponent, apoLocal[i]);
        if (eError == OMX_ErrorNone)
            continue;
        uiAbortLine = __LINE__;
        if (uiLocalCount == 2)
        {
            // The fields the platform did not take are done at once: the frame goes back upstream
            // now, or when the platform gives back the field it took, so it stays in circulation.
            for (MUINT32 j = i; j < uiLocalCount; ++j)
            {
                OMX_BUFFERHEADERTYPE* poFrame = FieldDone(poPort, apoLocal[j]);
                if (poFrame != nullptr)
                    poPort->FillThisBuffer(poFrame);
            }
        }
        goto Zem_Abort;
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_BUFFERHEADERTYPE* poLocal = nullptr;

    // Deinitialised or being deinitialised: nothing of the wrapper is touched any more.
    const CBufferCall oCall(*this);
    if (!oCall.IsOpen())
        return OMX_ErrorInvalidState;
    ZEM_INFO(9, "COMXComponent(%p) poBufferHeader:%p [%s]", m_hOMXComponent, static_cast<void*>(poBufferHeader),
             m_bBufferProcessing ? "Running" : "Stopped");
    if (FindLocalBufferHeader(poBufferHeader, &poLocal, 0) == nullptr || poLocal == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);
    PopulateBufferHeader(poLocal, poBufferHeader);
    ZEM_INFO(4, "OMX_FillThisBuffer(%p, %p)", m_hOMXComponent, static_cast<void*>(poLocal));
    if (m_bBufferProcessing)
        ZEM_CHECK(OMX_FillThisBuffer(m_hOMXComponent, poLocal));
    else
        ZEM_INFO(1, "   Skipped::This component(%p) is stopped", m_hOMXComponent);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_BUFFERHEADERTYPE* poLocal = nullptr;
    CPort* poPort = nullptr;

    // Deinitialised or being deinitialised: nothing of the wrapper is touched any more.
    const CBufferCall oCall(*this);
    if (!oCall.IsOpen())
        return OMX_ErrorInvalidState;
    ZEM_INFO(9, "COMXComponent(%p) poBufferHeader:%p [%s]", m_hOMXComponent, static_cast<void*>(poBufferHeader),
             m_bBufferProcessing ? "Running" : "Stopped");
    poPort = FindLocalBufferHeader(poBufferHeader, &poLocal, 0);
    if (poPort == nullptr || poLocal == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);
    // Delivered downstream; what the consumer makes of it is its own affair.
    poPort->EmptyThisBuffer(poLocal);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    OMX_BUFFERHEADERTYPE* poLocal = nullptr;
    CPort* poPort = nullptr;

    // Deinitialised or being deinitialised: nothing of the wrapper is touched any more.
    const CBufferCall oCall(*this);
    if (!oCall.IsOpen())
        return OMX_ErrorInvalidState;
    ZEM_INFO(9, "COMXComponent(%p) poBufferHeader:%p [%s]", m_hOMXComponent, static_cast<void*>(poBufferHeader),
             m_bBufferProcessing ? "Running" : "Stopped");
    poPort = FindLocalBufferHeader(poBufferHeader, &poLocal, 0);
    if (poPort == nullptr || poLocal == nullptr)
        ZEM_FAIL(OMX_ErrorBadParameter);
    if (poPort->IsInterlaced() && (poLocal->nFlags & OMXBufferFlag_Field) != 0)
    {
        poLocal = FieldDone(poPort, poLocal);
        if (poLocal == nullptr)
            return OMX_ErrorNone;
    }
    // Cleared before the header leaves: once handed upstream it may come straight back filled.
    poLocal->nFlags &= ~static_cast<OMX_U32>(OMXBufferFlag_FieldMask);
    ZEM_CHECK(poPort->FillThisBuffer(poLocal));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_BUFFERHEADERTYPE* COMXComponent::FieldDone(CPort* poPort, OMX_BUFFERHEADERTYPE* poField)
{
    // The frame goes back upstream once both of its fields are done, so that its memory is not
    // refilled under the field still being read. The frame is named by its first field's header,
    // whose memory starts where the frame's does. The platform's thread and a thread whose
    // hand-over failed may finish the two fields at once: the mutex lets one of them see both.
    std::lock_guard<std::mutex> oLock(m_oFieldMutex);
    const MUINT32 uiCount = poPort->GetBufferCount();
    MUINT32 uiIndex = 0;
    while (uiIndex < uiCount && poPort->GetBufferHeader(uiIndex) != poField)
        ++uiIndex;
    poField->nFlags &= ~static_cast<OMX_U32>(OMXBufferFlag_FieldMask);
    const OMX_BUFFERHEADERTYPE* poOther = poPort->GetBufferHeader(uiIndex ^ 1);
    if (uiIndex == uiCount || (poOther != nullptr && (poOther->nFlags & OMXBufferFlag_Field) != 0))
        return nullptr;
    return poPort->GetBufferHeader(uiIndex & ~1u);
}

// ---- Life cycle -------------------------------------------------------------------------------

OMX_ERRORTYPE COMXComponent::Start()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "COMXComponent(%p)", m_hOMXComponent);
    ZEM_CHECK(Execute(0));
    ZEM_CHECK(StartBufferProcessing());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::Stop()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "COMXComponent(%p)", m_hOMXComponent);
    ZEM_CHECK(StopBufferProcessing());
    ZEM_CHECK(Loaded(0));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::Pause()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE COMXComponent::Execute(MBOOL32 bTestMode)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "COMXComponent(%p)", m_hOMXComponent);
    if (m_eComponentState == OMX_StateExecuting)
        return OMX_ErrorNone;

    ZEM_CHECK(SetParameters());
    if (m_hOMXCtrl != nullptr)
        ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateIdle));
    // The move to idle completes once every enabled port holds its buffers: they come next.
    ZEM_CHECK(ScheduleStateTransition(m_hOMXComponent, OMX_StateIdle));
    for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
        if (m_poInputPort[i].IsBufferProvider())
            ZEM_CHECK(m_poInputPort[i].AllocBuffers());
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        if (m_poOutputPort[i].IsBufferProvider())
            ZEM_CHECK(m_poOutputPort[i].AllocBuffers());
    // Downstream provides or adopts its buffers before this component adopts any of them.
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        ZEM_CHECK(m_poOutputPort[i].Execute(bTestMode));
    for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
        if (!m_poInputPort[i].IsBufferProvider())
            ZEM_CHECK(m_poInputPort[i].UseRemoteBuffers());
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        if (!m_poOutputPort[i].IsBufferProvider())
            ZEM_CHECK(m_poOutputPort[i].UseRemoteBuffers());
    ZEM_CHECK(WaitForStateTransition(m_hOMXComponent, OMX_StateIdle));
    ZEM_CHECK(SetParametersIdle());
    ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXComponent, OMX_StateExecuting));
    if (m_hOMXCtrl != nullptr)
        ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateExecuting));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::Loaded(MUINT uiInputPortId)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    MUINT32 uiRequestPort = 0;
    MUINT32 uiReadyPort = 0;
    MUINT32 uiReadyCount = 0;
    bool bFound = false;

    ZEM_INFO(1, "COMXComponent(%p)", m_hOMXComponent);
    for (MUINT32 i = 0; i < m_uiInputPortCount; ++i)
    {
        if (!bFound && m_poInputPort[i].GetPortID() == uiInputPortId)
        {
            uiRequestPort = i;
            bFound = true;
        }
        if (m_poInputPort[i].IsBufferReady())
        {
            uiReadyPort = i;
            ++uiReadyCount;
        }
    }
    if (uiReadyCount > 1)
    {
        // Other inputs still feed the component: only the requesting link lets go.
        ZEM_CHECK(m_poInputPort[uiRequestPort].ReleaseBuffers());
        return OMX_ErrorNone;
    }
    // A control component that has reported no state yet (OMX_StateInvalid: the display's
    // controller before its first move) is still loaded; asked to go there again it would answer
    // with an error event, and the wait for its state change would never end.
    if (m_hOMXCtrl != nullptr && m_eCtrlState != OMX_StateLoaded && m_eCtrlState != OMX_StateInvalid)
        ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateLoaded));
    if (m_eComponentState != OMX_StateLoaded)
    {
        // The move to loaded completes once every buffer is freed. The buffers the platform still
        // held come back meanwhile, on its thread: their headers are being freed, so the buffer
        // traffic is closed while they go (a return is then not looked up), and opened again once
        // the component is loaded. After a failure it stays closed: the teardown follows.
        ZEM_CHECK(ScheduleStateTransition(m_hOMXComponent, OMX_StateLoaded));
        CloseBufferTraffic();
        if (uiReadyCount == 1)
            ZEM_CHECK(m_poInputPort[uiReadyPort].ReleaseBuffers());
        for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
            ZEM_CHECK(m_poOutputPort[i].ReleaseBuffers());
        ZEM_CHECK(WaitForStateTransition(m_hOMXComponent, OMX_StateLoaded));
        m_bBufferTrafficClosed = false;
    }
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        ZEM_CHECK(m_poOutputPort[i].Loaded());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::StartBufferProcessing()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "COMXComponent(%p)", m_hOMXComponent);
    m_bBufferProcessing = 1;
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        ZEM_CHECK(m_poOutputPort[i].StartBufferProcessing());
    // Every output buffer is queued for filling once.
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
    {
        const MUINT32 uiCount = m_poOutputPort[i].GetBufferCount();
        for (MUINT32 j = 0; j < uiCount; ++j)
        {
            OMX_BUFFERHEADERTYPE* poHeader = m_poOutputPort[i].GetBufferHeader(j);
            ZEM_INFO(2, "OMX_FillThisBuffer(%p, %p)", m_hOMXComponent, static_cast<void*>(poHeader));
            ZEM_CHECK(OMX_FillThisBuffer(m_hOMXComponent, poHeader));
        }
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE COMXComponent::StopBufferProcessing()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "COMXComponent(%p)", m_hOMXComponent);
    m_bBufferProcessing = 0;
    // On the way down to idle the platform hands back every buffer it holds; they stay here.
    if (m_eComponentState > OMX_StateIdle)
        ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXComponent, OMX_StateIdle));
    if (m_hOMXCtrl != nullptr && m_eCtrlState >= OMX_StateExecuting)
        ZEM_CHECK(ScheduleAndWaitStateTransition(m_hOMXCtrl, OMX_StateIdle));
    for (MUINT32 i = 0; i < m_uiOutputPortCount; ++i)
        ZEM_CHECK(m_poOutputPort[i].StopBufferProcessing());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
