#include "base-components/OMXClassComponent.h"

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
