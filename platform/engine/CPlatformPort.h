// One port of a platform component: its definition, the buffers the client allocated on it or
// gave to it, and the queue of the buffers the component currently holds.
//
// A port is not thread-safe: its component guards it with the component's mutex.
#ifndef CPLATFORM_PORT_H
#define CPLATFORM_PORT_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <vector>

class CPlatformPort;

// Who holds a buffer of the port.
enum EPlatformBufferOwner
{
    PlatformBufferOwner_Client,  // the IL client: after allocation and after every *BufferDone
    PlatformBufferOwner_Queued,  // queued by EmptyThisBuffer/FillThisBuffer, not yet taken
    PlatformBufferOwner_Taken,   // taken by the component's processing, not yet returned
    // Being handed back: the client's from its callback on, so the client may queue or free it
    // from inside the callback; freed from another thread only once the callback has returned.
    PlatformBufferOwner_Returning,
};

// A buffer header with the engine's bookkeeping. pPlatformPrivate of the header points here.
struct SPlatformBuffer
{
    OMX_BUFFERHEADERTYPE oHeader;
    CPlatformPort* poPort;
    bool bOwnsMemory;  // pBuffer was allocated by the port (OMX_AllocateBuffer)
    EPlatformBufferOwner eOwner;
};

class CPlatformPort
{
public:
    // Upper bound of nBufferCountActual; the queue and the buffer table never grow past it.
    static constexpr unsigned s_uiMaxBuffers = 32;
    // Alignment of the memory that OMX_AllocateBuffer hands out.
    static constexpr unsigned s_uiBufferAlignment = 64;

    // A port of the given index and direction, enabled, with one buffer of 0 bytes minimum;
    // the component completes the definition before the port is used.
    CPlatformPort(OMX_U32 nPortIndex, OMX_DIRTYPE eDir, OMX_PORTDOMAINTYPE eDomain);
    ~CPlatformPort();

    CPlatformPort(const CPlatformPort&) = delete;
    CPlatformPort& operator=(const CPlatformPort&) = delete;

    OMX_U32 Index() const { return m_oDefinition.nPortIndex; }
    bool IsInput() const { return m_oDefinition.eDir == OMX_DirInput; }
    bool IsEnabled() const { return m_oDefinition.bEnabled == OMX_TRUE; }
    void SetEnabled(bool bEnabled) { m_oDefinition.bEnabled = bEnabled ? OMX_TRUE : OMX_FALSE; }
    OMX_PARAM_PORTDEFINITIONTYPE& Definition() { return m_oDefinition; }
    void SetBufferRequirements(OMX_U32 nCountMin, OMX_U32 nCountActual, OMX_U32 nBufferSize)
    {
        m_oDefinition.nBufferCountMin = nCountMin;
        m_oDefinition.nBufferCountActual = nCountActual;
        m_oDefinition.nBufferSize = nBufferSize;
    }
    const OMX_PARAM_PORTDEFINITIONTYPE& Definition() const { return m_oDefinition; }

    // ---- Buffers --------------------------------------------------------------------------
    unsigned BufferCount() const { return static_cast<unsigned>(m_apoBuffers.size()); }
    // Every one of nBufferCountActual buffers is there.
    bool IsPopulated() const { return m_apoBuffers.size() >= m_oDefinition.nBufferCountActual; }
    // Memory for OMX_AllocateBuffer: aligned, zeroed; null when there is none. Freed with the
    // buffer it is given to, or with FreeMemory.
    static OMX_U8* AllocateMemory(OMX_U32 nSizeBytes);
    static void FreeMemory(OMX_U8* pvMemory);
    // Creates a header for nSizeBytes of memory at pvMemory, which the port frees with the
    // buffer when bOwnsMemory. The caller has checked the request.
    OMX_ERRORTYPE AddBuffer(OMX_BUFFERHEADERTYPE** ppoHeader, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes,
                            OMX_U8* pvMemory, bool bOwnsMemory);
    // The buffer of the header when it belongs to this port, else null.
    SPlatformBuffer* Find(const OMX_BUFFERHEADERTYPE* poHeader) const;
    // Drops the buffer from the queue when queued and frees it with its memory.
    void RemoveBuffer(SPlatformBuffer* poBuffer);

    // ---- Queue of the buffers the component holds -------------------------------------------
    // Queues a buffer the client handed over; false when the queue is full (cannot happen with
    // a buffer of this port that the client holds).
    bool Queue(SPlatformBuffer* poBuffer);
    unsigned QueuedCount() const { return m_uiQueued; }
    OMX_BUFFERHEADERTYPE* Peek() const;
    // Takes the oldest queued buffer for processing; null when none is queued.
    OMX_BUFFERHEADERTYPE* Take();
    // Marks every buffer the component holds (queued or taken) as being handed back and writes
    // their headers to apoOut, which has room for s_uiMaxBuffers. Returns their number.
    unsigned ReleaseHeld(OMX_BUFFERHEADERTYPE** apoOut);
    // Number of buffers the component holds, queued or taken.
    unsigned HeldCount() const;

    // Port commands queued or in progress for this port, kept by the component so that buffer
    // calls made before the component's thread has taken the command up are judged right.
    unsigned& EnableRequests() { return m_uiEnableRequests; }
    unsigned& DisableRequests() { return m_uiDisableRequests; }
    unsigned EnableRequests() const { return m_uiEnableRequests; }
    unsigned DisableRequests() const { return m_uiDisableRequests; }

private:
    void Unqueue(const SPlatformBuffer* poBuffer);

    OMX_PARAM_PORTDEFINITIONTYPE m_oDefinition;
    std::vector<SPlatformBuffer*> m_apoBuffers;  // capacity reserved for s_uiMaxBuffers
    SPlatformBuffer* m_apoQueue[s_uiMaxBuffers];  // ring of queued buffers
    unsigned m_uiQueueHead;
    unsigned m_uiQueued;
    unsigned m_uiEnableRequests;
    unsigned m_uiDisableRequests;
};

#endif // CPLATFORM_PORT_H
