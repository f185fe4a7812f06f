#include "base-components/CFifo.h"

namespace
{
// Holds the access mutex for one scope.
class CFifoLock
{
public:
    explicit CFifoLock(pthread_mutex_t& rhMutex) : m_rhMutex(rhMutex) { pthread_mutex_lock(&m_rhMutex); }
    ~CFifoLock() { pthread_mutex_unlock(&m_rhMutex); }
    CFifoLock(const CFifoLock&) = delete;
    CFifoLock& operator=(const CFifoLock&) = delete;

private:
    pthread_mutex_t& m_rhMutex;
};
} // namespace

CFifo::CFifo()
    : m_uiSize(s_uiSlotCount),
      m_uiWriteIndex(0),
      m_uiReadIndex(0),
      m_uiMask(s_uiSlotCount - 1),
      m_ahTable(),
      m_iWaitCounter(0),
      m_uiPendingWakeUps(0),
      m_hInternalAccessMutex(),
      m_rhAccessMutex(m_hInternalAccessMutex),
      m_hFifoEmptyCond(),
      m_bUseExternalMutex(false)
{
    pthread_mutex_init(&m_hInternalAccessMutex, nullptr);
    pthread_cond_init(&m_hFifoEmptyCond, nullptr);
}

CFifo::CFifo(pthread_mutex_t& rhAccessMutex)
    : m_uiSize(s_uiSlotCount),
      m_uiWriteIndex(0),
      m_uiReadIndex(0),
      m_uiMask(s_uiSlotCount - 1),
      m_ahTable(),
      m_iWaitCounter(0),
      m_uiPendingWakeUps(0),
      m_hInternalAccessMutex(),
      m_rhAccessMutex(rhAccessMutex),
      m_hFifoEmptyCond(),
      m_bUseExternalMutex(true)
{
    pthread_cond_init(&m_hFifoEmptyCond, nullptr);
}

CFifo::~CFifo()
{
    pthread_cond_destroy(&m_hFifoEmptyCond);
    if (!m_bUseExternalMutex)
        pthread_mutex_destroy(&m_hInternalAccessMutex);
}

bool CFifo::IsEmpty() const
{
    return m_uiReadIndex.load(std::memory_order_relaxed) == m_uiWriteIndex.load(std::memory_order_relaxed);
}

bool CFifo::IsFull() const
{
    return ((m_uiWriteIndex.load(std::memory_order_relaxed) + 1) & m_uiMask) ==
           m_uiReadIndex.load(std::memory_order_relaxed);
}

bool CFifo::IsWaiting() const
{
    return m_iWaitCounter.load(std::memory_order_relaxed) > 0;
}

OMX_ERRORTYPE CFifo::Write(OMX_BUFFERHEADERTYPE* hBuffer)
{
    CFifoLock oLock(m_rhAccessMutex);
    if (m_iWaitCounter > 0)
    {
        --m_iWaitCounter;
        ++m_uiPendingWakeUps;
        pthread_cond_signal(&m_hFifoEmptyCond);
    }
    if (!IsFull())
    {
        const MUINT32 uiWriteIndex = m_uiWriteIndex;
        m_ahTable[uiWriteIndex] = hBuffer;
        m_uiWriteIndex = (uiWriteIndex + 1) & m_uiMask;
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CFifo::Read(OMX_BUFFERHEADERTYPE** phBuffer)
{
    CFifoLock oLock(m_rhAccessMutex);
    if (IsEmpty())
        return OMX_ErrorUndefined;
    const MUINT32 uiReadIndex = m_uiReadIndex;
    *phBuffer = m_ahTable[uiReadIndex];
    m_uiReadIndex = (uiReadIndex + 1) & m_uiMask;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CFifo::WaitNotEmpty(MUINT32 /*uiTimeOut*/)
{
    if (!m_bUseExternalMutex)
        pthread_mutex_lock(&m_rhAccessMutex);
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    if (IsEmpty())
    {
        ++m_iWaitCounter;
        while (m_uiPendingWakeUps == 0 && eError == OMX_ErrorNone)
        {
            if (pthread_cond_wait(&m_hFifoEmptyCond, &m_rhAccessMutex) != 0)
                eError = OMX_ErrorUndefined;
        }
        if (m_uiPendingWakeUps > 0)
            --m_uiPendingWakeUps;
    }
    if (!m_bUseExternalMutex)
        pthread_mutex_unlock(&m_rhAccessMutex);
    return eError;
}

void CFifo::UnBlockWaitFifo()
{
    CFifoLock oLock(m_rhAccessMutex);
    if (m_iWaitCounter > 0)
    {
        --m_iWaitCounter;
        ++m_uiPendingWakeUps;
        pthread_cond_signal(&m_hFifoEmptyCond);
    }
}
