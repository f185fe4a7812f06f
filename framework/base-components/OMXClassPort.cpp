#include "base-components/OMXClassPort.h"

#include <cstring>
#include <new>

#include "base-components/OMXClassComponent.h"
#include "base-omx.h"
#include "ti814x-framework.h"

// ---- CPort --------------------------------------------------------------------------------

CPort::CPort()
    : m_oPortBufferInfo(),
      m_poParent(nullptr),
      m_poRemotePort(nullptr),
      m_uiPortID(0),
      m_uiState(0),
      m_uiBufferCount(0),
      m_apoBufferHeader(nullptr),
      m_bInterlaced(false),
      m_uiOddFieldOffset(0)
{
    ZEM_INFO(3, "");
}

CPort::~CPort()
{
    ZEM_INFO(3, "");
    // The buffers are released by Deinit; only the table a never-deinitialised port still holds
    // goes here.
    delete[] m_apoBufferHeader;
}

OMX_HANDLETYPE CPort::GetParentHandle() const
{
    CComponent* const poParent = m_poParent;
    return poParent ? poParent->GetOMXHandle() : nullptr;
}

void CPort::DeleteHeaderTable()
{
    delete[] m_apoBufferHeader;
    m_apoBufferHeader = nullptr;
}

OMX_BUFFERHEADERTYPE* CPort::GetBufferHeader(MUINT32 uiIndex) const
{
    if (uiIndex >= m_uiBufferCount || m_apoBufferHeader == nullptr)
        return nullptr;
    return m_apoBufferHeader[uiIndex];
}

void CPort::SetInterlaced(bool bInterlaced)
{
    m_bInterlaced = bInterlaced && !IsBufferProvider();
}

OMX_ERRORTYPE CPort::Init()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPort::ProvideBuffer(SPortBufferInfo* poPortBufferInfo, MUINT32 uiBufferCount)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;

    ZEM_INFO(1, "::%p", GetParentHandle());
    if (IsBufferReady())
        ZEM_FAIL(OMX_ErrorInvalidComponent);
    if (m_apoBufferHeader != nullptr && m_uiBufferCount != uiBufferCount)
        DeleteHeaderTable();
    if (m_apoBufferHeader == nullptr)
    {
        m_uiBufferCount = uiBufferCount;
        m_apoBufferHeader = new (std::nothrow) OMX_BUFFERHEADERTYPE*[uiBufferCount];
        if (m_apoBufferHeader == nullptr)
        {
            m_uiBufferCount = 0;
            ZEM_FAIL(OMX_ErrorInsufficientResources);
        }
    }
    for (MUINT32 i = 0; i < uiBufferCount; ++i)
        m_apoBufferHeader[i] = nullptr;
    m_oPortBufferInfo = *poPortBufferInfo;
    m_uiState |= PortState_BufferProvider;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::AllocBuffers()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const OMX_HANDLETYPE hHandle = GetParentHandle();
    MUINT32 uiAllocated = 0;

    ZEM_INFO(1, "::%p", hHandle);
    if (IsBufferReady() || !IsBufferProvider() || hHandle == nullptr || m_apoBufferHeader == nullptr)
        ZEM_FAIL(OMX_ErrorInvalidComponent);

    for (uiAllocated = 0; uiAllocated < m_uiBufferCount; ++uiAllocated)
    {
        eError = OMX_AllocateBuffer(hHandle, &m_apoBufferHeader[uiAllocated], m_uiPortID, this,
                                    m_oPortBufferInfo.uiBufferSize);
        if (eError != OMX_ErrorNone)
            m_apoBufferHeader[uiAllocated] = nullptr;
        ZEM_INFO(2, "OMX_AllocateBuffer(%p, %p, %d, %p, %d) pBuffer=%p", hHandle, m_apoBufferHeader[uiAllocated],
                 m_uiPortID, static_cast<void*>(this), m_oPortBufferInfo.uiBufferSize,
                 m_apoBufferHeader[uiAllocated] ? m_apoBufferHeader[uiAllocated]->pBuffer : nullptr);
        if (eError != OMX_ErrorNone)
            break;
    }
    if (eError != OMX_ErrorNone)
    {
        // Undo this call: a later ProvideBuffer sets the port up again.
        const OMX_ERRORTYPE eAllocError = eError;
        for (MUINT32 i = 0; i < uiAllocated; ++i)
        {
            OMX_FreeBuffer(hHandle, m_uiPortID, m_apoBufferHeader[i]);
            m_apoBufferHeader[i] = nullptr;
        }
        DeleteHeaderTable();
        m_uiBufferCount = 0;
        uiAbortLine = __LINE__;
        eError = eAllocError;
        goto Zem_Abort;
    }
    m_uiState |= PortState_BufferReady;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::UseRemoteBuffers()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const OMX_HANDLETYPE hHandle = GetParentHandle();
    MUINT32 uiUsed = 0;

    ZEM_INFO(1, "::%p", hHandle);
    CPort* const poRemotePort = m_poRemotePort;
    if (IsBufferProvider() || IsBufferReady() || poRemotePort == nullptr || !poRemotePort->IsBufferReady())
        ZEM_FAIL(OMX_ErrorInvalidComponent);

    m_uiBufferCount = poRemotePort->m_uiBufferCount;
    m_oPortBufferInfo = poRemotePort->m_oPortBufferInfo;
    m_uiOddFieldOffset = 0;
    if (m_bInterlaced)
    {
        m_uiBufferCount *= 2;
        m_oPortBufferInfo.uiBufferSize /= 2;
        m_oPortBufferInfo.uiHeight /= 2;
        m_uiOddFieldOffset = GetPitch(m_oPortBufferInfo.uiWidth, static_cast<OmxPixelFormat>(m_oPortBufferInfo.eFormat)) *
                             m_oPortBufferInfo.uiHeight;
    }

    DeleteHeaderTable();
    m_apoBufferHeader = new (std::nothrow) OMX_BUFFERHEADERTYPE*[m_uiBufferCount];
    if (m_apoBufferHeader == nullptr)
        ZEM_FAIL(OMX_ErrorInsufficientResources);
    for (MUINT32 i = 0; i < m_uiBufferCount; ++i)
        m_apoBufferHeader[i] = nullptr;

    for (uiUsed = 0; uiUsed < m_uiBufferCount; ++uiUsed)
    {
        const MUINT32 uiRemoteIndex = m_bInterlaced ? uiUsed / 2 : uiUsed;
        const OMX_BUFFERHEADERTYPE* poRemoteHeader = poRemotePort->GetBufferHeader(uiRemoteIndex);
        if (poRemoteHeader == nullptr)
        {
            eError = OMX_ErrorInvalidComponent;
            break;
        }
        OMX_U8* pMemory = poRemoteHeader->pBuffer;
        if (m_bInterlaced && (uiUsed & 1) != 0)
            pMemory += m_uiOddFieldOffset;
        ZEM_INFO(2, "Remote Header = %p, pBuffer=%p ", static_cast<const void*>(poRemoteHeader),
                 static_cast<void*>(poRemoteHeader->pBuffer));
        if (hHandle != nullptr)
        {
            eError = OMX_UseBuffer(hHandle, &m_apoBufferHeader[uiUsed], m_uiPortID, this,
                                   m_oPortBufferInfo.uiBufferSize, pMemory);
            if (eError != OMX_ErrorNone)
                m_apoBufferHeader[uiUsed] = nullptr;
        }
        else
        {
            auto* poHeader = new (std::nothrow) OMX_BUFFERHEADERTYPE();
            if (poHeader == nullptr)
                eError = OMX_ErrorInsufficientResources;
            else
            {
                poHeader->nSize = sizeof(OMX_BUFFERHEADERTYPE);
                poHeader->nVersion.s.nVersionMajor = 1;
                poHeader->nVersion.s.nVersionMinor = 1;
                poHeader->pBuffer = pMemory;
                poHeader->nAllocLen = m_oPortBufferInfo.uiBufferSize;
                poHeader->nInputPortIndex = m_uiPortID;
                poHeader->nOutputPortIndex = m_uiPortID;
                m_apoBufferHeader[uiUsed] = poHeader;
            }
        }
        ZEM_INFO(2, "OMX_UseBuffer(%p, %p, %d, %p, %d, %p) pBuffer==%p", hHandle,
                 static_cast<void*>(&m_apoBufferHeader[uiUsed]), m_uiPortID, static_cast<void*>(this),
                 m_oPortBufferInfo.uiBufferSize, static_cast<void*>(pMemory),
                 m_apoBufferHeader[uiUsed] ? static_cast<void*>(m_apoBufferHeader[uiUsed]->pBuffer) : nullptr);
        if (eError != OMX_ErrorNone)
            break;
    }
    if (eError != OMX_ErrorNone)
    {
        // Hand back what this call obtained; the table is not kept.
        const OMX_ERRORTYPE eUseError = eError;
        for (MUINT32 i = 0; i < uiUsed; ++i)
        {
            if (hHandle != nullptr)
                OMX_FreeBuffer(hHandle, m_uiPortID, m_apoBufferHeader[i]);
            else
                delete m_apoBufferHeader[i];
        }
        DeleteHeaderTable();
        eError = eUseError;
        uiAbortLine = __LINE__;
        goto Zem_Abort;
    }
    m_uiState |= PortState_BufferReady;
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::ReleaseBuffers()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const OMX_HANDLETYPE hHandle = GetParentHandle();

    ZEM_INFO(1, "::%p", hHandle);
    if (!IsBufferReady())
        return OMX_ErrorNone;
    ZEM_INFO(1, "");
    for (MUINT32 i = 0; i < m_uiBufferCount; ++i)
    {
        ZEM_INFO(2, "OMX_FreeBuffer(%p, %d, %p)", hHandle, m_uiPortID, static_cast<void*>(m_apoBufferHeader[i]));
        if (m_apoBufferHeader[i] == nullptr)
            continue;
        if (hHandle != nullptr)
            ZEM_CHECK(OMX_FreeBuffer(hHandle, m_uiPortID, m_apoBufferHeader[i]));
        else
            delete m_apoBufferHeader[i];
        m_apoBufferHeader[i] = nullptr;
    }
    m_uiState &= ~static_cast<MUINT32>(PortState_BufferReady);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::Deinit()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    const OMX_ERRORTYPE eReleaseError = ReleaseBuffers();

    // With the table gone no buffer is ready any more, even when the release failed.
    DeleteHeaderTable();
    m_uiBufferCount = 0;
    m_poParent = nullptr;
    m_poRemotePort = nullptr;
    m_uiState &= ~static_cast<MUINT32>(PortState_BufferProvider | PortState_BufferReady);
    m_bInterlaced = false;
    m_uiOddFieldOffset = 0;
    ZEM_CHECK(eReleaseError);
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::Execute(MBOOL32 bTestMode)
{
    CComponent* const poParent = m_poParent;
    CPort* const poRemotePort = m_poRemotePort;
    if (IsSink())
        return poParent ? poParent->Execute(bTestMode) : OMX_ErrorNotReady;
    return poRemotePort ? poRemotePort->Execute(bTestMode) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CPort::Pause()
{
    CComponent* const poParent = m_poParent;
    CPort* const poRemotePort = m_poRemotePort;
    if (IsSink())
        return poParent ? poParent->Pause() : OMX_ErrorNotReady;
    return poRemotePort ? poRemotePort->Pause() : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CPort::Loaded()
{
    CComponent* const poParent = m_poParent;
    CPort* const poRemotePort = m_poRemotePort;
    if (IsSink())
        return poParent ? poParent->Loaded(m_uiPortID) : OMX_ErrorNotReady;
    return poRemotePort ? poRemotePort->Loaded() : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CPort::StartBufferProcessing()
{
    CComponent* const poParent = m_poParent;
    CPort* const poRemotePort = m_poRemotePort;
    if (IsSink())
        return poParent ? poParent->StartBufferProcessing() : OMX_ErrorNotReady;
    return poRemotePort ? poRemotePort->StartBufferProcessing() : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CPort::StopBufferProcessing()
{
    CComponent* const poParent = m_poParent;
    CPort* const poRemotePort = m_poRemotePort;
    if (IsSink())
        return poParent ? poParent->StopBufferProcessing() : OMX_ErrorNotReady;
    return poRemotePort ? poRemotePort->StopBufferProcessing() : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CPort::CanConnect(SPortBufferInfo* /*poPortBufferInfo*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    ZEM_FAIL(OMX_ErrorNotReady);
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::SetBufferInfo(SPortBufferInfo* /*poPortBufferInfo*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    ZEM_FAIL(OMX_ErrorNotReady);
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::SetBufferCount(MUINT32 /*uiBufferCount*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    ZEM_FAIL(OMX_ErrorNotReady);
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::SetAsProvider(MBOOL32 /*bProvider*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    ZEM_FAIL(OMX_ErrorNotReady);
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CPort::SetAsNonProvider(MBOOL32 /*bNonProvider*/)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    ZEM_FAIL(OMX_ErrorNotReady);
Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

// ---- CSourcePort --------------------------------------------------------------------------

CSourcePort::CSourcePort()
{
    m_uiState |= PortState_Source;
}

CSourcePort::~CSourcePort() = default;

OMX_ERRORTYPE CSourcePort::ConnectTo(CSinkPort* poSinkPort)
{
    m_poRemotePort = poSinkPort;
    poSinkPort->SetRemotePort(this);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSourcePort::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSourcePort:%p", static_cast<void*>(poBufferheader));
    CComponent* const poParent = m_poParent;
    return poParent ? poParent->FillThisBuffer(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSourcePort::FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSourcePort:%p", static_cast<void*>(poBufferheader));
    CPort* const poRemotePort = m_poRemotePort;
    return poRemotePort ? poRemotePort->FillBufferDone(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSourcePort::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSourcePort:%p", static_cast<void*>(poBufferheader));
    CPort* const poRemotePort = m_poRemotePort;
    return poRemotePort ? poRemotePort->EmptyThisBuffer(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSourcePort::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSourcePort:%p", static_cast<void*>(poBufferheader));
    CComponent* const poParent = m_poParent;
    return poParent ? poParent->EmptyBufferDone(poBufferheader) : OMX_ErrorNotReady;
}

// ---- CSinkPort ----------------------------------------------------------------------------

CSinkPort::CSinkPort()
{
    m_uiState |= PortState_Sink;
}

CSinkPort::~CSinkPort() = default;

OMX_ERRORTYPE CSinkPort::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSinkPort:%p", static_cast<void*>(poBufferheader));
    CPort* const poRemotePort = m_poRemotePort;
    return poRemotePort ? poRemotePort->FillThisBuffer(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSinkPort::FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSinkPort:%p", static_cast<void*>(poBufferheader));
    CComponent* const poParent = m_poParent;
    return poParent ? poParent->FillBufferDone(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSinkPort::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSinkPort:%p", static_cast<void*>(poBufferheader));
    CComponent* const poParent = m_poParent;
    return poParent ? poParent->EmptyThisBuffer(poBufferheader) : OMX_ErrorNotReady;
}

OMX_ERRORTYPE CSinkPort::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    ZEM_INFO(9, "CSinkPort:%p", static_cast<void*>(poBufferheader));
    CPort* const poRemotePort = m_poRemotePort;
    return poRemotePort ? poRemotePort->EmptyBufferDone(poBufferheader) : OMX_ErrorNotReady;
}
