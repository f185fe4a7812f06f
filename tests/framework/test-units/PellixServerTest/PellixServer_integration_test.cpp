// The control API on the simulated platform, each scenario in a process of its own: refused
// starts; the stop, the volume and a second start with and without a graph; a failing Init; every
// kind of platform call failing once during a start, with its teardown; twenty start/stop cycles
// with and without audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "AbortRecords.h"
#include "LibraryLog.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "ProcessResources.h"
#include "RtspClients.h"
#include "TestPlatform.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"

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
    std::string oOut = Logged(iLevel, fn);
    return {oOut, oErr.Finish()};
}

// Nothing of a graph is left: no record, no platform handle, the port free, threads and
// descriptors back where they were.
void ExpectNothingLeft(const SProcessResources& roBaseline)
{
    EXPECT_TRUE(g_poServer == nullptr && !IsStreaming() && PellixPlatform_LiveHandleCount() == 0 && CanBindPort(8554));
    EXPECT_TRUE(ResourcesBackTo(roBaseline)) << Describe(CurrentResources()) << " against " << Describe(roBaseline);
}

// A start whose frames flow, and its stop; the address it gave, or the output of a failure.
std::string CleanCycle()
{
    char szAddress[128] = {0};
    bool bDone = false;
    const auto oOutput = Captured([&] { bDone = StartStreaming(8000000, 128, szAddress) && Eventually([] { return IsStreaming(); }) && StopStreaming(); });
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    return bDone ? szAddress : oOutput.first + oOutput.second;
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

TEST(ServerControl, RefusedStartsWriteTheirRecordAndLeaveNothingBehind)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    std::thread([] {}).join();  // a race detector starts a thread of its own with the first one
    // No address buffer: one record, nothing made (not one component logged its construction).
    const SProcessResources oBefore = CurrentResources();
    bool bStarted = true;
    auto oOutput = Captured([&] { bStarted = StartStreaming(8000000, 128, nullptr); }, 9);
    std::string oOther;
    EXPECT_EQ(std::vector<std::string>{local_oEntry + "/StartStreaming/OMX_ErrorBadParameter"}, AbortRecordKeys(ParseAbortRecords(oOutput.second, oOther)));
    EXPECT_EQ("", oOther + oOutput.first);
    EXPECT_FALSE(bStarted);
    ExpectNothingLeft(oBefore);
    ASSERT_EQ(local_oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    // A buffer without room for the address's terminator; an input over 60 frames a second.
    char szAddress[128];
    memset(szAddress, 'x', sizeof(szAddress));
    oOutput = Captured([&] { bStarted = StartStreaming(8000000, static_cast<int>(local_oUrl.size()), szAddress); });
    EXPECT_FALSE(bStarted);
    ExpectStartChain(oOutput.second, "OMX_ErrorNone");
    ExpectNothingLeft(oBaseline);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p75"));
    oOutput = Captured([&] { bStarted = StartStreaming(8000000, 128, szAddress); });
    EXPECT_FALSE(bStarted);
    EXPECT_TRUE(Has(oOutput.first, "Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n") && !Has(oOutput.first, "Monitor:")) << oOutput.first;
    ExpectStartChain(oOutput.second, "OMX_ErrorNone");
    EXPECT_EQ('x', szAddress[0]);
    ExpectNothingLeft(oBaseline);
    // One byte more holds the address and its terminator; nothing past them is written.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    EXPECT_TRUE(StartStreaming(8000000, static_cast<int>(local_oUrl.size()) + 1, szAddress));
    EXPECT_EQ(local_oUrl, szAddress);
    EXPECT_EQ('x', szAddress[local_oUrl.size() + 1]);
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(oBaseline);
}

TEST(ServerControl, StopVolumeAndASecondStartWithAndWithoutAGraph)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    // Without a graph: not streaming; a stop and a Deinit succeed and say nothing; no volume.
    bool bDone = false;
    auto oOutput = Captured([&] { bDone = !IsStreaming() && StopStreaming() && DeinitComponents() == OMX_ErrorNone; }, 9);
    EXPECT_TRUE(bDone);
    EXPECT_EQ("", oOutput.first + oOutput.second);
    EXPECT_TRUE(Has(Logged(0, [&] { bDone = SetEncoderPlaybackVolume(50); }), "# SetEncoderPlaybackVolume Error: OMX_ErrorUndefined\n"));
    EXPECT_FALSE(bDone);
    // A graph built while audio was off: the playback choice alone changes nothing of it.
    ActivateAudioServerPlayback(1);
    char szFirst[128] = {0};
    ASSERT_TRUE(StartStreaming(8000000, 128, szFirst));
    EXPECT_EQ(local_oUrl, szFirst);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }) && g_poServer->m_bCapture && g_poServer->m_poAudio == nullptr);
    EXPECT_TRUE(Has(Logged(0, [&] { bDone = SetEncoderPlaybackVolume(50); }), "# SetEncoderPlaybackVolume Error: OMX_ErrorUndefined\n"));
    EXPECT_FALSE(bDone);
    EXPECT_EQ("", oPlatform.AlsaFile("analog_volume"));
    // A second start while streaming keeps the first graph and address; audio waits for the next graph.
    const GStreamerEncodeServer* const poServer = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    ActivateAudioServer(1);
    char szSecond[128] = "untouched";
    oOutput = Captured([&] { bDone = StartStreaming(1000000, sizeof(szSecond), szSecond); });
    EXPECT_TRUE(bDone);
    EXPECT_TRUE(Has(oOutput.first, "# StartStreaming       PellixServer already started.\n") && !Has(oOutput.first, "Capture")) << oOutput.first;
    EXPECT_EQ("", oOutput.second);
    EXPECT_STREQ("untouched", szSecond);
    EXPECT_TRUE(poServer == g_poServer && g_poServer->m_poAudio == nullptr && uiHandles == PellixPlatform_LiveHandleCount());
    CRawRtspClient oClient(szFirst);
    EXPECT_TRUE(oClient.Connect() && IsOk(oClient.Request("OPTIONS")));
    oClient.Close();
    EXPECT_TRUE(StopStreaming());
    EXPECT_FALSE(IsStreaming());
    oOutput = Captured([&] { bDone = StopStreaming(); }, 9);
    EXPECT_TRUE(bDone);
    EXPECT_EQ("", oOutput.first + oOutput.second);
}

TEST(ServerControl, AFailingCaptureInitAbortsAndTheTeardownDeinitialisesEveryVideoComponentInOrder)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
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

class ServerStartFaults : public ::testing::TestWithParam<std::string>
{
};
} // namespace

// For one platform component, each call of the list fails once, in a start of its own: the start
// gives false with the ABORT chain from the failing component up to StartStreaming, tears down
// everything it built and leaves the next start free to succeed.
TEST_P(ServerStartFaults, EachKindOfCallFailingOnceGivesFalseAFullTeardownAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    const bool bAudio = GetParam() == "OMX.TI.DSP.AUDENC";
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    unsigned uiFailedStarts = 0;
    for (const auto& roFault : local_aoFaults)
    {
        if (std::get<1>(roFault) == 17 && GetParam() != "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT")
            continue;
        SCOPED_TRACE(std::string(std::get<2>(roFault)) + " of " + GetParam());
        printf("%s failing once on %s\n", std::get<2>(roFault), GetParam().c_str());  // a start that never returns is named
        fflush(stdout);
        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(std::get<0>(roFault), GetParam().c_str(), std::get<1>(roFault), 1, OMX_ErrorHardware));
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
            ExpectNothingLeft(oBaseline);
            EXPECT_EQ(oUrl, CleanCycle());
        }
        ExpectNothingLeft(oBaseline);
    }
    EXPECT_GT(uiFailedStarts, 0u);
}

INSTANTIATE_TEST_SUITE_P(Platform, ServerStartFaults,
                         ::testing::Values("OMX.TI.VPSSM3.VFCC", "OMX.TI.VPSSM3.CTRL.TVP", "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT", "OMX.TI.DUCATI.VIDENC",
                                           "OMX.TI.VPSSM3.VFDC", "OMX.TI.VPSSM3.CTRL.DC", "OMX.TI.DSP.AUDENC"),
                         [](const ::testing::TestParamInfo<std::string>& roInfo) {
                             std::string oName = roInfo.param;
                             std::replace(oName.begin(), oName.end(), '.', '_');
                             return oName;
                         });

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
    ASSERT_TRUE(WaitPortFree(8554));
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    for (int iCycle = 3; iCycle <= 20; ++iCycle)
    {
        SCOPED_TRACE(iCycle);
        EXPECT_EQ(oUrl, CleanCycle());
        EXPECT_TRUE(ResourcesBackTo(oBaseline)) << Describe(CurrentResources()) << " against " << Describe(oBaseline);
    }
    printf("after cycle 2: %s; after cycle 20: %s\n", Describe(oBaseline).c_str(), Describe(CurrentResources()).c_str());
    EXPECT_TRUE(CurrentResources().lThreads == oBaseline.lThreads && CurrentResources().lFds == oBaseline.lFds);
    EXPECT_LT(CurrentResources().llHeapInUse - oBaseline.llHeapInUse, 1024 * 1024);
    if (bAudio)
    {
        char szAddress[128];
        bool bFlowed = false;
        const auto Encoded = [] { return PellixTest_GetCounter("OMX.TI.DSP.AUDENC", PellixCounter_FramesEncoded); };
        const std::string oLog = Logged(1, [&] {
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
