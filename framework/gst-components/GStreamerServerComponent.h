// GStreamerServerComponent: the software sink that carries encoded buffers out of the component
// graph into a GStreamer media pipeline.
//
// Its one input port is connected to an encoder's output port. Filled headers arrive through
// EmptyThisBuffer on the encoder's callback thread and are queued in a FIFO; the stream
// components derived from this class take them in the "handoff" signal of their fakesrc, on the
// pipeline's streaming thread, copy the bytes into the GStreamer buffer and give the header back
// to the encoder. The disconnect switch frees a handoff blocked on the empty FIFO when the server
// stops, and keeps later handoffs from waiting.
//
// Lock order (see README.md): the source pad's stream lock (held by GStreamer around a handoff)
// -> m_oFifoUnblockMutex -> the FIFO's access mutex. Nothing else is called while either of the
// two is held.
#ifndef GSTREAMER_SERVER_COMPONENT_H
#define GSTREAMER_SERVER_COMPONENT_H

#include <gst/gst.h>
#include <pthread.h>

#include <atomic>

#include "base-components/CFifo.h"
#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "gst-components/GstRtspMediaFactoryCallback.h"

class GStreamerServerComponent : public CComponent
{
public:
    // FIFO guarded by its own mutex.
    GStreamerServerComponent();
    // FIFO guarded by roMutex, which the derived stream owns and which must outlive the FIFO.
    explicit GStreamerServerComponent(pthread_mutex_t& roMutex);
    ~GStreamerServerComponent() override;

    GStreamerServerComponent(const GStreamerServerComponent&) = delete;
    GStreamerServerComponent& operator=(const GStreamerServerComponent&) = delete;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Pause() override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE CreatePorts() override;
    // Each stream builds its launch fragment from the upstream buffer size.
    OMX_ERRORTYPE SetParameters() override = 0;
    virtual OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline);
    // A viewer has started to play the media, on the RTSP library's thread. The streams whose
    // data a decoder cannot start from at any buffer make it start at once.
    virtual void ViewerJoined() {}

    static void CallbackPipelineCreated(GstElement* poPipeline, gpointer pvInstance);
    // Compares the name of the element held by pvElement (a GValue of the iterator) with pvName;
    // 0 for the match.
    static gint CallbackElementNameCompare(gconstpointer pvElement, gconstpointer pvName);

    // One handoff on a pipeline's streaming thread, from its start to its end. Those threads come
    // from GLib's pool, get their work and end through GLib's own locking, which race detectors
    // cannot see. Entering reads the processing flag with acquire order (it was stored when the
    // stream was started after it was built): the construction and the start come before the
    // handoff for them too. Leaving is counted with release order, and Deinit waits until no
    // handoff is inside: whatever a handoff did comes before the teardown.
    class CHandoffScope
    {
    public:
        explicit CHandoffScope(GStreamerServerComponent& roStream) : m_roStream(roStream)
        {
            // The acquire read first: it orders the stream's construction before the count too.
            static_cast<void>(m_roStream.m_bBufferProcessing.load(std::memory_order_acquire));
            m_roStream.m_iHandoffsInside.fetch_add(1, std::memory_order_acq_rel);
        }
        ~CHandoffScope() { m_roStream.m_iHandoffsInside.fetch_sub(1, std::memory_order_release); }
        CHandoffScope(const CHandoffScope&) = delete;
        CHandoffScope& operator=(const CHandoffScope&) = delete;

    private:
        GStreamerServerComponent& m_roStream;
    };

    const char* GetLaunchCommand() const { return m_szLaunchCmd; }
    GstRtspMediaFactoryCallback* GetPipelineCreatedCallback() const { return m_poPipelineCreatedCallback; }
    const char* GetSourceElementName() const { return m_szSourceElementName; }

    // Property changes inside the pipeline are printed from the next pipeline creation on.
    void SetVerboseOn(int bVerbose);
    // With true, every handoff waiting for data returns at once and later handoffs neither wait
    // nor deliver data; false connects the stream again.
    void DisconnectFifo(int bDisconnect);

protected:
    // What every stream does with a new pipeline: finds its source element by name and, when the
    // element signals handoffs, connects pfnCallbackHandoff (called with this instance) to its
    // "handoff" signal and writes szConnectedRecord; otherwise writes why not.
    void ConnectSourceHandoff(GstElement* poPipeline, GCallback pfnCallbackHandoff, const char* szConnectedRecord);

    // The first steps of every handoff that finds buffer processing on: waits, unless the
    // switch is thrown, until the FIFO holds a header, and takes it. Null when there is none.
    OMX_BUFFERHEADERTYPE* TakeHandoffBuffer();
    bool IsFifoDisconnected() const { return m_bFifoDisconnected.load() != 0; }

    CSinkPort m_oInput;
    CFifo m_oFifoBuffer;
    // Guards m_bFifoDisconnected and a handoff's decision to wait.
    pthread_mutex_t m_oFifoUnblockMutex;
    char* m_szLaunchCmd;
    MBOOL32 m_bPipelineVerboseOn;
    // Written on the RTSP library's threads, read on others.
    std::atomic<const GstElement*> m_poPipeline;
    std::atomic<MBOOL32> m_bFifoDisconnected;
    GstRtspMediaFactoryCallback* m_poPipelineCreatedCallback;
    const char* m_szSourceElementName;

private:
    // The user's FIFO mutex in external mode, else null.
    pthread_mutex_t* m_phFifoExternalMutex;
    // Handoffs that decided to wait under m_oFifoUnblockMutex and have not come back yet: the
    // FIFO counts a waiter only once it sleeps, so the switch releases these until none is left.
    std::atomic<MINT32> m_iHandoffWaiting;
    // Handoffs between their CHandoffScope's start and end.
    std::atomic<MINT32> m_iHandoffsInside;
};

#endif // GSTREAMER_SERVER_COMPONENT_H
