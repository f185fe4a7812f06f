// The platform component wrapper on the platform engine: every failure path with its chain of
// ABORT records and a clean teardown after it, the event accounting, buffers on the way, chains of
// software and platform components started and stopped a hundred times; and the buffer FIFO
// between threads.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "ComponentTestSupport.h"
#include "LibraryTestSupport.h"
#include "PlatformTestSupport.h"
#include "base-components/CFifo.h"

namespace
{
const std::string local_oBase = "framework/base-components/", local_oC = local_oBase + "OMXClassComponent/",
                  local_oP = local_oBase + "OMXClassPort/", local_oS = local_oBase + "CSourceComponent/",
                  local_oW = "tests/" + local_oBase + "PlatformTestSupport/";

std::string Key(const std::string& roFile, const char* szFunction, OMX_ERRORTYPE eError)
{
    return roFile + szFunction + "/" + CComponent::ErrorToStr(eError);
}

void Arm(PellixFaultKind eKind, const char* szName, OMX_U32 uiIndex, OMX_ERRORTYPE eError)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(eKind, szName, uiIndex, 1, eError));
}

// A consumer blocked in WaitNotEmpty on its own thread.
std::future<OMX_ERRORTYPE> Waiter(CFifo& roFifo)
{
    auto o = std::async(std::launch::async, [&roFifo] { return roFifo.WaitNotEmpty(0xFFFFFFFF); });
    EXPECT_TRUE(Eventually([&] { return roFifo.IsWaiting(); }));
    return o;
}
bool Returned(std::future<OMX_ERRORTYPE>& roWaiter, std::chrono::milliseconds oBound = std::chrono::seconds(20))
{
    return roWaiter.wait_for(oBound) == std::future_status::ready;
}

typedef CEngineTest OMXComponent;
} // namespace

TEST(CFifo, HoldsThirtyOneInOrderAndWakesOneCountedWaiterPerWriteOrUnblock)
{
    CFifo oFifo;
    std::vector<OMX_BUFFERHEADERTYPE> aoHeaders(32);
    OMX_BUFFERHEADERTYPE* hRead = &aoHeaders[5];
    EXPECT_TRUE(oFifo.Read(&hRead) == OMX_ErrorUndefined && hRead == &aoHeaders[5]);  // untouched
    // Rounds of 31 in (the 32nd dropped without a word), then 25 in and out: the indices pass the
    // end of the ring.
    for (size_t uiRound = 0, uiCount = 31; uiRound < 4; ++uiRound, uiCount = 25)
    {
        for (size_t i = 0; i <= uiCount; ++i)
            EXPECT_TRUE(oFifo.IsFull() == (i == 31) && Ok(oFifo.Write(&aoHeaders[i])));
        for (size_t i = 0; i < uiCount + (uiCount < 31 ? 1 : 0); ++i)
            EXPECT_TRUE(Ok(oFifo.Read(&hRead)) && hRead == &aoHeaders[i]) << uiRound << " " << i;
        EXPECT_TRUE(oFifo.IsEmpty());
    }
    // A wait on a full FIFO returns at once; one on an empty one is woken by a write, or by an
    // unblock with the FIFO still empty; an unblock without a waiter leaves nothing pending.
    oFifo.Write(&aoHeaders[0]);
    EXPECT_TRUE(Ok(oFifo.WaitNotEmpty(0xFFFFFFFF)) && !oFifo.IsWaiting() && Ok(oFifo.Read(&hRead)));
    std::future<OMX_ERRORTYPE> oWaiter = Waiter(oFifo);
    EXPECT_FALSE(Returned(oWaiter, std::chrono::milliseconds(0)));
    oFifo.Write(&aoHeaders[1]);
    ASSERT_TRUE(Returned(oWaiter) && Ok(oWaiter.get()) && !oFifo.IsWaiting() && Ok(oFifo.Read(&hRead)) &&
                hRead == &aoHeaders[1]);
    oWaiter = Waiter(oFifo);
    oFifo.UnBlockWaitFifo();
    ASSERT_TRUE(Returned(oWaiter) && Ok(oWaiter.get()) && oFifo.IsEmpty() && !oFifo.IsWaiting());
    oFifo.UnBlockWaitFifo();
    oWaiter = Waiter(oFifo);
    EXPECT_FALSE(Returned(oWaiter, std::chrono::milliseconds(50)));
    oFifo.Write(&aoHeaders[2]);
    ASSERT_TRUE(Returned(oWaiter) && Ok(oFifo.Read(&hRead)));
    // Two waiters: each unblock releases one counted waiter, until none is counted.
    std::future<OMX_ERRORTYPE> aoWaiters[2] = {Waiter(oFifo), Waiter(oFifo)};
    ASSERT_TRUE(Eventually([&] {
        oFifo.UnBlockWaitFifo();
        return Returned(aoWaiters[0], std::chrono::milliseconds(0)) &&
               Returned(aoWaiters[1], std::chrono::milliseconds(0));
    }));
    EXPECT_FALSE(oFifo.IsWaiting());
}

TEST_F(OMXComponent, HandlesCommandsAndStartsFailWithTheirRecordsAndLeaveNothing)
{
    // A refused port command comes back with its record; a failed free keeps the handle for a second
    // Deinit, the control handle's turn comes after.
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    oFilter.m_szCtrlName = PELLIX_TEST_SOURCE;
    ASSERT_TRUE(Ok(oFilter.Init()) && oFilter.GetCtrlState() == OMX_StateLoaded);
    Arm(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH, OMX_CommandPortDisable, OMX_ErrorHardware);
    EXPECT_EQ(std::vector<std::string>{Key(local_oC, "EnablePort", OMX_ErrorHardware)},
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oFilter.EnablePort(0, 0)); }));
    Arm(PellixFault_FreeHandle, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Deinit", OMX_ErrorHardware),
                                        Key(local_oW, "Deinit", OMX_ErrorHardware)}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oFilter.Deinit()); }));
    EXPECT_TRUE(oFilter.GetOMXHandle() != nullptr && PellixPlatform_LiveHandleCount() == m_uiLiveBefore + 2);
    Arm(PellixFault_FreeHandle, PELLIX_TEST_SOURCE, PELLIX_ANY_INDEX, OMX_ErrorTimeout);
    EXPECT_EQ(2u, AbortKeys([&] { EXPECT_EQ(OMX_ErrorTimeout, oFilter.Deinit()); }).size());
    EXPECT_TRUE(oFilter.GetOMXHandle() == nullptr && oFilter.GetOMXCtrlHandle() != nullptr);
    EXPECT_TRUE(AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit()); }).empty());
    EXPECT_EQ(OMX_StateInvalid, oFilter.GetCtrlState());
    // A handle not had: the platform's code up the chain and a line on standard error; Deinit then
    // frees nothing (a free would take this fault).
    CTestOMXWrapper oFailing(PELLIX_TEST_PASS_THROUGH, {}, {});
    const OMX_ERRORTYPE eResources = OMX_ErrorInsufficientResources;
    Arm(PellixFault_GetHandle, PELLIX_TEST_PASS_THROUGH, 0, eResources);
    std::string oSaid;
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Init", eResources), Key(local_oW, "Init", eResources)}),
              AbortKeys([&] { EXPECT_EQ(eResources, oFailing.Init()); }, &oSaid));
    EXPECT_EQ("OMX_GetHandle(" PELLIX_TEST_PASS_THROUGH ") fails", oSaid);
    PellixTest_Reset();
    Arm(PellixFault_FreeHandle, nullptr, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_TRUE(AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oFailing.Deinit()); }).empty() &&
                PellixTest_PendingFaults() == 1);
    PellixTest_Reset();
    // A start whose step fails returns the platform's code up the chain; the teardown after it is
    // clean. The fifth allocation is refused on a port of four, all four go back and the port can
    // be set again; refused in idle, the component stays idle with its buffers and the stop takes
    // it down.
    const OMX_ERRORTYPE eHardware = OMX_ErrorHardware, eState = OMX_ErrorIncorrectStateOperation,
                        eBad = OMX_ErrorBadParameter;
    const struct
    {
        PellixFaultKind eKind;  // PellixFault_KindCount: none, a hook or the count fails instead
        OMX_U32 uiIndex;
        OMX_ERRORTYPE eError, eParameters, eParametersIdle;
        MUINT32 uiProvide;
        std::string oTail;  // the record below the filter's Execute
    } aoCases[] = {
        {PellixFault_SendCommand, OMX_CommandStateSet, eHardware, OMX_ErrorNone, OMX_ErrorNone, 0,
         Key(local_oC, "SetState", eHardware)},
        {PellixFault_AllocateBuffer, 0, eHardware, OMX_ErrorNone, OMX_ErrorNone, 0,
         Key(local_oP, "AllocBuffers", eHardware)},
        {PellixFault_KindCount, 0, eState, OMX_ErrorNone, OMX_ErrorNone, 5, Key(local_oP, "AllocBuffers", eState)},
        {PellixFault_KindCount, 0, eBad, eBad, OMX_ErrorNone, 0, Key(local_oW, "SetParameters", eBad)},
        {PellixFault_KindCount, 0, OMX_ErrorUnsupportedSetting, OMX_ErrorNone, OMX_ErrorUnsupportedSetting, 0, ""}};
    for (const auto& ro : aoCases)
    {
        SCOPED_TRACE(CComponent::ErrorToStr(ro.eError));
        SSoftwareChain oChain;
        oChain.m_oFilter.m_aoInputSpec[0].uiProvideCount = ro.uiProvide;
        oChain.Init();
        if (ro.eKind != PellixFault_KindCount)
            Arm(ro.eKind, PELLIX_TEST_PASS_THROUGH, ro.uiIndex, ro.eError);
        oChain.m_oFilter.m_eSetParametersResult = ro.eParameters;
        oChain.m_oFilter.m_eSetParametersIdleResult = ro.eParametersIdle;
        std::vector<std::string> aoExpected = {Key(local_oC, "Execute", ro.eError), Key(local_oS, "Execute", ro.eError),
                                               Key(local_oS, "Start", ro.eError)};
        if (!ro.oTail.empty())
            aoExpected.insert(aoExpected.begin(), ro.oTail);
        EXPECT_EQ(aoExpected, AbortKeys([&] { EXPECT_EQ(ro.eError, oChain.m_oSource.Start()); }));
        const bool bIdle = ro.eParametersIdle != OMX_ErrorNone;
        EXPECT_TRUE(PellixTest_PendingFaults() == 0 && oChain.m_oSink.Count() == 0 &&
                    !oChain.m_oSource.IsBufferProcessing() &&
                    PlatformState(oChain.m_oFilter.GetOMXHandle()) == (bIdle ? OMX_StateIdle : OMX_StateLoaded) &&
                    oChain.m_oFilter.m_oOutput.IsBufferReady() == bIdle);
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition);
        EXPECT_TRUE(ro.uiProvide == 0 ||
                    (oChain.m_oFilter.m_aoInput[0].GetBufferCount() == 0 &&
                     Ok(oChain.m_oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition)) &&
                     Ok(oChain.m_oFilter.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition))));
        EXPECT_TRUE(AbortKeys([&] { oChain.TearDown(); }).empty());
    }
}

TEST_F(OMXComponent, BuffersGotHalfWayAreGivenBackAndAStopFailingHalfWayCanBeFinished)
{
    // Using the source's memory: refused at once, or for the fourth of four buffers on a port of
    // three (the filter's move to idle delayed, so that it cannot complete before the failed call
    // gave its buffers back). The source, whose buffers were all there, reaches idle on its own;
    // the stop takes it back to loaded.
    for (OMX_U32 nTaken : {0u, 3u})
    {
        const OMX_ERRORTYPE eError = nTaken == 0 ? OMX_ErrorInsufficientResources : OMX_ErrorIncorrectStateOperation;
        SPlatformChain oChain(true, 1, {0, false, nTaken});
        oChain.Init();
        if (nTaken == 0)
            Arm(PellixFault_UseBuffer, PELLIX_TEST_PASS_THROUGH, 0, eError);
        ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, nTaken == 0 ? 0 : 300));
        EXPECT_EQ((std::vector<std::string>{Key(local_oP, "UseRemoteBuffers", eError), Key(local_oC, "Execute", eError),
                                            Key(local_oC, "Execute", eError), Key(local_oC, "Start", eError)}),
                  AbortKeys([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
        EXPECT_TRUE(!oChain.m_oFirst.m_aoInput[0].IsBufferReady() &&
                    oChain.m_oFirst.m_aoInput[0].GetBufferHeader(0) == nullptr);
        ASSERT_TRUE(Eventually([&] { return oChain.m_oSource.GetComponentState() == OMX_StateIdle; }));
        EXPECT_TRUE(AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop()); }).empty());
        EXPECT_TRUE(PlatformState(oChain.m_oSource.GetOMXHandle()) == OMX_StateLoaded &&
                    !oChain.m_oSource.m_oOutput.IsBufferReady());
        PellixTest_Reset();
        oChain.Deinit();
    }
    SPlatformChain oChain(true, 1, {0, false});
    oChain.Init();
    ASSERT_TRUE(Ok(oChain.m_oSource.Start()) && Eventually([&] { return oChain.m_oSink.Count() >= 8; }));
    // The move to idle refused; a second stop finishes it.
    const OMX_ERRORTYPE eError = OMX_ErrorHardware;
    const OMX_HANDLETYPE hSource = oChain.m_oSource.GetOMXHandle();
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError),
                                        Key(local_oC, "StopBufferProcessing", eError), Key(local_oC, "Stop", eError)}),
              AbortKeys([&] { EXPECT_EQ(eError, oChain.m_oSource.Stop()); }));
    EXPECT_EQ(OMX_StateExecuting, PlatformState(hSource));
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.StopBufferProcessing());
    EXPECT_TRUE(PlatformState(hSource) == OMX_StateIdle &&
                PlatformState(oChain.m_oFirst.GetOMXHandle()) == OMX_StateIdle);
    // The move to loaded refused; then a buffer that cannot be freed: the release stops there.
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError), Key(local_oC, "Loaded", eError)}),
              AbortKeys([&] { EXPECT_EQ(eError, oChain.m_oSource.Loaded(0)); }));
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_SOURCE, 0, OMX_ErrorTimeout);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", OMX_ErrorTimeout),
                                        Key(local_oC, "Loaded", OMX_ErrorTimeout)}),
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorTimeout, oChain.m_oSource.Loaded(0)); }));
    EXPECT_TRUE(oChain.m_oSource.m_oOutput.IsBufferReady() && oChain.m_oSource.m_oOutput.GetBufferHeader(0) != nullptr);
    // The filter downstream was never taken down by the failed Loaded: its own does it.
    EXPECT_TRUE(Ok(oChain.m_oFirst.Loaded(0)) && PlatformState(oChain.m_oFirst.GetOMXHandle()) == OMX_StateLoaded);
    // A port that cannot free fails Deinit until it can; the port forgets its table, the platform
    // component frees the buffers with its handle.
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_SOURCE, 0, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", eError), Key(local_oP, "Deinit", eError),
                                        Key(local_oW, "Deinit", eError)}),
              AbortKeys([&] { EXPECT_EQ(eError, oChain.m_oSource.Deinit()); }));
    EXPECT_TRUE(oChain.m_oSource.GetOMXHandle() != nullptr && !oChain.m_oSource.m_oOutput.IsBufferReady());
    EXPECT_TRUE(AbortKeys([&] { oChain.Deinit(); }).empty());
}

TEST_F(OMXComponent, EventsAreCountedForTheirWaitsAndAWaitGoesOnPastARefusedCompletion)
{
    SSoftwareChain oChain;
    oChain.m_oFilter.m_szCtrlName = PELLIX_TEST_PORTLESS;
    oChain.Init();
    CTestOMXWrapper& roFilter = oChain.m_oFilter;
    const OMX_HANDLETYPE hFilter = roFilter.GetOMXHandle(), hCtrl = roFilter.GetOMXCtrlHandle();
    // Completions of port commands and the end of stream are counted, the rest only logged (error
    // events too, in order with the rest); a wait for an event outside the range is ignored.
    const std::string oText = LogOf(1, [&] {
        for (const std::vector<OMX_U32>& ro : std::vector<std::vector<OMX_U32>>{
                 {OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_EOS}, {OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_ENDOFFRAME},
                 {OMX_EventCmdComplete, OMX_CommandPortEnable, 1}, {OMX_EventCmdComplete, OMX_CommandFlush, 1},
                 {OMX_EventPortSettingsChanged, 1, 2}})
            EXPECT_EQ(OMX_ErrorNone, COMXComponent::CallbackOMXEvent(hFilter, &roFilter, OMX_EVENTTYPE(ro[0]), ro[1],
                                                                     ro[2], nullptr));
        ASSERT_TRUE(Ok(PellixTest_RaiseError(nullptr, hFilter, OMX_ErrorHardware, 0)) &&
                    Ok(roFilter.EnablePort(1, 0)) && Ok(roFilter.EnablePort(1, 1)));
    });
    EXPECT_TRUE(roFilter.PendingEvents(OMXEvent_EOSBuffer) == 1 &&
                roFilter.PendingEvents(OMXEvent_EnableDisablePort) == 1);
    EXPECT_TRUE(Occurrences(oText, "# CallbackOMXEvent     Unhandled event, param1 = 1, param2 = 2.\n") == 1 &&
                Occurrences(oText, "# CallbackOMXEvent     OMX_EventError\n") == 1) << oText;
    roFilter.WaitOMXEvent(OMXEvent_EOSBuffer);
    roFilter.WaitOMXEvent(OMXEvent_EnableDisablePort);
    roFilter.WaitOMXEvent(OMXEvent_LastEvent);
    roFilter.PostOMXEvent(hFilter, OMXEvent_LastEvent, 0);
    EXPECT_TRUE(roFilter.PendingEvents(OMXEvent_EOSBuffer) == 0 &&
                roFilter.PendingEvents(OMXEvent_EnableDisablePort) == 0);
    // A completion that came before the wait is not lost; one of the control component makes the
    // wait for the main one take a second event; two of another handle end a wait as failed.
    ASSERT_TRUE(Ok(roFilter.SetParameters()) && Ok(roFilter.ScheduleStateTransition(hFilter, OMX_StateIdle)));
    ASSERT_TRUE(Ok(roFilter.m_aoInput[0].AllocBuffers()) && Ok(roFilter.m_oOutput.AllocBuffers()));
    ASSERT_TRUE(Eventually([&] { return roFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    const auto fnWaitFor = [&](OMX_STATETYPE eState) {
        return LogOf(0, [&] { EXPECT_EQ(OMX_ErrorNone, roFilter.WaitForStateTransition(hFilter, eState)); });
    };
    EXPECT_EQ(0u, Occurrences(fnWaitFor(OMX_StateIdle), "Wait"));
    ASSERT_TRUE(Ok(roFilter.ScheduleStateTransition(hCtrl, OMX_StateIdle)) &&
                Eventually([&] { return roFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    ASSERT_TRUE(Ok(PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 300)) &&
                Ok(roFilter.ScheduleStateTransition(hFilter, OMX_StatePause)));
    EXPECT_EQ(1u, Occurrences(fnWaitFor(OMX_StatePause), "# WaitForStateTransition Wait next OMX event...\n"));
    EXPECT_TRUE(roFilter.GetCtrlState() == OMX_StateIdle && roFilter.GetComponentState() == OMX_StatePause &&
                roFilter.PendingEvents(OMXEvent_StateChanged) == 0);
    ASSERT_TRUE(Ok(PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 0)) &&
                Ok(roFilter.ScheduleAndWaitStateTransition(hFilter, OMX_StateIdle)));
    EXPECT_TRUE(Ok(roFilter.Loaded(0)) && PlatformState(hFilter) == OMX_StateLoaded &&
                roFilter.GetCtrlState() == OMX_StateLoaded && roFilter.PendingEvents(OMXEvent_StateChanged) == 0);
    roFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    roFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    EXPECT_TRUE(roFilter.WaitForStateTransition(hFilter, OMX_StateIdle) == OMX_ErrorInvalidState &&
                roFilter.PendingEvents(OMXEvent_StateChanged) == 0 && Ok(roFilter.Deinit()) &&
                Ok(oChain.m_oSource.Deinit()));
    // A start waiting for a refused completion goes on with the next one (the teardown of a
    // failing start hung when a free raced a state command).
    SSoftwareChain oRefused;
    oRefused.Init();
    Arm(PellixFault_StateTransition, PELLIX_TEST_PASS_THROUGH, OMX_StateExecuting, OMX_ErrorHardware);
    std::future<OMX_ERRORTYPE> oStart = std::async(std::launch::async, [&] { return oRefused.m_oSource.Start(); });
    ASSERT_TRUE(Eventually([] { return PellixTest_PendingFaults() == 0; }));
    EXPECT_TRUE(oStart.wait_for(std::chrono::milliseconds(200)) == std::future_status::timeout &&
                PlatformState(oRefused.m_oFilter.GetOMXHandle()) == OMX_StateIdle);
    ASSERT_EQ(OMX_ErrorNone,
              OMX_SendCommand(oRefused.m_oFilter.GetOMXHandle(), OMX_CommandStateSet, OMX_StateExecuting, nullptr));
    EXPECT_TRUE(oStart.get() == OMX_ErrorNone && oRefused.m_oFilter.GetComponentState() == OMX_StateExecuting);
    oRefused.TearDown();
}

TEST_F(OMXComponent, UnknownBuffersAreRefusedAndFramesGoBackOnceTheirFieldsAre)
{
    // Memory no port of a filter knows is refused with records.
    SSoftwareChain oChain;
    oChain.Init();
    OMX_U8 aucElsewhere[16];
    OMX_BUFFERHEADERTYPE oStranger{};
    oStranger.pBuffer = aucElsewhere;
    std::vector<std::string> aoExpected;
    for (const char* szFunction : {"EmptyThisBuffer", "FillThisBuffer", "FillBufferDone", "EmptyBufferDone"})
        aoExpected.push_back(Key(local_oC, szFunction, OMX_ErrorBadParameter));
    EXPECT_EQ(aoExpected, AbortKeys([&] {
                  for (auto pfn : {&COMXComponent::EmptyThisBuffer, &COMXComponent::FillThisBuffer,
                                   &COMXComponent::FillBufferDone, &COMXComponent::EmptyBufferDone})
                      EXPECT_EQ(OMX_ErrorBadParameter, (oChain.m_oFilter.*pfn)(&oStranger));
              }));
    oChain.TearDown();
    // A wrapper without a platform handle whose interlaced input adopts two frames as four field
    // headers of its own, each field half a frame, the odd one that far in; both fields marked
    // before either goes on; the frame goes back up once, when its last field is done, named by
    // its first. Deinit forgets everything but the side.
    const SPortBufferInfo oFrames = {OMX_COLOR_FORMATTYPE(25), 64 * 16 * 2, 64, 16};
    std::vector<OMX_U8> aucMemory(2 * oFrames.uiBufferSize);
    CRecordingComponent oProducer;
    ASSERT_EQ(OMX_ErrorNone, oProducer.Init());
    oProducer.m_oOutput.FakeProvide(oFrames, aucMemory.data(), 2);
    CTestOMXWrapper oFields("OMX.Pellix.Test.NotOpened", {{7, false}}, {});
    ASSERT_TRUE(Ok(oFields.InitPorts()) && Ok(oProducer.ConnectTo(0, &oFields, 0)));
    CSinkPort& roInput = oFields.m_aoInput[0];
    roInput.SetInterlaced(true);
    ASSERT_TRUE(Ok(roInput.UseRemoteBuffers()) && roInput.IsBufferReady() && !roInput.IsBufferProvider() &&
                roInput.GetBufferCount() == 4 && roInput.GetOddFieldOffset() == 1024 &&
                roInput.GetPortBufferInfo().uiHeight == 8);
    for (MUINT32 uiFrame = 0; uiFrame < 2; ++uiFrame)
    {
        OMX_BUFFERHEADERTYPE* poFrame = oProducer.m_oOutput.GetBufferHeader(uiFrame);
        poFrame->nFilledLen = oFrames.uiBufferSize;
        poFrame->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | OMXBufferFlag_SecondField;
        EXPECT_EQ(OMX_ErrorNone, oFields.EmptyThisBuffer(poFrame));
        for (MUINT32 uiField = 0; uiField < 2; ++uiField)
        {
            const OMX_BUFFERHEADERTYPE* po = roInput.GetBufferHeader(2 * uiFrame + uiField);
            EXPECT_TRUE(po->nFlags == OMX_U32(OMX_BUFFERFLAG_ENDOFFRAME |
                                              (uiField ? OMXBufferFlag_FieldMask : OMXBufferFlag_Field)) &&
                        po->nFilledLen == 1024 && po->nAllocLen == 1024 &&
                        po->pBuffer == poFrame->pBuffer + uiField * 1024 && po->nSize == sizeof(OMX_BUFFERHEADERTYPE) &&
                        po->nVersion.s.nVersionMajor == 1 &&
                        po->nInputPortIndex == 7 && po->nOutputPortIndex == 7 && po->pAppPrivate == nullptr)
                << uiFrame << " " << uiField;
        }
    }
    const MUINT32 auiOrder[] = {1, 0, 2, 3};
    const unsigned auiReturnsAfter[] = {0, 1, 1, 2};
    for (unsigned i = 0; i < 4; ++i)
        EXPECT_TRUE(Ok(oFields.EmptyBufferDone(roInput.GetBufferHeader(auiOrder[i]))) &&
                    (roInput.GetBufferHeader(auiOrder[i])->nFlags & OMXBufferFlag_FieldMask) == 0 &&
                    oProducer.Count(CRecordingComponent::Op_FillThisBuffer) == auiReturnsAfter[i]) << i;
    EXPECT_TRUE(oProducer.Last(CRecordingComponent::Op_FillThisBuffer) == roInput.GetBufferHeader(2) &&
                Ok(roInput.Deinit()));
    EXPECT_TRUE(!roInput.IsInterlaced() && roInput.GetOddFieldOffset() == 0 && roInput.GetRemotePort() == nullptr &&
                roInput.GetParent() == nullptr && roInput.GetBufferHeader(0) == nullptr &&
                roInput.GetState() == CPort::PortState_Sink);
}

class ComponentChain : public CEngineTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ComponentChain, PlatformSourceThroughTwoPassThroughsIntoASinkAndAHundredCyclesLeaveNothing)
{
    // Each link: one side allocates, the other uses the same memory under headers of its own, found
    // from the neighbour's by address both ways. A hundred start/stop cycles, each of the platform
    // chain and of a software head (default source, one filter, sink), leave no thread, handle,
    // buffer or record behind; every hand-over along the chain is matched by its return, and the
    // platform's counts agree (a buffer arriving as a filter stops is kept, at most one per buffer
    // and stop).
    SPlatformChain oChain(GetParam());
    SSoftwareChain oHead;
    EXPECT_TRUE(AbortKeys([&] {
        for (int iCycle = 0; iCycle < 100 && !HasFailure(); ++iCycle)
        {
            oChain.Init();
            const size_t uiSinkStart = oChain.m_oSink.Count();
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start()) << iCycle;
            for (const auto& roLink : {std::make_pair(&oChain.m_oSource, &oChain.m_oFirst),
                                       std::make_pair(&oChain.m_oFirst, &oChain.m_oSecond)})
                for (MUINT32 i = 0; i < 4; ++i)
                {
                    CPort& roOut = roLink.first->m_oOutput;
                    OMX_BUFFERHEADERTYPE *poLocal = nullptr, *poBack = nullptr;
                    ASSERT_TRUE(roOut.IsBufferProvider() == GetParam() &&
                                roLink.second->m_aoInput[0].IsBufferProvider() != GetParam() &&
                                roLink.second->FindLocalBufferHeader(roOut.GetBufferHeader(i), &poLocal, 0) ==
                                    &roLink.second->m_aoInput[0] &&
                                poLocal != roOut.GetBufferHeader(i) &&
                                poLocal->pBuffer == roOut.GetBufferHeader(i)->pBuffer &&
                                roLink.first->FindLocalBufferHeader(poLocal, &poBack, 0) == &roOut &&
                                poBack == roOut.GetBufferHeader(i));
                }
            ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.Count() >= uiSinkStart + (iCycle == 0 ? 40 : 8); }))
                << iCycle;
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop()) << iCycle;
            for (CTestOMXWrapper* po : {&oChain.m_oSource, &oChain.m_oFirst, &oChain.m_oSecond})
                ASSERT_TRUE(PlatformState(po->GetOMXHandle()) == OMX_StateLoaded && !po->IsBuffersReady()) << iCycle;
            oChain.Deinit();
            oHead.Init();
            const size_t uiHeadStart = oHead.m_oSink.Count();
            ASSERT_TRUE(Ok(oHead.m_oSource.Start()) &&
                        Eventually([&] { return oHead.m_oSink.Count() >= uiHeadStart + 8; }))
                << iCycle;
            oHead.TearDown();
            // A joined thread may linger in /proc for a moment after its join.
            ASSERT_TRUE(Eventually([&] { return ThreadCount() == m_uiThreadsBefore; })) << iCycle;
        }
    }).empty());
    unsigned long long uiEmptied = oHead.m_oFilter.m_uiEmptyBufferDone, uiFilled = oHead.m_oFilter.m_uiFillBufferDone;
    CTestOMXWrapper* apo[] = {&oChain.m_oSource, &oChain.m_oFirst, &oChain.m_oSecond};
    for (size_t ui = 1; ui < 3; ++ui)
    {
        EXPECT_TRUE(apo[ui - 1]->m_uiFillBufferDone - apo[ui - 1]->m_uiFillRefused == apo[ui]->m_uiEmptyThisBuffer &&
                    apo[ui]->m_uiEmptyBufferDone - apo[ui]->m_uiEmptyRefused == apo[ui - 1]->m_uiFillThisBuffer &&
                    apo[ui]->m_uiEmptyBufferDone <= apo[ui]->m_uiEmptyThisBuffer &&
                    apo[ui]->m_uiEmptyThisBuffer <= apo[ui]->m_uiEmptyBufferDone + 8 * 100)
            << ui;
        uiEmptied += apo[ui]->m_uiEmptyBufferDone;
        uiFilled += apo[ui]->m_uiFillBufferDone;
    }
    EXPECT_TRUE(oChain.m_oSecond.m_uiFillBufferDone == oChain.m_oSink.Count() &&
                oChain.m_oSink.Count() == oChain.m_oSecond.m_uiFillThisBuffer &&
                oHead.m_oFilter.m_uiFillBufferDone == oHead.m_oSink.Count());
    EXPECT_TRUE(uiEmptied == PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersEmptied) &&
                uiFilled == PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersFilled));
}

INSTANTIATE_TEST_SUITE_P(Providers, ComponentChain, ::testing::Values(true, false));
