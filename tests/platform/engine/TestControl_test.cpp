// The test-control API: fault injection of every kind, injected error events, delayed command
// completion, counters, the simulated input and the display snapshot hook.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Video.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "CSimulatedInput.h"
#include "CTestControl.h"
#include "PellixTestControl.h"

namespace
{
using std::chrono::milliseconds;

class TestControl : public CEngineTest
{
};

// ---- Faults ----------------------------------------------------------------------------------

TEST_F(TestControl, GetHandleFailsTheNextCallsOfTheNamedComponentOnly)
{
    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_GetHandle, PELLIX_TEST_SOURCE, PELLIX_ANY_INDEX, 2,
                                     OMX_ErrorInsufficientResources));
    EXPECT_EQ(2u, PellixTest_PendingFaults());
    {
        COmxTestClient oOther(PELLIX_TEST_PASS_THROUGH);
        EXPECT_EQ(OMX_ErrorNone, oOther.GetHandleResult());
    }
    for (int i = 0; i < 2; ++i)
    {
        COmxTestClient oFailing(PELLIX_TEST_SOURCE);
        EXPECT_EQ(OMX_ErrorInsufficientResources, oFailing.GetHandleResult());
        EXPECT_EQ(nullptr, oFailing.Handle());
    }
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    COmxTestClient oWorking(PELLIX_TEST_SOURCE);
    EXPECT_EQ(OMX_ErrorNone, oWorking.GetHandleResult());
}

TEST_F(TestControl, FreeHandleFailsAndLeavesTheHandleAlive)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const unsigned uiLive = PellixPlatform_LiveHandleCount();
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_FreeHandle, nullptr, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorHardware));
    EXPECT_EQ(OMX_ErrorHardware, oClient.FreeHandle());
    EXPECT_EQ(uiLive, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_StateLoaded, oClient.State());  // still answers
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
    EXPECT_EQ(uiLive - 1, PellixPlatform_LiveHandleCount());
}

TEST_F(TestControl, ParameterAndConfigurationFaultsFollowTheIndex)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition, 0);
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate, 0);
    OMX_PORT_PARAM_TYPE oPorts;
    memset(&oPorts, 0, sizeof(oPorts));
    oPorts.nSize = sizeof(oPorts);
    oPorts.nVersion.s.nVersionMajor = 1;

    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetParameter, PELLIX_TEST_SOURCE,
                                                    OMX_IndexParamPortDefinition, 2, OMX_ErrorUndefined));
    EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(hComponent, OMX_IndexParamVideoInit, &oPorts));
    EXPECT_EQ(OMX_ErrorUndefined, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorUndefined, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));

    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, nullptr, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorBadParameter));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));

    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetConfig, nullptr, OMX_IndexConfigVideoFramerate,
                                                    1, OMX_ErrorNotReady));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetConfig, nullptr, OMX_IndexConfigVideoFramerate,
                                                    1, OMX_ErrorUnsupportedSetting));
    EXPECT_EQ(OMX_ErrorNotReady, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(OMX_ErrorNone, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.xEncodeFramerate = 10 << 16;
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, OMX_SetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    OMX_CONFIG_FRAMERATETYPE oStored;
    InitStruct(oStored, 0);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oStored));
    EXPECT_EQ(0u, oStored.xEncodeFramerate);  // the failed set changed nothing
    EXPECT_EQ(OMX_ErrorNone, OMX_SetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(0u, PellixTest_PendingFaults());
}

TEST_F(TestControl, BufferFaultsFollowThePortAndChangeNothing)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    std::vector<OMX_U8> aucMemory(2048);
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));

    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_AllocateBuffer, nullptr, 1, 1,
                                                    OMX_ErrorInsufficientResources));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_UseBuffer, PELLIX_TEST_PASS_THROUGH, 0, 1,
                                                    OMX_ErrorInsufficientResources));
    EXPECT_EQ(OMX_ErrorInsufficientResources, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, 2048, aucMemory.data()));
    EXPECT_EQ(OMX_ErrorInsufficientResources, OMX_AllocateBuffer(hComponent, &poHeader, 1, nullptr, 2048));
    ASSERT_EQ(OMX_ErrorNone, oClient.UseBuffers(0, {aucMemory.data()}, 2048));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 3));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(1, 4));
    ASSERT_TRUE(oClient.WaitState(OMX_StateIdle));
    ASSERT_TRUE(oClient.GoTo(OMX_StateExecuting));

    OMX_BUFFERHEADERTYPE* poInput = oClient.Buffers(0)[1];
    OMX_BUFFERHEADERTYPE* poOutput = oClient.Buffers(1)[0];
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_EmptyThisBuffer, nullptr, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorOverflow));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_FillThisBuffer, nullptr, 1, 1, OMX_ErrorUnderflow));
    EXPECT_EQ(OMX_ErrorOverflow, OMX_EmptyThisBuffer(hComponent, poInput));
    EXPECT_EQ(OMX_ErrorUnderflow, OMX_FillThisBuffer(hComponent, poOutput));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.ReturnedCount(0));
    // The refused buffers stayed with the client and can be given now.
    ASSERT_EQ(OMX_ErrorNone, OMX_EmptyThisBuffer(hComponent, poInput));
    ASSERT_EQ(OMX_ErrorNone, OMX_FillThisBuffer(hComponent, poOutput));
    ASSERT_TRUE(oClient.WaitReturned(0, 1));
    ASSERT_TRUE(oClient.WaitReturned(1, 1));

    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_FreeBuffer, nullptr, 1, 1, OMX_ErrorHardware));
    OMX_BUFFERHEADERTYPE* poLast = oClient.Buffers(1).back();
    EXPECT_EQ(OMX_ErrorHardware, OMX_FreeBuffer(hComponent, 1, poLast));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));  // the refused one included
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
}

TEST_F(TestControl, SendCommandFaultQueuesNothing)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, PELLIX_TEST_SOURCE,
                                                    OMX_CommandStateSet, 1, OMX_ErrorTimeout));
    EXPECT_EQ(OMX_ErrorTimeout, oClient.SendState(OMX_StateWaitForResources));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.PendingEvents());
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
}

TEST_F(TestControl, StateTransitionFaultIsAnsweredByAnErrorEventInsteadOfCompletion)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_StateTransition, PELLIX_TEST_SOURCE,
                                                    OMX_StateIdle, 1, OMX_ErrorInsufficientResources));
    // A transition to another state is not touched.
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));

    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInsufficientResources), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    // The refused move expects no buffers any more.
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(oClient.Handle(), &poHeader, 0, nullptr, 2048));

    ASSERT_TRUE(oClient.GoToExecuting());
    ASSERT_TRUE(oClient.GoToLoaded());
}

TEST_F(TestControl, FaultArgumentsAreChecked)
{
    EXPECT_EQ(OMX_ErrorBadParameter,
              PellixTest_InjectFault(PellixFault_KindCount, nullptr, PELLIX_ANY_INDEX, 1, OMX_ErrorUndefined));
    EXPECT_EQ(OMX_ErrorBadParameter,
              PellixTest_InjectFault(PellixFault_SendCommand, nullptr, PELLIX_ANY_INDEX, 1, OMX_ErrorNone));
    EXPECT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_SendCommand, nullptr, PELLIX_ANY_INDEX, 0, OMX_ErrorUndefined));
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_SendCommand, nullptr, PELLIX_ANY_INDEX, 5, OMX_ErrorUndefined));
    EXPECT_EQ(5u, PellixTest_PendingFaults());
    PellixTest_Reset();
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
}

// ---- Events and delays -----------------------------------------------------------------------

TEST_F(TestControl, RaisedErrorsReachTheClientsOfTheNamedComponentsFromTheirThreads)
{
    COmxTestClient oFirst(PELLIX_TEST_PASS_THROUGH);
    COmxTestClient oSecond(PELLIX_TEST_PASS_THROUGH);
    COmxTestClient oOther(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(PELLIX_TEST_PASS_THROUGH, nullptr, OMX_ErrorStreamCorrupt, 3));
    ASSERT_TRUE(oFirst.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorStreamCorrupt), 3));
    ASSERT_TRUE(oSecond.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorStreamCorrupt), 3));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, oOther.Handle(), OMX_ErrorHardware, 0));
    ASSERT_TRUE(oOther.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorHardware), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oFirst.PendingEvents());
    EXPECT_EQ(0u, oOther.PendingEvents());
    for (const COmxTestClient* poClient : {&oFirst, &oSecond, &oOther})
    {
        ASSERT_EQ(1u, poClient->CallbackThreads().size());
        EXPECT_EQ(0u, poClient->CallbackThreads().count(std::this_thread::get_id()));
    }

    EXPECT_EQ(OMX_ErrorComponentNotFound, PellixTest_RaiseError("OMX.Pellix.Nobody", nullptr, OMX_ErrorHardware, 0));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_RaiseError(nullptr, nullptr, OMX_ErrorHardware, 0));
    const OMX_HANDLETYPE hGone = oOther.Handle();
    ASSERT_EQ(OMX_ErrorNone, oOther.FreeHandle());
    EXPECT_EQ(OMX_ErrorComponentNotFound, PellixTest_RaiseError(nullptr, hGone, OMX_ErrorHardware, 0));
}

TEST_F(TestControl, DelayedCommandsCompleteNoEarlierThanTheDelay)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 300));
    auto oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    EXPECT_GE(std::chrono::steady_clock::now() - oStart, milliseconds(300));
    EXPECT_EQ(OMX_StateWaitForResources, oClient.State());

    // Buffers may come while the delayed move to Idle waits.
    oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded));
    ASSERT_TRUE(oClient.GoToExecuting());
    EXPECT_GE(std::chrono::steady_clock::now() - oStart, milliseconds(900));

    // The delay for every component applies to names without their own.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 0));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(nullptr, 200));
    COmxTestClient oOther(PELLIX_TEST_PASS_THROUGH);
    oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oOther.GoTo(OMX_StateWaitForResources));
    EXPECT_GE(std::chrono::steady_clock::now() - oStart, milliseconds(200));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(nullptr, 0));
    ASSERT_TRUE(oClient.GoToLoaded());
}

// ---- Counters --------------------------------------------------------------------------------

TEST_F(TestControl, CountersFollowTheBuffersAndFramesAndReset)
{
    COmxTestClient oSource(PELLIX_TEST_SOURCE);
    std::atomic<bool> bRunning{true};
    const OMX_HANDLETYPE hSource = oSource.Handle();
    oSource.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
        if (bRunning.load())
            OMX_FillThisBuffer(hSource, poHeader);
    });
    ASSERT_TRUE(oSource.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oSource.SubmitAll(0, false));
    ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced) >= 200; }));
    bRunning = false;
    ASSERT_TRUE(oSource.GoToLoaded());

    const unsigned long long uiFilled = PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_BuffersFilled);
    const unsigned long long uiProduced = PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced);
    EXPECT_EQ(oSource.ReturnedCount(0), uiFilled);
    // Every buffer filled carried a frame, but those handed back unfilled by the move to Idle.
    EXPECT_LE(uiProduced, uiFilled);
    EXPECT_GE(uiProduced + 4, uiFilled);
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_BuffersEmptied));
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesDropped));
    EXPECT_EQ(0u, PellixTest_GetCounter("OMX.Pellix.Nobody", PellixCounter_FramesProduced));
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_Count));

    PellixTest_Reset();
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_BuffersFilled));
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced));
}

TEST_F(TestControl, AClockedSourceDropsFramesWhileNoBufferIsFree)
{
    COmxTestClient oSource(PELLIX_TEST_SOURCE);
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate, 0);
    oRate.xEncodeFramerate = 200 << 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(oSource.Handle(), OMX_IndexConfigVideoFramerate, &oRate));
    std::atomic<bool> bRunning{true};
    std::atomic<OMX_TICKS> iLastStamp{-1};
    std::atomic<bool> bStampsIncrease{true};
    const OMX_HANDLETYPE hSource = oSource.Handle();
    oSource.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
        if (!bRunning.load())
            return;
        if (poHeader->nTimeStamp <= iLastStamp.load())
            bStampsIncrease = false;
        iLastStamp = poHeader->nTimeStamp;
        OMX_FillThisBuffer(hSource, poHeader);
    });
    ASSERT_TRUE(oSource.GoToExecuting());
    // No buffer given yet: every period is a lost frame.
    ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesDropped) >= 5; }));
    EXPECT_EQ(0u, PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced));
    ASSERT_EQ(OMX_ErrorNone, oSource.SubmitAll(0, false));
    ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(PELLIX_TEST_SOURCE, PellixCounter_FramesProduced) >= 20; }));
    bRunning = false;
    ASSERT_TRUE(oSource.GoToLoaded());
    EXPECT_TRUE(bStampsIncrease.load());
}

// ---- Simulated devices -----------------------------------------------------------------------

TEST_F(TestControl, SimulatedInputAcceptsTheSignalsOfTheEnvironmentVariableOnly)
{
    struct SHeard
    {
        unsigned uiCalls = 0;
        SSimulatedSignal oLast = SSimulatedSignal();
    } oHeard;
    CSimulatedInput& roInput = CSimulatedInput::Instance();
    roInput.AddListener(&oHeard, [](void* pvContext, const SSimulatedSignal& roSignal) {
        auto* poHeard = static_cast<SHeard*>(pvContext);
        ++poHeard->uiCalls;
        poHeard->oLast = roSignal;
    });
    const unsigned uiGeneration = roInput.Generation();

    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    SSimulatedSignal oSignal = roInput.Current();
    EXPECT_TRUE(oSignal.bPresent);
    EXPECT_TRUE(oSignal.bInterlaced);
    EXPECT_EQ(1920u, oSignal.uiWidth);
    EXPECT_EQ(1080u, oSignal.uiHeight);
    EXPECT_EQ(60u, oSignal.uiRate);
    EXPECT_EQ(uiGeneration + 1, roInput.Generation());
    EXPECT_EQ(1u, oHeard.uiCalls);
    EXPECT_TRUE(oHeard.oLast.bInterlaced);

    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    EXPECT_FALSE(roInput.Current().bPresent);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p50"));
    oSignal = roInput.Current();
    EXPECT_TRUE(oSignal.bPresent);
    EXPECT_FALSE(oSignal.bInterlaced);
    EXPECT_EQ(720u, oSignal.uiHeight);
    EXPECT_EQ(50u, oSignal.uiRate);

    for (const char* szBad : {"", "None", "1920x1080", "1920x1080x60", "0x1080p60", "1920x0p60", "1920x1080p0",
                              "1920x1081i60", "1920x1080p60 ", " 1920x1080p60", "-1920x1080p60", "1920X1080p60",
                              "99999x1080p60", "1920x1080q60", "abc"})
        EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_SetSimulatedInput(szBad)) << szBad;
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_SetSimulatedInput(nullptr));
    EXPECT_EQ(720u, roInput.Current().uiHeight);  // unchanged by the refusals
    EXPECT_EQ(3u, oHeard.uiCalls);

    roInput.RemoveListener(&oHeard);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    EXPECT_EQ(3u, oHeard.uiCalls);
}

TEST_F(TestControl, DisplaySnapshotGoesToTheRegisteredWriter)
{
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot("/tmp/never-written"));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_WriteDisplaySnapshot(nullptr));

    std::string oPathSeen;
    CTestControl::Instance().SetSnapshotWriter(&oPathSeen, [](void* pvContext, const char* szPath) {
        *static_cast<std::string*>(pvContext) = szPath;
        return OMX_ErrorNone;
    });
    EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot("/tmp/shown.yuv"));
    EXPECT_EQ("/tmp/shown.yuv", oPathSeen);
    int iOther = 0;
    CTestControl::Instance().ClearSnapshotWriter(&iOther);  // not the registered one: stays
    EXPECT_EQ(OMX_ErrorNone, PellixTest_WriteDisplaySnapshot("/tmp/again.yuv"));
    CTestControl::Instance().ClearSnapshotWriter(&oPathSeen);
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot("/tmp/never-written"));
    EXPECT_EQ("/tmp/again.yuv", oPathSeen);
}

} // namespace
