// CFifo: a fixed ring of buffer-header pointers from a producer thread (a platform callback) to
// a consumer thread, with a blocking wait for the consumer.
#ifndef CFIFO_H
#define CFIFO_H

#include <OMX_Core.h>
#include <pthread.h>

#include <atomic>

#include "ZemBaseTypes.h"

class CFifo
{
public:
    // Guards itself with its own mutex.
    CFifo();
    // Shares the user's mutex, which must outlive the FIFO; the user may hold it across its own
    // state checks and WaitNotEmpty.
    explicit CFifo(pthread_mutex_t& rhAccessMutex);
    virtual ~CFifo();

    CFifo(const CFifo&) = delete;
    CFifo& operator=(const CFifo&) = delete;

    // Hints, read without the mutex.
    bool IsEmpty() const;
    bool IsFull() const;
    bool IsWaiting() const;

    // Stores the header unless the FIFO is full; signals one counted waiter in any case.
    OMX_ERRORTYPE Write(OMX_BUFFERHEADERTYPE* hBuffer);
    // OMX_ErrorUndefined when empty, *phBuffer untouched.
    OMX_ERRORTYPE Read(OMX_BUFFERHEADERTYPE** phBuffer);
    // Waits once while empty. With an external mutex the caller holds it, and still holds it on
    // return. The time-out is not used: the wait ends with a Write or an UnBlockWaitFifo.
    OMX_ERRORTYPE WaitNotEmpty(MUINT32 uiTimeOut);
    // Releases one counted waiter; with nobody waiting it does nothing.
    void UnBlockWaitFifo();

private:
    static constexpr MUINT32 s_uiSlotCount = 32;

    MUINT32 m_uiSize;
    // Changed under the access mutex; atomic so that the hints may read them without it.
    std::atomic<MUINT32> m_uiWriteIndex;
    std::atomic<MUINT32> m_uiReadIndex;
    MUINT32 m_uiMask;
    OMX_BUFFERHEADERTYPE* m_ahTable[s_uiSlotCount];
    std::atomic<MINT32> m_iWaitCounter;
    // Wake-ups sent to counted waiters and not yet taken: a waiter sleeps until one is there, so a
    // spurious return of the condition wait neither ends a wait early nor loses a wake-up.
    MUINT32 m_uiPendingWakeUps;
    pthread_mutex_t m_hInternalAccessMutex;
    pthread_mutex_t& m_rhAccessMutex;
    pthread_cond_t m_hFifoEmptyCond;
    MBOOL32 m_bUseExternalMutex;
};

#endif // CFIFO_H
