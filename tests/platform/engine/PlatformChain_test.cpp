// Components linked by their callbacks, as the control library links them: a buffer filled by
// one is emptied by the next straight from the callback, on the producer's thread. Also the
// life cycle: many create/run/free cycles, and freeing handles in every state.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "PellixTestControl.h"

namespace
{
uint64_t FrameNumber(const OMX_BUFFERHEADERTYPE* poHeader)
{
    uint64_t uiFrame = 0;
    for (size_t ui = 0; ui < sizeof(uiFrame); ++ui)
        uiFrame |= static_cast<uint64_t>(poHeader->pBuffer[poHeader->nOffset + ui]) << (8 * ui);
    return uiFrame;
}

// A source, N pass-through filters, and the test as the sink. Each link's input uses the
// memory of the output before it, and headers are matched by that memory, both ways.
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

    // Allocates every output, adopts it on the next input, links the callbacks, then brings
    // every stage to Executing (the last first) and primes the source.
    bool Start()
    {
        for (size_t ui = 0; ui < Size(); ++ui)
        {
            if (Stage(ui).SendState(OMX_StateIdle) != OMX_ErrorNone)
                return false;
        }
        for (size_t ui = 0; ui < Size(); ++ui)
        {
            COmxTestClient& roStage = Stage(ui);
            if (roStage.AllocateBuffers(OutputPort(ui), 4) != OMX_ErrorNone)
                return false;
            if (ui + 1 == Size())
                break;
            std::vector<OMX_U8*> apvMemory;
            for (OMX_BUFFERHEADERTYPE* poHeader : roStage.Buffers(OutputPort(ui)))
                apvMemory.push_back(poHeader->pBuffer);
            if (Stage(ui + 1).UseBuffers(0, apvMemory, roStage.PortDefinition(OutputPort(ui)).nBufferSize) !=
                OMX_ErrorNone)
                return false;
            const std::vector<OMX_BUFFERHEADERTYPE*> apoOut = roStage.Buffers(OutputPort(ui));
            const std::vector<OMX_BUFFERHEADERTYPE*> apoIn = Stage(ui + 1).Buffers(0);
            for (size_t uiBuffer = 0; uiBuffer < apoOut.size(); ++uiBuffer)
            {
                m_oDownstream[apoOut[uiBuffer]] = apoIn[uiBuffer];
                m_oUpstream[apoIn[uiBuffer]] = apoOut[uiBuffer];
            }
        }
        for (size_t ui = 0; ui < Size(); ++ui)
            Link(ui);
        for (size_t ui = Size(); ui-- > 0;)
        {
            if (!Stage(ui).WaitState(OMX_StateIdle) || !Stage(ui).GoTo(OMX_StateExecuting))
                return false;
        }
        m_bRunning = true;
        // Outputs of the filters first, so that the source's frames find them.
        for (size_t ui = Size(); ui-- > 0;)
        {
            for (OMX_BUFFERHEADERTYPE* poHeader : Stage(ui).Buffers(OutputPort(ui)))
            {
                if (!Submit(ui, poHeader, false))
                    return false;
            }
        }
        return true;
    }

    // Stops circulation, brings every stage to Idle from the head, then to Loaded.
    bool Stop()
    {
        m_bRunning = false;
        // A callback that saw the chain running may still be handing a buffer on; after it no
        // buffer moves but back to its owner.
        while (m_iBusy.load() > 0)
            std::this_thread::yield();
        for (size_t ui = 0; ui < Size(); ++ui)
        {
            if (!Stage(ui).GoTo(OMX_StateIdle))
                return false;
        }
        for (size_t ui = 0; ui < Size(); ++ui)
        {
            if (!Stage(ui).GoToLoaded())
                return false;
        }
        return true;
    }

    uint64_t SinkFrames() const { return m_uiSinkFrames.load(); }
    bool SequenceIntact() const { return m_bSequenceIntact.load(); }
    // Submissions minus returns per stage: 0 when every buffer is back with its owner.
    int InFlight(size_t uiStage) const { return m_aiInFlight[uiStage].load(); }

private:
    // Counts a callback from its start to its end.
    class CBusy
    {
    public:
        explicit CBusy(std::atomic<int>& riBusy) : m_riBusy(riBusy) { ++m_riBusy; }
        ~CBusy() { --m_riBusy; }

    private:
        std::atomic<int>& m_riBusy;
    };

    void Link(size_t uiStage)
    {
        COmxTestClient& roStage = Stage(uiStage);
        const bool bLast = uiStage + 1 == Size();
        roStage.OnFillDone([this, uiStage, bLast](OMX_BUFFERHEADERTYPE* poHeader) {
            CBusy oBusy(m_iBusy);
            --m_aiInFlight[uiStage];
            if (!m_bRunning.load())
                return;
            if (bLast)
            {
                // The sink: frames come in order, each once, then the buffer goes straight back.
                if (poHeader->nFilledLen > 0)
                {
                    if (FrameNumber(poHeader) != m_uiSinkFrames.load())
                        m_bSequenceIntact = false;
                    ++m_uiSinkFrames;
                }
                Submit(uiStage, poHeader, false);
                return;
            }
            OMX_BUFFERHEADERTYPE* poNext = m_oDownstream.at(poHeader);
            poNext->nFilledLen = poHeader->nFilledLen;
            poNext->nOffset = poHeader->nOffset;
            poNext->nTimeStamp = poHeader->nTimeStamp;
            poNext->nFlags = poHeader->nFlags;
            Submit(uiStage + 1, poNext, true);
        });
        roStage.OnEmptyDone([this, uiStage](OMX_BUFFERHEADERTYPE* poHeader) {
            CBusy oBusy(m_iBusy);
            --m_aiInFlight[uiStage];
            if (m_bRunning.load())
                Submit(uiStage - 1, m_oUpstream.at(poHeader), false);
        });
    }

    bool Submit(size_t uiStage, OMX_BUFFERHEADERTYPE* poHeader, bool bInput)
    {
        ++m_aiInFlight[uiStage];
        const OMX_HANDLETYPE hComponent = Stage(uiStage).Handle();
        if ((bInput ? OMX_EmptyThisBuffer(hComponent, poHeader) : OMX_FillThisBuffer(hComponent, poHeader)) ==
            OMX_ErrorNone)
            return true;
        --m_aiInFlight[uiStage];
        return false;
    }

    std::vector<std::unique_ptr<COmxTestClient>> m_apoStages;
    std::map<OMX_BUFFERHEADERTYPE*, OMX_BUFFERHEADERTYPE*> m_oDownstream;  // read-only while running
    std::map<OMX_BUFFERHEADERTYPE*, OMX_BUFFERHEADERTYPE*> m_oUpstream;
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_iBusy{0};
    std::atomic<uint64_t> m_uiSinkFrames{0};
    std::atomic<bool> m_bSequenceIntact{true};
    std::atomic<int> m_aiInFlight[4] = {};
};

class PlatformChain : public CEngineFixture<::testing::TestWithParam<unsigned>>
{
};

TEST_P(PlatformChain, FramesCirculateInOrderAndEveryBufferComesBack)
{
    CChain oChain(GetParam());
    ASSERT_TRUE(oChain.Start());
    EXPECT_EQ(m_uiThreadsBefore + oChain.Size(), ThreadCount());
    ASSERT_TRUE(Eventually([&] { return oChain.SinkFrames() >= 300; }));
    ASSERT_TRUE(oChain.Stop());

    EXPECT_TRUE(oChain.SequenceIntact());
    for (size_t ui = 0; ui < oChain.Size(); ++ui)
    {
        EXPECT_EQ(0, oChain.InFlight(ui)) << "stage " << ui;
        // One thread per component, and only its own.
        EXPECT_EQ(1u, oChain.Stage(ui).CallbackThreads().size()) << "stage " << ui;
    }
    const unsigned long long uiProduced = PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced);
    const unsigned long long uiConsumed = PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_FramesConsumed);
    EXPECT_GE(uiProduced, oChain.SinkFrames());
    // Each filter consumed at least what the sink saw, at most what the source made.
    EXPECT_GE(uiConsumed, GetParam() * oChain.SinkFrames());
    EXPECT_LE(uiConsumed, GetParam() * uiProduced);
}

TEST_P(PlatformChain, HundredCreateRunFreeCyclesLeaveNoHandleOrThread)
{
    for (int iCycle = 0; iCycle < 100; ++iCycle)
    {
        CChain oChain(GetParam());
        ASSERT_TRUE(oChain.Start()) << "cycle " << iCycle;
        ASSERT_TRUE(Eventually([&] { return oChain.SinkFrames() >= 10; })) << "cycle " << iCycle;
        ASSERT_TRUE(oChain.Stop()) << "cycle " << iCycle;
        ASSERT_TRUE(oChain.SequenceIntact());
    }
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(m_uiThreadsBefore, ThreadCount());
}

INSTANTIATE_TEST_SUITE_P(Filters, PlatformChain, ::testing::Values(1u, 2u));

// ---- Freeing handles -------------------------------------------------------------------------

class PlatformTeardown : public CEngineTest
{
};

TEST_F(PlatformTeardown, FreeHandleInEveryStateReleasesEverything)
{
    // Loaded with a move to Idle waiting for buffers, some of them allocated.
    {
        COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
        ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 2));
        EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
    }
    // Idle, with buffers queued.
    {
        COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
        ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
        ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
        ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
        ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
        EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
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
    // Pause, with buffers held.
    {
        COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
        ASSERT_TRUE(oClient.GoToExecuting());
        ASSERT_TRUE(oClient.GoTo(OMX_StatePause));
        ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
        EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
    }
    EXPECT_EQ(m_uiThreadsBefore, ThreadCount());
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_FreeHandle(nullptr));
}

TEST_F(PlatformTeardown, AHandleMayBeFreedFromItsOwnCallback)
{
    struct SSelfFree
    {
        OMX_HANDLETYPE hComponent = nullptr;
        std::atomic<bool> bFreed{false};
        std::atomic<OMX_ERRORTYPE> eResult{OMX_ErrorUndefined};
    } oState;
    OMX_CALLBACKTYPE oCallbacks;
    oCallbacks.EventHandler = [](OMX_HANDLETYPE hComponent, OMX_PTR pAppData, OMX_EVENTTYPE eEvent, OMX_U32,
                                 OMX_U32, OMX_PTR) -> OMX_ERRORTYPE {
        auto* poState = static_cast<SSelfFree*>(pAppData);
        if (eEvent == OMX_EventCmdComplete)
        {
            poState->eResult = OMX_FreeHandle(hComponent);
            poState->bFreed = true;
        }
        return OMX_ErrorNone;
    };
    oCallbacks.EmptyBufferDone = nullptr;
    oCallbacks.FillBufferDone = nullptr;
    ASSERT_EQ(OMX_ErrorNone,
              OMX_GetHandle(&oState.hComponent, const_cast<OMX_STRING>(PELLIX_TEST_SOURCE), &oState, &oCallbacks));
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(oState.hComponent, OMX_CommandStateSet, OMX_StateWaitForResources,
                                             nullptr));
    ASSERT_TRUE(Eventually([&] { return oState.bFreed.load(); }));
    EXPECT_EQ(OMX_ErrorNone, oState.eResult.load());
    EXPECT_EQ(m_uiLiveBefore, PellixPlatform_LiveHandleCount());
    // TearDown waits for the thread to have finished and gone.
}

} // namespace
