#include "gst-components/GStreamerServerComponent.h"

#include <unistd.h>

#include <cstring>
#include <new>

#include "gst-components/CMutexLockUnlock.h"
#include "ti814x-framework.h"

namespace
{
// The wait of a handoff has no time limit: it ends with a header or with the switch.
const MUINT32 local_uiWaitForever = 0xFFFFFFFF;
// Pause between two releases while a handoff that decided to wait is not asleep yet.
const useconds_t local_uiReleaseRetryUsec = 100;
// How long Deinit waits for handoffs still inside: their pipeline is gone and their FIFO
// disconnected, so they leave at once; a stop must not hang on one that does not.
const MUINT32 local_uiHandoffLeaveBoundUs = 2000000;
} // namespace

GStreamerServerComponent::GStreamerServerComponent()
    : m_oInput(),
      m_oFifoBuffer(),
      m_oFifoUnblockMutex(PTHREAD_MUTEX_INITIALIZER),
      m_szLaunchCmd(nullptr),
      m_bPipelineVerboseOn(false),
      m_poPipeline(nullptr),
      m_bFifoDisconnected(false),
      m_poPipelineCreatedCallback(nullptr),
      m_szSourceElementName(nullptr),
      m_phFifoExternalMutex(nullptr),
      m_iHandoffWaiting(0),
      m_iHandoffsInside(0)
{
    ZEM_INFO(3, "");
}

GStreamerServerComponent::GStreamerServerComponent(pthread_mutex_t& roMutex)
    : m_oInput(),
      m_oFifoBuffer(roMutex),
      m_oFifoUnblockMutex(PTHREAD_MUTEX_INITIALIZER),
      m_szLaunchCmd(nullptr),
      m_bPipelineVerboseOn(false),
      m_poPipeline(nullptr),
      m_bFifoDisconnected(false),
      m_poPipelineCreatedCallback(nullptr),
      m_szSourceElementName(nullptr),
      m_phFifoExternalMutex(&roMutex),
      m_iHandoffWaiting(0),
      m_iHandoffsInside(0)
{
    ZEM_INFO(3, "");
}

GStreamerServerComponent::~GStreamerServerComponent()
{
    ZEM_INFO(3, "");
}

OMX_ERRORTYPE GStreamerServerComponent::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    int iResult = 0;

    ZEM_INFO(2, "GStreamerServerComponent");
    m_poPipelineCreatedCallback = new (std::nothrow) GstRtspMediaFactoryCallback;
    if (m_poPipelineCreatedCallback == nullptr)
        ZEM_FAIL(OMX_ErrorInsufficientResources);
    m_poPipelineCreatedCallback->pfnCallback = CallbackPipelineCreated;
    m_poPipelineCreatedCallback->pvCallbackArgs = this;

    iResult = pthread_mutex_init(&m_oFifoUnblockMutex, nullptr);
    if (iResult != 0)
    {
        ZEM_INFO(0, "ERROR, cannot create FIFO buffer unblock mutex: %s", strerror(iResult));
        delete m_poPipelineCreatedCallback;
        m_poPipelineCreatedCallback = nullptr;
        ZEM_FAIL(OMX_ErrorInsufficientResources);
    }

    eError = InitPorts();
    if (eError != OMX_ErrorNone)
    {
        // Nothing stays allocated after a failed Init.
        pthread_mutex_destroy(&m_oFifoUnblockMutex);
        m_oFifoUnblockMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
        delete m_poPipelineCreatedCallback;
        m_poPipelineCreatedCallback = nullptr;
        uiAbortLine = __LINE__;
        goto Zem_Abort;
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE GStreamerServerComponent::Deinit()
{
    int iResult = 0;

    ZEM_INFO(2, "GStreamerServerComponent");
    for (MUINT32 uiWaitedUs = 0; m_iHandoffsInside.load(std::memory_order_acquire) != 0; uiWaitedUs += local_uiReleaseRetryUsec)
    {
        if (uiWaitedUs >= local_uiHandoffLeaveBoundUs)
        {
            ZEM_INFO(0, "ERROR, a handoff is still running");
            break;
        }
        usleep(local_uiReleaseRetryUsec);
    }
    delete[] m_szLaunchCmd;
    m_szLaunchCmd = nullptr;
    delete m_poPipelineCreatedCallback;
    m_poPipelineCreatedCallback = nullptr;
    iResult = pthread_mutex_destroy(&m_oFifoUnblockMutex);
    if (iResult != 0)
        ZEM_INFO(0, "ERROR while destroying FIFO buffer unblock mutex: %s", strerror(iResult));
    // A later Init sets it up again; a Deinit without Init finds it in its initial state.
    m_oFifoUnblockMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
    m_bFifoDisconnected = false;
    return m_oInput.Deinit();
}

OMX_ERRORTYPE GStreamerServerComponent::CreatePorts()
{
    ZEM_INFO(2, "GStreamerServerComponent");
    m_uiInputPortCount = 1;
    m_poInputPort = &m_oInput;
    m_uiOutputPortCount = 0;
    m_poOutputPort = nullptr;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerServerComponent::Execute(MBOOL32 /*bTestMode*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(2, "GStreamerServerComponent");
    if (m_oInput.GetRemotePort() == nullptr)
        ZEM_FAIL(OMX_ErrorUndefined);
    // The headers come from the upstream output port: nothing to allocate here.
    ZEM_CHECK(SetParameters());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE GStreamerServerComponent::Pause()
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE GStreamerServerComponent::Loaded(MUINT /*uiInputPortId*/)
{
    ZEM_INFO(2, "GStreamerServerComponent");
    m_oInput.ReleaseBuffers();
    m_poPipeline = nullptr;
    ZEM_INFO(2, "Done");
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerServerComponent::StartBufferProcessing()
{
    ZEM_INFO(2, "GStreamerServerComponent");
    m_bBufferProcessing = true;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerServerComponent::StopBufferProcessing()
{
    ZEM_INFO(2, "GStreamerServerComponent");
    while (!m_oFifoBuffer.IsEmpty())
    {
        OMX_BUFFERHEADERTYPE* poBufferHeader = nullptr;
        if (m_oFifoBuffer.Read(&poBufferHeader) == OMX_ErrorNone)
            m_oInput.EmptyBufferDone(poBufferHeader);
    }
    m_bBufferProcessing = false;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE GStreamerServerComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    ZEM_INFO(9, "GStreamerServerComponent:%p", static_cast<void*>(poBufferHeader));
    return m_oFifoBuffer.Write(poBufferHeader);
}

OMX_ERRORTYPE GStreamerServerComponent::PipelineCreated(GstElement* poPipeline)
{
    ZEM_INFO(2, "GStreamerServerComponent");
    if (poPipeline != nullptr && GST_IS_PIPELINE(poPipeline))
    {
        m_poPipeline = poPipeline;
        if (m_bPipelineVerboseOn)
            g_signal_connect(poPipeline, "deep-notify", G_CALLBACK(gst_object_default_deep_notify), nullptr);
    }
    else
    {
        if (poPipeline != nullptr)
            ZEM_INFO(0, "Error, argument is not a pipeline");
        m_poPipeline = nullptr;
    }
    return OMX_ErrorNone;
}

void GStreamerServerComponent::CallbackPipelineCreated(GstElement* poPipeline, gpointer pvInstance)
{
    if (pvInstance != nullptr)
        static_cast<GStreamerServerComponent*>(pvInstance)->PipelineCreated(poPipeline);
}

gint GStreamerServerComponent::CallbackElementNameCompare(gconstpointer pvElement, gconstpointer pvName)
{
    // The iterator hands each element as a GValue and keeps its reference itself.
    GstElement* poElement = GST_ELEMENT(g_value_get_object(static_cast<const GValue*>(pvElement)));
    GST_OBJECT_LOCK(poElement);
    const gint iResult = strcmp(GST_OBJECT_NAME(poElement), static_cast<const gchar*>(pvName));
    GST_OBJECT_UNLOCK(poElement);
    return iResult;
}

void GStreamerServerComponent::ConnectSourceHandoff(GstElement* poPipeline, GCallback pfnCallbackHandoff,
                                                    const char* szConnectedRecord)
{
    GstIterator* poIterator = gst_bin_iterate_recurse(GST_BIN(poPipeline));
    GValue oElement = G_VALUE_INIT;
    if (poIterator != nullptr &&
        gst_iterator_find_custom(poIterator, CallbackElementNameCompare, &oElement,
                                 const_cast<char*>(m_szSourceElementName)))
    {
        GstElement* poSource = GST_ELEMENT(g_value_get_object(&oElement));
        gboolean bSignalHandoffs = FALSE;
        g_object_get(poSource, "signal-handoffs", &bSignalHandoffs, nullptr);
        if (bSignalHandoffs)
        {
            g_signal_connect(poSource, "handoff", pfnCallbackHandoff, this);
            ZEM_INFO(2, "%s", szConnectedRecord);
        }
        else
            ZEM_INFO(0, "Error, can't connect handoff");
        g_value_unset(&oElement);
    }
    else
        ZEM_INFO(0, "Failed to find the element %s in the pipeline\n", m_szSourceElementName);
    if (poIterator != nullptr)
        gst_iterator_free(poIterator);
}

void GStreamerServerComponent::SetVerboseOn(int bVerbose)
{
    m_bPipelineVerboseOn = bVerbose;
}

void GStreamerServerComponent::DisconnectFifo(int bDisconnect)
{
    CMutexLockUnlock oLock(m_oFifoUnblockMutex);
    m_bFifoDisconnected = bDisconnect;
    if (!bDisconnect)
        return;
    while (m_oFifoBuffer.IsWaiting())
        m_oFifoBuffer.UnBlockWaitFifo();
    // A handoff that decided to wait just before the switch was thrown is released as soon as it
    // sleeps; it cannot decide again, since deciding needs the mutex held here.
    while (m_iHandoffWaiting.load() > 0)
    {
        m_oFifoBuffer.UnBlockWaitFifo();
        if (m_iHandoffWaiting.load() > 0)
            usleep(local_uiReleaseRetryUsec);
    }
}

OMX_BUFFERHEADERTYPE* GStreamerServerComponent::TakeHandoffBuffer()
{
    OMX_BUFFERHEADERTYPE* poOmxBuffer = nullptr;

    pthread_mutex_lock(&m_oFifoUnblockMutex);
    if (m_bFifoDisconnected)
        ZEM_INFO(3, "FIFO Disconnected from OMX!");
    else if (m_oFifoBuffer.IsEmpty())
    {
        ++m_iHandoffWaiting;
        if (m_phFifoExternalMutex != nullptr)
        {
            // The wait needs the FIFO's mutex held. It is taken before the unblock mutex is
            // released, and released before the unblock mutex is taken again, so the two are
            // only ever nested in one order.
            pthread_mutex_lock(m_phFifoExternalMutex);
            pthread_mutex_unlock(&m_oFifoUnblockMutex);
            m_oFifoBuffer.WaitNotEmpty(local_uiWaitForever);
            pthread_mutex_unlock(m_phFifoExternalMutex);
        }
        else
        {
            pthread_mutex_unlock(&m_oFifoUnblockMutex);
            m_oFifoBuffer.WaitNotEmpty(local_uiWaitForever);
        }
        --m_iHandoffWaiting;
        pthread_mutex_lock(&m_oFifoUnblockMutex);
    }
    pthread_mutex_unlock(&m_oFifoUnblockMutex);

    if (!m_oFifoBuffer.IsEmpty())
        m_oFifoBuffer.Read(&poOmxBuffer);
    ZEM_INFO(4, "poOmxBuffer==%p", static_cast<void*>(poOmxBuffer));
    return poOmxBuffer;
}
