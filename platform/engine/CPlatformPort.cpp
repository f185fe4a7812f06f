#include "CPlatformPort.h"

#include <cstdlib>
#include <cstring>
#include <new>

CPlatformPort::CPlatformPort(OMX_U32 nPortIndex, OMX_DIRTYPE eDir, OMX_PORTDOMAINTYPE eDomain)
    : m_apoQueue(), m_uiQueueHead(0), m_uiQueued(0), m_uiEnableRequests(0), m_uiDisableRequests(0)
{
    memset(&m_oDefinition, 0, sizeof(m_oDefinition));
    m_oDefinition.nSize = sizeof(m_oDefinition);
    m_oDefinition.nVersion.s.nVersionMajor = 1;
    m_oDefinition.nVersion.s.nVersionMinor = 1;
    m_oDefinition.nPortIndex = nPortIndex;
    m_oDefinition.eDir = eDir;
    m_oDefinition.nBufferCountMin = 1;
    m_oDefinition.nBufferCountActual = 1;
    m_oDefinition.bEnabled = OMX_TRUE;
    m_oDefinition.bPopulated = OMX_FALSE;
    m_oDefinition.eDomain = eDomain;
    m_oDefinition.nBufferAlignment = s_uiBufferAlignment;
    m_apoBuffers.reserve(s_uiMaxBuffers);
}

CPlatformPort::~CPlatformPort()
{
    while (!m_apoBuffers.empty())
        RemoveBuffer(m_apoBuffers.back());
}

OMX_U8* CPlatformPort::AllocateMemory(OMX_U32 nSizeBytes)
{
    void* pvMemory = nullptr;
    if (posix_memalign(&pvMemory, s_uiBufferAlignment, nSizeBytes > 0 ? nSizeBytes : 1) != 0)
        return nullptr;
    memset(pvMemory, 0, nSizeBytes);
    return static_cast<OMX_U8*>(pvMemory);
}

void CPlatformPort::FreeMemory(OMX_U8* pvMemory)
{
    free(pvMemory);
}

OMX_ERRORTYPE CPlatformPort::AddBuffer(OMX_BUFFERHEADERTYPE** ppoHeader, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes,
                                       OMX_U8* pvMemory, bool bOwnsMemory)
{
    if (m_apoBuffers.size() >= s_uiMaxBuffers)
        return OMX_ErrorInsufficientResources;
    auto* poBuffer = new (std::nothrow) SPlatformBuffer();
    if (poBuffer == nullptr)
        return OMX_ErrorInsufficientResources;
    poBuffer->bOwnsMemory = bOwnsMemory;

    OMX_BUFFERHEADERTYPE& roHeader = poBuffer->oHeader;
    roHeader.nSize = sizeof(OMX_BUFFERHEADERTYPE);
    roHeader.nVersion.s.nVersionMajor = 1;
    roHeader.nVersion.s.nVersionMinor = 1;
    roHeader.pBuffer = pvMemory;
    roHeader.nAllocLen = nSizeBytes;
    roHeader.pAppPrivate = pAppPrivate;
    roHeader.pPlatformPrivate = poBuffer;
    roHeader.nInputPortIndex = Index();
    roHeader.nOutputPortIndex = Index();
    poBuffer->poPort = this;
    poBuffer->eOwner = PlatformBufferOwner_Client;

    m_apoBuffers.push_back(poBuffer);
    m_oDefinition.bPopulated = IsPopulated() ? OMX_TRUE : OMX_FALSE;
    *ppoHeader = &roHeader;
    return OMX_ErrorNone;
}

SPlatformBuffer* CPlatformPort::Find(const OMX_BUFFERHEADERTYPE* poHeader) const
{
    for (SPlatformBuffer* poBuffer : m_apoBuffers)
    {
        if (&poBuffer->oHeader == poHeader)
            return poBuffer;
    }
    return nullptr;
}

void CPlatformPort::RemoveBuffer(SPlatformBuffer* poBuffer)
{
    if (poBuffer->eOwner == PlatformBufferOwner_Queued)
        Unqueue(poBuffer);
    for (auto it = m_apoBuffers.begin(); it != m_apoBuffers.end(); ++it)
    {
        if (*it == poBuffer)
        {
            m_apoBuffers.erase(it);
            break;
        }
    }
    if (poBuffer->bOwnsMemory)
        FreeMemory(poBuffer->oHeader.pBuffer);
    delete poBuffer;
    m_oDefinition.bPopulated = !m_apoBuffers.empty() && IsPopulated() ? OMX_TRUE : OMX_FALSE;
}

bool CPlatformPort::Queue(SPlatformBuffer* poBuffer)
{
    if (m_uiQueued >= s_uiMaxBuffers)
        return false;
    m_apoQueue[(m_uiQueueHead + m_uiQueued) % s_uiMaxBuffers] = poBuffer;
    ++m_uiQueued;
    poBuffer->eOwner = PlatformBufferOwner_Queued;
    return true;
}

OMX_BUFFERHEADERTYPE* CPlatformPort::Peek() const
{
    return m_uiQueued > 0 ? &m_apoQueue[m_uiQueueHead]->oHeader : nullptr;
}

OMX_BUFFERHEADERTYPE* CPlatformPort::Take()
{
    if (m_uiQueued == 0)
        return nullptr;
    SPlatformBuffer* poBuffer = m_apoQueue[m_uiQueueHead];
    m_uiQueueHead = (m_uiQueueHead + 1) % s_uiMaxBuffers;
    --m_uiQueued;
    poBuffer->eOwner = PlatformBufferOwner_Taken;
    return &poBuffer->oHeader;
}

unsigned CPlatformPort::ReleaseHeld(OMX_BUFFERHEADERTYPE** apoOut)
{
    unsigned uiCount = 0;
    // Queued buffers first, in the order they came, then those taken for processing.
    while (m_uiQueued > 0)
    {
        OMX_BUFFERHEADERTYPE* poHeader = Take();
        static_cast<SPlatformBuffer*>(poHeader->pPlatformPrivate)->eOwner = PlatformBufferOwner_Returning;
        apoOut[uiCount++] = poHeader;
    }
    for (SPlatformBuffer* poBuffer : m_apoBuffers)
    {
        if (poBuffer->eOwner == PlatformBufferOwner_Taken)
        {
            poBuffer->eOwner = PlatformBufferOwner_Returning;
            apoOut[uiCount++] = &poBuffer->oHeader;
        }
    }
    return uiCount;
}

unsigned CPlatformPort::HeldCount() const
{
    unsigned uiCount = 0;
    for (const SPlatformBuffer* poBuffer : m_apoBuffers)
    {
        if (poBuffer->eOwner == PlatformBufferOwner_Queued || poBuffer->eOwner == PlatformBufferOwner_Taken)
            ++uiCount;
    }
    return uiCount;
}

void CPlatformPort::Unqueue(const SPlatformBuffer* poBuffer)
{
    // Closes the gap the buffer leaves, keeping the order of the others.
    unsigned uiKept = 0;
    for (unsigned ui = 0; ui < m_uiQueued; ++ui)
    {
        SPlatformBuffer* poQueued = m_apoQueue[(m_uiQueueHead + ui) % s_uiMaxBuffers];
        if (poQueued != poBuffer)
            m_apoQueue[(m_uiQueueHead + uiKept++) % s_uiMaxBuffers] = poQueued;
    }
    m_uiQueued = uiKept;
}
