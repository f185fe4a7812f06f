// The platform component wrapper on the platform engine: every failure path with its chain of
// ABORT records and a clean teardown after it, the event accounting, and the edge cases.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "AbortRecords.h"
#include "ComponentTestSupport.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "PlatformTestSupport.h"

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

unsigned Occurrences(const std::string& roText, const std::string& roPart)
{
    unsigned uiCount = 0;
    for (size_t uiAt = roText.find(roPart); uiAt != std::string::npos; uiAt = roText.find(roPart, uiAt + 1))
        ++uiCount;
    return uiCount;
}

std::string Printf(const char* szFormat, const void* pvFirst, const void* pvSecond = nullptr)
{
    char szText[256];
    snprintf(szText, sizeof(szText), szFormat, pvFirst, pvSecond);
    return szText;
}

OMX_PARAM_PORTDEFINITIONTYPE PortDefinition(OMX_U32 nPort)
{
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition;
    memset(&oDefinition, 0, sizeof(oDefinition));
    oDefinition.nSize = sizeof(oDefinition);
    oDefinition.nVersion.s.nVersionMajor = 1;
    oDefinition.nVersion.s.nVersionMinor = 1;
    oDefinition.nPortIndex = nPort;
    return oDefinition;
}

class OMXComponent : public PlatformTest
{
protected:
    // Runs fn with standard error captured; returns the keys of the ABORT records it wrote, each
    // checked to name a line of an error check. Anything else written there goes to *poOther, or
    // must be nothing.
    template <typename TFn>
    std::vector<std::string> Records(TFn fn, std::string* poOther = nullptr)
    {
        std::string oOther;
        const auto aoRecords = CaptureAbortRecords(fn, oOther);
        for (const SAbortRecord& roRecord : aoRecords)
            EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Format();
        if (poOther != nullptr)
            *poOther = oOther;
        else
            EXPECT_EQ("", oOther);
        return AbortRecordKeys(aoRecords);
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
        ASSERT_EQ(OMX_ErrorNone, m_oSource.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oFilter.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSource.ConnectTo(0, &m_oFilter, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oFilter.ConnectTo(0, &m_oSink, 0));
    }

    // Stop from the head and deinitialise; afterwards nothing may be left.
    void TearDown()
    {
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Stop());
        EXPECT_EQ(OMX_ErrorNone, m_oFilter.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Deinit());
        EXPECT_FALSE(m_oSource.GetOutputPort().IsBufferReady());
        EXPECT_FALSE(m_oFilter.m_aoInput[0].IsBufferReady());
        EXPECT_FALSE(m_oFilter.m_aoOutput[0].IsBufferReady());
        EXPECT_EQ(nullptr, m_oFilter.GetOMXHandle());
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }

    CDefaultSource m_oSource;
    CTestOMXWrapper m_oFilter;
    CCountingSink m_oSink;
};

// Platform source (allocating) -> pass-through whose input uses the source's memory -> sink.
struct SPlatformPair
{
    SPlatformPair()
        : m_oSource(PELLIX_TEST_SOURCE, {}, {{0, true}}), m_oFilter(PELLIX_TEST_PASS_THROUGH, {{0, false}}, {{1, true}})
    {
    }

    void Init()
    {
        ASSERT_EQ(OMX_ErrorNone, m_oSource.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oFilter.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSource.ConnectTo(0, &m_oFilter, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oFilter.ConnectTo(0, &m_oSink, 0));
    }

    void TearDown()
    {
        EXPECT_EQ(OMX_ErrorNone, m_oFilter.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Deinit());
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }

    CTestOMXWrapper m_oSource;
    CTestOMXWrapper m_oFilter;
    CCountingSink m_oSink;
};
} // namespace

// ---- Construction and Init/Deinit ------------------------------------------------------------

TEST_F(OMXComponent, ConstructionKeepsTheNameAndTracesTheLifeCycle)
{
    const std::string oLong(300, 'x');
    SetInfoMessageLevel(3);
    COutputCapture oOut(STDOUT_FILENO);
    auto* poLongName = new CTestOMXWrapper(oLong.c_str(), {}, {});
    std::string oText = oOut.Finish();
    EXPECT_NE(std::string::npos, oText.find("# COMXComponent        \n")) << oText;
    EXPECT_EQ(std::string(255, 'x'), poLongName->GetComponentName());
    EXPECT_EQ(nullptr, poLongName->GetOMXHandle());
    EXPECT_EQ(OMX_StateInvalid, poLongName->GetComponentState());
    EXPECT_EQ(OMX_StateInvalid, poLongName->GetCtrlState());
    EXPECT_EQ(nullptr, poLongName->GetOMXCtrlHandle());
    EXPECT_EQ(OMX_ErrorNotImplemented, poLongName->Pause());
    EXPECT_EQ(OMX_ErrorNone, poLongName->SetParametersIdle());
    {
        COutputCapture oDestruction(STDOUT_FILENO);
        delete poLongName;
        oText = oDestruction.Finish();
    }
    EXPECT_NE(std::string::npos, oText.find("# ~COMXComponent       \n")) << oText;

    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    SetInfoMessageLevel(2);
    OMX_HANDLETYPE hHandle = nullptr;
    {
        COutputCapture oLifeCycle(STDOUT_FILENO);
        if (oFilter.Init() == OMX_ErrorNone)
        {
            hHandle = oFilter.GetOMXHandle();
            oFilter.Deinit();
        }
        oText = oLifeCycle.Finish();
    }
    ASSERT_NE(nullptr, hHandle);
    EXPECT_NE(std::string::npos, oText.find("# Init                 COMXComponent(OMX.Pellix.Test.PassThrough)\n")) << oText;
    EXPECT_NE(std::string::npos, oText.find("# Deinit               COMXComponent::OMX.Pellix.Test.PassThrough\n"))
        << oText;
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# Deinit               OMX_FreeHandle(m_hOMXComponent:%p)\n", hHandle)))
        << oText;
    EXPECT_EQ(nullptr, oFilter.GetOMXHandle());
    EXPECT_EQ(OMX_StateInvalid, oFilter.GetComponentState());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    // Init again after Deinit: a fresh handle in loaded state.
    SetInfoMessageLevel(0);
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    EXPECT_EQ(OMX_StateLoaded, oFilter.GetComponentState());
    EXPECT_EQ(1u, PellixPlatform_LiveHandleCount());
    ASSERT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

TEST_F(OMXComponent, AFailedGetHandleIsReportedAndDeinitFreesNoHandle)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    Arm(PellixFault_GetHandle, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorInsufficientResources);
    std::string oOther;
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Init", OMX_ErrorInsufficientResources),
                                        Key(local_oW, "Init", OMX_ErrorInsufficientResources)}),
              Records([&] { EXPECT_EQ(OMX_ErrorInsufficientResources, oFilter.Init()); }, &oOther));
    EXPECT_EQ("OMX_GetHandle(OMX.Pellix.Test.PassThrough) fails", oOther);
    EXPECT_EQ(nullptr, oFilter.GetOMXHandle());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());

    // A FreeHandle would take this fault: it stays armed.
    Arm(PellixFault_FreeHandle, nullptr, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit()); }));
    EXPECT_EQ(1u, PellixTest_PendingFaults());

    // An unknown component: the core's own code.
    CTestOMXWrapper oUnknown("OMX.Pellix.Test.NoSuchComponent", {}, {});
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Init", OMX_ErrorComponentNotFound),
                                        Key(local_oW, "Init", OMX_ErrorComponentNotFound)}),
              Records([&] { EXPECT_EQ(OMX_ErrorComponentNotFound, oUnknown.Init()); }, &oOther));
    EXPECT_EQ("OMX_GetHandle(OMX.Pellix.Test.NoSuchComponent) fails", oOther);
    EXPECT_EQ(OMX_ErrorNone, oUnknown.Deinit());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

TEST_F(OMXComponent, AFailedFreeHandleKeepsTheHandleForASecondDeinit)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    oFilter.m_szCtrlName = PELLIX_TEST_PORTLESS;
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    EXPECT_EQ(2u, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_StateLoaded, oFilter.GetCtrlState());

    Arm(PellixFault_FreeHandle, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Deinit", OMX_ErrorHardware),
                                        Key(local_oW, "Deinit", OMX_ErrorHardware)}),
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, oFilter.Deinit()); }));
    EXPECT_NE(nullptr, oFilter.GetOMXHandle());
    EXPECT_EQ(2u, PellixPlatform_LiveHandleCount());

    // The control handle's turn: the main one goes, the control one stays.
    Arm(PellixFault_FreeHandle, PELLIX_TEST_PORTLESS, PELLIX_ANY_INDEX, OMX_ErrorTimeout);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Deinit", OMX_ErrorTimeout),
                                        Key(local_oW, "Deinit", OMX_ErrorTimeout)}),
              Records([&] { EXPECT_EQ(OMX_ErrorTimeout, oFilter.Deinit()); }));
    EXPECT_EQ(nullptr, oFilter.GetOMXHandle());
    EXPECT_NE(nullptr, oFilter.GetOMXCtrlHandle());
    EXPECT_EQ(1u, PellixPlatform_LiveHandleCount());

    EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit()); }));
    EXPECT_EQ(nullptr, oFilter.GetOMXCtrlHandle());
    EXPECT_EQ(OMX_StateInvalid, oFilter.GetCtrlState());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

TEST_F(OMXComponent, ParametersGoStraightToThePlatform)
{
    CTestOMXWrapper oSource(PELLIX_TEST_SOURCE, {}, {{0, true}});
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(0);
    EXPECT_EQ(OMX_ErrorInvalidComponent, oSource.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, oSource.Init());
    ASSERT_EQ(OMX_ErrorNone, oSource.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(2048u, oDefinition.nBufferSize);
    oDefinition.nBufferCountActual = 6;
    ASSERT_EQ(OMX_ErrorNone, oSource.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    OMX_PARAM_PORTDEFINITIONTYPE oRead = PortDefinition(0);
    ASSERT_EQ(OMX_ErrorNone, oSource.GetOmxParam(OMX_IndexParamPortDefinition, &oRead));
    EXPECT_EQ(6u, oRead.nBufferCountActual);
    // The platform's refusal comes back unchanged, without a record.
    oDefinition.nBufferCountActual = 0;
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  EXPECT_EQ(OMX_ErrorBadParameter, oSource.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
              }));

    OMX_CONFIG_FRAMERATETYPE oRate;
    memset(&oRate, 0, sizeof(oRate));
    oRate.nSize = sizeof(oRate);
    oRate.nVersion.s.nVersionMajor = 1;
    oRate.nVersion.s.nVersionMinor = 1;
    oRate.xEncodeFramerate = 30 << 16;
    ASSERT_EQ(OMX_ErrorNone, oSource.SetOmxConfig(OMX_IndexConfigVideoFramerate, &oRate));
    oRate.xEncodeFramerate = 0;
    ASSERT_EQ(OMX_ErrorNone, oSource.GetOmxConfig(OMX_IndexConfigVideoFramerate, &oRate));
    EXPECT_EQ(30u << 16, oRate.xEncodeFramerate);

    // No control component: the control accessors are refused.
    EXPECT_EQ(OMX_ErrorInvalidComponent, oSource.SetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorInvalidComponent, oSource.GetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorInvalidComponent, oSource.SetOmxCtlConfig(OMX_IndexConfigVideoFramerate, &oRate));
    ASSERT_EQ(OMX_ErrorNone, oSource.Deinit());
}

TEST_F(OMXComponent, ControlParametersGoToTheControlComponent)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PORTLESS, {}, {});
    oFilter.m_szCtrlName = PELLIX_TEST_SOURCE;
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(0);
    // The main component has no port 0; the control component has.
    EXPECT_NE(OMX_ErrorNone, oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    oDefinition.nBufferCountActual = 3;
    ASSERT_EQ(OMX_ErrorNone, oFilter.SetOmxCtlParam(OMX_IndexParamPortDefinition, &oDefinition));
    OMX_PARAM_PORTDEFINITIONTYPE oRead = PortDefinition(0);
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxCtlParam(OMX_IndexParamPortDefinition, &oRead));
    EXPECT_EQ(3u, oRead.nBufferCountActual);
    ASSERT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

// ---- Execute ------------------------------------------------------------------------------------

TEST_F(OMXComponent, ExecuteBringsTheChainUpInOrderAndASecondExecuteDoesNothing)
{
    SSoftwareChain oChain;
    oChain.Init();
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start());
    std::string oText = oOut.Finish();
    EXPECT_EQ(OMX_StateExecuting, oChain.m_oFilter.GetComponentState());
    EXPECT_EQ(1u, oChain.m_oFilter.m_uiSetParameters.load());
    EXPECT_EQ(1u, oChain.m_oFilter.m_uiSetParametersIdle.load());
    EXPECT_TRUE(oChain.m_oFilter.IsBufferProcessing());
    // Idle is scheduled without waiting, the buffers come, then the wait; executing with a wait.
    const OMX_HANDLETYPE hFilter = oChain.m_oFilter.GetOMXHandle();
    const size_t uiIdle = oText.find(Printf("COMXComponent(%p) OMX_StateIdle NOWAIT\n", hFilter));
    const size_t uiAlloc = oText.find("# AllocBuffers         ::");
    const size_t uiWait = oText.find(Printf("# WaitForStateTransition COMXComponent(%p) OMX_StateIdle\n", hFilter));
    const size_t uiExec = oText.find(Printf("COMXComponent(%p) OMX_StateExecuting WAIT\n", hFilter));
    const size_t uiPrime = oText.find("# StartBufferProcessing OMX_FillThisBuffer(");
    ASSERT_NE(std::string::npos, uiIdle) << oText;
    ASSERT_NE(std::string::npos, uiAlloc) << oText;
    ASSERT_NE(std::string::npos, uiWait) << oText;
    ASSERT_NE(std::string::npos, uiExec) << oText;
    ASSERT_NE(std::string::npos, uiPrime) << oText;
    EXPECT_LT(uiIdle, uiAlloc);
    EXPECT_LT(uiAlloc, uiWait);
    EXPECT_LT(uiWait, uiExec);
    EXPECT_LT(uiExec, uiPrime);
    EXPECT_EQ(4u, Occurrences(oText, "# StartBufferProcessing OMX_FillThisBuffer("));
    EXPECT_EQ(8u, Occurrences(oText, "# AllocBuffers         OMX_AllocateBuffer("));
    EXPECT_EQ(4u, Occurrences(oText, "# UseRemoteBuffers     OMX_UseBuffer((nil), "));
    SetInfoMessageLevel(0);

    // Reached again while executing: nothing is sent (a command would take the armed fault).
    Arm(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oFilter.Execute(0));
    EXPECT_EQ(1u, PellixTest_PendingFaults());
    EXPECT_EQ(1u, oChain.m_oFilter.m_uiSetParameters.load());
    PellixTest_Reset();
    SetInfoMessageLevel(0);
    oChain.TearDown();
}

TEST_F(OMXComponent, ExecuteFailuresReturnThePlatformCodeUpTheChain)
{
    struct SCase
    {
        const char* szName;
        PellixFaultKind eKind;
        OMX_U32 uiIndex;
        std::vector<std::string> aoTail;  // records below the filter's Execute
    };
    const OMX_ERRORTYPE eError = OMX_ErrorHardware;
    const SCase aoCases[] = {
        {"state command refused", PellixFault_SendCommand, OMX_CommandStateSet, {Key(local_oC, "SetState", eError)}},
        {"input allocation refused", PellixFault_AllocateBuffer, 0, {Key(local_oP, "AllocBuffers", eError)}},
        {"output allocation refused", PellixFault_AllocateBuffer, 1, {Key(local_oP, "AllocBuffers", eError)}},
    };
    for (const SCase& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.szName);
        SSoftwareChain oChain;
        oChain.Init();
        Arm(roCase.eKind, PELLIX_TEST_PASS_THROUGH, roCase.uiIndex, eError);
        std::vector<std::string> aoExpected = roCase.aoTail;
        for (const std::string& roKey : {Key(local_oC, "Execute", eError), Key(local_oS, "Execute", eError),
                                         Key(local_oS, "Start", eError)})
            aoExpected.push_back(roKey);
        EXPECT_EQ(aoExpected, Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
        EXPECT_EQ(0u, PellixTest_PendingFaults());
        EXPECT_EQ(0u, oChain.m_oSink.m_uiTotal.load()) << "nothing was primed";
        EXPECT_FALSE(oChain.m_oSource.IsBufferProcessing());
        // An allocation that failed left its port without buffers or table.
        EXPECT_FALSE(oChain.m_oFilter.m_aoOutput[0].IsBufferReady());
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    }
}

TEST_F(OMXComponent, AnAllocationFailingHalfWayGivesBackWhatItGot)
{
    // The input provides one buffer more than the platform port takes: the fifth allocation is
    // refused by the platform after four succeeded.
    SWrapperPort oInput{0, true};
    oInput.uiProvideCount = 5;
    SSoftwareChain oChain;
    oChain.m_oFilter.m_aoInputSpec = {oInput};
    oChain.Init();
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    const OMX_ERRORTYPE eRefused = OMX_ErrorIncorrectStateOperation;
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "AllocBuffers", eRefused), Key(local_oC, "Execute", eRefused),
                                        Key(local_oS, "Execute", eRefused), Key(local_oS, "Start", eRefused)}),
              Records([&] { EXPECT_EQ(eRefused, oChain.m_oSource.Start()); }));
    const std::string oText = oOut.Finish();
    EXPECT_EQ(5u, Occurrences(oText, "# AllocBuffers         OMX_AllocateBuffer("));
    EXPECT_EQ(1u, Occurrences(oText, ") pBuffer=(nil)\n"));
    CSinkPort& roInput = oChain.m_oFilter.m_aoInput[0];
    EXPECT_FALSE(roInput.IsBufferReady());
    EXPECT_EQ(0u, roInput.GetBufferCount());
    // The platform port holds no buffer any more: its definition may be set again.
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(0);
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, oChain.m_oFilter.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    SetInfoMessageLevel(0);
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
}

TEST_F(OMXComponent, UsingTheRemoteMemoryFailsWithThePlatformCode)
{
    const OMX_ERRORTYPE eError = OMX_ErrorInsufficientResources;
    SPlatformPair oPair;
    oPair.Init();
    Arm(PellixFault_UseBuffer, PELLIX_TEST_PASS_THROUGH, 0, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "UseRemoteBuffers", eError), Key(local_oC, "Execute", eError),
                                        Key(local_oC, "Execute", eError), Key(local_oC, "Start", eError)}),
              Records([&] { EXPECT_EQ(eError, oPair.m_oSource.Start()); }));
    EXPECT_FALSE(oPair.m_oFilter.m_aoInput[0].IsBufferReady());
    // The source's buffers were all there, so its move to idle completes on its own; the stop
    // then finds it idle and takes it back to loaded.
    ASSERT_TRUE(Eventually([&] { return oPair.m_oSource.GetComponentState() == OMX_StateIdle; }));
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { EXPECT_EQ(OMX_ErrorNone, oPair.m_oSource.Stop()); }));
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(oPair.m_oSource.GetOMXHandle()));
    EXPECT_FALSE(oPair.m_oSource.m_aoOutput[0].IsBufferReady());
    oPair.TearDown();
}

TEST_F(OMXComponent, UsingFailingHalfWayGivesBackWhatItGot)
{
    // The filter's platform input takes 3 buffers, the source provides 4: the fourth
    // OMX_UseBuffer is refused after three succeeded.
    SPlatformPair oPair;
    oPair.m_oFilter.m_aoInputSpec = {{0, false, 3}};
    oPair.Init();
    // For a moment both of the filter's ports are full: its move to idle must not be carried out
    // before the failed call has given its buffers back.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 300));
    const OMX_ERRORTYPE eRefused = OMX_ErrorIncorrectStateOperation;
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "UseRemoteBuffers", eRefused), Key(local_oC, "Execute", eRefused),
                                        Key(local_oC, "Execute", eRefused), Key(local_oC, "Start", eRefused)}),
              Records([&] { EXPECT_EQ(eRefused, oPair.m_oSource.Start()); }));
    EXPECT_FALSE(oPair.m_oFilter.m_aoInput[0].IsBufferReady());
    EXPECT_EQ(nullptr, oPair.m_oFilter.m_aoInput[0].GetBufferHeader(0));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(0);
    ASSERT_EQ(OMX_ErrorNone, oPair.m_oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_ErrorNone, oPair.m_oFilter.SetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    ASSERT_TRUE(Eventually([&] { return oPair.m_oSource.GetComponentState() == OMX_StateIdle; }));
    EXPECT_EQ(OMX_ErrorNone, oPair.m_oSource.Stop());
    oPair.TearDown();
}

TEST_F(OMXComponent, ParameterHooksFailExecute)
{
    {
        SSoftwareChain oChain;
        oChain.Init();
        oChain.m_oFilter.m_eSetParametersResult = OMX_ErrorBadParameter;
        const OMX_ERRORTYPE eError = OMX_ErrorBadParameter;
        EXPECT_EQ((std::vector<std::string>{Key(local_oW, "SetParameters", eError), Key(local_oC, "Execute", eError),
                                            Key(local_oS, "Execute", eError), Key(local_oS, "Start", eError)}),
                  Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
        EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(oChain.m_oFilter.GetOMXHandle()));
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    }
    {
        // Refused in idle: the component stays idle with its buffers; the stop takes it down.
        SSoftwareChain oChain;
        oChain.Init();
        oChain.m_oFilter.m_eSetParametersIdleResult = OMX_ErrorUnsupportedSetting;
        const OMX_ERRORTYPE eError = OMX_ErrorUnsupportedSetting;
        EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Execute", eError), Key(local_oS, "Execute", eError),
                                            Key(local_oS, "Start", eError)}),
                  Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
        EXPECT_EQ(OMX_StateIdle, CTestOMXWrapper::PlatformState(oChain.m_oFilter.GetOMXHandle()));
        EXPECT_TRUE(oChain.m_oFilter.IsBuffersReady());
        EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    }
}

// ---- Stop: Loaded, ReleaseBuffers, StopBufferProcessing -----------------------------------------

TEST_F(OMXComponent, StopFailuresReturnThePlatformCodeAndASecondStopFinishes)
{
    SPlatformPair oPair;
    oPair.Init();
    ASSERT_EQ(OMX_ErrorNone, oPair.m_oSource.Start());
    ASSERT_TRUE(Eventually([&] { return oPair.m_oSink.m_uiTotal >= 8; }));

    // The move to idle refused.
    const OMX_ERRORTYPE eError = OMX_ErrorHardware;
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError),
                                        Key(local_oC, "StopBufferProcessing", eError), Key(local_oC, "Stop", eError)}),
              Records([&] { EXPECT_EQ(eError, oPair.m_oSource.Stop()); }));
    EXPECT_EQ(OMX_StateExecuting, CTestOMXWrapper::PlatformState(oPair.m_oSource.GetOMXHandle()));
    ASSERT_EQ(OMX_ErrorNone, oPair.m_oSource.StopBufferProcessing());
    EXPECT_EQ(OMX_StateIdle, CTestOMXWrapper::PlatformState(oPair.m_oSource.GetOMXHandle()));
    EXPECT_EQ(OMX_StateIdle, CTestOMXWrapper::PlatformState(oPair.m_oFilter.GetOMXHandle()));

    // The move to loaded refused.
    Arm(PellixFault_SendCommand, PELLIX_TEST_SOURCE, OMX_CommandStateSet, eError);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "SetState", eError), Key(local_oC, "Loaded", eError)}),
              Records([&] { EXPECT_EQ(eError, oPair.m_oSource.Loaded(0)); }));
    EXPECT_TRUE(oPair.m_oSource.m_aoOutput[0].IsBufferReady());

    // A buffer that cannot be freed: the release stops there and the port stays ready.
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_SOURCE, 0, OMX_ErrorTimeout);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", OMX_ErrorTimeout),
                                        Key(local_oC, "Loaded", OMX_ErrorTimeout)}),
              Records([&] { EXPECT_EQ(OMX_ErrorTimeout, oPair.m_oSource.Loaded(0)); }));
    EXPECT_TRUE(oPair.m_oSource.m_aoOutput[0].IsBufferReady());
    EXPECT_NE(nullptr, oPair.m_oSource.m_aoOutput[0].GetBufferHeader(0));

    // The teardown: the port's Deinit frees the rest, the platform completes its move to loaded,
    // the handles go. The filter downstream was never taken down by the failed Loaded: its own
    // Loaded does it.
    EXPECT_EQ(OMX_ErrorNone, oPair.m_oFilter.Loaded(0));
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(oPair.m_oFilter.GetOMXHandle()));
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { oPair.TearDown(); }));
}

TEST_F(OMXComponent, APortThatCannotFreeFailsDeinitUntilItCan)
{
    SSoftwareChain oChain;
    oChain.Init();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.StopBufferProcessing());
    // In idle with buffers: the wrapper's Deinit releases its ports first.
    Arm(PellixFault_FreeBuffer, PELLIX_TEST_PASS_THROUGH, 1, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oP, "ReleaseBuffers", OMX_ErrorHardware),
                                        Key(local_oP, "Deinit", OMX_ErrorHardware),
                                        Key(local_oW, "Deinit", OMX_ErrorHardware)}),
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, oChain.m_oFilter.Deinit()); }));
    EXPECT_NE(nullptr, oChain.m_oFilter.GetOMXHandle());
    // The port forgot its table and is not ready any more; the platform component still holds
    // those buffers and frees them with its handle.
    EXPECT_FALSE(oChain.m_oFilter.m_aoOutput[0].IsBufferReady());
    EXPECT_EQ(nullptr, oChain.m_oFilter.m_aoOutput[0].GetBufferHeader(0));
    EXPECT_TRUE(oChain.m_oFilter.m_aoInput[0].IsBufferReady());
    EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                  EXPECT_EQ(OMX_ErrorNone, oChain.m_oSource.GetOutputPort().ReleaseBuffers());
                  EXPECT_EQ(OMX_ErrorNone, oChain.m_oFilter.Deinit());
              }));
    EXPECT_FALSE(oChain.m_oFilter.m_aoInput[0].IsBufferReady());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

TEST_F(OMXComponent, LoadedThroughOneOfTwoFedInputsReleasesOnlyThatInput)
{
    CDefaultSource oFirst;
    CDefaultSource oSecond;
    CTestOMXWrapper oTwoInputs(PELLIX_TEST_TWO_INPUTS, {{0, true}, {1, true}}, {});
    for (CDefaultSource* poSource : {&oFirst, &oSecond})
    {
        poSource->SetFrameSize(64, 16);
        ASSERT_EQ(OMX_ErrorNone, poSource->Init());
    }
    ASSERT_EQ(OMX_ErrorNone, oTwoInputs.Init());
    ASSERT_EQ(OMX_ErrorNone, oFirst.ConnectTo(0, &oTwoInputs, 0));
    ASSERT_EQ(OMX_ErrorNone, oSecond.ConnectTo(0, &oTwoInputs, 1));

    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, oFirst.Start());
    ASSERT_EQ(OMX_ErrorNone, oSecond.Start());  // the consumer already runs: it only adopts
    ASSERT_TRUE(Eventually([] { return PellixTest_GetCounter(PELLIX_TEST_TWO_INPUTS, PellixCounter_FramesConsumed) > 40; }));
    ASSERT_EQ(OMX_ErrorNone, oFirst.Stop());
    // Still fed through input 1: only input 0 let its buffers go, the component stays up.
    EXPECT_FALSE(oTwoInputs.m_aoInput[0].IsBufferReady());
    EXPECT_TRUE(oTwoInputs.m_aoInput[1].IsBufferReady());
    EXPECT_NE(OMX_StateLoaded, oTwoInputs.GetComponentState());
    ASSERT_EQ(OMX_ErrorNone, oSecond.Stop());
    EXPECT_FALSE(oTwoInputs.m_aoInput[1].IsBufferReady());
    EXPECT_EQ(OMX_StateLoaded, oTwoInputs.GetComponentState());
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(oTwoInputs.GetOMXHandle()));
    const std::string oText = oOut.Finish();
    // The platform complained that input 0 lost its buffers while idle: only logged. (The
    // callback's lines may interleave with this thread's.)
    EXPECT_NE(std::string::npos, oText.find("Event(OMX_EventError,")) << oText;
    EXPECT_EQ(0u, Occurrences(oText, "Wait next OMX event..."));
    SetInfoMessageLevel(0);
    EXPECT_EQ(OMX_ErrorNone, oTwoInputs.Deinit());
}

// ---- Events -------------------------------------------------------------------------------------

TEST_F(OMXComponent, ACompletionPostedBeforeTheWaitIsNotLost)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    CSinkComponent oSink;
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    ASSERT_EQ(OMX_ErrorNone, oFilter.ConnectTo(0, &oSink, 0));
    const OMX_HANDLETYPE hFilter = oFilter.GetOMXHandle();
    ASSERT_EQ(OMX_ErrorNone, oFilter.SetParameters());
    ASSERT_EQ(OMX_ErrorNone, oFilter.ScheduleStateTransition(hFilter, OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oFilter.m_aoInput[0].AllocBuffers());
    ASSERT_EQ(OMX_ErrorNone, oFilter.m_aoOutput[0].AllocBuffers());
    // The completion arrives on the component's thread while nobody waits.
    ASSERT_TRUE(Eventually([&] { return oFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    EXPECT_EQ(OMX_StateIdle, oFilter.GetComponentState());
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, oFilter.WaitForStateTransition(hFilter, OMX_StateIdle));
    const std::string oText = oOut.Finish();
    EXPECT_EQ(0u, Occurrences(oText, "Wait next OMX event..."));
    EXPECT_NE(std::string::npos, oText.find(Printf("# WaitForStateTransition COMXComponent(%p) OMX_StateIdle\n", hFilter)));
    EXPECT_NE(std::string::npos, oText.find("# WaitForStateTransition Done\n"));
    EXPECT_EQ(0u, oFilter.PendingEvents(OMXEvent_StateChanged));
    SetInfoMessageLevel(0);
    EXPECT_EQ(OMX_ErrorNone, oFilter.Loaded(0));
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(hFilter));
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

TEST_F(OMXComponent, AControlCompletionMakesTheWaitForTheMainComponentTakeASecondEvent)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    CSinkComponent oSink;
    oFilter.m_szCtrlName = PELLIX_TEST_PORTLESS;
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    ASSERT_EQ(OMX_ErrorNone, oFilter.ConnectTo(0, &oSink, 0));
    const OMX_HANDLETYPE hFilter = oFilter.GetOMXHandle();
    const OMX_HANDLETYPE hCtrl = oFilter.GetOMXCtrlHandle();
    ASSERT_EQ(OMX_ErrorNone, oFilter.ScheduleStateTransition(hCtrl, OMX_StateIdle));
    ASSERT_TRUE(Eventually([&] { return oFilter.PendingEvents(OMXEvent_StateChanged) == 1; }));
    EXPECT_EQ(OMX_StateIdle, oFilter.GetCtrlState());
    EXPECT_EQ(OMX_StateLoaded, oFilter.GetComponentState());

    // The main component completes well after the wait has begun.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 500));
    ASSERT_EQ(OMX_ErrorNone, oFilter.SetParameters());
    ASSERT_EQ(OMX_ErrorNone, oFilter.ScheduleStateTransition(hFilter, OMX_StateIdle));
    ASSERT_EQ(OMX_ErrorNone, oFilter.m_aoInput[0].AllocBuffers());
    ASSERT_EQ(OMX_ErrorNone, oFilter.m_aoOutput[0].AllocBuffers());
    SetInfoMessageLevel(0);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, oFilter.WaitForStateTransition(hFilter, OMX_StateIdle));
    const std::string oText = oOut.Finish();
    EXPECT_EQ("INFO  ", oText.substr(0, 6));
    EXPECT_NE(std::string::npos, oText.find("# WaitForStateTransition Wait next OMX event...\n")) << oText;
    EXPECT_EQ(1u, Occurrences(oText, "\n")) << "only the level-0 line is shown: " << oText;
    EXPECT_EQ(OMX_StateIdle, oFilter.GetComponentState());
    EXPECT_EQ(0u, oFilter.PendingEvents(OMXEvent_StateChanged));

    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 0));
    // Down again: the control component before the main one; then the same two events again,
    // both for the control handle, end the wait as failed after the second pass.
    EXPECT_EQ(OMX_ErrorNone, oFilter.Loaded(0));
    EXPECT_EQ(OMX_StateLoaded, oFilter.GetCtrlState());
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(hCtrl));
    EXPECT_EQ(OMX_StateLoaded, CTestOMXWrapper::PlatformState(hFilter));
    oFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    oFilter.PostOMXEvent(hCtrl, OMXEvent_StateChanged, OMX_StateLoaded);
    EXPECT_EQ(OMX_ErrorInvalidState, oFilter.WaitForStateTransition(hFilter, OMX_StateIdle));
    EXPECT_EQ(0u, oFilter.PendingEvents(OMXEvent_StateChanged));
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

TEST_F(OMXComponent, TwoWrongCompletionsFailExecuteWithInvalidState)
{
    SSoftwareChain oChain;
    oChain.Init();
    // Two completions from nobody the wrapper knows are already counted when Execute waits, and
    // the filter's own completes well after that.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 500));
    const OMX_HANDLETYPE hStranger = reinterpret_cast<OMX_HANDLETYPE>(&oChain);
    oChain.m_oFilter.PostOMXEvent(hStranger, OMXEvent_StateChanged, OMX_StateIdle);
    oChain.m_oFilter.PostOMXEvent(hStranger, OMXEvent_StateChanged, OMX_StateIdle);
    EXPECT_EQ(OMX_StateLoaded, oChain.m_oFilter.GetComponentState());
    COutputCapture oOut(STDOUT_FILENO);
    const OMX_ERRORTYPE eError = OMX_ErrorInvalidState;
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "Execute", eError), Key(local_oS, "Execute", eError),
                                        Key(local_oS, "Start", eError)}),
              Records([&] { EXPECT_EQ(eError, oChain.m_oSource.Start()); }));
    EXPECT_EQ(1u, Occurrences(oOut.Finish(), "Wait next OMX event..."));
    // The real completion is still counted; the stop's wait takes it first and then its own.
    ASSERT_TRUE(Eventually([&] { return oChain.m_oFilter.GetComponentState() == OMX_StateIdle; }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands(PELLIX_TEST_PASS_THROUGH, 0));
    EXPECT_EQ(std::vector<std::string>{}, Records([&] { oChain.TearDown(); }));
    EXPECT_EQ(OMX_StateInvalid, oChain.m_oFilter.GetComponentState());
}

TEST_F(OMXComponent, AnErrorEventIsOnlyLogged)
{
    SSoftwareChain oChain;
    oChain.Init();
    const OMX_HANDLETYPE hFilter = oChain.m_oFilter.GetOMXHandle();
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, hFilter, OMX_ErrorHardware, 0));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, hFilter, OMX_ErrorOverflow, 5));
    // The component's events come in order: once a port command has completed, both errors
    // have been handled (and this thread wrote nothing meanwhile).
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oFilter.EnablePort(1, 0));
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oFilter.EnablePort(1, 1));
    // A whole start afterwards consumes exactly its own completions.
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Start());
    const std::string oText = oOut.Finish();
    char szLine[256];
    snprintf(szLine, sizeof(szLine),
             "# CallbackOMXEvent     <<COMXComponent(%p) Event(OMX_EventError,OMX_CommandUnknow,OMX_StateInvalid) "
             "[00000001(%d,0)]>>\n",
             hFilter, static_cast<int>(OMX_ErrorHardware));
    EXPECT_NE(std::string::npos, oText.find(szLine)) << oText;
    snprintf(szLine, sizeof(szLine),
             "<<COMXComponent(%p) Event(OMX_EventError,OMX_CommandUnknow,OMX_StateWaitForResources) "
             "[00000001(%d,5)]>>\n",
             hFilter, static_cast<int>(OMX_ErrorOverflow));
    EXPECT_NE(std::string::npos, oText.find(szLine)) << oText;
    EXPECT_EQ(2u, Occurrences(oText, "# CallbackOMXEvent     OMX_EventError\n")) << oText;
    EXPECT_EQ(1u, Occurrences(oText, "# CallbackOMXEvent     THIS COMPONENT CANNOT CHANGE TO THIS STATE!!!!!\n"))
        << oText;
    EXPECT_EQ(0u, Occurrences(oText, "Wait next OMX event..."));
    for (OMXEventType eEvent : {OMXEvent_StateChanged, OMXEvent_EnableDisablePort, OMXEvent_EOSBuffer})
        EXPECT_EQ(0u, oChain.m_oFilter.PendingEvents(eEvent));
    SetInfoMessageLevel(0);
    oChain.TearDown();
}

TEST_F(OMXComponent, AWaitAnsweredByAnErrorEventKeepsWaiting)
{
    SSoftwareChain oChain;
    oChain.Init();
    const OMX_HANDLETYPE hFilter = oChain.m_oFilter.GetOMXHandle();
    Arm(PellixFault_StateTransition, PELLIX_TEST_PASS_THROUGH, OMX_StateExecuting, OMX_ErrorHardware);
    std::atomic<bool> bDone{false};
    OMX_ERRORTYPE eStart = OMX_ErrorUndefined;
    std::thread oHost([&] {
        eStart = oChain.m_oSource.Start();
        bDone = true;
    });
    // The refusal has been sent; the start still waits for its completion.
    ASSERT_TRUE(Eventually([] { return PellixTest_PendingFaults() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(bDone);
    EXPECT_EQ(OMX_StateIdle, CTestOMXWrapper::PlatformState(hFilter));
    // The command again, from outside: its completion ends the wait.
    ASSERT_EQ(OMX_ErrorNone, OMX_SendCommand(hFilter, OMX_CommandStateSet, OMX_StateExecuting, nullptr));
    oHost.join();
    EXPECT_EQ(OMX_ErrorNone, eStart);
    EXPECT_EQ(OMX_StateExecuting, oChain.m_oFilter.GetComponentState());
    oChain.TearDown();
}

TEST_F(OMXComponent, PortsAreEnabledAndDisabledWithAWait)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "EnablePort", OMX_ErrorInvalidComponent)}),
              Records([&] { EXPECT_EQ(OMX_ErrorInvalidComponent, oFilter.EnablePort(1, 0)); }));
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    SetInfoMessageLevel(2);
    COutputCapture oOut(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, oFilter.EnablePort(1, 0));
    OMX_PARAM_PORTDEFINITIONTYPE oDefinition = PortDefinition(1);
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_FALSE, oDefinition.bEnabled);
    EXPECT_EQ(OMX_ErrorNone, oFilter.EnablePort(1, 1));
    ASSERT_EQ(OMX_ErrorNone, oFilter.GetOmxParam(OMX_IndexParamPortDefinition, &oDefinition));
    EXPECT_EQ(OMX_TRUE, oDefinition.bEnabled);
    const std::string oText = oOut.Finish();
    const OMX_HANDLETYPE hFilter = oFilter.GetOMXHandle();
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# EnablePort           COMXComponent(%p) DisablePort  uiPortID==1\n", hFilter)))
        << oText;
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# EnablePort           COMXComponent(%p) EnablePort  uiPortID==1\n", hFilter)));
    EXPECT_EQ(0u, oFilter.PendingEvents(OMXEvent_EnableDisablePort));
    // A refused command is not waited for.
    SetInfoMessageLevel(0);
    Arm(PellixFault_SendCommand, PELLIX_TEST_PASS_THROUGH, OMX_CommandPortDisable, OMX_ErrorHardware);
    EXPECT_EQ((std::vector<std::string>{Key(local_oC, "EnablePort", OMX_ErrorHardware)}),
              Records([&] { EXPECT_EQ(OMX_ErrorHardware, oFilter.EnablePort(0, 0)); }));
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

TEST_F(OMXComponent, TheEventCallbackCountsCompletionsAndEndOfStreamAndLogsTheRest)
{
    CTestOMXWrapper oFilter(PELLIX_TEST_PASS_THROUGH, {{0, true}}, {{1, true}});
    ASSERT_EQ(OMX_ErrorNone, oFilter.Init());
    const OMX_HANDLETYPE hFilter = oFilter.GetOMXHandle();
    SetInfoMessageLevel(1);
    COutputCapture oOut(STDOUT_FILENO);
    auto fnEvent = [&](OMX_EVENTTYPE eEvent, OMX_U32 uiData1, OMX_U32 uiData2) {
        EXPECT_EQ(OMX_ErrorNone, COMXComponent::CallbackOMXEvent(hFilter, &oFilter, eEvent, uiData1, uiData2, nullptr));
    };
    fnEvent(OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_EOS);
    fnEvent(OMX_EventBufferFlag, 1, OMX_BUFFERFLAG_ENDOFFRAME);
    fnEvent(OMX_EventCmdComplete, OMX_CommandPortEnable, 1);
    fnEvent(OMX_EventCmdComplete, OMX_CommandFlush, 1);
    fnEvent(OMX_EventCmdComplete, OMX_CommandStateSet, OMX_StateIdle);
    fnEvent(OMX_EventPortSettingsChanged, 1, 2);
    const std::string oText = oOut.Finish();
    EXPECT_EQ(1u, oFilter.PendingEvents(OMXEvent_EOSBuffer));
    EXPECT_EQ(1u, oFilter.PendingEvents(OMXEvent_EnableDisablePort));
    EXPECT_EQ(1u, oFilter.PendingEvents(OMXEvent_StateChanged));
    EXPECT_EQ(OMX_StateIdle, oFilter.GetComponentState());
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# CallbackOMXEvent     <<COMXComponent(%p) "
                                "Event(OMX_EventCmdComplete,OMX_CommandStateSet,OMX_StateIdle) [00000000(0,2)]>>\n",
                                hFilter)))
        << oText;
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# CallbackOMXEvent     <<COMXComponent(%p) "
                                "Event(OMX_EventPortSettingsChanged,OMX_CommandFlush,OMX_StateIdle) "
                                "[00000003(1,2)]>>\n",
                                hFilter)))
        << oText;
    EXPECT_NE(std::string::npos, oText.find("# CallbackOMXEvent     Unhandled event, param1 = 1, param2 = 2.\n"));
    EXPECT_EQ(1u, Occurrences(oText, "Unhandled event"));
    // Each counted event is consumed once; types out of range are ignored.
    oFilter.WaitOMXEvent(OMXEvent_EOSBuffer);
    oFilter.WaitOMXEvent(OMXEvent_EnableDisablePort);
    oFilter.WaitOMXEvent(OMXEvent_StateChanged);
    oFilter.WaitOMXEvent(OMXEvent_LastEvent);
    oFilter.PostOMXEvent(hFilter, OMXEvent_LastEvent, 0);
    for (OMXEventType eEvent : {OMXEvent_StateChanged, OMXEvent_EnableDisablePort, OMXEvent_EOSBuffer})
        EXPECT_EQ(0u, oFilter.PendingEvents(eEvent));
    SetInfoMessageLevel(0);
    EXPECT_EQ(OMX_ErrorNone, oFilter.Deinit());
}

// ---- Buffers -------------------------------------------------------------------------------------

TEST_F(OMXComponent, BuffersArrivingWhileStoppedAreKeptAndUnknownMemoryIsRefused)
{
    SSoftwareChain oChain;
    oChain.Init();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
    CTestOMXWrapper& roFilter = oChain.m_oFilter;
    const OMX_HANDLETYPE hFilter = roFilter.GetOMXHandle();
    OMX_BUFFERHEADERTYPE* poFromSource = oChain.m_oSource.GetOutputPort().GetBufferHeader(0);
    OMX_BUFFERHEADERTYPE* poOwnOutput = roFilter.m_aoOutput[0].GetBufferHeader(2);
    ASSERT_NE(nullptr, poFromSource);
    EXPECT_FALSE(roFilter.IsBufferProcessing());

    // Stopped: nothing reaches the platform (it would take these faults).
    Arm(PellixFault_EmptyThisBuffer, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    Arm(PellixFault_FillThisBuffer, PELLIX_TEST_PASS_THROUGH, PELLIX_ANY_INDEX, OMX_ErrorHardware);
    SetInfoMessageLevel(4);
    {
        COutputCapture oOut(STDOUT_FILENO);
        EXPECT_EQ(std::vector<std::string>{}, Records([&] {
                      EXPECT_EQ(OMX_ErrorNone, roFilter.EmptyThisBuffer(poFromSource));
                      EXPECT_EQ(OMX_ErrorNone, roFilter.FillThisBuffer(poOwnOutput));
                  }));
        const std::string oText = oOut.Finish();
        const std::string oSkip = Printf("   Skipped::This component(%p) is stopped\n", hFilter);
        EXPECT_EQ(2u, Occurrences(oText, oSkip)) << oText;
        EXPECT_NE(std::string::npos,
                  oText.find(Printf("# EmptyThisBuffer      OMX_EmptyThisBuffer(%p, %p)\n", hFilter,
                                    roFilter.m_aoInput[0].GetBufferHeader(0))))
            << oText;
        EXPECT_NE(std::string::npos,
                  oText.find(Printf("# FillThisBuffer       OMX_FillThisBuffer(%p, %p)\n", hFilter, poOwnOutput)))
            << oText;
    }
    EXPECT_EQ(2u, PellixTest_PendingFaults());
    PellixTest_Reset();

    // Memory no port of the filter knows.
    OMX_U8 aucElsewhere[16];
    OMX_BUFFERHEADERTYPE oStranger{};
    oStranger.pBuffer = aucElsewhere;
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
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
    const std::string oText = oOut.Finish();
    EXPECT_EQ(4u, Occurrences(oText, "# FindLocalBufferHeader CANOT FIND BUFFER...\n\n")) << oText;
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# EmptyThisBuffer      COMXComponent(%p) poBufferHeader:%p [Stopped]\n", hFilter,
                                &oStranger)));
    SetInfoMessageLevel(0);
    oChain.TearDown();
}

TEST_F(OMXComponent, HeadersAreFoundByTheirMemoryInputsFirst)
{
    SSoftwareChain oChain;
    oChain.Init();
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
    CTestOMXWrapper& roFilter = oChain.m_oFilter;
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    for (MUINT32 i = 0; i < 4; ++i)
    {
        OMX_BUFFERHEADERTYPE* poLocal = nullptr;
        OMX_BUFFERHEADERTYPE* poRemote = oChain.m_oSource.GetOutputPort().GetBufferHeader(i);
        EXPECT_EQ(&roFilter.m_aoInput[0], roFilter.FindLocalBufferHeader(poRemote, &poLocal, 0));
        EXPECT_EQ(roFilter.m_aoInput[0].GetBufferHeader(i), poLocal);
        OMX_BUFFERHEADERTYPE* poOutput = roFilter.m_aoOutput[0].GetBufferHeader(i);
        EXPECT_EQ(&roFilter.m_aoOutput[0], roFilter.FindLocalBufferHeader(poOutput, &poLocal, 0));
        EXPECT_EQ(poOutput, poLocal);
    }
    OMX_BUFFERHEADERTYPE* poLocal = reinterpret_cast<OMX_BUFFERHEADERTYPE*>(&oChain);
    EXPECT_EQ(nullptr, roFilter.FindLocalBufferHeader(roFilter.m_aoOutput[0].GetBufferHeader(0), &poLocal, 1));
    EXPECT_EQ(nullptr, poLocal);
    const std::string oText = oOut.Finish();
    EXPECT_NE(std::string::npos,
              oText.find(Printf("# FindLocalBufferHeader %p::IN=", roFilter.GetOMXHandle()) +
                         Printf("%p OUT=%p\n", oChain.m_oSource.GetOutputPort().GetBufferHeader(0),
                                roFilter.m_aoInput[0].GetBufferHeader(0))))
        << oText;

    // The neighbour's header fields are copied, the memory and ownership fields are not.
    OMX_BUFFERHEADERTYPE oSource{};
    OMX_BUFFERHEADERTYPE oDestination{};
    OMX_U8 aucMemory[4];
    int iMark = 0;
    oSource.nFilledLen = 100;
    oSource.nOffset = 3;
    oSource.nTimeStamp = 123456;
    oSource.nFlags = OMX_BUFFERFLAG_EOS;
    oSource.hMarkTargetComponent = roFilter.GetOMXHandle();
    oSource.pMarkData = &iMark;
    oSource.nTickCount = 77;
    oSource.pBuffer = aucMemory;
    oSource.nAllocLen = 4;
    oDestination.nTickCount = 9;
    EXPECT_EQ(OMX_ErrorNone, roFilter.PopulateBufferHeader(&oDestination, &oSource));
    EXPECT_EQ(100u, oDestination.nFilledLen);
    EXPECT_EQ(3u, oDestination.nOffset);
    EXPECT_EQ(123456, oDestination.nTimeStamp);
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_EOS), oDestination.nFlags);
    EXPECT_EQ(roFilter.GetOMXHandle(), oDestination.hMarkTargetComponent);
    EXPECT_EQ(&iMark, oDestination.pMarkData);
    EXPECT_EQ(0u, oDestination.nTickCount);
    EXPECT_EQ(nullptr, oDestination.pBuffer);
    EXPECT_EQ(0u, oDestination.nAllocLen);
    oSource.nTickCount = 5;
    EXPECT_EQ(OMX_ErrorNone, roFilter.PopulateBufferHeader(&oSource, &oSource));
    EXPECT_EQ(5u, oSource.nTickCount);
    SetInfoMessageLevel(0);
    oChain.TearDown();
}

TEST_F(OMXComponent, BufferReadinessIsReported)
{
    SSoftwareChain oChain;
    oChain.Init();
    SetInfoMessageLevel(1);
    {
        COutputCapture oOut(STDOUT_FILENO);
        EXPECT_FALSE(oChain.m_oFilter.IsBuffersReady());
        EXPECT_NE(std::string::npos, oOut.Finish().find("# IsBuffersReady       Not ready\n"));
    }
    ASSERT_EQ(OMX_ErrorNone, oChain.m_oSource.Execute(0));
    {
        COutputCapture oOut(STDOUT_FILENO);
        EXPECT_TRUE(oChain.m_oFilter.IsBuffersReady());
        EXPECT_NE(std::string::npos, oOut.Finish().find("# IsBuffersReady       Ready\n"));
    }
    SetInfoMessageLevel(0);
    oChain.TearDown();
}

TEST_F(OMXComponent, AFrameGoesBackUpstreamWhenItsLastFieldComesBack)
{
    // A software frame producer and a wrapper without platform handle whose interlaced input
    // adopts the producer's two frames as four field headers.
    const SPortBufferInfo oFrames = {static_cast<OMX_COLOR_FORMATTYPE>(25), 64 * 16 * 2, 64, 16};
    std::vector<OMX_U8> aucMemory(2 * oFrames.uiBufferSize);
    CRecordingComponent oProducer;
    ASSERT_EQ(OMX_ErrorNone, oProducer.Init());
    oProducer.m_oOutput.FakeProvide(oFrames, aucMemory.data(), 2);
    SWrapperPort oFieldInput{0, false};
    oFieldInput.bInterlaced = true;
    CTestOMXWrapper oFields("OMX.Pellix.Test.NotOpened", {oFieldInput}, {});
    ASSERT_EQ(OMX_ErrorNone, oFields.InitPorts());
    ASSERT_EQ(OMX_ErrorNone, oProducer.ConnectTo(0, &oFields, 0));
    CSinkPort& roInput = oFields.m_aoInput[0];
    roInput.SetInterlaced(true);
    ASSERT_EQ(OMX_ErrorNone, roInput.UseRemoteBuffers());
    ASSERT_EQ(4u, roInput.GetBufferCount());
    EXPECT_EQ(64u * 2 * 8, roInput.GetOddFieldOffset());

    // Both fields of each frame are marked before either is handed on (stopped here: kept).
    for (MUINT32 uiFrame = 0; uiFrame < 2; ++uiFrame)
    {
        OMX_BUFFERHEADERTYPE* poFrame = oProducer.m_oOutput.GetBufferHeader(uiFrame);
        poFrame->nFilledLen = oFrames.uiBufferSize;
        poFrame->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | OMXBufferFlag_SecondField;
        EXPECT_EQ(OMX_ErrorNone, oFields.EmptyThisBuffer(poFrame));
        OMX_BUFFERHEADERTYPE* poFirst = roInput.GetBufferHeader(2 * uiFrame);
        OMX_BUFFERHEADERTYPE* poSecond = roInput.GetBufferHeader(2 * uiFrame + 1);
        EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_ENDOFFRAME | OMXBufferFlag_Field), poFirst->nFlags);
        EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_ENDOFFRAME | OMXBufferFlag_FieldMask), poSecond->nFlags);
        EXPECT_EQ(oFrames.uiBufferSize / 2, poFirst->nFilledLen);
        EXPECT_EQ(oFrames.uiBufferSize / 2, poSecond->nFilledLen);
    }
    // Frame 0: the second field comes back first, then the first; frame 1 the other way round.
    // Either way the frame goes up once, when its last field is done, named by its first field.
    const MUINT32 auiOrder[] = {1, 0, 2, 3};
    const unsigned auiReturnsAfter[] = {0, 1, 1, 2};
    for (unsigned i = 0; i < 4; ++i)
    {
        OMX_BUFFERHEADERTYPE* poField = roInput.GetBufferHeader(auiOrder[i]);
        EXPECT_EQ(OMX_ErrorNone, oFields.EmptyBufferDone(poField));
        EXPECT_EQ(0u, poField->nFlags & OMXBufferFlag_FieldMask);
        EXPECT_EQ(auiReturnsAfter[i], oProducer.Count(CRecordingComponent::Op_FillThisBuffer)) << i;
    }
    EXPECT_EQ(roInput.GetBufferHeader(2), oProducer.Last(CRecordingComponent::Op_FillThisBuffer));
    EXPECT_EQ(OMX_ErrorNone, roInput.Deinit());
}
