// The test-control API: fault injection of every kind, injected error events, delayed command
// completion, counters, the simulated input and the display snapshot hook.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Video.h>

#include <string>
#include <vector>

#include "COmxTestClient.h"
#include "CSimulatedInput.h"
#include "CTestControl.h"
#include "EngineTestSupport.h"

namespace
{
typedef CEngineTest TestControl;

unsigned long long Counter(PellixCounter eCounter)
{
    return PellixTest_GetCounter(PELLIX_TEST_SOURCE, eCounter);
}

double MillisecondsSince(std::chrono::steady_clock::time_point oStart)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - oStart).count();
}
} // namespace

TEST_F(TestControl, HandleFaultsFollowTheNameAndTheCount)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, PELLIX_TEST_SOURCE, PELLIX_ANY_INDEX, 2,
                                                    OMX_ErrorInsufficientResources));
    EXPECT_EQ(2u, PellixTest_PendingFaults());
    EXPECT_EQ(OMX_ErrorNone, COmxTestClient(PELLIX_TEST_PASS_THROUGH).GetHandleResult());
    for (int i = 0; i < 2; ++i)
    {
        COmxTestClient oFailing(PELLIX_TEST_SOURCE);
        EXPECT_TRUE(oFailing.GetHandleResult() == OMX_ErrorInsufficientResources && oFailing.Handle() == nullptr);
    }
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    EXPECT_EQ(OMX_ErrorNone, oClient.GetHandleResult());
    // A failed free leaves the handle alive and answering.
    const unsigned uiLive = PellixPlatform_LiveHandleCount();
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_FreeHandle, nullptr, 0, 1, OMX_ErrorHardware));
    EXPECT_EQ(OMX_ErrorHardware, oClient.FreeHandle());
    EXPECT_EQ(uiLive, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    EXPECT_EQ(OMX_ErrorNone, oClient.FreeHandle());
    EXPECT_EQ(uiLive - 1, PellixPlatform_LiveHandleCount());

    // The arguments are checked; a count of 0 arms nothing; a reset disarms everything.
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_InjectFault(PellixFault_KindCount, nullptr, 0, 1, OMX_ErrorUndefined));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_InjectFault(PellixFault_SendCommand, nullptr, 0, 1, OMX_ErrorNone));
    EXPECT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, nullptr, 0, 0, OMX_ErrorUndefined));
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, nullptr, 0, 5, OMX_ErrorUndefined));
    PellixTest_Reset();
    EXPECT_EQ(0u, PellixTest_PendingFaults());
}

TEST_F(TestControl, SettingFaultsFollowTheIndexAndAFailedSetChangesNothing)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition);
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate);
    OMX_PORT_PARAM_TYPE oPorts;
    InitStruct(oPorts);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetParameter, PELLIX_TEST_SOURCE,
                                                    OMX_IndexParamPortDefinition, 2, OMX_ErrorUndefined));
    EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(hComponent, OMX_IndexParamVideoInit, &oPorts));
    for (OMX_ERRORTYPE eExpected : {OMX_ErrorUndefined, OMX_ErrorUndefined, OMX_ErrorNone})
        EXPECT_EQ(eExpected, OMX_GetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetParameter, nullptr, PELLIX_ANY_INDEX, 1,
                                                    OMX_ErrorBadParameter));
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hComponent, OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetConfig, nullptr, OMX_IndexConfigVideoFramerate, 1,
                                                    OMX_ErrorNotReady));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SetConfig, nullptr, OMX_IndexConfigVideoFramerate, 1,
                                                    OMX_ErrorUnsupportedSetting));
    EXPECT_EQ(OMX_ErrorNotReady, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.xEncodeFramerate = 10 << 16;
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, OMX_SetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    oRate.xEncodeFramerate = 1;
    ASSERT_EQ(OMX_ErrorNone, OMX_GetConfig(hComponent, OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(0u, oRate.xEncodeFramerate);
    EXPECT_EQ(0u, PellixTest_PendingFaults());
}

TEST_F(TestControl, BufferAndCommandFaultsFollowThePortAndChangeNothing)
{
    COmxTestClient oClient(PELLIX_TEST_PASS_THROUGH);
    const OMX_HANDLETYPE hComponent = oClient.Handle();
    // A refused command is not queued.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH,
                                                    OMX_CommandStateSet, 1, OMX_ErrorTimeout));
    EXPECT_EQ(OMX_ErrorTimeout, oClient.SendState(OMX_StateWaitForResources));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.PendingEvents());

    std::vector<OMX_U8> aucMemory(2048);
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_AllocateBuffer, nullptr, 1, 1, OMX_ErrorUnderflow));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_UseBuffer, PELLIX_TEST_PASS_THROUGH, 0, 1,
                                                    OMX_ErrorInsufficientResources));
    EXPECT_EQ(OMX_ErrorInsufficientResources, OMX_UseBuffer(hComponent, &poHeader, 0, nullptr, 2048, aucMemory.data()));
    EXPECT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 1));  // the port-1 fault waits for its port
    EXPECT_EQ(OMX_ErrorUnderflow, OMX_AllocateBuffer(hComponent, &poHeader, 1, nullptr, 2048));
    ASSERT_EQ(OMX_ErrorNone, oClient.UseBuffers(0, {aucMemory.data()}, 2048));
    ASSERT_EQ(OMX_ErrorNone, oClient.AllocateBuffers(0, 2));
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
    ASSERT_TRUE(oClient.WaitReturned(0, 1) && oClient.WaitReturned(1, 1));

    ASSERT_TRUE(oClient.GoTo(OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_FreeBuffer, nullptr, 1, 1, OMX_ErrorHardware));
    EXPECT_EQ(OMX_ErrorHardware, OMX_FreeBuffer(hComponent, 1, oClient.Buffers(1).back()));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(0));
    ASSERT_EQ(OMX_ErrorNone, oClient.FreeBuffers(1));  // the refused one included
    ASSERT_TRUE(oClient.WaitState(OMX_StateLoaded));
}

TEST_F(TestControl, StateTransitionFaultsAnswerWithAnErrorEventAndCommandsCanBeDelayed)
{
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_StateTransition, PELLIX_TEST_SOURCE, OMX_StateIdle, 1,
                                                    OMX_ErrorInsufficientResources));
    // A move to another state is not touched.
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources) && oClient.GoTo(OMX_StateLoaded));
    ASSERT_EQ(OMX_ErrorNone, oClient.SendState(OMX_StateIdle));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInsufficientResources), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(0u, oClient.CountEvents(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle));
    EXPECT_EQ(OMX_StateLoaded, oClient.State());
    // The refused move expects no buffers any more.
    OMX_BUFFERHEADERTYPE* poHeader = nullptr;
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_AllocateBuffer(oClient.Handle(), &poHeader, 0, nullptr, 2048));

    // Delayed commands complete no earlier than the delay; buffers may come meanwhile; the delay
    // for every component applies to names without their own.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 300));
    auto oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources));
    EXPECT_GE(MillisecondsSince(oStart), 300);
    oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oClient.GoTo(OMX_StateLoaded) && oClient.GoToExecuting());
    EXPECT_GE(MillisecondsSince(oStart), 900);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_SOURCE, 0));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(nullptr, 200));
    COmxTestClient oOther(PELLIX_TEST_PASS_THROUGH);
    oStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(oOther.GoTo(OMX_StateWaitForResources));
    EXPECT_GE(MillisecondsSince(oStart), 200);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(nullptr, 0));
    ASSERT_TRUE(oClient.GoToLoaded());
}

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
    for (const COmxTestClient* poClient : {&oFirst, &oSecond, &oOther})
    {
        EXPECT_EQ(0u, poClient->PendingEvents());
        ASSERT_EQ(1u, poClient->CallbackThreads().size());
        EXPECT_EQ(0u, poClient->CallbackThreads().count(std::this_thread::get_id()));
    }
    EXPECT_NE(*oFirst.CallbackThreads().begin(), *oSecond.CallbackThreads().begin());
    EXPECT_EQ(OMX_ErrorComponentNotFound, PellixTest_RaiseError("OMX.Pellix.Nobody", nullptr, OMX_ErrorHardware, 0));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_RaiseError(nullptr, nullptr, OMX_ErrorHardware, 0));
    const OMX_HANDLETYPE hGone = oOther.Handle();
    ASSERT_EQ(OMX_ErrorNone, oOther.FreeHandle());
    EXPECT_EQ(OMX_ErrorComponentNotFound, PellixTest_RaiseError(nullptr, hGone, OMX_ErrorHardware, 0));
}

TEST_F(TestControl, CountersFollowTheFramesAndAClockedSourceDropsWhatFindsNoBuffer)
{
    COmxTestClient oSource(PELLIX_TEST_SOURCE);
    std::atomic<bool> bRunning{true};
    std::atomic<OMX_TICKS> iLastStamp{-1};
    std::atomic<bool> bStampsIncrease{true};
    oSource.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
        if (!bRunning)
            return;
        if (poHeader->nTimeStamp <= iLastStamp.exchange(poHeader->nTimeStamp))
            bStampsIncrease = false;
        OMX_FillThisBuffer(oSource.Handle(), poHeader);
    });
    // Free-running: a frame per buffer as soon as it comes back.
    ASSERT_TRUE(oSource.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oSource.SubmitAll(0, false));
    ASSERT_TRUE(Eventually([] { return Counter(PellixCounter_FramesProduced) >= 200; }));
    bRunning = false;
    ASSERT_TRUE(oSource.GoToLoaded());
    const unsigned long long uiFilled = Counter(PellixCounter_BuffersFilled);
    EXPECT_EQ(oSource.ReturnedCount(0), uiFilled);
    // Every buffer filled carried a frame, but those handed back unfilled by the move to Idle.
    EXPECT_LE(Counter(PellixCounter_FramesProduced), uiFilled);
    EXPECT_GE(Counter(PellixCounter_FramesProduced) + 4, uiFilled);
    EXPECT_EQ(0u, Counter(PellixCounter_BuffersEmptied) + Counter(PellixCounter_FramesDropped) +
                      Counter(PellixCounter_Count) + PellixTest_GetCounter("OMX.Pellix.Nobody", PellixCounter_BuffersFilled));
    PellixTest_Reset();
    EXPECT_EQ(0u, Counter(PellixCounter_BuffersFilled) + Counter(PellixCounter_FramesProduced));

    // Clocked at 200 frames a second: without a buffer every period is a lost frame.
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate);
    oRate.xEncodeFramerate = 200 << 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(oSource.Handle(), OMX_IndexConfigVideoFramerate, &oRate));
    bRunning = true;
    iLastStamp = -1;
    bStampsIncrease = true;  // (free-running, two frames may share a microsecond)
    ASSERT_TRUE(oSource.GoToExecuting());
    ASSERT_TRUE(Eventually([] { return Counter(PellixCounter_FramesDropped) >= 5; }));
    EXPECT_EQ(0u, Counter(PellixCounter_FramesProduced));
    ASSERT_EQ(OMX_ErrorNone, oSource.SubmitAll(0, false));
    ASSERT_TRUE(Eventually([] { return Counter(PellixCounter_FramesProduced) >= 20; }));
    bRunning = false;
    ASSERT_TRUE(oSource.GoToLoaded());
    EXPECT_TRUE(bStampsIncrease);
}

TEST_F(TestControl, SimulatedInputTakesTheSignalsOfTheEnvironmentVariableOnly)
{
    std::vector<SSimulatedSignal> aoHeard;
    CSimulatedInput& roInput = CSimulatedInput::Instance();
    roInput.AddListener(&aoHeard, [](void* pvContext, const SSimulatedSignal& roSignal) {
        static_cast<std::vector<SSimulatedSignal>*>(pvContext)->push_back(roSignal);
    });
    const unsigned uiGeneration = roInput.Generation();
    const struct
    {
        const char* szSignal;
        bool bPresent, bInterlaced;
        unsigned uiWidth, uiHeight, uiRate;
    } aoCases[] = {{"1920x1080i60", true, true, 1920, 1080, 60}, {"none", false, false, 0, 0, 0},
                   {"1280x720p50", true, false, 1280, 720, 50}};
    for (const auto& roCase : aoCases)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
        const SSimulatedSignal oSignal = roInput.Current();
        EXPECT_EQ(roCase.bPresent, oSignal.bPresent) << roCase.szSignal;
        EXPECT_TRUE(!roCase.bPresent || (oSignal.bInterlaced == roCase.bInterlaced && oSignal.uiWidth == roCase.uiWidth &&
                                         oSignal.uiHeight == roCase.uiHeight && oSignal.uiRate == roCase.uiRate))
            << roCase.szSignal;
    }
    EXPECT_EQ(uiGeneration + 3, roInput.Generation());
    ASSERT_EQ(3u, aoHeard.size());
    EXPECT_TRUE(aoHeard[0].bInterlaced);
    for (const char* szBad : {"", "None", "1920x1080", "1920x1080x60", "0x1080p60", "1920x0p60", "1920x1080p0",
                              "1920x1081i60", "1920x1080p60 ", " 1920x1080p60", "-1920x1080p60", "1920X1080p60",
                              "99999x1080p60", "1920x1080q60", "abc", static_cast<const char*>(nullptr)})
        EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_SetSimulatedInput(szBad)) << (szBad ? szBad : "null");
    EXPECT_EQ(720u, roInput.Current().uiHeight);  // unchanged by the refusals
    roInput.RemoveListener(&aoHeard);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    EXPECT_EQ(3u, aoHeard.size());
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
