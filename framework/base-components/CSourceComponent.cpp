#include "base-components/CSourceComponent.h"

#include "ti814x-framework.h"

CSourceComponent::CSourceComponent() = default;

CSourceComponent::~CSourceComponent() = default;

OMX_ERRORTYPE CSourceComponent::Init()
{
    return InitPorts();
}

OMX_ERRORTYPE CSourceComponent::CreatePorts()
{
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutput;
    m_oOutput.SetParent(this);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSourceComponent::Deinit()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSourceComponent::Start()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_CHECK(Execute(0));
    ZEM_CHECK(StartBufferProcessing());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CSourceComponent::Stop()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_CHECK(StopBufferProcessing());
    ZEM_CHECK(Loaded(0));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CSourceComponent::Execute(MBOOL32 bTestMode)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    // Downstream first: the source writes into the buffers of the input it feeds.
    ZEM_CHECK(m_oOutput.Execute(bTestMode));
    if (!m_oOutput.IsBufferProvider())
        ZEM_CHECK(m_oOutput.UseRemoteBuffers());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CSourceComponent::Loaded(MUINT /*uiInputPortId*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    // The source lets go of the memory before its owner downstream frees it.
    ZEM_CHECK(m_oOutput.ReleaseBuffers());
    ZEM_CHECK(m_oOutput.Loaded());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CSourceComponent::StartBufferProcessing()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    m_bBufferProcessing = 1;
    ZEM_CHECK(m_oOutput.StartBufferProcessing());
    // Every buffer is produced once; from then on each one returning from downstream is produced
    // again.
    for (MUINT32 i = 0; i < m_oOutput.GetBufferCount(); ++i)
        ZEM_CHECK(FillThisBuffer(m_oOutput.GetBufferHeader(i)));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CSourceComponent::StopBufferProcessing()
{
    m_bBufferProcessing = 0;
    return m_oOutput.StopBufferProcessing();
}

OMX_ERRORTYPE CSourceComponent::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    // Read once: a buffer coming back after the stop stays here, which ends its circulation.
    if (m_bBufferProcessing)
        ZEM_CHECK(m_oOutput.EmptyThisBuffer(poBufferheader));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}
