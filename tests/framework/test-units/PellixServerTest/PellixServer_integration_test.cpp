// The control API on the simulated platform, each scenario in a process of its own: refused
// starts; the stop, the volume and a second start with and without a graph; a failing and a second
// InitComponents; every kind of platform call failing once during a start and during a stop, with
// the teardown; twenty start/stop cycles with and without audio; a host callback that stops (and
// restarts) the stream from the polling thread; interlaced fields the deinterlacer refuses. Nothing
// may be touched after it was freed (the sanitizer builds run these), nothing may be left, and the
// next start serves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "ControlApi.h"
#include "EdidReference.h"
#include "PellixTestControl.h"

namespace
{
const std::string local_oEntry = "framework/test-units/PellixServerTest/PellixServerTestEntry";
const std::string local_oUrl = "rtsp://127.0.0.1:8554/Video1920x1080@60fps";

// What fn wrote on standard output (at message level iLevel) and standard error. Failures are
// checked after it, never inside: their messages would be captured too.
template <typename TFn>
std::pair<std::string, std::string> Captured(TFn fn, int iLevel = 0)
{
    COutputCapture oErr(STDERR_FILENO);
    std::string oOut = LogOf(iLevel, fn);
    return {oOut, oErr.Finish()};
}

// A start whose frames flow, and its stop; the address it gave, or the output of a failure.
std::string CleanCycle()
{
    std::string oOut;
    const std::string oUrl = StartCaptured(&oOut);
    EXPECT_TRUE(StopStreaming());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    return oUrl.empty() ? oOut : oUrl;
}
// A failed start's ABORT records: from the failing call up to StartStreaming's one (the teardown's
// stop of a partly built graph may add its own after it), each at its check.
void ExpectStartChain(const std::string& roErr, const std::string& roFirstError)
{
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = ParseAbortRecords(roErr, oOther);
    const auto Start = [](const SAbortRecord& ro) { return ro.oFile == local_oEntry && ro.oFunction == "StartStreaming"; };
    EXPECT_EQ(1, std::count_if(aoRecords.begin(), aoRecords.end(), Start)) << roErr;
    EXPECT_TRUE(!aoRecords.empty() && aoRecords.front().oError == roFirstError && (roFirstError == "OMX_ErrorNone") == Start(aoRecords.front())) << roErr;
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
}
} // namespace

TEST(ServerControl, RefusedStartsLeaveNothingBehindAndASecondStartKeepsTheGraph)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    std::thread([] {}).join();  // a race detector starts a thread of its own with the first one
    // Without a graph: not streaming; a stop and a Deinit succeed and say nothing; no volume. No
    // address buffer: one record, nothing made (not one component logged its construction).
    const SProcessResources oBefore = CurrentResources();
    bool bDone = false;
    auto oOutput = Captured([&] { bDone = !IsStreaming() && StopStreaming() && DeinitComponents() == OMX_ErrorNone; }, 9);
    EXPECT_TRUE(bDone && (oOutput.first + oOutput.second).empty()) << oOutput.first << oOutput.second;
    EXPECT_TRUE(Has(LogOf(0, [&] { bDone = SetEncoderPlaybackVolume(50); }), "# SetEncoderPlaybackVolume Error: OMX_ErrorUndefined\n"));
    EXPECT_FALSE(bDone);
    oOutput = Captured([&] { bDone = StartStreaming(8000000, 128, nullptr); }, 9);
    std::string oOther;
    EXPECT_EQ(std::vector<std::string>{local_oEntry + "/StartStreaming/OMX_ErrorBadParameter"}, AbortRecordKeys(ParseAbortRecords(oOutput.second, oOther)));
    EXPECT_TRUE(!bDone && (oOther + oOutput.first).empty()) << oOther << oOutput.first;
    ExpectNothingLeft(&oBefore);
    ASSERT_EQ(local_oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    // A buffer without room for the address's terminator; an input over 60 frames a second.
    char szAddress[128];
    memset(szAddress, 'x', sizeof(szAddress));
    oOutput = Captured([&] { bDone = StartStreaming(8000000, static_cast<int>(local_oUrl.size()), szAddress); });
    EXPECT_FALSE(bDone);
    ExpectStartChain(oOutput.second, "OMX_ErrorNone");
    ExpectNothingLeft(&oBaseline);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p75"));
    oOutput = Captured([&] { bDone = StartStreaming(8000000, 128, szAddress); });
    EXPECT_FALSE(bDone);
    EXPECT_TRUE(Has(oOutput.first, "Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n") && !Has(oOutput.first, "Monitor:")) << oOutput.first;
    ExpectStartChain(oOutput.second, "OMX_ErrorNone");
    EXPECT_EQ('x', szAddress[0]);
    ExpectNothingLeft(&oBaseline);
    // One byte more holds the address and its terminator; nothing past them is written. A graph
    // built while audio was off: the playback choice alone changes nothing of it.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    ActivateAudioServerPlayback(1);
    ASSERT_TRUE(StartStreaming(8000000, static_cast<int>(local_oUrl.size()) + 1, szAddress));
    EXPECT_TRUE(local_oUrl == szAddress && szAddress[local_oUrl.size() + 1] == 'x') << szAddress;
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }) && g_poServer->m_bCapture && g_poServer->m_poAudio == nullptr);
    EXPECT_TRUE(Has(LogOf(0, [&] { bDone = SetEncoderPlaybackVolume(50); }), "# SetEncoderPlaybackVolume Error: OMX_ErrorUndefined\n"));
    EXPECT_FALSE(bDone);
    EXPECT_EQ("", oPlatform.AlsaFile("analog_volume"));
    // A second start while streaming keeps the first graph and address; audio waits for the next graph.
    const GStreamerEncodeServer* const poServer = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    ActivateAudioServer(1);
    char szSecond[128] = "untouched";
    oOutput = Captured([&] { bDone = StartStreaming(1000000, sizeof(szSecond), szSecond); });
    EXPECT_TRUE(bDone && Has(oOutput.first, "# StartStreaming       PellixServer already started.\n") && !Has(oOutput.first, "Capture"))
        << oOutput.first;
    EXPECT_TRUE(oOutput.second.empty() && std::string("untouched") == szSecond) << oOutput.second << szSecond;
    EXPECT_TRUE(poServer == g_poServer && g_poServer->m_poAudio == nullptr && uiHandles == PellixPlatform_LiveHandleCount());
    CRawRtspClient oClient(local_oUrl);
    EXPECT_TRUE(oClient.Connect() && IsOk(oClient.Request("OPTIONS")));
    oClient.Close();
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(&oBaseline);
    oOutput = Captured([&] { bDone = StopStreaming(); }, 9);
    EXPECT_TRUE(bDone && (oOutput.first + oOutput.second).empty()) << oOutput.first << oOutput.second;
}

TEST(ServerControl, AFailingCaptureInitIsTornDownInOrderAndASecondInitIsRefusedWithoutALeak)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, "OMX.TI.VPSSM3.VFCC", PELLIX_ANY_INDEX, 1, OMX_ErrorHardware));
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    auto oOutput = Captured([&] { eError = InitComponents(); });
    EXPECT_EQ(OMX_ErrorHardware, eError);
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = ParseAbortRecords(oOutput.second, oOther);
    ASSERT_GE(aoRecords.size(), 2u) << oOutput.second;
    EXPECT_EQ(local_oEntry + "/InitComponents/OMX_ErrorHardware", aoRecords.back().Key());
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(roRecord.oError == "OMX_ErrorHardware" && AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
    // The record stays; the deinterlacer, display and encoder were not initialised: no handle.
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_TRUE(g_poServer->m_poAudio == nullptr && PellixPlatform_LiveHandleCount() == 0);
    oOutput = Captured([&] { eError = DeinitComponents(); }, 2);
    EXPECT_TRUE(eError == OMX_ErrorNone && g_poServer == nullptr && oOutput.second.empty());
    // Each video component's Deinit in the teardown's order (the default source's says nothing),
    // no failure, no audio.
    size_t uiAt = 0;
    for (const char* szStep : {"# DeinitComponents     Deinitializing video components\n", "# Deinit               CVideoEncoder\n",
                               "# Deinit               CDisplayVFDC\n", "# Deinit               CDEIMDualOutput\n",
                               "# Deinit               CCaptureVFCC\n", "# DeinitComponents     Deleting video elements\n"})
        EXPECT_NE(std::string::npos, uiAt = oOutput.first.find(szStep, uiAt)) << szStep << " in order in\n" << oOutput.first;
    EXPECT_FALSE(Has(oOutput.first, "Error while deinitializing") || Has(oOutput.first, "audio")) << oOutput.first;
    EXPECT_EQ(local_oUrl, CleanCycle());
    // A second InitComponents keeps the first record and its handles; one DeinitComponents frees
    // everything.
    ActivateAudioServer(1);
    ASSERT_EQ(OMX_ErrorNone, InitComponents());
    const GStreamerEncodeServer* const poFirst = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    oOutput = Captured([&] { eError = InitComponents(); });
    EXPECT_TRUE(eError == OMX_ErrorInvalidState && Has(oOutput.second, "InitComponents           OMX_ErrorInvalidState"));
    EXPECT_TRUE(uiHandles > 0 && poFirst == g_poServer && uiHandles == PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_ErrorNone, DeinitComponents());
    ExpectNothingLeft();
}

namespace
{
// Every kind of call a start makes, each failing on its first call to the component whatever its
// index, port or command; the first state command too (a port command may precede it); the
// deinterlacer's second output, whose buffers come after the first output's. Not a state
// transition answered by an error event: the framework waits for state changes without a time
// limit, so that one blocks the start for good, as the framework's waits are meant to.
const std::tuple<PellixFaultKind, OMX_U32, const char*> local_aoFaults[] = {
    {PellixFault_GetHandle, PELLIX_ANY_INDEX, "GetHandle"}, {PellixFault_GetParameter, PELLIX_ANY_INDEX, "GetParameter"},
    {PellixFault_SetParameter, PELLIX_ANY_INDEX, "SetParameter"}, {PellixFault_GetConfig, PELLIX_ANY_INDEX, "GetConfig"},
    {PellixFault_SetConfig, PELLIX_ANY_INDEX, "SetConfig"}, {PellixFault_AllocateBuffer, PELLIX_ANY_INDEX, "AllocateBuffer"},
    {PellixFault_UseBuffer, PELLIX_ANY_INDEX, "UseBuffer"}, {PellixFault_SendCommand, PELLIX_ANY_INDEX, "SendCommand"},
    {PellixFault_SendCommand, OMX_CommandStateSet, "SendCommand(StateSet)"}, {PellixFault_EmptyThisBuffer, PELLIX_ANY_INDEX, "EmptyThisBuffer"},
    {PellixFault_FillThisBuffer, PELLIX_ANY_INDEX, "FillThisBuffer"}, {PellixFault_AllocateBuffer, 17, "AllocateBuffer(17)"},
    {PellixFault_FillThisBuffer, 17, "FillThisBuffer(17)"}};

// The platform's components, each with its wrapper as DeinitComponents names it.
struct SPlatformComponent
{
    const char* szComponent;
    const char* szWrapper;
};
const SPlatformComponent local_aoComponents[] = {
    {"OMX.TI.VPSSM3.VFCC", "CaptureVFCC"},   {"OMX.TI.VPSSM3.CTRL.TVP", "CaptureVFCC"},
    {"OMX.TI.VPSSM3.VFPC.DEIMDUALOUT", "DEIMDualOutputVFPC"}, {"OMX.TI.DUCATI.VIDENC", "EncoderVIDENC"},
    {"OMX.TI.VPSSM3.VFDC", "DisplayVFDC"},   {"OMX.TI.VPSSM3.CTRL.DC", "DisplayVFDC"},
    {"OMX.TI.DSP.AUDENC", "DSPAudioEncoder"}};

void PrintTo(const SPlatformComponent& roComponent, std::ostream* poStream)
{
    *poStream << roComponent.szComponent;
}

std::string ComponentName(const ::testing::TestParamInfo<SPlatformComponent>& roInfo)
{
    std::string oName = roInfo.param.szComponent + 4;
    std::replace(oName.begin(), oName.end(), '.', '_');
    return oName;
}

class ServerStartFaults : public ::testing::TestWithParam<SPlatformComponent>
{
};
class TeardownStopFaults : public ::testing::TestWithParam<SPlatformComponent>
{
};
} // namespace

// For one platform component, each call of the list fails once, in a start of its own: the start
// gives false with the ABORT chain from the failing component up to StartStreaming, tears down
// everything it built and leaves the next start free to succeed.
TEST_P(ServerStartFaults, EachKindOfCallFailingOnceGivesFalseAFullTeardownAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    const std::string oComponent = GetParam().szComponent;
    const bool bAudio = oComponent == "OMX.TI.DSP.AUDENC";
    CTestPlatform oPlatform;
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    unsigned uiFailedStarts = 0;
    for (const auto& roFault : local_aoFaults)
    {
        if (std::get<1>(roFault) == 17 && oComponent != "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT")
            continue;
        SCOPED_TRACE(std::string(std::get<2>(roFault)) + " of " + oComponent);
        printf("%s failing once on %s\n", std::get<2>(roFault), oComponent.c_str());  // a start that never returns is named
        fflush(stdout);
        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(std::get<0>(roFault), oComponent.c_str(), std::get<1>(roFault), 1, OMX_ErrorHardware));
        char szAddress[128] = "untouched";
        bool bStarted = false;
        const auto oOutput = Captured([&] { bStarted = StartStreaming(8000000, 128, szAddress); });
        const bool bTaken = PellixTest_PendingFaults() == 0;
        PellixTest_Reset();
        if (!bTaken || bStarted)
        {
            // Not a call the start makes on this component; or one taken by a buffer exchange once
            // the graph ran: the stream goes on with one buffer less, and the stop stops everything.
            EXPECT_TRUE(bStarted && (!bTaken || std::get<0>(roFault) == PellixFault_EmptyThisBuffer || std::get<0>(roFault) == PellixFault_FillThisBuffer))
                << oOutput.first << oOutput.second;
            EXPECT_EQ(oUrl, szAddress);
            StopStreaming();
        }
        else
        {
            ++uiFailedStarts;
            EXPECT_STREQ("untouched", szAddress);
            ExpectStartChain(oOutput.second, "OMX_ErrorHardware");
            ExpectNothingLeft(&oBaseline);
            EXPECT_EQ(oUrl, CleanCycle());
        }
        ExpectNothingLeft(&oBaseline);
    }
    EXPECT_GT(uiFailedStarts, 0u);
}

INSTANTIATE_TEST_SUITE_P(Platform, ServerStartFaults, ::testing::ValuesIn(local_aoComponents), ComponentName);

namespace
{
// Twenty starts and stops: after the first two (which load what the process keeps for good),
// threads and descriptors come back to the same count after every cycle, and the heap does not
// grow with the cycles (a 1080p frame left a cycle would add 3 MB each time). With audio, the
// audio keeps flowing with nobody listening: the stream hands every encoded buffer back at once,
// and the capture never waits for a buffer long enough to lose audio.
void RunTwentyCycles(bool bAudio)
{
    CTestPlatform oPlatform;
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    for (int iCycle = 3; iCycle <= 20; ++iCycle)
    {
        SCOPED_TRACE(iCycle);
        EXPECT_EQ(oUrl, CleanCycle());
        ExpectNothingLeft(&oBaseline);
    }
    EXPECT_LT(CurrentResources().llHeapInUse - oBaseline.llHeapInUse, 1024 * 1024) << Describe(oBaseline) << " after cycle 2";
    if (bAudio)
    {
        char szAddress[128];
        bool bFlowed = false;
        const auto Encoded = [] { return PellixTest_GetCounter("OMX.TI.DSP.AUDENC", PellixCounter_FramesEncoded); };
        const std::string oLog = LogOf(1, [&] {
            bFlowed = StartStreaming(8000000, 128, szAddress) && Eventually([&, uiEncoded = Encoded()] { return Encoded() > uiEncoded + 100; }) && StopStreaming();
        });
        EXPECT_TRUE(bFlowed) << oLog;
        EXPECT_FALSE(Has(oLog, "Timeout reached") || Has(oLog, "Capture state :") || Has(oLog, "Error from snd_pcm_readi()")) << oLog;
    }
}
} // namespace

TEST(ServerControl, TwentyCyclesWithoutAudioLeaveThreadsDescriptorsAndMemoryWhereTheyWere)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    RunTwentyCycles(false);
}

TEST(ServerControl, TwentyCyclesWithAudioLeaveThreadsDescriptorsAndMemoryWhereTheyWere)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    RunTwentyCycles(true);
}

// Each kind of call a stop makes fails once, in a run of its own: a refused state command leaves
// the rest of the graph running, a refused buffer or handle release leaves the platform's
// component alive. The stop reports it, no platform callback reaches a freed wrapper, nothing is
// left, and the next start serves a client.
TEST_P(TeardownStopFaults, EachKindOfCallFailingOnceGivesFalseNothingLeftAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(400);
    const SPlatformComponent oTarget = GetParam();
    CTestPlatform oPlatform;
    ActivateAudioServer(1);
    EXPECT_EQ(local_oUrl + "_audio", CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    const std::pair<PellixFaultKind, OMX_U32> aoKinds[] = {
        {PellixFault_SendCommand, OMX_CommandStateSet}, {PellixFault_FreeBuffer, PELLIX_ANY_INDEX},
        {PellixFault_FreeHandle, PELLIX_ANY_INDEX}};
    for (const auto& roKind : aoKinds)
    {
        SCOPED_TRACE(std::string("fault kind ") + std::to_string(roKind.first) + " on " + oTarget.szComponent);
        const std::string oAddress = StartCaptured();
        ASSERT_NE("", oAddress);
        ExpectMovingPictures(oAddress, 3);
        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(roKind.first, oTarget.szComponent, roKind.second, 1, OMX_ErrorHardware));
        bool bStopped = true;
        const std::string oOut = LogOf(0, [&] { bStopped = StopStreaming(); });
        const bool bTaken = PellixTest_PendingFaults() == 0;
        PellixTest_Reset();
        // A FreeBuffer of a component without ports is never asked for; every other kind is.
        EXPECT_TRUE(bTaken || roKind.first == PellixFault_FreeBuffer);
        EXPECT_EQ(!bTaken, bStopped);
        EXPECT_TRUE(!bTaken || roKind.first != PellixFault_FreeHandle ||
                    Has(oOut, std::string("# DeinitComponents     Error while deinitializing ") + oTarget.szWrapper + ": OMX_ErrorHardware\n"))
            << oOut;
        ExpectNothingLeft(&oBaseline);
    }
    ASSERT_NE("", StartCaptured());
    ExpectMovingPictures(local_oUrl + "_audio", 3);
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(&oBaseline);
}

INSTANTIATE_TEST_SUITE_P(Platform, TeardownStopFaults, ::testing::ValuesIn(local_aoComponents), ComponentName);

namespace
{
std::atomic<int> g_iCallbacks{0};
std::atomic<bool> g_bCallbackStopped{false};
std::atomic<bool> g_bCallbackRestarted{false};

void local_StopInCallback(int, unsigned, unsigned, unsigned, int, void*)
{
    g_bCallbackStopped = StopStreaming();
    ++g_iCallbacks;
}

void local_RestartInCallback(int, unsigned, unsigned, unsigned, int, void*)
{
    g_bCallbackStopped = StopStreaming();
    g_bCallbackRestarted = StartCaptured() != "";
    ++g_iCallbacks;
}
} // namespace

// The host's callback runs on the capture's polling thread; a stop from inside it cannot join that
// thread. The thread ends once the callback returns, touching nothing of the freed graph, and a
// start from inside the callback polls on a thread of its own.
TEST(Teardown, StopAndRestartFromTheModeChangeCallbackLeaveNoThreadAndTouchNothingFreed)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("1920x1080p60");
    EXPECT_EQ(local_oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();

    SetVideoModeChangeCallback(local_StopInCallback);
    ASSERT_NE("", StartCaptured());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    ASSERT_TRUE(Eventually([] { return g_iCallbacks.load() == 1; }));
    EXPECT_TRUE(g_bCallbackStopped.load());
    ExpectNothingLeft(&oBaseline);

    SetVideoModeChangeCallback(local_RestartInCallback);
    ASSERT_NE("", StartCaptured());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    ASSERT_TRUE(Eventually([] { return g_iCallbacks.load() == 2; }));
    EXPECT_TRUE(g_bCallbackStopped.load() && g_bCallbackRestarted.load());
    ExpectMovingPictures(local_oUrl, 3);
    SetVideoModeChangeCallback(nullptr);
    EXPECT_TRUE(StopStreaming());
    EXPECT_EQ(2, g_iCallbacks.load());
    ExpectNothingLeft(&oBaseline);
}

// On a monitor that prefers a timing beyond the output (4K), the display is driven in the caller's
// 1080p60 mode, and an INFO record says so. Second fields the deinterlacer refuses, one at a time,
// more than the capture has buffers: each frame still returns to the capture, so frames keep
// flowing.
TEST(Teardown, OnAMonitorBeyondTheOutputRefusedSecondFieldsReturnTheirFramesToTheCapture)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CTestPlatform oPlatform("1920x1080i60", EdidDataDir() + "/DEL-DEL40B8-0E80B2FC6F36.txt");
    std::string oOut;
    ASSERT_NE("", StartCaptured(&oOut, 1)) << oOut;
    // Other threads' records may come between the pieces of this one.
    for (const char* szPart : {"Monitor: \"DELL UP2715K\", 1920x1080@60Hz\n", "Preferred mode 3840x2160@60Hz (533250 kHz)",
                               "is beyond the output, using 1920x1080@60Hz\n"})
        EXPECT_TRUE(Has(oOut, szPart)) << szPart << " in\n" << oOut;
    const char* const szDei = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
    for (int iFault = 0; iFault < 8; ++iFault)
    {
        // Fields reach the deinterlacer in pairs: the call after the next one is a second field.
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFaultAfter(PellixFault_EmptyThisBuffer, szDei, 0, 1, 1, OMX_ErrorHardware));
        ASSERT_TRUE(Eventually([] { return PellixTest_PendingFaults() == 0; })) << "fault " << iFault;
    }
    const unsigned long long uiConsumed = PellixTest_GetCounter(szDei, PellixCounter_FramesConsumed);
    EXPECT_TRUE(Eventually([&] { return PellixTest_GetCounter(szDei, PellixCounter_FramesConsumed) > uiConsumed + 20; }))
        << "the capture ran out of frames";
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft();
}
