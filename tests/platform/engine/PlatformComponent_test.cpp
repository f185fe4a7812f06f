// The engine's state machine, buffers and threads, driven through the plain OMX_* calls on the
// test components.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Video.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "PellixTestControl.h"

namespace
{
class PlatformComponent : public CEngineTest
{
};

// ---- State machine -------------------------------------------------------------------------

TEST_F(PlatformComponent, LoadedToIdleCompletesOnlyOnceEveryEnabledPortIsPopulated)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oClient.GetHandleResult());
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 3));

    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    EXPECT_EQ(OMX_FALSE, oClient.PortDefinition(1).bPopulated);
    EXPECT_EQ(OMX_TRUE, oClient.PortDefinition(0).bPopulated);

    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 1));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    EXPECT_EQ(OMX_StateIdle, oClient.State());
    EXPECT_EQ(OMX_TRUE, oClient.PortDefinition(1).bPopulated);
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, IdleToLoadedCompletesOnlyOnceEveryBufferIsFreed)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    std::vector<OMX_BUFFERHEADERTYPE*> apoOutputs = oClient.Buffers(1);
    ASSERT_EQ(4u, apoOutputs.size());
    for (size_t ui = 1; ui < apoOutputs.size(); ++ui)
        ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[ui]));

    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    EXPECT_EQ(OMX_StateIdle, oClient.State());

    ASSERT_EQ(OMX_ErrorNone, OMX_FreeBuffer(oClient.Handle(), 1, apoOutputs[0]));
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
    // Freeing on the way to Loaded is expected: no unpopulated-port error.
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorPortUnpopulated), 1));
}

TEST_F(PlatformComponent, SameStateIsAnsweredByAnErrorEventAndNoCompletion)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorSameState), 0));
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateExecuting));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorSameState), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateExecuting));
    EXPECT_EQ(OMX_StateExecuting, oClient.State());
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, IllegalTransitionsAreAnsweredByAnErrorEventAndNoCompletion)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_U32 nIncorrect = static_cast<OMX_U32>(OMX_ErrorIncorrectStateTransition);
    for (OMX_STATETYPE eTarget : {OMX_StateExecuting, OMX_StatePause})
    {
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(eTarget));
        ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, nIncorrect, 0));
        EXPECT_EQ(OMX_StateLoaded, oClient.State());
    }
    ASSERT_TRUE(oClient.GoToExecuting());
    for (OMX_STATETYPE eTarget : {OMX_StateLoaded, OMX_StateWaitForResources})
    {
        ASSERT_EQ(OMX_ErrorNone, oClient.SendState(eTarget));
        ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, nIncorrect, 0));
        EXPECT_EQ(OMX_StateExecuting, oClient.State());
    }
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateLoaded));
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StatePause));
    // Out-of-range states are refused at once.
    EXPECT_EQ(OMX_ErrorBadParameter, oClient.SendState(static_cast<OMX_STATETYPE>(42)));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, WaitForResourcesIsReachedFromLoadedAndLeadsBack)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
}

TEST_F(PlatformComponent, GoingToIdleFirstReturnsEveryBufferTheComponentHolds)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_TRUE(oClient.GoToExecuting());
    // Output buffers without input: the component keeps all of them.
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    // One input without further output pairs with one output...
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(oClient.Handle(), oClient.Buffers(0)[0]));
    ASSERT_TRUE(oClient.WaitReturned(0, 1));
    ASSERT_TRUE(oClient.WaitReturned(1, 1));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(1u, oClient.ReturnedCount(1));

    // ... and the move to Idle hands back the three outputs still held before it completes.
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    EXPECT_EQ(4u, oClient.ReturnedCount(1));
    EXPECT_EQ(1u, oClient.ReturnedCount(0));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, PauseHoldsBuffersAndIdleReturnsThem)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(0));
    EXPECT_EQ(0u, oClient.ReturnedCount(1));

    // Back in Executing the held buffers are processed.
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));
    ASSERT_TRUE(oClient.WaitReturned(0, 4));
    ASSERT_TRUE(oClient.WaitReturned(1, 4));

    // Held in Pause, returned by the move to Idle.
    ASSERT_TRUE(oClient.GoTo(OMX_StatePause));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    EXPECT_EQ(8u, oClient.ReturnedCount(1));
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(PlatformComponent, BuffersQueuedInIdleWaitForExecuting)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 4));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    for (OMX_BUFFERHEADERTYPE* poHeader : oClient.Buffers(0))
    {
        memset(poHeader->pBuffer, 0x5A, poHeader->nAllocLen);
        poHeader->nFilledLen = 100;
        poHeader->nOffset = 10;
        poHeader->nTimeStamp = 1234;
    }
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, oClient.SubmitAll(1, false));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(1));

    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));
    ASSERT_TRUE(oClient.WaitReturned(1, 4));
    for (OMX_BUFFERHEADERTYPE* poHeader : oClient.Buffers(1))
    {
        EXPECT_EQ(100u, poHeader->nFilledLen);
        EXPECT_EQ(0u, poHeader->nOffset);
        EXPECT_EQ(1234, poHeader->nTimeStamp);
        EXPECT_EQ(0x5A, poHeader->pBuffer[99]);
    }
    ASSERT_TRUE(oClient.GoToLoaded());
}

// ---- Threads -------------------------------------------------------------------------------

TEST_F(PlatformComponent, EveryCallbackComesFromTheComponentsOwnThread)
{
    COmxTestClient oSource(PELLIX_TEST_SOURCE);
    COmxTestClient oFilter(PELLIX_TEST_PASS_THROUGH);
    ASSERT_TRUE(oSource.GoToExecuting());
    ASSERT_TRUE(oFilter.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oSource.SubmitAll(0, false));
    ASSERT_EQ(OMX_ErrorNone, oFilter.SubmitAll(0, true));
    ASSERT_EQ(OMX_ErrorNone, oFilter.SubmitAll(1, false));
    ASSERT_TRUE(oSource.WaitReturned(0, 4));
    ASSERT_TRUE(oFilter.WaitReturned(1, 4));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, oFilter.Handle(), OMX_ErrorHardware, 7));
    ASSERT_TRUE(oFilter.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorHardware), 7));
    ASSERT_TRUE(oSource.GoToLoaded());
    ASSERT_TRUE(oFilter.GoToLoaded());

    const std::set<std::thread::id> oSourceThreads = oSource.CallbackThreads();
    const std::set<std::thread::id> oFilterThreads = oFilter.CallbackThreads();
    ASSERT_EQ(1u, oSourceThreads.size());
    ASSERT_EQ(1u, oFilterThreads.size());
    EXPECT_NE(*oSourceThreads.begin(), *oFilterThreads.begin());
    EXPECT_EQ(0u, oSourceThreads.count(std::this_thread::get_id()));
    EXPECT_EQ(0u, oFilterThreads.count(std::this_thread::get_id()));
}

} // namespace
