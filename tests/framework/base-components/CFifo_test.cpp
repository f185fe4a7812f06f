#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "Eventually.h"
#include "base-components/CFifo.h"

namespace
{
const auto local_oBound = std::chrono::seconds(20);

// Headers that only serve as distinct addresses.
struct CHeaders
{
    explicit CHeaders(size_t uiCount) : m_aoHeaders(uiCount) {}
    OMX_BUFFERHEADERTYPE* operator[](size_t uiIndex) { return &m_aoHeaders[uiIndex]; }
    std::vector<OMX_BUFFERHEADERTYPE> m_aoHeaders;
};

// A consumer blocked in WaitNotEmpty on its own thread.
class CWaiter
{
public:
    explicit CWaiter(CFifo& roFifo)
        : m_oResult(std::async(std::launch::async, [&roFifo] { return roFifo.WaitNotEmpty(0xFFFFFFFF); }))
    {
    }
    bool Returned() { return m_oResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
    bool ReturnsWithin() { return m_oResult.wait_for(local_oBound) == std::future_status::ready; }
    OMX_ERRORTYPE Result() { return m_oResult.get(); }

private:
    std::future<OMX_ERRORTYPE> m_oResult;
};
} // namespace

TEST(CFifo, HoldsThirtyOneEntriesAndDropsWritesWhenFull)
{
    CFifo oFifo;
    CHeaders oHeaders(32);
    EXPECT_TRUE(oFifo.IsEmpty());
    for (size_t i = 0; i < 31; ++i)
    {
        EXPECT_FALSE(oFifo.IsFull());
        EXPECT_EQ(OMX_ErrorNone, oFifo.Write(oHeaders[i]));
    }
    EXPECT_TRUE(oFifo.IsFull());
    EXPECT_EQ(OMX_ErrorNone, oFifo.Write(oHeaders[31]));  // dropped without a word
    for (size_t i = 0; i < 31; ++i)
    {
        OMX_BUFFERHEADERTYPE* hRead = nullptr;
        ASSERT_EQ(OMX_ErrorNone, oFifo.Read(&hRead));
        EXPECT_EQ(oHeaders[i], hRead);
    }
    EXPECT_TRUE(oFifo.IsEmpty());
    OMX_BUFFERHEADERTYPE* hUntouched = oHeaders[5];
    EXPECT_EQ(OMX_ErrorUndefined, oFifo.Read(&hUntouched));
    EXPECT_EQ(oHeaders[5], hUntouched);
}

TEST(CFifo, IndicesWrapAround)
{
    // Rounds of 25 in, 25 out: the indices pass the end of the ring on every round but the first.
    CFifo oFifo;
    CHeaders oHeaders(25);
    for (int iRound = 0; iRound < 4; ++iRound)
    {
        for (size_t i = 0; i < 25; ++i)
            ASSERT_EQ(OMX_ErrorNone, oFifo.Write(oHeaders[i]));
        for (size_t i = 0; i < 25; ++i)
        {
            OMX_BUFFERHEADERTYPE* hRead = nullptr;
            ASSERT_EQ(OMX_ErrorNone, oFifo.Read(&hRead));
            EXPECT_EQ(oHeaders[i], hRead) << "round " << iRound << " entry " << i;
        }
        EXPECT_TRUE(oFifo.IsEmpty());
    }
}

TEST(CFifo, FortyAlternatingWritesAndReadsKeepOrder)
{
    CFifo oFifo;
    CHeaders oHeaders(40);
    for (size_t i = 0; i < 40; ++i)
    {
        ASSERT_EQ(OMX_ErrorNone, oFifo.Write(oHeaders[i]));
        OMX_BUFFERHEADERTYPE* hRead = nullptr;
        ASSERT_EQ(OMX_ErrorNone, oFifo.Read(&hRead));
        EXPECT_EQ(oHeaders[i], hRead);
    }
    EXPECT_TRUE(oFifo.IsEmpty());
}

TEST(CFifo, WaitOnANonEmptyFifoReturnsAtOnce)
{
    CFifo oFifo;
    CHeaders oHeaders(1);
    oFifo.Write(oHeaders[0]);
    EXPECT_EQ(OMX_ErrorNone, oFifo.WaitNotEmpty(0xFFFFFFFF));
    EXPECT_FALSE(oFifo.IsWaiting());
}

TEST(CFifo, WriteWakesAWaitingConsumer)
{
    CFifo oFifo;
    CHeaders oHeaders(1);
    CWaiter oWaiter(oFifo);
    ASSERT_TRUE(Eventually([&] { return oFifo.IsWaiting(); }));
    EXPECT_FALSE(oWaiter.Returned());
    oFifo.Write(oHeaders[0]);
    ASSERT_TRUE(oWaiter.ReturnsWithin());
    EXPECT_EQ(OMX_ErrorNone, oWaiter.Result());
    EXPECT_FALSE(oFifo.IsWaiting());
    OMX_BUFFERHEADERTYPE* hRead = nullptr;
    EXPECT_EQ(OMX_ErrorNone, oFifo.Read(&hRead));
    EXPECT_EQ(oHeaders[0], hRead);
}

TEST(CFifo, UnBlockReleasesAWaiterWithTheFifoStillEmpty)
{
    CFifo oFifo;
    CWaiter oWaiter(oFifo);
    ASSERT_TRUE(Eventually([&] { return oFifo.IsWaiting(); }));
    oFifo.UnBlockWaitFifo();
    ASSERT_TRUE(oWaiter.ReturnsWithin());
    EXPECT_EQ(OMX_ErrorNone, oWaiter.Result());
    EXPECT_TRUE(oFifo.IsEmpty());
    EXPECT_FALSE(oFifo.IsWaiting());
}

TEST(CFifo, UnBlockWithoutWaiterLeavesNoPendingWakeUp)
{
    CFifo oFifo;
    CHeaders oHeaders(1);
    oFifo.UnBlockWaitFifo();
    CWaiter oWaiter(oFifo);
    ASSERT_TRUE(Eventually([&] { return oFifo.IsWaiting(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(oWaiter.Returned());
    oFifo.Write(oHeaders[0]);
    ASSERT_TRUE(oWaiter.ReturnsWithin());
}

TEST(CFifo, EachUnBlockReleasesOneOfSeveralWaiters)
{
    CFifo oFifo;
    CWaiter oFirst(oFifo);
    CWaiter oSecond(oFifo);
    ASSERT_TRUE(Eventually([&] { return oFifo.IsWaiting(); }));
    // Both are counted before both are released: release until nobody is counted.
    ASSERT_TRUE(Eventually([&] {
        oFifo.UnBlockWaitFifo();
        return oFirst.Returned() && oSecond.Returned();
    }));
    EXPECT_FALSE(oFifo.IsWaiting());
}

// The pattern of a stream component: one mutex shared by the FIFO and the user's own state, held
// across the user's checks and the wait; a producer and a pool of headers circulating between them.
TEST(CFifo, ExternalMutexCarriesAStreamInOrderAndStopsCleanly)
{
    pthread_mutex_t hShared = PTHREAD_MUTEX_INITIALIZER;
    bool bStopped = false;  // guarded by hShared
    CFifo oFilled(hShared);
    CFifo oFree;
    CHeaders oHeaders(8);
    for (size_t i = 0; i < 8; ++i)
        oFree.Write(oHeaders[i]);

    const OMX_TICKS iFrames = 20000;
    std::thread oProducer([&] {
        for (OMX_TICKS iFrame = 0; iFrame < iFrames; ++iFrame)
        {
            OMX_BUFFERHEADERTYPE* hBuffer = nullptr;
            while (oFree.Read(&hBuffer) != OMX_ErrorNone)
                oFree.WaitNotEmpty(0xFFFFFFFF);
            hBuffer->nTimeStamp = iFrame;
            oFilled.Write(hBuffer);
        }
    });

    std::atomic<OMX_TICKS> iReceived{0};
    std::atomic<bool> bInOrder{true};
    std::thread oConsumer([&] {
        for (;;)
        {
            pthread_mutex_lock(&hShared);
            if (!bStopped && oFilled.IsEmpty())
                oFilled.WaitNotEmpty(0xFFFFFFFF);
            const bool bStop = bStopped;
            pthread_mutex_unlock(&hShared);
            if (bStop)
                return;
            OMX_BUFFERHEADERTYPE* hBuffer = nullptr;
            if (oFilled.Read(&hBuffer) != OMX_ErrorNone)
                continue;
            if (hBuffer->nTimeStamp != iReceived.load())
                bInOrder = false;
            ++iReceived;
            oFree.Write(hBuffer);
        }
    });

    oProducer.join();
    ASSERT_TRUE(Eventually([&] { return iReceived.load() == iFrames; }));
    // Stop: the flag under the shared mutex, then release every counted waiter.
    pthread_mutex_lock(&hShared);
    bStopped = true;
    pthread_mutex_unlock(&hShared);
    while (oFilled.IsWaiting())
        oFilled.UnBlockWaitFifo();
    oConsumer.join();
    EXPECT_TRUE(bInOrder.load());
    EXPECT_EQ(iFrames, iReceived.load());
    pthread_mutex_destroy(&hShared);
}
