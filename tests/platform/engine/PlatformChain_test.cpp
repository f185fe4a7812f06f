// Components linked by their callbacks, as the control library links them: a buffer filled by
// one is emptied by the next straight from the callback, on the producer's thread. Also the life
// cycle: many create/run/free cycles, and freeing handles in every state.
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"

namespace
{
// A source, N pass-through filters, and the test as the sink. Each link's input uses the memory
// of the output before it; headers are matched by that memory, both ways.
class CChain
{
public:
    explicit CChain(unsigned uiFilters)
    {
        m_apoStages.emplace_back(new COmxTestClient(PELLIX_TEST_SOURCE));
        for (unsigned ui = 0; ui < uiFilters; ++ui)
            m_apoStages.emplace_back(new COmxTestClient(PELLIX_TEST_PASS_THROUGH));
    }

    size_t Size() const { return m_apoStages.size(); }
    COmxTestClient& Stage(size_t uiStage) { return *m_apoStages[uiStage]; }
    static OMX_U32 OutputPort(size_t uiStage) { return uiStage == 0 ? 0 : 1; }

    // Allocates every output, adopts it on the next input, links the callbacks, brings every
    // stage to Executing (the last first) and primes the outputs, the last first.
    bool Start()
    {
        for (size_t ui = 0; ui < Size(); ++ui)
            if (Stage(ui).SendState(OMX_StateIdle) != OMX_ErrorNone ||
                Stage(ui).AllocateBuffers(OutputPort(ui), 4) != OMX_ErrorNone)
                return false;
        for (size_t ui = 0; ui + 1 < Size(); ++ui)
        {
            const std::vector<OMX_BUFFERHEADERTYPE*> apoOut = Stage(ui).Buffers(OutputPort(ui));
            std::vector<OMX_U8*> apvMemory;
            for (OMX_BUFFERHEADERTYPE* poHeader : apoOut)
                apvMemory.push_back(poHeader->pBuffer);
            if (Stage(ui + 1).UseBuffers(0, apvMemory, apoOut[0]->nAllocLen) != OMX_ErrorNone)
                return false;
            for (size_t uiBuffer = 0; uiBuffer < apoOut.size(); ++uiBuffer)
            {
                m_oDownstream[apoOut[uiBuffer]] = Stage(ui + 1).Buffers(0)[uiBuffer];
                m_oUpstream[Stage(ui + 1).Buffers(0)[uiBuffer]] = apoOut[uiBuffer];
            }
        }
        for (size_t ui = 0; ui < Size(); ++ui)
            Link(ui);
        for (size_t ui = Size(); ui-- > 0;)
            if (!Stage(ui).WaitState(OMX_StateIdle) || !Stage(ui).GoTo(OMX_StateExecuting))
                return false;
        m_bRunning = true;
        for (size_t ui = Size(); ui-- > 0;)
            for (OMX_BUFFERHEADERTYPE* poHeader : Stage(ui).Buffers(OutputPort(ui)))
                if (!Submit(ui, poHeader, false))
                    return false;
        return true;
    }

    // Stops circulation, brings every stage to Idle from the head, then to Loaded.
    bool Stop()
    {
        m_bRunning = false;
        // A callback that saw the chain running may still be handing a buffer on.
        while (m_iBusy.load() > 0)
            std::this_thread::yield();
        for (size_t ui = 0; ui < Size(); ++ui)
            if (!Stage(ui).GoTo(OMX_StateIdle))
                return false;
        for (size_t ui = 0; ui < Size(); ++ui)
            if (!Stage(ui).GoToLoaded())
                return false;
        return true;
    }

    std::atomic<uint64_t> m_uiSinkFrames{0};
    std::atomic<bool> m_bSequenceIntact{true};
    // Submissions minus returns per stage: 0 when every buffer is back with its owner.
    std::atomic<int> m_aiInFlight[4] = {};

private:
    void Link(size_t uiStage)
    {
        Stage(uiStage).OnFillDone([this, uiStage](OMX_BUFFERHEADERTYPE* poHeader) {
            ++m_iBusy;
            --m_aiInFlight[uiStage];
            if (m_bRunning && uiStage + 1 == Size())
            {
                // The sink: frames come in order, each once; the buffer goes straight back.
                uint64_t uiFrame = 0;
                memcpy(&uiFrame, poHeader->pBuffer + poHeader->nOffset, sizeof(uiFrame));
                if (poHeader->nFilledLen > 0 && uiFrame != m_uiSinkFrames++)
                    m_bSequenceIntact = false;
                Submit(uiStage, poHeader, false);
            }
            else if (m_bRunning)
            {
                OMX_BUFFERHEADERTYPE* poNext = m_oDownstream.at(poHeader);
                poNext->nFilledLen = poHeader->nFilledLen;
                poNext->nOffset = poHeader->nOffset;
                poNext->nTimeStamp = poHeader->nTimeStamp;
                poNext->nFlags = poHeader->nFlags;
                Submit(uiStage + 1, poNext, true);
            }
            --m_iBusy;
        });
        Stage(uiStage).OnEmptyDone([this, uiStage](OMX_BUFFERHEADERTYPE* poHeader) {
            ++m_iBusy;
            --m_aiInFlight[uiStage];
            if (m_bRunning)
                Submit(uiStage - 1, m_oUpstream.at(poHeader), false);
            --m_iBusy;
        });
    }

    bool Submit(size_t uiStage, OMX_BUFFERHEADERTYPE* poHeader, bool bInput)
    {
        ++m_aiInFlight[uiStage];
        const OMX_HANDLETYPE hComponent = Stage(uiStage).Handle();
        if ((bInput ? OMX_EmptyThisBuffer(hComponent, poHeader) : OMX_FillThisBuffer(hComponent, poHeader)) == OMX_ErrorNone)
            return true;
        --m_aiInFlight[uiStage];
        return false;
    }

    std::vector<std::unique_ptr<COmxTestClient>> m_apoStages;
    std::map<OMX_BUFFERHEADERTYPE*, OMX_BUFFERHEADERTYPE*> m_oDownstream;  // read-only while running
    std::map<OMX_BUFFERHEADERTYPE*, OMX_BUFFERHEADERTYPE*> m_oUpstream;
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_iBusy{0};
};

class PlatformChain : public CEngineFixture<::testing::TestWithParam<unsigned>>
{
};

TEST_P(PlatformChain, FramesCirculateInOrderOnTheComponentsOwnThreadsAndEveryBufferComesBack)
{
    CChain oChain(GetParam());
    ASSERT_TRUE(oChain.Start());
    EXPECT_EQ(m_uiThreadsBefore + oChain.Size(), ThreadCount());
    ASSERT_TRUE(Eventually([&] { return oChain.m_uiSinkFrames >= 300; }));
    ASSERT_TRUE(oChain.Stop());
    EXPECT_TRUE(oChain.m_bSequenceIntact);
    std::set<std::thread::id> oThreads;
    for (size_t ui = 0; ui < oChain.Size(); ++ui)
    {
        EXPECT_EQ(0, oChain.m_aiInFlight[ui]) << "stage " << ui;
        // Every callback of a component came from its own thread, never from the test's.
        const std::set<std::thread::id> oStageThreads = oChain.Stage(ui).CallbackThreads();
        EXPECT_EQ(1u, oStageThreads.size()) << "stage " << ui;
        oThreads.insert(oStageThreads.begin(), oStageThreads.end());
    }
    EXPECT_EQ(oChain.Size(), oThreads.size());
    EXPECT_EQ(0u, oThreads.count(std::this_thread::get_id()));
    const unsigned long long uiProduced = PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced);
    const unsigned long long uiConsumed = PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_FramesConsumed);
    EXPECT_GE(uiProduced, oChain.m_uiSinkFrames);
    // Each filter consumed at least what the sink saw, at most what the source made.
    EXPECT_GE(uiConsumed, GetParam() * oChain.m_uiSinkFrames);
    EXPECT_LE(uiConsumed, GetParam() * uiProduced);
}

TEST_P(PlatformChain, HundredCreateRunFreeCyclesLeaveNoHandleOrThread)
{
    for (int iCycle = 0; iCycle < 100; ++iCycle)
    {
        CChain oChain(GetParam());
        ASSERT_TRUE(oChain.Start()) << "cycle " << iCycle;
        ASSERT_TRUE(Eventually([&] { return oChain.m_uiSinkFrames >= 10; })) << "cycle " << iCycle;
        ASSERT_TRUE(oChain.Stop()) << "cycle " << iCycle;
        ASSERT_TRUE(oChain.m_bSequenceIntact);
    }
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(m_uiThreadsBefore, ThreadCount());
}

INSTANTIATE_TEST_SUITE_P(Filters, PlatformChain, ::testing::Values(1u, 2u));

typedef CEngineTest PlatformTeardown;

// A client that frees its handle from the completion callback of its first command.
struct SSelfFree
{
    static OMX_ERRORTYPE Event(OMX_HANDLETYPE hComponent, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32, OMX_U32,
                               OMX_PTR)
    {
        auto* poState = static_cast<SSelfFree*>(pAppData);
        if (eEvent == OMX_EventCmdComplete)
        {
            poState->eResult = OMX_FreeHandle(hComponent);
            poState->bFreed = true;
        }
        return OMX_ErrorNone;
    }
    OMX_HANDLETYPE hComponent = nullptr;
    std::atomic<bool> bFreed{false};
    std::atomic<OMX_ERRORTYPE> eResult{OMX_ErrorUndefined};
};

TEST_F(PlatformTeardown, FreeHandleInEveryStateReleasesEverything)
{
    const std::function<bool(COmxTestClient&)> afnStates[] = {
        // Loaded, with a move to Idle waiting for buffers, some of them allocated.
        [](COmxTestClient& ro) { return Ok(ro.SendState(OMX_StateIdle)) && Ok(ro.AllocateBuffers(0, 2)); },
        // Idle, with buffers queued.
        [](COmxTestClient& ro) {
            return Ok(ro.SendState(OMX_StateIdle)) && Ok(ro.AllocateBuffers(0, 4)) && Ok(ro.AllocateBuffers(1, 4)) &&
                   ro.WaitState(OMX_StateIdle) && Ok(ro.SubmitAll(1, false));
        },
        // Pause, with buffers held.
        [](COmxTestClient& ro) { return ro.GoToExecuting() && ro.GoTo(OMX_StatePause) && Ok(ro.SubmitAll(0, true)); },
    };
    for (size_t ui = 0; ui < 3; ++ui)
    {
        COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
        ASSERT_TRUE(afnStates[ui](oClient)) << ui;
        EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle()) << ui;
    }
    // Executing, producing as fast as it can, with a command still queued.
    {
        COmxTestClient oClient(PELLIX_TEST_SOURCE);
        const OMX_HANDLETYPE hComponent = oClient.Handle();
        oClient.OnFillDone([hComponent](OMX_BUFFERHEADERTYPE* poHeader) { OMX_FillThisBuffer(hComponent, poHeader); });
        ASSERT_TRUE(oClient.GoToExecuting());
        ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, false));
        ASSERT_TRUE(oClient.WaitReturned(0, 50));
        ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 10000));
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
        EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
        PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 0);
    }
    EXPECT_EQ(m_uiThreadsBefore, ThreadCount());
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(nullptr));
}

TEST_F(PlatformTeardown, AFreeRacingAStateCommandNeverHangsInTheJoin)
{
    // The component's thread may be between two steps of the command (the lock let go while it
    // asks the test control for a fault) when the free asks it to quit: it must not go to sleep
    // after that. Faults armed for nobody make that step long enough to be hit often.
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetConfig, "OMX.Pellix.Nobody", 0, 1, OMX_ErrorUndefined));
    std::future<int> oCycles = std::async(std::launch::async, [] {
        int iCycle = 0;
        for (; iCycle < 200; ++iCycle)
        {
            COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
            if (!Ok(oClient.SendState(OMX_StateIdle)) || !Ok(oClient.FreeHandle()))
                break;
        }
        return iCycle;
    });
    ASSERT_EQ(std::future_status::ready, oCycles.wait_for(std::chrono::seconds(30))) << "a free hangs in the join";
    EXPECT_EQ(200, oCycles.get());
}

TEST_F(PlatformTeardown, AHandleMayBeFreedFromItsOwnCallback)
{
    SSelfFree oState;
    OMX_CALLBACKTYPE oCallbacks = {&SSelfFree::Event, nullptr, nullptr};
    ASSERT_EQ(OMX_ErrorNone, OMX_GetHandle(&oState.hComponent, const_cast<char*>(PELLIX_TEST_SOURCE), &oState, &oCallbacks));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(oState.hComponent, OMX_CommandStateSet, OMX_StateWaitForResources, nullptr));
    ASSERT_TRUE(Eventually([&] { return oState.bFreed.load(); }));
    EXPECT_EQ(OMX_ErrorNone, oState.eResult.load());
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    // TearDown waits for the thread to have finished and gone.
}
} // namespace
