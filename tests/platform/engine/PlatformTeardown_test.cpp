// The end of a component's life: freeing its handle in every state, while a command is under
// way, and from its own callback. (Components linked into chains, and many start/stop cycles of
// them, are tested with the library's wrapper in tests/framework/base-components.)
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <atomic>
#include <functional>
#include <future>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"

namespace
{
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
