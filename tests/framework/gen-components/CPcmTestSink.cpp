#include "CPcmTestSink.h"

// ---- CProvidingSinkPort -----------------------------------------------------------------------

CProvidingSinkPort::~CProvidingSinkPort() = default;

void CProvidingSinkPort::Allocate()
{
    // The port's table was made by ProvideBuffer; ReleaseBuffers deletes the headers again.
    m_aoMemory.assign(m_uiBufferCount, std::vector<OMX_U8>(m_oPortBufferInfo.uiBufferSize));
    for (MUINT32 i = 0; i < m_uiBufferCount; ++i)
    {
        auto* poHeader = new OMX_BUFFERHEADERTYPE();
        poHeader->nSize = sizeof(OMX_BUFFERHEADERTYPE);
        poHeader->nVersion.s.nVersionMajor = 1;
        poHeader->nVersion.s.nVersionMinor = 1;
        poHeader->pBuffer = m_aoMemory[i].data();
        poHeader->nAllocLen = m_oPortBufferInfo.uiBufferSize;
        m_apoBufferHeader[i] = poHeader;
    }
    m_uiState |= PortState_BufferReady;
}

// ---- CPcmTestSink -----------------------------------------------------------------------------

CPcmTestSink::CPcmTestSink() = default;

CPcmTestSink::~CPcmTestSink() = default;

OMX_ERRORTYPE CPcmTestSink::Init()
{
    return InitPorts();
}

OMX_ERRORTYPE CPcmTestSink::Deinit()
{
    return m_oInput.Deinit();
}

OMX_ERRORTYPE CPcmTestSink::CreatePorts()
{
    m_uiInputPortCount = 1;
    m_poInputPort = &m_oInput;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPcmTestSink::Execute(MBOOL32)
{
    ++uiExecutes;
    if (m_oInput.IsBufferProvider() && !m_oInput.IsBufferReady())
        m_oInput.Allocate();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPcmTestSink::Loaded(MUINT)
{
    return m_oInput.ReleaseBuffers();
}

OMX_ERRORTYPE CPcmTestSink::StartBufferProcessing()
{
    m_bBufferProcessing = 1;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPcmTestSink::StopBufferProcessing()
{
    // As a platform component on its way to idle: every buffer goes back.
    m_bBufferProcessing = 0;
    Hold(false);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CPcmTestSink::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    bool bHold = false;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_oData.append(reinterpret_cast<const char*>(poBufferHeader->pBuffer + poBufferHeader->nOffset),
                       poBufferHeader->nFilledLen);
        bHold = m_bHold;
        if (bHold)
            m_apoHeld.push_back(poBufferHeader);
    }
    ++uiBuffers;
    if (poBufferHeader->nFilledLen == 0)
        ++uiEmptyBuffers;
    if (poBufferHeader->nFilledLen == poBufferHeader->nAllocLen)
        ++uiFullBuffers;
    return bHold ? OMX_ErrorNone : m_oInput.FillThisBuffer(poBufferHeader);
}

void CPcmTestSink::Hold(bool bHold)
{
    std::vector<OMX_BUFFERHEADERTYPE*> apoGiveBack;
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bHold = bHold;
        if (!bHold)
            apoGiveBack.swap(m_apoHeld);
    }
    for (OMX_BUFFERHEADERTYPE* poHeader : apoGiveBack)
        m_oInput.FillThisBuffer(poHeader);
}

std::string CPcmTestSink::Data()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return m_oData;
}

unsigned CPcmTestSink::HeldCount()
{
    std::lock_guard<std::mutex> oLock(m_oMutex);
    return static_cast<unsigned>(m_apoHeld.size());
}
