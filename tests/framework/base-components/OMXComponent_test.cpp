// The platform component wrapper on the platform engine: every failure path with its chain of
// ABORT records and a clean teardown after it, the event accounting, buffers on the way, chains
// of software and platform components; and the buffer FIFO between threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "AbortRecords.h"
#include "COmxTestClient.h"
#include "ComponentTestSupport.h"
#include "OutputCapture.h"
#include "PlatformTestSupport.h"
#include "base-components/CFifo.h"

namespace
{
const std::string local_oC = "framework/base-components/OMXClassComponent/";
const std::string local_oP = "framework/base-components/OMXClassPort/";
const std::string local_oS = "framework/base-components/CSourceComponent/";
const std::string local_oW = "tests/framework/base-components/PlatformTestSupport/";

std::string Key(const std::string& roFile, const char* szFunction, OMX_ERRORTYPE eError)
{
    return roFile + szFunction + "/" + CComponent::ErrorToStr(eError);
}

std::string Printf(const char* szFormat, const void* pvFirst, const void* pvSecond = nullptr)
{
    char szText[256];
    snprintf(szText, sizeof(szText), szFormat, pvFirst, pvSecond);
    return szText;
}

size_t Occurrences(const std::string& roText, const std::string& roPart)
{
    size_t uiCount = 0;
    for (size_t uiAt = roText.find(roPart); uiAt != std::string::npos; uiAt = roText.find(roPart, uiAt + 1))
        ++uiCount;
    return uiCount;
}

class OMXComponent : public PlatformTest
{
protected:
    // Runs fn with standard error captured: the keys of its ABORT records, each naming a line of
    // an error check; anything else written there goes to *poOther, or must be nothing.
    template <typename TFn>
    static std::vector<std::string> Records(TFn fn, std::string* poOther = nullptr)
    {
        std::string oOther;
        const auto aoRecords = CaptureAbortRecords(fn, oOther);
        for (const SAbortRecord& roRecord : aoRecords)
            EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
        EXPECT_TRUE(poOther != nullptr || oOther.empty()) << oOther;
        if (poOther != nullptr)
            *poOther = oOther;
        return AbortRecordKeys(aoRecords);
    }
    template <typename TFn>
    static std::string Output(int iLevel, TFn fn)
    {
        SetInfoMessageLevel(iLevel);
        COutputCapture oOut(STDOUT_FILENO);
        fn();
        SetInfoMessageLevel(0);
        return oOut.Finish();
    }
    static void Arm(PellixFaultKind eKind, const char* szName, OMX_U32 uiIndex, OMX_ERRORTYPE eError)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(eKind, szName, uiIndex, 1, eError));
    }
};

// Default source -> pass-through (allocating both sides) -> sink.
struct SSoftwareChain
{
    SSoftwareChain() : m_oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}}) { m_oSource.SetFrameSize(64, 16); }
    void Init()
    {
        ASSERT_TRUE(Ok(m_oSource.Init()) && Ok(m_oFilter.Init()));
        ASSERT_TRUE(Ok(m_oSource.ConnectTo(0, &m_oFilter, 0)) && Ok(m_oFilter.ConnectTo(0, &m_oSink, 0)));
    }
    // Stops from the head and deinitialises; afterwards nothing may be left.
    void TearDown()
    {
        EXPECT_TRUE(Ok(m_oSource.Stop()) && Ok(m_oFilter.Deinit()) && Ok(m_oSource.Deinit()));
        EXPECT_TRUE(!m_oSource.GetOutputPort().IsBufferReady() && !m_oFilter.m_aoInput[0].IsBufferReady() &&
                    !m_oFilter.m_oOutput.IsBufferReady() && m_oFilter.GetOMXHandle() == nullptr);
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
    CDefaultSource m_oSource;
    CTestOMXWrapper m_oFilter;
    CCountingSink m_oSink;
};

// Platform source -> pass-through -> pass-through -> sink; bUpstreamProvides chooses, on each
// platform link, whether the output or the input allocates; nFilters 0 or 1 shortens it.
struct SPlatformChain
{
    SPlatformChain(bool bUpstreamProvides, unsigned uiFilters = 2, SWrapperPort oFirstInput = {0, false})
        : m_uiFilters(uiFilters), m_oSource(PELLIX_TEST_SOURCE, {}, {{0, bUpstreamProvides}}),
          m_oFirst(PELLIX_TEST_PASS_THROUGH, {oFirstInput}, {{1, bUpstreamProvides || uiFilters == 1}}),
          m_oSecond(PELLIX_TEST_PASS_THROUGH, {{0, !bUpstreamProvides}}, {{1, true}})
    {
        m_oFirst.m_aoInputSpec[0].bProvider = oFirstInput.bProvider || !bUpstreamProvides;
    }
    void Init()
    {
        CTestOMXWrapper* apoStages[] = {&m_oSource, &m_oFirst, &m_oSecond};
        for (unsigned ui = 0; ui <= m_uiFilters; ++ui)
            ASSERT_EQ(OMX_ErrorNone, apoStages[ui]->Init());
        for (unsigned ui = 0; ui <= m_uiFilters; ++ui)
            ASSERT_EQ(OMX_ErrorNone, ui < m_uiFilters ? apoStages[ui]->ConnectTo(0, apoStages[ui + 1], 0)
                                                      : apoStages[ui]->ConnectTo(0, &m_oSink, 0));
    }
    void Deinit()
    {
        EXPECT_TRUE(Ok(m_oSink.Deinit()) && Ok(m_oSecond.Deinit()) && Ok(m_oFirst.Deinit()) && Ok(m_oSource.Deinit()));
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
    // Every hand-over along the chain is matched by its return, and the platform's counts agree
    // (a duplicated header would have been refused, a lost one would have kept a component from
    // reaching loaded); a buffer arriving as a filter stops is kept (at most one per buffer and stop).
    void ExpectBalanced(unsigned uiStops, std::initializer_list<CTestOMXWrapper*> aoOtherFilters = {})
    {
        std::vector<CTestOMXWrapper*> apoStages = {&m_oSource, &m_oFirst, &m_oSecond};
        apoStages.resize(m_uiFilters + 1);
        unsigned long long uiEmptied = 0, uiFilled = 0;
        for (CTestOMXWrapper* poOther : aoOtherFilters)
            uiEmptied += poOther->m_uiEmptyBufferDone, uiFilled += poOther->m_uiFillBufferDone;
        for (size_t ui = 1; ui < apoStages.size(); ++ui)
        {
            EXPECT_EQ(apoStages[ui - 1]->m_uiFillBufferDone, apoStages[ui]->m_uiEmptyThisBuffer) << ui;
            EXPECT_EQ(apoStages[ui]->m_uiEmptyBufferDone, apoStages[ui - 1]->m_uiFillThisBuffer) << ui;
            EXPECT_LE(apoStages[ui]->m_uiEmptyBufferDone, apoStages[ui]->m_uiEmptyThisBuffer) << ui;
            EXPECT_LE(apoStages[ui]->m_uiEmptyThisBuffer, apoStages[ui]->m_uiEmptyBufferDone + 8 * uiStops) << ui;
            uiEmptied += apoStages[ui]->m_uiEmptyBufferDone;
            uiFilled += apoStages[ui]->m_uiFillBufferDone;
        }
        EXPECT_EQ(apoStages.back()->m_uiFillBufferDone, m_oSink.m_uiTotal);
        EXPECT_EQ(m_oSink.m_uiTotal, apoStages.back()->m_uiFillThisBuffer);
        EXPECT_EQ(uiEmptied, PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersEmptied));
        EXPECT_EQ(uiFilled, PellixTest_GetCounter(PELLIX_TEST_PASS_THROUGH, PellixCounter_BuffersFilled));
    }
    unsigned m_uiFilters;
    CTestOMXWrapper m_oSource, m_oFirst, m_oSecond;
    CCountingSink m_oSink;
};

// Threads of this process whose name contains szPart (a platform component's thread is named
// after the end of its component's name).
unsigned NamedThreads(const char* szPart)
{
    std::error_code oError;
    unsigned uiCount = 0;
    for (std::filesystem::directory_iterator it("/proc/self/task", oError), end; !oError && it != end; it.increment(oError))
    {
        std::string oName;
        std::getline(std::ifstream(it->path() / "comm"), oName);
        uiCount += oName.find(szPart) != std::string::npos ? 1 : 0;
    }
    return uiCount;
}

// A consumer blocked in WaitNotEmpty on its own thread.
std::future<OMX_ERRORTYPE> Waiter(CFifo& roFifo)
{
    std::future<OMX_ERRORTYPE> oWaiter = std::async(std::launch::async, [&roFifo] { return roFifo.WaitNotEmpty(0xFFFFFFFF); });
    EXPECT_TRUE(Eventually([&] { return roFifo.IsWaiting(); }));
    return oWaiter;
}
bool Returned(std::future<OMX_ERRORTYPE>& roWaiter, std::chrono::milliseconds oBound = std::chrono::seconds(20))
{
    return roWaiter.wait_for(oBound) == std::future_status::ready;
}
} // namespace

TEST(CFifo, HoldsThirtyOneInOrderAndWakesOneCountedWaiterPerWriteOrUnblock)
{
    CFifo oFifo;
    std::vector<OMX_BUFFERHEADERTYPE> aoHeaders(32);
    OMX_BUFFERHEADERTYPE* hRead = &aoHeaders[5];
    EXPECT_EQ(OMX_ErrorUndefined, oFifo.Read(&hRead));
    EXPECT_EQ(&aoHeaders[5], hRead);  // untouched
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
    ASSERT_TRUE(Returned(oWaiter) && Ok(oWaiter.get()) && !oFifo.IsWaiting() && Ok(oFifo.Read(&hRead)) && hRead == &aoHeaders[1]);
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
        return Returned(aoWaiters[0], std::chrono::milliseconds(0)) && Returned(aoWaiters[1], std::chrono::milliseconds(0));
    }));
    EXPECT_FALSE(oFifo.IsWaiting());
}

// The pattern of a stream component: one mutex shared by the FIFO and the user's own state, held
// across the user's checks and the wait; a producer and a pool of headers circulating.
TEST(CFifo, ExternalMutexCarriesAStreamInOrderAndStopsCleanly)
{
    pthread_mutex_t hShared = PTHREAD_MUTEX_INITIALIZER;
    bool bStopped = false;  // guarded by hShared
    CFifo oFilled(hShared);
    CFifo oFree;
    std::vector<OMX_BUFFERHEADERTYPE> aoHeaders(8);
    for (OMX_BUFFERHEADERTYPE& roHeader : aoHeaders)
        oFree.Write(&roHeader);
    const OMX_TICKS iFrames = 20000;
    std::atomic<OMX_TICKS> iReceived{0};
    std::atomic<bool> bInOrder{true};
    std::thread oConsumer([&] {
        for (OMX_BUFFERHEADERTYPE* hBuffer = nullptr;;)
        {
            pthread_mutex_lock(&hShared);
            if (!bStopped && oFilled.IsEmpty())
                oFilled.WaitNotEmpty(0xFFFFFFFF);
            const bool bStop = bStopped;
            pthread_mutex_unlock(&hShared);
            if (bStop)
                return;
            if (!Ok(oFilled.Read(&hBuffer)))
                continue;
            bInOrder = bInOrder && hBuffer->nTimeStamp == iReceived++;
            oFree.Write(hBuffer);
        }
    });
    for (OMX_TICKS iFrame = 0; iFrame < iFrames; ++iFrame)
    {
        OMX_BUFFERHEADERTYPE* hBuffer = nullptr;
        while (!Ok(oFree.Read(&hBuffer)))
            oFree.WaitNotEmpty(0xFFFFFFFF);
        hBuffer->nTimeStamp = iFrame;
        oFilled.Write(hBuffer);
    }
    ASSERT_TRUE(Eventually([&] { return iReceived == iFrames; }));
    // Stop: the flag under the shared mutex, then release every counted waiter.
    pthread_mutex_lock(&hShared);
    bStopped = true;
    pthread_mutex_unlock(&hShared);
    while (oFilled.IsWaiting())
        oFilled.UnBlockWaitFifo();
    oConsumer.join();
    EXPECT_TRUE(bInOrder && iReceived == iFrames);
    pthread_mutex_destroy(&hShared);
}

TEST_F(OMXComponent, LifeCycleParametersAndTheFailuresOfGettingAndFreeingHandles)
{
    const std::string oLong(300, 'x');
    std::unique_ptr<CTestOMXWrapper> poLongName;
    EXPECT_NE(std::string::npos, Output(3, [&] { poLongName.reset(new CTestOMXWrapper(oLong.c_str(), {}, {})); }).find("# COMXComponent        \n"));
    EXPECT_EQ(std::string(255, 'x'), poLongName->GetComponentName());
    EXPECT_TRUE(poLongName->GetOMXHandle() == nullptr && poLongName->GetComponentState() == OMX_StateInvalid &&
                poLongName->GetCtrlState() == OMX_StateInvalid && poLongName->GetOMXCtrlHandle() == nullptr);
    EXPECT_NE(std::string::npos, Output(3, [&] { poLongName.reset(); }).find("# ~COMXComponent       \n"));

    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    OMX_HANDLETYPE hHandle = nullptr;
    const std::string oText = Output(2, [&] {
        ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
        hHandle = oFilter.GetOMXHandle();
        ASSERT_EQ(OMX_ErrorNone, oFilter.Deinit());
    });
    for (const std::string& roLine : {std::string("# Init                 COMXComponent(OMX.Pellix.Test.PassThrough)\n"),
                                      std::string("# Deinit               COMXComponent::OMX.Pellix.Test.PassThrough\n"),
                                      Printf("# Deinit               OMX_FreeHandle(m_hOMXComponent:%p)\n", hHandle)})
        EXPECT_NE(std::string::npos, oText.find(roLine)) << roLine << oText;
    EXPECT_TRUE(oFilter.GetOMXHandle() == nullptr && oFilter.GetComponentState() == OMX_StateInvalid);

    // Parameters go straight to the platform (its refusal unchanged, without a record), control
    // parameters to the control component, or are refused without one.
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    InitStruct(oDefinition);
    EXPECT_EQ(OMX_ErrorInvalidComponent, oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(std::vector<std::string>{Key(local_oC, "EnablePort", OMX_ErrorInvalidComponent)},
              Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, oFilter.EnablePort(1, 0)); }));
    EXPECT_EQ(OMX_ErrorNotImplemented, oFilter.Pause());
    oFilter.m_szCtrlName = PELLIX_TEST_SOURCE;
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    EXPECT_TRUE(oFilter.GetComponentState() == OMX_StateLoaded && oFilter.GetCtrlState() == OMX_StateLoaded);
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = 6;
    ASSERT_EQ(OMX_ErrorNone, oFilter.SetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = 0;
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  EXPECT_EQ(OMX_ErrorBadParameter, oFilter.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
              }));
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(6u, oDefinition.nBufferCountActual);
    OMX_CONFIG_FRAMERATETYPE oRate;
    InitStruct(oRate);
    oRate.xEncodeFramerate = 30 << 16;
    ASSERT_EQ(OMX_ErrorNone, oFilter.SetOmxCtlConfig(OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(OMX_ErrorUnsupportedIndex, oFilter.GetOmxConfig(OMX_IndexConfigVideoFramerate, &oRate));

    // A failed free keeps the handle for a second Deinit; the control handle's turn comes after.
    Arm(PellixFault_FreeHandle, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Deinit", OMX_ErrorHardware), Key(local_oW, "Deinit", OMX_ErrorHardware)}),
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, oFilter.Deinit()); }));
    EXPECT_TRUE(oFilter.GetOMXHandle() != nullptr && PellixPlatform_LiveHandleCount() == 2);
    Arm(PellixFault_FreeHandle, PELLIX_TEST_SOURCE, PELLIX_ANY_INDEX, OMX_ErrorTimeout);
    EXPECT_EQ(2u, Records([&] { EXPECT_EQ(OMX_ErrorTimeout, oFilter.Deinit()); }).size());
    EXPECT_TRUE(oFilter.GetOMXHandle() == nullptr && oFilter.GetOMXCtrlHandle() != nullptr);
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit()); }));
    EXPECT_TRUE(oFilter.GetOMXCtrlHandle() == nullptr && oFilter.GetCtrlState() == OMX_StateInvalid);
    EXPECT_EQ(OMX_ErrorInvalidComponent, oFilter.SetOmxCtlConfig(OMX_IndexConfigVideoFramerate, &oRate));

    // A handle not had: the platform's code up the chain and a line on standard error; Deinit
    // then frees nothing (a free would take this fault).
    for (const std::string& roName : {std::string(PELLIX_TEST_PASS_THROUGH), std::string("OMX.Pellix.Test.NoSuchComponent")})
    {
        CTestOMXWrapper oFailing(roName.c_str(), {}, {});
        const bool bKnown = roName == PELLIX_TEST_PASS_THROUGH;
        const OMX_ERRORTYPE eError = bKnown ? OMX_ErrorInsufficientResources : OMX_ErrorComponentNotFound;
        if (bKnown)
            Arm(PellixFault_GetHandle, PELLIX_TEST_PASS_THROUGH, 0, eError);
        std::string oOther;
        EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Init", eError), Key(local_oW, "Init", eError)}),
                  Records([&] { EXPECT_EQ(eError, oFailing.Init()); }, &oOther));
        EXPECT_EQ("OMX_GetHandle(" + roName + ") fails", oOther);
        Arm(PellixFault_FreeHandle, nullptr, PELLIX_ANY_INDEX, OMX_ErrorHardware);
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oFailing.Deinit()); }));
        EXPECT_TRUE(PellixPlatform_LiveHandleCount() == 0 && PellixTest_PendingFaults() == 1);
        PellixTest_Reset();
    }
}

TEST_F(OMXComponent, ExecuteBringsTheChainUpInOrderOnceAndItsFailuresComeBackWithTheirRecords)
{
    {
        SSoftwareChain oChain;
        oChain.Init();
        const OMX_HANDLETYPE hFilter = oChain.m_oFilter.GetOMXHandle();
        const std::string oText = Output(2, [&] { ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start()); });
        EXPECT_TRUE(oChain.m_oFilter.GetComponentState() == OMX_StateExecuting && oChain.m_oFilter.IsBufferProcessing());
        EXPECT_TRUE(oChain.m_oFilter.m_uiSetParameters == 1 && oChain.m_oFilter.m_uiSetParametersIdle == 1);
        // Idle is scheduled without waiting, the buffers come, then the wait; executing with a wait.
        size_t uiAt = 0;
        for (const std::string& roStep :
             {Printf("COMXComponent(%p) OMX_StateIdle NOWAIT\n", hFilter), std::string("# AllocBuffers         ::"),
              Printf("# WaitForStateTransition COMXComponent(%p) OMX_StateIdle\n", hFilter),
              Printf("COMXComponent(%p) OMX_StateExecuting WAIT\n", hFilter), std::string("# StartBufferProcessing OMX_FillThisBuffer(")})
        {
            uiAt = oText.find(roStep, uiAt);
            ASSERT_NE(std::string::npos, uiAt) << roStep << oText;
        }
        EXPECT_TRUE(Occurrences(oText, "# StartBufferProcessing OMX_FillThisBuffer(") == 4 &&
                    Occurrences(oText, "# AllocBuffers         OMX_AllocateBuffer(") == 8 &&
                    Occurrences(oText, "# UseRemoteBuffers     OMX_UseBuffer((nil), ") == 4)
            << oText;
        // Reached again while executing: nothing is sent (a command would take the armed fault).
        Arm(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
        EXPECT_EQ(OMX_ErrorNone, oChain.m_oFilter.Execute(0));
        EXPECT_TRUE(PellixTest_PendingFaults() == 1 && oChain.m_oFilter.m_uiSetParameters == 1);
        PellixTest_Reset();
        oChain.TearDown();
    }
    // Each failing step returns the platform's code up the chain; the teardown after it is clean.
    const OMX_ERRORTYPE eError = OMX_ErrorHardware;
    const struct
    {
        const char* szCase;
        PellixFaultKind eKind;  // PellixFault_KindCount: none, a parameter hook fails instead
        OMX_U32 uiIndex;
        OMX_ERRORTYPE eError, eParameters, eParametersIdle;
        std::vector<std::string> aoTail;  // records below the filter's Execute
        OMX_STATETYPE eAfter;
    } aoCases[] = {
        {"state command", PellixFault_SendCommand, OMX_CommandStateSet, eError, OMX_ErrorNone, OMX_ErrorNone,
         {Key(local_oC, "SetState", eError)}, OMX_StateLoaded},
        {"input allocation", PellixFault_AllocateBuffer, 0, eError, OMX_ErrorNone, OMX_ErrorNone,
         {Key(local_oP, "AllocBuffers", eError)}, OMX_StateLoaded},
        {"output allocation", PellixFault_AllocateBuffer, 1, eError, OMX_ErrorNone, OMX_ErrorNone,
         {Key(local_oP, "AllocBuffers", eError)}, OMX_StateLoaded},
        {"parameters", PellixFault_KindCount, 0, OMX_ErrorBadParameter, OMX_ErrorBadParameter, OMX_ErrorNone,
         {Key(local_oW, "SetParameters", OMX_ErrorBadParameter)}, OMX_StateLoaded},
        // Refused in idle: the component stays idle with its buffers; the stop takes it down.
        {"parameters in idle", PellixFault_KindCount, 0, OMX_ErrorUnsupportedSetting, OMX_ErrorNone,
         OMX_ErrorUnsupportedSetting, {}, OMX_StateIdle},
    };
    for (const auto& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.szCase);
        SSoftwareChain oChain;
        oChain.Init();
        if (roCase.eKind != PellixFault_KindCount)
            Arm(roCase.eKind, PELLIX_TEST_PASS_THROUGH, roCase.uiIndex, roCase.eError);
        oChain.m_oFilter.m_eSetParametersResult = roCase.eParameters;
        oChain.m_oFilter.m_eSetParametersIdleResult = roCase.eParametersIdle;
        std::vector<std::string> aoExpected = roCase.aoTail;
        for (const std::string& roKey : {Key(local_oC, "Execute", roCase.eError), Key(local_oS, "Execute", roCase.eError),
                                         Key(local_oS, "Start", roCase.eError)})
            aoExpected.push_back(roKey);
        EXPECT_EQ(aoExpected, Records([&] { EXPECT_EQ(roCase.eError, oChain.m_oSource.Start()); }));
        EXPECT_TRUE(PellixTest_PendingFaults() == 0 && oChain.m_oSink.m_uiTotal == 0 && !oChain.m_oSource.IsBufferProcessing());
        EXPECT_EQ(roCase.eAfter, oChain.m_oFilter.PlatformState());
        // An allocation that failed left its port without buffers or table.
        EXPECT_EQ(roCase.eAfter == OMX_StateIdle, oChain.m_oFilter.m_oOutput.IsBufferReady());
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    }
}

TEST_F(OMXComponent, BuffersGotHalfWayAreGivenBackAndAStopFailingHalfWayCanBeFinished)
{
    {
        // The input provides one buffer more than the platform port takes: the fifth allocation
        // is refused after four succeeded; all four go back, the definition may be set again.
        SSoftwareChain oChain;
        oChain.m_oFilter.m_aoInputSpec[0].uiProvideCount = 5;
        oChain.Init();
        const OMX_ERRORTYPE eRefused = OMX_ErrorIncorrectStateOperation;
        std::string oText;
        EXPECT_EQ((std::vector<std::string>{Key(local_oP, "AllocBuffers", eRefused), Key(local_oC, "Execute", eRefused),
                                            Key(local_oS, "Execute", eRefused), Key(local_oS, "Start", eRefused)}),
                  Records([&] { oText = Output(2, [&] { EXPECT_EQ(eRefused, oChain.m_oSource.Start()); }); }));
        EXPECT_TRUE(Occurrences(oText, "# AllocBuffers         OMX_AllocateBuffer(") == 5 && Occurrences(oText, ") pBuffer=(nil)\n") == 1);
        EXPECT_TRUE(!oChain.m_oFilter.m_aoInput[0].IsBufferReady() && oChain.m_oFilter.m_aoInput[0].GetBufferCount() == 0);
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
        InitStruct(oDefinition);
        ASSERT_EQ(OMX_ErrorNone, oChain.m_oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        EXPECT_EQ(OMX_ErrorNone, oChain.m_oFilter.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    }
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
                  Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
        EXPECT_TRUE(!oChain.m_oFirst.m_aoInput[0].IsBufferReady() && oChain.m_oFirst.m_aoInput[0].GetBufferHeader(0) == nullptr);
        ASSERT_TRUE(Eventually([&] { return oChain.m_oSource.GetComponentState() == OMX_StateIdle; }));
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop()); }));
        EXPECT_TRUE(oChain.m_oSource.PlatformState() == OMX_StateLoaded && !oChain.m_oSource.m_oOutput.IsBufferReady());
        PellixTest_Reset();
        oChain.Deinit();
    }

    SPlatformChain oChain(true, 1, {0, false});
    oChain.Init();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start());
    ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.m_uiTotal >= 8; }));
    // The move to idle refused; a second stop finishes it.
    const OMX_ERRORTYPE eError = OMX_ErrorHardware;
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError), Key(local_oC, "StopBufferProcessing", eError),
                                        Key(local_oC, "Stop", eError)}),
              Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Stop()); }));
    EXPECT_EQ(OMX_StateExecuting, oChain.m_oSource.PlatformState());
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.StopBufferProcessing());
    EXPECT_TRUE(oChain.m_oSource.PlatformState() == OMX_StateIdle && oChain.m_oFirst.PlatformState() == OMX_StateIdle);
    // The move to loaded refused; then a buffer that cannot be freed: the release stops there.
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError), Key(local_oC, "Loaded", eError)}),
              Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Loaded(0)); }));
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_SOURCE, 0, OMX_ErrorTimeout);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", OMX_ErrorTimeout), Key(local_oC, "Loaded", OMX_ErrorTimeout)}),
              Records([&] { EXPECT_EQ(OMX_ErrorTimeout, oChain.m_oSource.Loaded(0)); }));
    EXPECT_TRUE(oChain.m_oSource.m_oOutput.IsBufferReady() && oChain.m_oSource.m_oOutput.GetBufferHeader(0) != nullptr);
    // The filter downstream was never taken down by the failed Loaded: its own does it.
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oFirst.Loaded(0));
    EXPECT_EQ(OMX_StateLoaded, oChain.m_oFirst.PlatformState());
    // A port that cannot free fails Deinit until it can; the port forgets its table, the
    // platform component frees the buffers with its handle.
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_SOURCE, 0, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", OMX_ErrorHardware), Key(local_oP, "Deinit", OMX_ErrorHardware),
                                        Key(local_oW, "Deinit", OMX_ErrorHardware)}),
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, oChain.m_oSource.Deinit()); }));
    EXPECT_TRUE(oChain.m_oSource.GetOMXHandle() != nullptr && !oChain.m_oSource.m_oOutput.IsBufferReady());
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.Deinit(); }));
}

TEST_F(OMXComponent, EventsAreCountedForTheWaitsAndTheRestIsLogged)
{
    SSoftwareChain oChain;
    oChain.m_oFilter.m_szCtrlName = PELLIX_TEST_PORTLESS;
    oChain.Init();
    CTestOMXWrapper& roFilter = oChain.m_oFilter;
    const OMX_HANDLETYPE hFilter = roFilter.GetOMXHandle();
    const OMX_HANDLETYPE hCtrl = roFilter.GetOMXCtrlHandle();
    // The callback: completions and end of stream counted, the state followed, the rest logged.
    std::string oText = Output(1, [&] {
        const COmxTestClient::SEvent aoEvents[] = {{OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_EOS},
                                                   {OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_ENDOFFRAME},
                                                   {OMX_EventCmdComplete, OMX_CommandPortEnable, 1},
                                                   {OMX_EventCmdComplete, OMX_CommandFlush, 1},
                                                   {OMX_EventPortSettingsChanged, 1, 2}};
        for (const COmxTestClient::SEvent& roEvent : aoEvents)
            EXPECT_EQ(OMX_ErrorNone,
                      COMXComponent::CallbackOMXEvent(hFilter, &roFilter, roEvent.eEvent, roEvent.nData1, roEvent.nData2, nullptr));
    });
    EXPECT_TRUE(roFilter.PendingEvents(OMXEvent_EOSBuffer) == 1 && roFilter.PendingEvents(OMXEvent_EnableDisablePort) == 1);
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# CallbackOMXEvent     <<COMXComponent(%p) Event(OMX_EventPortSettingsChanged,OMX_CommandFlush,"
                                "OMX_StateIdle) [00000003(1,2)]>>\n", hFilter))) << oText;
    EXPECT_EQ(1u, Occurrences(oText, "# CallbackOMXEvent     Unhandled event, param1 = 1, param2 = 2.\n")) << oText;
    roFilter.WaitOMXEvent(OMXEvent_EOSBuffer);
    roFilter.WaitOMXEvent(OMXEvent_EnableDisablePort);
    roFilter.WaitOMXEvent(OMXEvent_LastEvent);  // out of range: ignored
    roFilter.PostOMXEvent(hFilter, OMXEvent_LastEvent, 0);
    EXPECT_TRUE(roFilter.PendingEvents(OMXEvent_EOSBuffer) == 0 && roFilter.PendingEvents(OMXEvent_EnableDisablePort) == 0);

    // Ports are disabled and enabled with a wait; a refused command is not waited for.
    oText = Output(2, [&] { EXPECT_TRUE(Ok(roFilter.EnablePort(1, 0)) && Ok(roFilter.EnablePort(1, 1))); });
    EXPECT_NE(std::string::npos, oText.find(Printf("# EnablePort           COMXComponent(%p) DisablePort  uiPortID==1\n", hFilter)));
    EXPECT_NE(std::string::npos, oText.find(Printf("# EnablePort           COMXComponent(%p) EnablePort  uiPortID==1\n", hFilter)));
    Arm(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH, OMX_CommandPortDisable, OMX_ErrorHardware);
    EXPECT_EQ(std::vector<std::string>{Key(local_oC, "EnablePort", OMX_ErrorHardware)},
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, roFilter.EnablePort(0, 0)); }));

    // Error events are only logged, in order with the rest.
    oText = Output(1, [&] {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, hFilter, OMX_ErrorHardware, 0));
        ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, hFilter, OMX_ErrorOverflow, 5));
        ASSERT_TRUE(Ok(roFilter.EnablePort(1, 0)) && Ok(roFilter.EnablePort(1, 1)));
    });
    EXPECT_NE(std::string::npos, oText.find(Printf("<<COMXComponent(%p) Event(OMX_EventError,OMX_CommandUnknow,OMX_StateInvalid) ", hFilter) +
                                            "[00000001(" + std::to_string(int(OMX_ErrorHardware)) + ",0)]>>\n")) << oText;
    EXPECT_EQ(2u, Occurrences(oText, "# CallbackOMXEvent     OMX_EventError\n")) << oText;
    EXPECT_EQ(1u, Occurrences(oText, "# CallbackOMXEvent     THIS COMPONENT CANNOT CHANGE TO THIS STATE!!!!!\n")) << oText;

    // A completion that came before the wait is not lost.
    ASSERT_EQ(OMX_ErrorNone, roFilter.SetParameters());
    ASSERT_EQ(OMX_ErrorNone, roFilter.ScheduleStateTransition(hFilter, OMX_StateIdle));
    ASSERT_TRUE(Ok(roFilter.m_aoInput[0].AllocBuffers()) && Ok(roFilter.m_oOutput.AllocBuffers()));
    ASSERT_TRUE(Eventually([&] { return roFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    oText = Output(2, [&] { EXPECT_EQ(OMX_ErrorNone, roFilter.WaitForStateTransition(hFilter, OMX_StateIdle)); });
    EXPECT_TRUE(Occurrences(oText, "Wait next OMX event...") == 0 && oText.find("# WaitForStateTransition Done\n") != std::string::npos);
    // A completion of the control component makes the wait for the main one take a second event.
    ASSERT_EQ(OMX_ErrorNone, roFilter.ScheduleStateTransition(hCtrl, OMX_StateIdle));
    ASSERT_TRUE(Eventually([&] { return roFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    EXPECT_TRUE(roFilter.GetCtrlState() == OMX_StateIdle && roFilter.GetComponentState() == OMX_StateIdle);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 300));
    ASSERT_EQ(OMX_ErrorNone, roFilter.ScheduleStateTransition(hFilter, OMX_StatePause));
    oText = Output(0, [&] { EXPECT_EQ(OMX_ErrorNone, roFilter.WaitForStateTransition(hFilter, OMX_StatePause)); });
    EXPECT_TRUE(oText.substr(0, 6) == "INFO  " && Occurrences(oText, "\n") == 1 &&
                oText.find("# WaitForStateTransition Wait next OMX event...\n") != std::string::npos) << oText;
    EXPECT_TRUE(roFilter.GetComponentState() == OMX_StatePause && roFilter.PendingEvents(OMXEvent_StateChanged) == 0);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 0));
    ASSERT_EQ(OMX_ErrorNone, roFilter.ScheduleAndWaitStateTransition(hFilter, OMX_StateIdle));
    // Down again, the control component with the main one, each consuming its own completions.
    EXPECT_EQ(OMX_ErrorNone, roFilter.Loaded(0));
    EXPECT_TRUE(roFilter.PlatformState() == OMX_StateLoaded && roFilter.GetCtrlState() == OMX_StateLoaded);
    EXPECT_TRUE(roFilter.PendingEvents(OMXEvent_StateChanged) == 0 && roFilter.PendingEvents(OMXEvent_EnableDisablePort) == 0);
    // Two completions of another handle end a wait as failed after the second.
    roFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    roFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    EXPECT_EQ(OMX_ErrorInvalidState, roFilter.WaitForStateTransition(hFilter, OMX_StateIdle));
    EXPECT_EQ(0u, roFilter.PendingEvents(OMXEvent_StateChanged));
    EXPECT_TRUE(Ok(roFilter.Deinit()) && Ok(oChain.m_oSource.Deinit()));
}

TEST_F(OMXComponent, AStartWaitingForARefusedCompletionGoesOnWithTheNextOne)
{
    // Regression: the teardown of a failing start hung when a free raced a state command.
    SSoftwareChain oChain;
    oChain.Init();
    const OMX_HANDLETYPE hFilter = oChain.m_oFilter.GetOMXHandle();
    Arm(PellixFault_StateTransition, PELLIX_TEST_PASS_THROUGH, OMX_StateExecuting, OMX_ErrorHardware);
    std::future<OMX_ERRORTYPE> oStart = std::async(std::launch::async, [&] { return oChain.m_oSource.Start(); });
    // The refusal has been sent; the start still waits for its completion.
    ASSERT_TRUE(Eventually([] { return PellixTest_PendingFaults() == 0; }));
    EXPECT_EQ(std::future_status::timeout, oStart.wait_for(std::chrono::milliseconds(200)));
    EXPECT_EQ(OMX_StateIdle, oChain.m_oFilter.PlatformState());
    // The command again, from outside: its completion ends the wait.
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hFilter, OMX_CommandStateSet, OMX_StateExecuting, nullptr));
    EXPECT_EQ(OMX_ErrorNone, oStart.get());
    EXPECT_EQ(OMX_StateExecuting, oChain.m_oFilter.GetComponentState());
    oChain.TearDown();
}

TEST_F(OMXComponent, BuffersAreFoundByTheirMemoryKeptWhileStoppedAndFramesGoBackOnceTheirFieldsAre)
{
    SSoftwareChain oChain;
    oChain.Init();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
    CTestOMXWrapper& roFilter = oChain.m_oFilter;
    const OMX_HANDLETYPE hFilter = roFilter.GetOMXHandle();
    EXPECT_TRUE(roFilter.IsBuffersReady() && !roFilter.IsBufferProcessing());
    // Headers are found by their memory, inputs first.
    for (MUINT32 i = 0; i < 4; ++i)
    {
        OMX_BUFFERHEADERTYPE* poLocal = nullptr;
        EXPECT_EQ(&roFilter.m_aoInput[0], roFilter.FindLocalBufferHeader(oChain.m_oSource.GetOutputPort().GetBufferHeader(i), &poLocal, 0));
        EXPECT_EQ(roFilter.m_aoInput[0].GetBufferHeader(i), poLocal);
        EXPECT_EQ(&roFilter.m_oOutput, roFilter.FindLocalBufferHeader(roFilter.m_oOutput.GetBufferHeader(i), &poLocal, 0));
    }
    // Stopped: nothing reaches the platform (it would take these faults).
    Arm(PellixFault_EmptyThisBuffer, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    Arm(PellixFault_FillThisBuffer, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    std::string oText = Output(4, [&] {
        EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                      EXPECT_EQ(OMX_ErrorNone, roFilter.EmptyThisBuffer(oChain.m_oSource.GetOutputPort().GetBufferHeader(0)));
                      EXPECT_EQ(OMX_ErrorNone, roFilter.FillThisBuffer(roFilter.m_oOutput.GetBufferHeader(2)));
                  }));
    });
    EXPECT_EQ(2u, Occurrences(oText, Printf("   Skipped::This component(%p) is stopped\n", hFilter))) << oText;
    EXPECT_EQ(2u, PellixTest_PendingFaults());
    PellixTest_Reset();
    // Memory no port of the filter knows.
    OMX_U8 aucElsewhere[16];
    OMX_BUFFERHEADERTYPE oStranger{};
    oStranger.pBuffer = aucElsewhere;
    oText = Output(9, [&] {
        EXPECT_EQ((std::vector<std::string>{Key(local_oC, "EmptyThisBuffer", OMX_ErrorBadParameter),
                                            Key(local_oC, "FillThisBuffer", OMX_ErrorBadParameter),
                                            Key(local_oC, "FillBufferDone", OMX_ErrorBadParameter),
                                            Key(local_oC, "EmptyBufferDone", OMX_ErrorBadParameter)}),
                  Records([&] {
                      EXPECT_EQ(OMX_ErrorBadParameter, roFilter.EmptyThisBuffer(&oStranger));
                      EXPECT_EQ(OMX_ErrorBadParameter, roFilter.FillThisBuffer(&oStranger));
                      EXPECT_EQ(OMX_ErrorBadParameter, roFilter.FillBufferDone(&oStranger));
                      EXPECT_EQ(OMX_ErrorBadParameter, roFilter.EmptyBufferDone(&oStranger));
                  }));
    });
    EXPECT_EQ(4u, Occurrences(oText, "# FindLocalBufferHeader CANOT FIND BUFFER...\n\n")) << oText;
    // The neighbour's header fields are copied, the memory and ownership fields are not.
    OMX_BUFFERHEADERTYPE oFrom{}, oTo{};
    int iMark = 0;
    oFrom = OMX_BUFFERHEADERTYPE{0, {}, aucElsewhere, 4, 100, 3, nullptr, nullptr, nullptr, nullptr, hFilter, &iMark, 77, 123456, OMX_BUFFERFLAG_EOS, 0, 0};
    oTo.nTickCount = 9;
    EXPECT_EQ(OMX_ErrorNone, roFilter.PopulateBufferHeader(&oTo, &oFrom));
    EXPECT_TRUE(oTo.nFilledLen == 100 && oTo.nOffset == 3 && oTo.nTimeStamp == 123456 && oTo.nFlags == OMX_BUFFERFLAG_EOS &&
                oTo.hMarkTargetComponent == hFilter && oTo.pMarkData == &iMark && oTo.nTickCount == 0 &&
                oTo.pBuffer == nullptr && oTo.nAllocLen == 0);
    oChain.TearDown();

    // A wrapper without a platform handle whose interlaced input adopts two frames as four field
    // headers: both fields marked before either goes on; the frame goes back up once, when its
    // last field is done, named by its first.
    const SPortBufferInfo oFrames = {static_cast<OMX_COLOR_FORMATTYPE>(25), 64 * 16 * 2, 64, 16};
    std::vector<OMX_U8> aucMemory(2 * oFrames.uiBufferSize);
    CRecordingComponent oProducer;
    ASSERT_EQ(OMX_ErrorNone, oProducer.Init());
    oProducer.m_oOutput.FakeProvide(oFrames, aucMemory.data(), 2);
    CTestOMXWrapper oFields("OMX.Pellix.Test.NotOpened", {{0, false}}, {});
    ASSERT_TRUE(Ok(oFields.InitPorts()) && Ok(oProducer.ConnectTo(0, &oFields, 0)));
    CSinkPort& roInput = oFields.m_aoInput[0];
    roInput.SetInterlaced(true);
    ASSERT_TRUE(Ok(roInput.UseRemoteBuffers()) && roInput.GetBufferCount() == 4 && roInput.GetOddFieldOffset() == 64 * 2 * 8);
    for (MUINT32 uiFrame = 0; uiFrame < 2; ++uiFrame)
    {
        OMX_BUFFERHEADERTYPE* poFrame = oProducer.m_oOutput.GetBufferHeader(uiFrame);
        poFrame->nFilledLen = oFrames.uiBufferSize;
        poFrame->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | OMXBufferFlag_SecondField;
        EXPECT_EQ(OMX_ErrorNone, oFields.EmptyThisBuffer(poFrame));
        for (MUINT32 uiField = 0; uiField < 2; ++uiField)
            EXPECT_TRUE(roInput.GetBufferHeader(2 * uiFrame + uiField)->nFlags ==
                            OMX_U32(OMX_BUFFERFLAG_ENDOFFRAME | (uiField ? OMXBufferFlag_FieldMask : OMXBufferFlag_Field)) &&
                        roInput.GetBufferHeader(2 * uiFrame + uiField)->nFilledLen == oFrames.uiBufferSize / 2);
    }
    const MUINT32 auiOrder[] = {1, 0, 2, 3};
    const unsigned auiReturnsAfter[] = {0, 1, 1, 2};
    for (unsigned i = 0; i < 4; ++i)
    {
        EXPECT_EQ(OMX_ErrorNone, oFields.EmptyBufferDone(roInput.GetBufferHeader(auiOrder[i])));
        EXPECT_EQ(0u, roInput.GetBufferHeader(auiOrder[i])->nFlags & OMXBufferFlag_FieldMask);
        EXPECT_EQ(auiReturnsAfter[i], oProducer.Count(CRecordingComponent::Op_FillThisBuffer)) << i;
    }
    EXPECT_EQ(roInput.GetBufferHeader(2), oProducer.Last(CRecordingComponent::Op_FillThisBuffer));
    EXPECT_EQ(OMX_ErrorNone, roInput.Deinit());
}

TEST_F(OMXComponent, LoadedThroughOneOfTwoFedInputsReleasesOnlyThatInput)
{
    CDefaultSource aoSources[2];
    CTestOMXWrapper oTwoInputs(PELLIX_TEST_TWO_INPUTS, {{0, true}, {1, true}}, {});
    ASSERT_EQ(OMX_ErrorNone, oTwoInputs.Init());
    for (MUINT32 i = 0; i < 2; ++i)
    {
        aoSources[i].SetFrameSize(64, 16);
        ASSERT_TRUE(Ok(aoSources[i].Init()) && Ok(aoSources[i].ConnectTo(0, &oTwoInputs, i)));
    }
    const std::string oText = Output(1, [&] {
        // The second start finds the consumer running: it only adopts.
        ASSERT_TRUE(Ok(aoSources[0].Start()) && Ok(aoSources[1].Start()));
        ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(PELLIX_TEST_TWO_INPUTS, PellixCounter_FramesConsumed) > 40; }));
        // Still fed through input 1: only input 0 lets its buffers go, the component stays up.
        ASSERT_EQ(OMX_ErrorNone, aoSources[0].Stop());
        EXPECT_TRUE(!oTwoInputs.m_aoInput[0].IsBufferReady() && oTwoInputs.m_aoInput[1].IsBufferReady());
        EXPECT_NE(OMX_StateLoaded, oTwoInputs.GetComponentState());
        ASSERT_EQ(OMX_ErrorNone, aoSources[1].Stop());
        EXPECT_TRUE(!oTwoInputs.m_aoInput[1].IsBufferReady() && oTwoInputs.PlatformState() == OMX_StateLoaded);
    });
    // The platform complained that input 0 lost its buffers while idle: only logged.
    EXPECT_NE(std::string::npos, oText.find("Event(OMX_EventError,")) << oText;
    EXPECT_EQ(0u, Occurrences(oText, "Wait next OMX event..."));
    EXPECT_EQ(OMX_ErrorNone, oTwoInputs.Deinit());
}

class ComponentChain : public PlatformTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ComponentChain, PlatformSourceThroughTwoPassThroughsIntoASinkAndAHundredCyclesLeaveNothing)
{
    // Each link: one side allocates, the other uses the same memory under headers of its own,
    // found from the neighbour's by address both ways. A hundred start/stop cycles, each of the
    // platform chain and of a software head (default source, one filter, sink), leave no thread,
    // handle or buffer behind; the platform components' threads are named after "OMX.Pellix.Test.*".
    SPlatformChain oChain(GetParam());
    SSoftwareChain oHead;
    unsigned uiThreads = 0;
    std::string oOther;
    const auto aoRecords = CaptureAbortRecords([&] {
        for (int iCycle = 0; iCycle < 100 && !HasFailure(); ++iCycle)
        {
            oChain.Init();
            const unsigned uiSinkStart = oChain.m_oSink.m_uiTotal;
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start()) << iCycle;
            ASSERT_EQ(3u, NamedThreads("est.")) << iCycle;
            for (const auto& roLink : {std::make_pair(&oChain.m_oSource, &oChain.m_oFirst), std::make_pair(&oChain.m_oFirst, &oChain.m_oSecond)})
            {
                CPort& roOut = roLink.first->m_oOutput;
                ASSERT_TRUE(roOut.IsBufferProvider() == GetParam() && roLink.second->m_aoInput[0].IsBufferProvider() != GetParam());
                for (MUINT32 i = 0; i < 4; ++i)
                {
                    OMX_BUFFERHEADERTYPE *poLocal = nullptr, *poBack = nullptr;
                    ASSERT_EQ(&roLink.second->m_aoInput[0], roLink.second->FindLocalBufferHeader(roOut.GetBufferHeader(i), &poLocal, 0));
                    ASSERT_TRUE(poLocal != roOut.GetBufferHeader(i) && poLocal->pBuffer == roOut.GetBufferHeader(i)->pBuffer);
                    ASSERT_TRUE(roLink.first->FindLocalBufferHeader(poLocal, &poBack, 0) == &roOut && poBack == roOut.GetBufferHeader(i));
                }
            }
            ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.m_uiTotal >= uiSinkStart + (iCycle == 0 ? 40 : 8); })) << iCycle;
            ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop()) << iCycle;
            for (CTestOMXWrapper* poStage : {&oChain.m_oSource, &oChain.m_oFirst, &oChain.m_oSecond})
                ASSERT_TRUE(poStage->PlatformState() == OMX_StateLoaded && !poStage->IsBuffersReady()) << iCycle;
            // Each header of the last filter's output came back to be refilled.
            for (const auto& roEntry : oChain.m_oSink.Received())
                ASSERT_TRUE(iCycle > 0 || roEntry.second >= 2);
            ASSERT_TRUE(iCycle > 0 || oChain.m_oSink.Received().size() == 4);
            oChain.Deinit();

            oHead.Init();
            const unsigned uiHeadStart = oHead.m_oSink.m_uiTotal;
            ASSERT_EQ(OMX_ErrorNone, oHead.m_oSource.Start()) << iCycle;
            ASSERT_EQ(oHead.m_oSource.GetOutputPort().GetBufferHeader(0)->pBuffer, oHead.m_oFilter.m_aoInput[0].GetBufferHeader(0)->pBuffer);
            ASSERT_TRUE(Eventually([&] { return oHead.m_oSink.m_uiTotal >= uiHeadStart + 8; })) << iCycle;
            oHead.TearDown();
            // A joined thread may linger in /proc for a moment after its join; a sanitizer's runtime
            // may start a thread of its own with the first one created.
            if (iCycle == 0)
            {
                ASSERT_TRUE(Eventually([&] { return NamedThreads("est.") == 0; }));
                uiThreads = ThreadCount();
            }
            ASSERT_TRUE(Eventually([&] { return NamedThreads("est.") == 0 && ThreadCount() == uiThreads; })) << iCycle;
        }
    }, oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;
    oChain.ExpectBalanced(100, {&oHead.m_oFilter});
    // The software head was primed with four buffers per cycle, then fed one per buffer returned.
    EXPECT_EQ(oHead.m_oFilter.m_uiFillBufferDone, oHead.m_oSink.m_uiTotal);
    EXPECT_LE(oHead.m_oFilter.m_uiEmptyThisBuffer, oHead.m_oFilter.m_uiEmptyBufferDone + 4 * 100);
}

INSTANTIATE_TEST_SUITE_P(Providers, ComponentChain, ::testing::Values(true, false));

TEST_F(OMXComponent, AnInterlacedInputSplitsEachFrameIntoTwoFieldsAndReturnsItOnce)
{
    // The source provides 4 frames of 1920 x 1080 YUV 4:2:2; the filter's input uses them as 8
    // fields of 540 lines.
    const OMX_U32 nFrame = 1920 * 1080 * 2;
    SWrapperPort oFieldInput{0, false, 8, nFrame / 2, 1920, 540};
    oFieldInput.bInterlaced = true;
    SPlatformChain oChain(true, 1, oFieldInput);
    oChain.m_oSource.m_aoOutputSpec[0] = {0, true, 4, nFrame, 1920, 1080};
    oChain.m_oFirst.m_aoOutputSpec[0] = {1, true, 4, nFrame / 2, 1920, 540};
    oChain.Init();
    std::vector<CCountingSink::SField> aoFields;
    std::string oOther;
    const auto aoRecords = CaptureAbortRecords([&] {
        ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
        CPort& roFields = oChain.m_oFirst.m_aoInput[0];
        ASSERT_TRUE(roFields.IsInterlaced() && roFields.GetBufferCount() == 8 && roFields.GetOddFieldOffset() == 2073600);
        for (MUINT32 i = 0; i < 8; ++i)
            EXPECT_EQ(oChain.m_oSource.m_oOutput.GetBufferHeader(i / 2)->pBuffer + (i % 2 ? 2073600u : 0u), roFields.GetBufferHeader(i)->pBuffer);
        ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.StartBufferProcessing());
        ASSERT_TRUE(Eventually([&] { return oChain.m_oSink.m_uiTotal >= 24; }));
        aoFields = oChain.m_oSink.Fields();  // what the stop hands back unfilled also travels down
        ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Stop());
    }, oOther);
    EXPECT_EQ(0u, aoRecords.size()) << FormatAbortRecords(aoRecords) << oOther;
    // The fields reached the platform in order, first then second, each half a frame: the first
    // starts with the frame number (none lost), the second lies in the frame's lower half.
    ASSERT_GE(aoFields.size(), 24u);
    for (size_t i = 0; i + 1 < aoFields.size(); i += 2)
    {
        ASSERT_EQ(OMX_U32(OMXBufferFlag_Field), aoFields[i].nFlags & OMXBufferFlag_FieldMask) << i;
        ASSERT_EQ(OMX_U32(OMXBufferFlag_FieldMask), aoFields[i + 1].nFlags & OMXBufferFlag_FieldMask) << i;
        EXPECT_TRUE(aoFields[i].nFilledLen == nFrame / 2 && aoFields[i + 1].nFilledLen == nFrame / 2);
        EXPECT_EQ(i / 2, aoFields[i].uiCounter);
        EXPECT_EQ(aoFields[i].uiCounter & 0xFF, aoFields[i + 1].uiFirstByte) << i;
    }
    // One frame from upstream, two fields to the platform, one return upstream per frame.
    EXPECT_EQ(oChain.m_oSource.m_uiFillBufferDone, oChain.m_oFirst.m_uiEmptyThisBuffer);
    EXPECT_EQ(2 * oChain.m_oSource.m_uiFillThisBuffer, oChain.m_oFirst.m_uiEmptyBufferDone);
    EXPECT_LE(oChain.m_oFirst.m_uiEmptyThisBuffer, oChain.m_oSource.m_uiFillThisBuffer + 4);
    oChain.Deinit();
}
