// The control API on the simulated platform, each scenario in a process of its own: refused
// starts, the stop, the volume and a second start with and without a graph, a failing Init; every
// kind of platform call failing once during a start, with its teardown; twenty start/stop cycles
// with and without audio.
#include <gtest/gtest.h>

#include <algorithm>

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
const int local_iBitRate = 8000000;
const std::string local_oEntryFile = "framework/test-units/PellixServerTest/PellixServerTestEntry";
const std::string local_oUrl = "rtsp://127.0.0.1:8554/Video1920x1080@60fps";

struct SCallOutput
{
    std::string oOut;
    std::string oErr;
};
// What fn wrote with the message level at iLevel. Failures are checked after it, never inside:
// their messages would be captured too.
template <typename TFn>
SCallOutput Captured(TFn fn, int iLevel = 0)
{
    SCallOutput oOutput;
    COutputCapture oErr(STDERR_FILENO);
    oOutput.oOut = Logged(iLevel, fn);
    oOutput.oErr = oErr.Finish();
    return oOutput;
}

bool Start(char* szAddress, int iLength = 128)
{
    return StartStreaming(local_iBitRate, iLength, szAddress);
}

// Nothing of a graph is left: no record, no platform handle, the port free, threads and
// descriptors back where they were.
void ExpectNothingLeft(const SProcessResources& roBaseline)
{
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_FALSE(IsStreaming());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(8554));
    EXPECT_TRUE(ResourcesBackTo(roBaseline)) << Describe(CurrentResources()) << " against " << Describe(roBaseline);
}

// A start whose frames flow, and its stop; the address it gave.
std::string CleanCycle()
{
    char szAddress[128] = {0};
    bool bFlowed = false;
    bool bStopped = false;
    const SCallOutput oOutput = Captured([&] {
        bFlowed = Start(szAddress) && Eventually([] { return IsStreaming(); });
        bStopped = StopStreaming();
    });
    EXPECT_TRUE(bFlowed && bStopped) << oOutput.oOut << oOutput.oErr;
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    return szAddress;
}

// A failed start's ABORT records: from the failing call up to the one of StartStreaming (and
// what the teardown's stop of a partly built graph may add after it), each at its check.
void ExpectStartChain(const std::string& roErr, size_t uiRecordsBefore, const std::string& roFirstError)
{
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = ParseAbortRecords(roErr, oOther);
    const auto oStart = std::find_if(aoRecords.begin(), aoRecords.end(), [](const SAbortRecord& ro) {
        return ro.oFile == local_oEntryFile && ro.oFunction == "StartStreaming";
    });
    ASSERT_NE(aoRecords.end(), oStart) << roErr;
    EXPECT_EQ(1, std::count_if(aoRecords.begin(), aoRecords.end(), [](const SAbortRecord& ro) { return ro.oFunction == "StartStreaming"; }));
    EXPECT_GE(static_cast<size_t>(oStart - aoRecords.begin()), uiRecordsBefore) << roErr;
    EXPECT_EQ(roFirstError, aoRecords.front().oError) << roErr;
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
}
} // namespace

TEST(ServerControl, RefusedStartsWriteTheirRecordAndLeaveNothingBehind)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    // No address buffer: one record, nothing made (not one component logged its construction).
    const SProcessResources oBefore = CurrentResources();
    bool bStarted = true;
    SCallOutput oOutput = Captured([&] { bStarted = Start(nullptr); }, 9);
    EXPECT_FALSE(bStarted);
    std::string oOther;
    EXPECT_EQ(std::vector<std::string>{local_oEntryFile + "/StartStreaming/OMX_ErrorBadParameter"},
              AbortRecordKeys(ParseAbortRecords(oOutput.oErr, oOther)));
    EXPECT_EQ("", oOther + oOutput.oOut);
    ExpectNothingLeft(oBefore);

    const std::string oAddress = CleanCycle();
    EXPECT_EQ(local_oUrl, oAddress);
    const SProcessResources oBaseline = CurrentResources();
    char szAddress[128];
    memset(szAddress, 'x', sizeof(szAddress));
    // A buffer without room for the terminator; an input over 60 frames a second.
    oOutput = Captured([&] { bStarted = Start(szAddress, static_cast<int>(oAddress.size())); });
    EXPECT_FALSE(bStarted);
    ExpectStartChain(oOutput.oErr, 0, "OMX_ErrorNone");
    ExpectNothingLeft(oBaseline);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p75"));
    oOutput = Captured([&] { bStarted = Start(szAddress); });
    EXPECT_FALSE(bStarted);
    EXPECT_TRUE(Has(oOutput.oOut, "Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n")) << oOutput.oOut;
    EXPECT_FALSE(Has(oOutput.oOut, "Monitor:"));
    ExpectStartChain(oOutput.oErr, 0, "OMX_ErrorNone");
    EXPECT_EQ('x', szAddress[0]);
    ExpectNothingLeft(oBaseline);
    // One byte more holds the address and its terminator, and nothing past them is written.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    EXPECT_TRUE(Captured([&] { bStarted = Start(szAddress, static_cast<int>(oAddress.size()) + 1); }).oErr.empty());
    EXPECT_TRUE(bStarted);
    EXPECT_EQ(oAddress, szAddress);
    EXPECT_EQ('x', szAddress[oAddress.size() + 1]);
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(oBaseline);
}

TEST(ServerControl, StopVolumeAndASecondStartWithAndWithoutAGraph)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    // Without a graph: not streaming; a stop and a Deinit say nothing and succeed; no volume.
    bool bStopped = false;
    bool bSet = true;
    SCallOutput oOutput = Captured([&] { bStopped = !IsStreaming() && StopStreaming() && DeinitComponents() == OMX_ErrorNone; }, 9);
    EXPECT_TRUE(bStopped);
    EXPECT_EQ("", oOutput.oOut + oOutput.oErr);
    EXPECT_TRUE(HasInfoRecord(Logged(0, [&] { bSet = SetEncoderPlaybackVolume(50); }), "SetEncoderPlaybackVolume", "Error: OMX_ErrorUndefined"));
    EXPECT_FALSE(bSet);
    // A graph built while audio was off: the playback choice alone changes nothing of it.
    ActivateAudioServerPlayback(1);
    char szFirst[128] = {0};
    ASSERT_TRUE(Captured([&] { bSet = Start(szFirst); }).oErr.empty());
    ASSERT_TRUE(bSet);
    EXPECT_EQ(local_oUrl, szFirst);
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_TRUE(g_poServer->m_bCapture);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    EXPECT_TRUE(HasInfoRecord(Logged(0, [&] { bSet = SetEncoderPlaybackVolume(50); }), "SetEncoderPlaybackVolume", "Error: OMX_ErrorUndefined"));
    EXPECT_FALSE(bSet);
    EXPECT_EQ("", oPlatform.AlsaFile("analog_volume"));
    // A second start while streaming keeps the first graph and address; audio waits for the next graph.
    const GStreamerEncodeServer* const poServer = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    ActivateAudioServer(1);
    char szSecond[128] = "untouched";
    oOutput = Captured([&] { bSet = StartStreaming(1000000, sizeof(szSecond), szSecond); });
    EXPECT_TRUE(bSet);
    EXPECT_TRUE(HasInfoRecord(oOutput.oOut, "StartStreaming", "PellixServer already started.")) << oOutput.oOut;
    EXPECT_FALSE(Has(oOutput.oOut, "Capture video mode"));
    EXPECT_EQ("", oOutput.oErr);
    EXPECT_STREQ("untouched", szSecond);
    EXPECT_EQ(poServer, g_poServer);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    EXPECT_EQ(uiHandles, PellixPlatform_LiveHandleCount());
    CRawRtspClient oClient(szFirst);
    EXPECT_TRUE(oClient.Connect() && IsOk(oClient.Request("OPTIONS")));
    oClient.Close();
    EXPECT_TRUE(StopStreaming());
    EXPECT_FALSE(IsStreaming());
    oOutput = Captured([&] { bStopped = StopStreaming(); }, 9);
    EXPECT_TRUE(bStopped);
    EXPECT_EQ("", oOutput.oOut + oOutput.oErr);
}

TEST(ServerControl, AFailingCaptureInitAbortsAndTheTeardownDeinitialisesEveryVideoComponentInOrder)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(PellixFault_GetHandle, "OMX.TI.VPSSM3.VFCC", PELLIX_ANY_INDEX, 1, OMX_ErrorHardware));
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    SCallOutput oOutput = Captured([&] { eError = InitComponents(); });
    EXPECT_EQ(OMX_ErrorHardware, eError);
    std::string oOther;
    const std::vector<SAbortRecord> aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
    ASSERT_GE(aoRecords.size(), 2u) << oOutput.oErr;
    EXPECT_EQ(local_oEntryFile + "/InitComponents/OMX_ErrorHardware", aoRecords.back().Key());
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(roRecord.oError == "OMX_ErrorHardware" && AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
    // The record stays; the deinterlacer, display and encoder were not initialised: no handle.
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    oOutput = Captured([&] { eError = DeinitComponents(); }, 2);
    EXPECT_EQ(OMX_ErrorNone, eError);
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ("", oOutput.oErr);
    EXPECT_FALSE(Has(oOutput.oOut, "Error while deinitializing") || Has(oOutput.oOut, "audio")) << oOutput.oOut;
    // Each video component's Deinit in the teardown's order (the default source's says nothing).
    size_t uiAt = 0;
    for (const char* szStep : {"DeinitComponents     Deinitializing video components\n", "Deinit               CVideoEncoder\n",
                               "Deinit               CDisplayVFDC\n", "Deinit               CDEIMDualOutput\n",
                               "Deinit               CCaptureVFCC\n", "Deinit               GStreamerServerComponent\n",
                               "Deinit               GStreamerRTSPServer\n", "DeinitComponents     Deleting video elements\n"})
    {
        uiAt = oOutput.oOut.find(std::string("# ") + szStep, uiAt);
        ASSERT_NE(std::string::npos, uiAt) << szStep << " in order in\n" << oOutput.oOut;
    }
    EXPECT_EQ(local_oUrl, CleanCycle());
}

// ---- Every failing platform call of a start --------------------------------------------------

namespace
{
// Every kind of call a start makes, each failing on its first call to the component whatever its
// index, port or command; the first state command too (a port command may precede it). Not a
// state transition answered by an error event: the framework waits for state changes without a
// time limit, so that one blocks the start for good, as the framework's waits are meant to.
struct SFault
{
    PellixFaultKind eKind;
    OMX_U32 uiIndex;
    const char* szName;
};
const SFault local_aoFaults[] = {
    {PellixFault_GetHandle, PELLIX_ANY_INDEX, "GetHandle"},
    {PellixFault_GetParameter, PELLIX_ANY_INDEX, "GetParameter"},
    {PellixFault_SetParameter, PELLIX_ANY_INDEX, "SetParameter"},
    {PellixFault_GetConfig, PELLIX_ANY_INDEX, "GetConfig"},
    {PellixFault_SetConfig, PELLIX_ANY_INDEX, "SetConfig"},
    {PellixFault_AllocateBuffer, PELLIX_ANY_INDEX, "AllocateBuffer"},
    {PellixFault_UseBuffer, PELLIX_ANY_INDEX, "UseBuffer"},
    {PellixFault_SendCommand, PELLIX_ANY_INDEX, "SendCommand"},
    {PellixFault_SendCommand, OMX_CommandStateSet, "SendCommand(StateSet)"},
    {PellixFault_EmptyThisBuffer, PELLIX_ANY_INDEX, "EmptyThisBuffer"},
    {PellixFault_FillThisBuffer, PELLIX_ANY_INDEX, "FillThisBuffer"},
    // The deinterlacer's second output, whose buffers come after the first one's.
    {PellixFault_AllocateBuffer, 17, "AllocateBuffer(17)"},
    {PellixFault_FillThisBuffer, 17, "FillThisBuffer(17)"},
};

class ServerStartFaults : public ::testing::TestWithParam<const char*>
{
};
} // namespace

// For one platform component, each call of the list fails once, in a start of its own: the start
// gives false with the ABORT chain from the failing component up to StartStreaming, tears down
// everything it built and leaves the next start free to succeed.
TEST_P(ServerStartFaults, EachKindOfCallFailingOnceGivesFalseAFullTeardownAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    const std::string oComponent = GetParam();
    const bool bAudio = oComponent == "OMX.TI.DSP.AUDENC";
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    unsigned uiFailedStarts = 0;
    for (const SFault& roFault : local_aoFaults)
    {
        if (roFault.uiIndex == 17 && oComponent != "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT")
            continue;
        SCOPED_TRACE(std::string(roFault.szName) + " of " + oComponent);
        // Said before the start: a start that never returns names its case in the log.
        printf("%s failing once on %s\n", roFault.szName, oComponent.c_str());
        fflush(stdout);
        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone, PellixTest_InjectFault(roFault.eKind, oComponent.c_str(), roFault.uiIndex, 1, OMX_ErrorHardware));
        char szAddress[128] = "untouched";
        bool bStarted = false;
        const SCallOutput oOutput = Captured([&] { bStarted = Start(szAddress); });
        const bool bTaken = PellixTest_PendingFaults() == 0;
        PellixTest_Reset();
        if (!bTaken || bStarted)
        {
            // Not a call the start makes on this component; or one taken by a buffer exchange once
            // the graph ran: the stream goes on with one buffer less, and the stop stops everything.
            EXPECT_TRUE(bStarted) << oOutput.oOut << oOutput.oErr;
            EXPECT_TRUE(!bTaken || roFault.eKind == PellixFault_EmptyThisBuffer || roFault.eKind == PellixFault_FillThisBuffer);
            EXPECT_EQ(oUrl, szAddress);
            StopStreaming();
            ExpectNothingLeft(oBaseline);
            continue;
        }
        ++uiFailedStarts;
        EXPECT_STREQ("untouched", szAddress);
        ExpectStartChain(oOutput.oErr, 1, "OMX_ErrorHardware");
        ExpectNothingLeft(oBaseline);
        EXPECT_EQ(oUrl, CleanCycle());
        ExpectNothingLeft(oBaseline);
    }
    EXPECT_GT(uiFailedStarts, 0u);
}

INSTANTIATE_TEST_SUITE_P(Platform, ServerStartFaults,
                         ::testing::Values("OMX.TI.VPSSM3.VFCC", "OMX.TI.VPSSM3.CTRL.TVP", "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT",
                                           "OMX.TI.DUCATI.VIDENC", "OMX.TI.VPSSM3.VFDC", "OMX.TI.VPSSM3.CTRL.DC",
                                           "OMX.TI.DSP.AUDENC"),
                         [](const ::testing::TestParamInfo<const char*>& roInfo) {
                             std::string oName = roInfo.param;
                             std::replace(oName.begin(), oName.end(), '.', '_');
                             return oName;
                         });

// ---- Repeated cycles -------------------------------------------------------------------------

namespace
{
// Twenty starts and stops: after the first two (which load what the process keeps for good),
// threads and descriptors come back to the same count after every cycle, and memory does not grow
// with the cycles (a 1080p frame left a cycle would add 3 MB each time). With audio, the audio
// keeps flowing with nobody listening: the stream hands every encoded buffer back at once, and
// the capture never waits for a buffer long enough to lose audio.
void RunTwentyCycles(bool bAudio)
{
    CTestPlatform oPlatform;
    ASSERT_TRUE(WaitPortFree(8554));
    ActivateAudioServer(bAudio);
    const std::string oUrl = local_oUrl + (bAudio ? "_audio" : "");
    EXPECT_EQ(oUrl, CleanCycle());
    EXPECT_EQ(oUrl, CleanCycle());
    const SProcessResources oBaseline = CurrentResources();
    std::vector<SProcessResources> aoAfter;
    for (int iCycle = 3; iCycle <= 20; ++iCycle)
    {
        SCOPED_TRACE(iCycle);
        if (bAudio && iCycle == 20)
        {
            char szAddress[128];
            bool bFlowed = false;
            const std::string oLog = Captured([&] {
                const auto Encoded = [] { return PellixTest_GetCounter("OMX.TI.DSP.AUDENC", PellixCounter_FramesEncoded); };
                const unsigned long long uiEncoded = Encoded();
                bFlowed = Start(szAddress) && Eventually([&] { return Encoded() > uiEncoded + 100; }) && StopStreaming();
            }, 1).oOut;
            EXPECT_TRUE(bFlowed) << oLog;
            EXPECT_FALSE(Has(oLog, "Timeout reached") || Has(oLog, "Capture state :") || Has(oLog, "Error from snd_pcm_readi()")) << oLog;
        }
        else
            EXPECT_EQ(oUrl, CleanCycle());
        EXPECT_TRUE(ResourcesBackTo(oBaseline)) << Describe(CurrentResources()) << " against " << Describe(oBaseline);
        aoAfter.push_back(CurrentResources());
    }
    printf("after cycle 2: %s; after cycle 20: %s\n", Describe(oBaseline).c_str(), Describe(aoAfter.back()).c_str());
    EXPECT_EQ(oBaseline.uiThreads, aoAfter.back().uiThreads);
    EXPECT_EQ(oBaseline.uiFds, aoAfter.back().uiFds);
    // Resident memory settles: the last nine cycles reach no higher than the nine before them,
    // give or take what the allocator keeps; the heap in use does not grow.
    const auto Highest = [](auto oFrom, auto oTo) {
        return std::max_element(oFrom, oTo, [](const SProcessResources& roA, const SProcessResources& roB) { return roA.lRssKb < roB.lRssKb; })->lRssKb;
    };
    EXPECT_LT(Highest(aoAfter.begin() + 9, aoAfter.end()) - Highest(aoAfter.begin(), aoAfter.begin() + 9), 12 * 1024);
    EXPECT_LT(aoAfter.back().llHeapInUse - oBaseline.llHeapInUse, 1024 * 1024);
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
