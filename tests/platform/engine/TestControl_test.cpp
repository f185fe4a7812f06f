// The test-control API, for what the tests that use it do not show: its argument checks, a refused
// state transition, injected error events from the components' own threads, the simulated input's
// texts and the display snapshot hook. (Every other kind of fault is armed, and
// its effect checked, by the tests of the library's wrappers.)
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <string>
#include <vector>

#include "COmxTestClient.h"
#include "CSimulatedInput.h"
#include "CTestControl.h"
#include "EngineTestSupport.h"

namespace
{
typedef CEngineTest TestControl;
} // namespace

TEST_F(TestControl, FaultsAreCheckedCountedAndDisarmedAndARefusedTransitionChangesNothing)
{
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_InjectFault(PellixFault_KindCount, nullptr, 0, 1, OMX_ErrorUndefined));
    EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_InjectFault(PellixFault_SendCommand, nullptr, 0, 1, OMX_ErrorNone));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_SendCommand, nullptr, 0, 0, OMX_ErrorUndefined));
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_GetHandle, PELLIX_TEST_SOURCE, 0, 2, OMX_ErrorInsufficientResources));
    EXPECT_TRUE(PellixTest_PendingFaults() == 2 &&
                COmxTestClient(PELLIX_TEST_PASS_THROUGH).GetHandleResult() == OMX_ErrorNone);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(OMX_ErrorInsufficientResources, COmxTestClient(PELLIX_TEST_SOURCE).GetHandleResult());
    COmxTestClient oClient(PELLIX_TEST_SOURCE);
    // A refused state transition: an error event instead of the completion; a move to another state
    // is not touched; the refused move expects no buffers any more. (A failed free is the wrapper's
    // test, with the effect of every other kind of fault.)
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_StateTransition, PELLIX_TEST_SOURCE, OMX_StateIdle, 1,
                                                    OMX_ErrorTimeout));
    ASSERT_TRUE(oClient.GoTo(OMX_StateWaitForResources) && oClient.GoTo(OMX_StateLoaded) &&
                Ok(oClient.SendState(OMX_StateIdle)));
    ASSERT_TRUE(oClient.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorTimeout), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    OMX_BUFFERHEADERTYPE* po = nullptr;
    EXPECT_TRUE(oClient.CountEvents() == 0 && oClient.State() == OMX_StateLoaded &&
                OMX_AllocateBuffer(oClient.Handle(), &po, 0, nullptr, 2048) == OMX_ErrorIncorrectStateOperation);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, nullptr, 0, 5, OMX_ErrorUndefined));
    PellixTest_Reset();
    EXPECT_TRUE(PellixTest_PendingFaults() == 0 && oClient.FreeHandle() == OMX_ErrorNone);
}

TEST_F(TestControl, RaisedErrorsReachTheClientsOfTheNamedComponentsFromTheirThreads)
{
    COmxTestClient oFirst(PELLIX_TEST_PASS_THROUGH), oSecond(PELLIX_TEST_PASS_THROUGH), oOther(PELLIX_TEST_SOURCE);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(PELLIX_TEST_PASS_THROUGH, nullptr, OMX_ErrorStreamCorrupt, 3));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_RaiseError(nullptr, oOther.Handle(), OMX_ErrorHardware, 0));
    ASSERT_TRUE(oFirst.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorStreamCorrupt), 3) &&
                oSecond.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorStreamCorrupt), 3) &&
                oOther.WaitEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorHardware), 0));
    std::this_thread::sleep_for(g_oQuietPeriod);
    for (const COmxTestClient* po : {&oFirst, &oSecond, &oOther})
        EXPECT_TRUE(po->CountEvents() == 0 && po->CallbackThreads().size() == 1 &&
                    po->CallbackThreads().count(std::this_thread::get_id()) == 0);
    EXPECT_NE(*oFirst.CallbackThreads().begin(), *oSecond.CallbackThreads().begin());
    const OMX_HANDLETYPE hGone = oOther.Handle();
    ASSERT_EQ(OMX_ErrorNone, oOther.FreeHandle());
    EXPECT_TRUE(PellixTest_RaiseError("OMX.Pellix.Nobody", nullptr, OMX_ErrorHardware, 0) ==
                    OMX_ErrorComponentNotFound &&
                PellixTest_RaiseError(nullptr, nullptr, OMX_ErrorHardware, 0) == OMX_ErrorBadParameter &&
                PellixTest_RaiseError(nullptr, hGone, OMX_ErrorHardware, 0) == OMX_ErrorComponentNotFound);
}

TEST_F(TestControl, TheSimulatedInputTakesTheSignalsOfTheEnvironmentVariableOnlyAndTheSnapshotGoesToItsWriter)
{
    // Each signal with its picture (none: the bars), told to the listeners; what does not parse
    // changes nothing. (What the receiver reports of each signal is the capture's test.)
    std::vector<SSimulatedSignal> aoHeard;
    CSimulatedInput& roInput = CSimulatedInput::Instance();
    roInput.AddListener(&aoHeard, [](void* pv, const SSimulatedSignal& ro)
                        { static_cast<std::vector<SSimulatedSignal>*>(pv)->push_back(ro); });
    const unsigned uiGeneration = roInput.Generation();
    for (const auto& ro : std::vector<std::pair<const char*, EPattern>>{
             {"720x480i60:bars", Pattern_Bars}, {"640x480p60:motion", Pattern_Motion}, {"none", Pattern_Bars},
             {"640x480p60", Pattern_Bars}, {"1280x720p50:motion", Pattern_Motion}})
        EXPECT_TRUE(PellixTest_SetSimulatedInput(ro.first) == OMX_ErrorNone && roInput.Pattern() == ro.second)
            << ro.first;
    EXPECT_TRUE(roInput.Generation() == uiGeneration + 5 && aoHeard.size() == 5 && aoHeard[0].bInterlaced &&
                !aoHeard[2].bPresent);
    for (const char* szBad : {"", "None", "1920x1080", "1920x1080x60", "0x1080p60", "1920x0p60", "1920x1080p0",
                              "1920x1081i60", "1920x1080p60 ", " 1920x1080p60", "-1920x1080p60", "1920X1080p60",
                              "99999x1080p60", "1920x1080q60", "abc", static_cast<const char*>(nullptr),
                              "640x480p60:zoneplate", "640x480p60:", "none:motion", "640x480p60motion"})
        EXPECT_EQ(OMX_ErrorBadParameter, PellixTest_SetSimulatedInput(szBad)) << (szBad ? szBad : "null");
    EXPECT_TRUE(roInput.Current().uiHeight == 720 && roInput.Pattern() == Pattern_Motion);  // unchanged
    roInput.RemoveListener(&aoHeard);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    EXPECT_EQ(5u, aoHeard.size());
    // The snapshot goes to the writer registered (the display), until it is cleared by its owner.
    EXPECT_TRUE(PellixTest_WriteDisplaySnapshot("/tmp/none") == OMX_ErrorNotReady &&
                PellixTest_WriteDisplaySnapshot(nullptr) == OMX_ErrorBadParameter);
    std::string oPathSeen;
    CTestControl::Instance().SetSnapshotWriter(&oPathSeen, [](void* pv, const char* szPath) {
        *static_cast<std::string*>(pv) = szPath;
        return OMX_ErrorNone;
    });
    int iOther = 0;
    CTestControl::Instance().ClearSnapshotWriter(&iOther);
    EXPECT_TRUE(PellixTest_WriteDisplaySnapshot("/tmp/shown.yuv") == OMX_ErrorNone && oPathSeen == "/tmp/shown.yuv");
    CTestControl::Instance().ClearSnapshotWriter(&oPathSeen);
    EXPECT_EQ(OMX_ErrorNotReady, PellixTest_WriteDisplaySnapshot("/tmp/none"));
}
