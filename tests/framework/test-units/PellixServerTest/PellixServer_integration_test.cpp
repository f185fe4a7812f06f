// The control API on the simulated platform, without a client: the edge cases of the start, the
// stop and the records, every failing platform call of a start with its teardown, and repeated
// start/stop cycles. Each scenario runs in a process of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "AbortRecords.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "ServerTestSupport.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"
#include "ti814x-framework.h"

namespace
{
const int local_iBitRate = 8000000;
const char* const local_szEntryFile = "framework/test-units/PellixServerTest/PellixServerTestEntry";
// The process's standard error as it started, before any capture.
const int local_iOriginalStderr = dup(STDERR_FILENO);

// What one call wrote on standard output and standard error.
struct SCallOutput
{
    std::string oOut;
    std::string oErr;
};

template <typename TFn>
SCallOutput Captured(TFn fn)
{
    SCallOutput oOutput;
    COutputCapture oErr(STDERR_FILENO);
    COutputCapture oOut(STDOUT_FILENO);
    fn();
    oOutput.oOut = oOut.Finish();
    oOutput.oErr = oErr.Finish();
    return oOutput;
}

// Nothing of a graph is left: no record, no platform handle, the service port free, threads and
// descriptors back where they were.
void ExpectNothingLeft(const SProcessResources& roBaseline)
{
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_FALSE(IsStreaming());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(g_uiServicePort));
    EXPECT_TRUE(ResourcesBackTo(roBaseline)) << "before: " << Describe(roBaseline)
                                             << "; now: " << Describe(CurrentResources());
}

// A start or stop that does not come back is a deadlock: the watch names the scenario on the
// process's own standard error and ends the process at once, rather than leave it to the test's
// time limit. One thread for the whole test, so that it is part of every baseline.
class CHangWatch
{
public:
    CHangWatch()
    {
        m_oThread = std::thread([this] {
            std::unique_lock<std::mutex> oLock(m_oMutex);
            while (!m_bEnd)
            {
                if (m_bArmed && std::chrono::steady_clock::now() > m_oDeadline)
                {
                    const std::string oText = "\nDEADLOCK: " + m_oScenario + ": no return in time\n";
                    if (write(local_iOriginalStderr, oText.data(), oText.size()) < 0)
                        _exit(3);
                    _exit(3);
                }
                m_oChanged.wait_for(oLock, std::chrono::milliseconds(200));
            }
        });
    }
    ~CHangWatch()
    {
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_bEnd = true;
        }
        m_oChanged.notify_all();
        m_oThread.join();
    }
    void Arm(const std::string& roScenario, int iLimitSec)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_oScenario = roScenario;
        m_oDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(iLimitSec);
        m_bArmed = true;
    }
    void Disarm()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bArmed = false;
    }

private:
    std::mutex m_oMutex;
    std::condition_variable m_oChanged;
    bool m_bEnd = false;
    bool m_bArmed = false;
    std::string m_oScenario;
    std::chrono::steady_clock::time_point m_oDeadline;
    std::thread m_oThread;
};

size_t StartRecordCount(const std::vector<SAbortRecord>& raoRecords)
{
    size_t uiCount = 0;
    for (const SAbortRecord& roRecord : raoRecords)
        if (roRecord.oFile == local_szEntryFile && roRecord.oFunction == "StartStreaming")
            ++uiCount;
    return uiCount;
}

// One start that succeeds and its stop; false on any failure.
bool CleanCycle(std::string& roAddress)
{
    char szAddress[128] = {0};
    bool bStarted = false;
    bool bFlowed = false;
    bool bStopped = false;
    const SCallOutput oOutput = Captured([&] {
        bStarted = StartStreaming(local_iBitRate, sizeof(szAddress), szAddress);
        bFlowed = bStarted && Eventually([] { return IsStreaming(); });
        bStopped = StopStreaming();
    });
    roAddress = szAddress;
    EXPECT_TRUE(bStarted) << oOutput.oOut << oOutput.oErr;
    EXPECT_TRUE(bFlowed);
    EXPECT_TRUE(bStopped) << oOutput.oErr;
    return bStarted && bFlowed && bStopped;
}

// The resources of the process once one whole cycle ran: what GStreamer and the libraries keep
// for the life of the process is there, nothing of a graph is.
SProcessResources BaselineAfterOneCycle()
{
    std::string oAddress;
    CleanCycle(oAddress);
    EXPECT_TRUE(Eventually([] { return PellixPlatform_LiveHandleCount() == 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return CurrentResources();
}
} // namespace

// ---- Start and stop: edge cases ------------------------------------------------------------------

TEST(ServerControl, InputOver60FramesPerSecondIsRefusedAndNothingIsLeft)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform("1920x1080p75");
    ASSERT_TRUE(oPlatform.IsPortFree());
    std::thread([] {}).join();  // a race detector starts a thread of its own with the first one
    const SProcessResources oBefore = CurrentResources();
    char szAddress[128];
    memset(szAddress, 'x', sizeof(szAddress));
    bool bStarted = true;
    const SCallOutput oOutput = Captured([&] { bStarted = StartStreaming(local_iBitRate, sizeof(szAddress), szAddress); });
    EXPECT_FALSE(bStarted);
    EXPECT_NE(std::string::npos,
              oOutput.oOut.find("Capture video mode: 1920x1080@75fps, Progressive.\nCannot capture over 60 fps!\n"))
        << oOutput.oOut;
    EXPECT_EQ(std::string::npos, oOutput.oOut.find("Monitor:")) << oOutput.oOut;
    // The start's record comes first; the teardown's stop of a capture that never ran may add
    // its own.
    std::string oOther;
    const auto aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
    ASSERT_GE(aoRecords.size(), 1u) << oOutput.oErr;
    EXPECT_EQ(std::string(local_szEntryFile) + "/StartStreaming/OMX_ErrorNone", aoRecords[0].Key());
    EXPECT_EQ(1u, StartRecordCount(aoRecords)) << oOutput.oErr;
    for (const SAbortRecord& roRecord : aoRecords)
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
    EXPECT_EQ('x', szAddress[0]);
    ExpectNothingLeft(oBefore);
}

TEST(ServerControl, SecondStartReturnsTrueAndKeepsTheFirstGraphAndAddress)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    char szFirst[128] = {0};
    ASSERT_TRUE(Captured([&] { EXPECT_TRUE(StartStreaming(local_iBitRate, sizeof(szFirst), szFirst)); }).oErr.empty());
    const GStreamerEncodeServer* const poServer = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();

    char szSecond[128];
    memset(szSecond, 'x', sizeof(szSecond));
    bool bSecond = false;
    ActivateAudioServer(1);  // takes effect at the next graph only
    const SCallOutput oOutput = Captured([&] { bSecond = StartStreaming(1000000, sizeof(szSecond), szSecond); });
    EXPECT_TRUE(bSecond);
    EXPECT_TRUE(HasInfoRecord(oOutput.oOut, "StartStreaming", "PellixServer already started.")) << oOutput.oOut;
    EXPECT_EQ(std::string::npos, oOutput.oOut.find("Capture video mode")) << oOutput.oOut;
    EXPECT_EQ("", oOutput.oErr);
    EXPECT_EQ('x', szSecond[0]);
    EXPECT_EQ(ServiceUrl("/Video1920x1080@60fps"), szFirst);
    EXPECT_EQ(poServer, g_poServer);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    EXPECT_EQ(uiHandles, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));

    // The first media is still served.
    CRawRtspClient oClient;
    ASSERT_TRUE(oClient.Connect(g_uiServicePort));
    EXPECT_EQ(0u, oClient.Request("OPTIONS", szFirst).find("RTSP/1.0 200 OK"));
    oClient.Close();
    EXPECT_TRUE(StopStreaming());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

TEST(ServerControl, NullAddressBufferFailsWithBadParameterAndBuildsNothing)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    const SProcessResources oBefore = CurrentResources();
    SetInfoMessageLevel(9);
    bool bStarted = true;
    const SCallOutput oOutput = Captured([&] { bStarted = StartStreaming(local_iBitRate, 128, nullptr); });
    SetInfoMessageLevel(0);
    EXPECT_FALSE(bStarted);
    std::string oOther;
    const auto aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
    ASSERT_EQ(1u, aoRecords.size()) << oOutput.oErr;
    EXPECT_EQ(std::string(local_szEntryFile) + "/StartStreaming/OMX_ErrorBadParameter", aoRecords[0].Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords[0], PELLIX_SOURCE_DIR));
    EXPECT_EQ("", oOther);
    // Not one component was made: nothing logged its construction or initialisation.
    EXPECT_EQ("", oOutput.oOut);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    ExpectNothingLeft(oBefore);
}

TEST(ServerControl, AddressBufferWithoutRoomForTheTerminatorFailsAndTearsDown)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    const SProcessResources oBaseline = BaselineAfterOneCycle();
    const std::string oUrl = ServiceUrl("/Video1920x1080@60fps");

    char szAddress[128];
    memset(szAddress, 'x', sizeof(szAddress));
    bool bStarted = true;
    const SCallOutput oOutput = Captured(
        [&] { bStarted = StartStreaming(local_iBitRate, static_cast<int>(oUrl.size()), szAddress); });
    EXPECT_FALSE(bStarted);
    EXPECT_EQ('x', szAddress[0]);
    std::string oOther;
    const auto aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
    ASSERT_EQ(1u, aoRecords.size()) << oOutput.oErr;
    EXPECT_EQ(std::string(local_szEntryFile) + "/StartStreaming/OMX_ErrorNone", aoRecords[0].Key());
    EXPECT_TRUE(AbortRecordPointsAtCheck(aoRecords[0], PELLIX_SOURCE_DIR));
    ExpectNothingLeft(oBaseline);

    // One byte more holds it.
    memset(szAddress, 'x', sizeof(szAddress));
    EXPECT_TRUE(Captured([&] {
                    EXPECT_TRUE(StartStreaming(local_iBitRate, static_cast<int>(oUrl.size()) + 1, szAddress));
                }).oErr.empty());
    EXPECT_EQ(oUrl, szAddress);
    EXPECT_EQ('x', szAddress[oUrl.size() + 1]);
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(oBaseline);
}

TEST(ServerControl, StopWithoutGraphReturnsTrueAndLogsNothingAndIsStreamingFollowsTheGraph)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    SetInfoMessageLevel(9);
    bool bStopped = false;
    bool bStreaming = true;
    SCallOutput oOutput = Captured([&] {
        bStreaming = IsStreaming();
        bStopped = StopStreaming();
        EXPECT_EQ(OMX_ErrorNone, DeinitComponents());
    });
    EXPECT_TRUE(bStopped);
    EXPECT_FALSE(bStreaming);
    EXPECT_EQ("", oOutput.oOut);
    EXPECT_EQ("", oOutput.oErr);

    SetInfoMessageLevel(0);
    char szAddress[128] = {0};
    ASSERT_TRUE(Captured([&] { EXPECT_TRUE(StartStreaming(local_iBitRate, sizeof(szAddress), szAddress)); }).oErr.empty());
    EXPECT_TRUE(Eventually([] { return IsStreaming(); }));
    EXPECT_TRUE(g_poServer->m_bCapture);
    EXPECT_TRUE(StopStreaming());
    EXPECT_FALSE(IsStreaming());

    SetInfoMessageLevel(9);
    oOutput = Captured([&] { bStopped = StopStreaming(); });
    EXPECT_TRUE(bStopped);
    EXPECT_EQ("", oOutput.oOut);
    EXPECT_EQ("", oOutput.oErr);
    SetInfoMessageLevel(0);
}

TEST(ServerControl, VolumeWithoutAudioIsRefusedWithUndefined)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    bool bSet = true;
    SCallOutput oOutput = Captured([&] { bSet = SetEncoderPlaybackVolume(50); });
    EXPECT_FALSE(bSet);
    EXPECT_TRUE(HasInfoRecord(oOutput.oOut, "SetEncoderPlaybackVolume", "Error: OMX_ErrorUndefined")) << oOutput.oOut;

    // A graph built while audio was off; the playback choice alone changes nothing of it.
    ActivateAudioServerPlayback(1);
    char szAddress[128] = {0};
    ASSERT_TRUE(Captured([&] { EXPECT_TRUE(StartStreaming(local_iBitRate, sizeof(szAddress), szAddress)); }).oErr.empty());
    EXPECT_EQ(ServiceUrl("/Video1920x1080@60fps"), szAddress);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    oOutput = Captured([&] { bSet = SetEncoderPlaybackVolume(50); });
    EXPECT_FALSE(bSet);
    EXPECT_TRUE(HasInfoRecord(oOutput.oOut, "SetEncoderPlaybackVolume", "Error: OMX_ErrorUndefined")) << oOutput.oOut;
    EXPECT_EQ("", oPlatform.AlsaFile("analog_volume"));
    EXPECT_TRUE(StopStreaming());
}

TEST(ServerControl, CaptureInitFailureAbortsAndDeinitRunsThroughEveryVideoComponent)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    ASSERT_EQ(OMX_ErrorNone,
              PellixTest_InjectFault(PellixFault_GetHandle, "OMX.TI.VPSSM3.VFCC", PELLIX_ANY_INDEX, 1, OMX_ErrorHardware));
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    SCallOutput oOutput = Captured([&] { eError = InitComponents(); });
    EXPECT_EQ(OMX_ErrorHardware, eError);
    EXPECT_EQ(0u, PellixTest_PendingFaults());
    std::string oOther;
    const auto aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
    ASSERT_GE(aoRecords.size(), 2u) << oOutput.oErr;
    EXPECT_EQ(std::string(local_szEntryFile) + "/InitComponents/OMX_ErrorHardware", aoRecords.back().Key());
    for (const SAbortRecord& roRecord : aoRecords)
    {
        EXPECT_EQ("OMX_ErrorHardware", roRecord.oError) << roRecord.Key();
        EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
    }
    // The record stays; the deinterlacer, display and encoder were not initialised: no handle.
    ASSERT_NE(nullptr, g_poServer);
    EXPECT_EQ(nullptr, g_poServer->m_poAudio);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());

    SetInfoMessageLevel(2);
    oOutput = Captured([&] { eError = DeinitComponents(); });
    SetInfoMessageLevel(0);
    EXPECT_EQ(OMX_ErrorNone, eError);
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ("", oOutput.oErr);
    EXPECT_EQ(std::string::npos, oOutput.oOut.find("Error while deinitializing")) << oOutput.oOut;
    EXPECT_EQ(std::string::npos, oOutput.oOut.find("audio")) << oOutput.oOut;
    // Each video component's Deinit in the teardown's order (the default source's writes
    // nothing), between the group's two records.
    size_t uiAt = 0;
    for (const char* szStep : {"# DeinitComponents     Deinitializing video components\n",
                               "# Deinit               CVideoEncoder\n", "# Deinit               CDisplayVFDC\n",
                               "# Deinit               CDEIMDualOutput\n", "# Deinit               CCaptureVFCC\n",
                               "# Deinit               GStreamerServerComponent\n",
                               "# Deinit               GStreamerRTSPServer\n",
                               "# DeinitComponents     Deleting video elements\n"})
    {
        const size_t uiFound = oOutput.oOut.find(szStep, uiAt);
        EXPECT_NE(std::string::npos, uiFound) << szStep << " after offset " << uiAt << " in\n" << oOutput.oOut;
        if (uiFound != std::string::npos)
            uiAt = uiFound + 1;
    }

    // Without a record it does nothing and says nothing.
    SetInfoMessageLevel(9);
    oOutput = Captured([&] { eError = DeinitComponents(); });
    SetInfoMessageLevel(0);
    EXPECT_EQ(OMX_ErrorNone, eError);
    EXPECT_EQ("", oOutput.oOut + oOutput.oErr);

    // And a start afterwards works.
    std::string oAddress;
    EXPECT_TRUE(CleanCycle(oAddress));
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

// ---- Every failing platform call of a start ------------------------------------------------------

namespace
{
// The calls made to fail: every kind of call a start makes, each on its first call to the
// component whatever its index, port, command or state; besides, the first state command
// (which a port command may precede) and the deinterlacer's second output, whose buffers are
// allocated after the first output's. Not the state transition answered by an error event instead
// of its completion: the framework waits for state changes without a time limit, so that one
// blocks the start for good, as the framework's waits are meant to.
struct SFaultCase
{
    PellixFaultKind eKind;
    OMX_U32 uiIndex;
    const char* szName;
};
const SFaultCase local_aoStartFaults[] = {
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
};
const char* const local_szDeinterlacer = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
const SFaultCase local_aoDeinterlacerFaults[] = {
    {PellixFault_AllocateBuffer, 17, "AllocateBuffer(17)"},
    {PellixFault_FillThisBuffer, 17, "FillThisBuffer(17)"},
};

struct SFaultTarget
{
    const char* szComponent;
    bool bAudio;
};

void PrintTo(const SFaultTarget& roTarget, std::ostream* poStream)
{
    *poStream << roTarget.szComponent << (roTarget.bAudio ? " with audio" : "");
}

std::string TargetName(const ::testing::TestParamInfo<SFaultTarget>& roInfo)
{
    std::string oName = roInfo.param.szComponent;
    for (char& rc : oName)
        if (!isalnum(static_cast<unsigned char>(rc)))
            rc = '_';
    return oName;
}

class ServerStartFaults : public ::testing::TestWithParam<SFaultTarget>
{
};
} // namespace

// For one platform component, each call of the list above fails once, in a run of its own. A
// failed start writes the ABORT chain up to StartStreaming, tears down everything it built and
// leaves the next start free to succeed.
TEST_P(ServerStartFaults, EachKindOfCallFailingOnceGivesFalseAFullTeardownAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    const SFaultTarget oTarget = GetParam();
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    ActivateAudioServer(oTarget.bAudio ? 1 : 0);
    CHangWatch oWatch;
    const SProcessResources oBaseline = BaselineAfterOneCycle();
    const std::string oUrl =
        ServiceUrl(oTarget.bAudio ? "/Video1920x1080@60fps_audio" : "/Video1920x1080@60fps");

    std::vector<SFaultCase> aoCases(std::begin(local_aoStartFaults), std::end(local_aoStartFaults));
    if (strcmp(oTarget.szComponent, local_szDeinterlacer) == 0)
        aoCases.insert(aoCases.end(), std::begin(local_aoDeinterlacerFaults), std::end(local_aoDeinterlacerFaults));
    unsigned uiFailedStarts = 0;
    for (const SFaultCase& roKind : aoCases)
    {
        SCOPED_TRACE(std::string(roKind.szName) + " of " + oTarget.szComponent);
        oWatch.Arm(std::string(roKind.szName) + " failing once on " + oTarget.szComponent, 60);
        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone,
                  PellixTest_InjectFault(roKind.eKind, oTarget.szComponent, roKind.uiIndex, 1, OMX_ErrorHardware));
        char szAddress[128];
        memset(szAddress, 'x', sizeof(szAddress));
        bool bStarted = false;
        const SCallOutput oOutput =
            Captured([&] { bStarted = StartStreaming(local_iBitRate, sizeof(szAddress), szAddress); });
        const bool bFaultTaken = PellixTest_PendingFaults() == 0;
        PellixTest_Reset();
        std::string oOther;
        const auto aoRecords = ParseAbortRecords(oOutput.oErr, oOther);
        fprintf(stderr, "%-22s %-30s %-10s %s, %zu ABORT records\n", roKind.szName, oTarget.szComponent,
                bFaultTaken ? "failed" : "not asked", bStarted ? "started" : "start failed", aoRecords.size());

        if (!bFaultTaken)
        {
            // Not a call the start makes on this component.
            EXPECT_TRUE(bStarted) << oOutput.oOut << oOutput.oErr;
            EXPECT_TRUE(aoRecords.empty()) << oOutput.oErr;
            EXPECT_TRUE(StopStreaming());
            ExpectNothingLeft(oBaseline);
            oWatch.Disarm();
            continue;
        }
        if (bStarted)
        {
            // Taken by a buffer exchange on a platform thread once the graph ran: the stream goes
            // on with one buffer less, and the stop still stops everything.
            EXPECT_TRUE(roKind.eKind == PellixFault_EmptyThisBuffer || roKind.eKind == PellixFault_FillThisBuffer)
                << oOutput.oErr;
            EXPECT_EQ(oUrl, szAddress);
            StopStreaming();
            ExpectNothingLeft(oBaseline);
            oWatch.Disarm();
            continue;
        }

        // The chain: from the failing call up to StartStreaming; after it, what the teardown's
        // stop of a partly built graph may add.
        ++uiFailedStarts;
        EXPECT_EQ('x', szAddress[0]);
        EXPECT_EQ(1u, StartRecordCount(aoRecords)) << oOutput.oErr;
        size_t uiStart = 0;
        while (uiStart < aoRecords.size() &&
               !(aoRecords[uiStart].oFile == local_szEntryFile && aoRecords[uiStart].oFunction == "StartStreaming"))
            ++uiStart;
        ASSERT_LT(uiStart, aoRecords.size()) << oOutput.oErr;
        EXPECT_GE(uiStart, 1u) << "the failing component writes its own record first\n" << oOutput.oErr;
        if (uiStart >= 1u)
        {
            EXPECT_EQ("OMX_ErrorHardware", aoRecords.front().oError) << oOutput.oErr;
        }
        for (const SAbortRecord& roRecord : aoRecords)
            EXPECT_TRUE(AbortRecordPointsAtCheck(roRecord, PELLIX_SOURCE_DIR)) << roRecord.Key();
        ExpectNothingLeft(oBaseline);

        // The next start succeeds and serves.
        std::string oAddress;
        EXPECT_TRUE(CleanCycle(oAddress));
        EXPECT_EQ(oUrl, oAddress);
        ExpectNothingLeft(oBaseline);
        oWatch.Disarm();
    }
    EXPECT_GT(uiFailedStarts, 0u);
    fprintf(stderr, "%s: %u failed starts; %s\n", oTarget.szComponent, uiFailedStarts,
            Describe(CurrentResources()).c_str());
}

INSTANTIATE_TEST_SUITE_P(Platform, ServerStartFaults,
                         ::testing::Values(SFaultTarget{"OMX.TI.VPSSM3.VFCC", false},
                                           SFaultTarget{"OMX.TI.VPSSM3.CTRL.TVP", false},
                                           SFaultTarget{local_szDeinterlacer, false},
                                           SFaultTarget{"OMX.TI.DUCATI.VIDENC", false},
                                           SFaultTarget{"OMX.TI.VPSSM3.VFDC", false},
                                           SFaultTarget{"OMX.TI.VPSSM3.CTRL.DC", false},
                                           SFaultTarget{"OMX.TI.DSP.AUDENC", true}),
                         TargetName);

// ---- Repeated cycles -----------------------------------------------------------------------------

namespace
{
// Twenty starts and stops: after the first two (which load what the process keeps for good),
// threads and descriptors come back to the same count after every cycle, and resident memory
// does not grow with the cycles.
void RunTwentyCycles(bool bAudio)
{
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    ActivateAudioServer(bAudio ? 1 : 0);
    const std::string oUrl = ServiceUrl(bAudio ? "/Video1920x1080@60fps_audio" : "/Video1920x1080@60fps");
    std::string oAddress;
    ASSERT_TRUE(CleanCycle(oAddress));
    ASSERT_TRUE(CleanCycle(oAddress));
    EXPECT_TRUE(Eventually([] { return PellixPlatform_LiveHandleCount() == 0; }));
    const SProcessResources oBaseline = CurrentResources();
    fprintf(stderr, "after cycle 2: %s\n", Describe(oBaseline).c_str());
    std::vector<long> alRss;
    std::vector<long long> allHeap;
    for (int iCycle = 3; iCycle <= 20; ++iCycle)
    {
        ASSERT_TRUE(CleanCycle(oAddress)) << "cycle " << iCycle;
        EXPECT_EQ(oUrl, oAddress);
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount()) << "cycle " << iCycle;
        EXPECT_TRUE(ResourcesBackTo(oBaseline))
            << "cycle " << iCycle << ": " << Describe(CurrentResources()) << " against " << Describe(oBaseline);
        alRss.push_back(CurrentResources().lRssKb);
        allHeap.push_back(CurrentResources().llHeapInUse);
    }
    const SProcessResources oEnd = CurrentResources();
    fprintf(stderr, "after cycle 20: %s\n", Describe(oEnd).c_str());
    EXPECT_EQ(oBaseline.uiThreads, oEnd.uiThreads);
    EXPECT_EQ(oBaseline.uiFds, oEnd.uiFds);
    // Memory: what the heap holds after a cycle does not grow with the cycles (a buffer of one
    // 1080p frame left per cycle would add 3 MB each time), and the resident memory settles:
    // the last nine cycles reach no higher than the nine before them, give or take what the
    // allocator keeps.
    const long lMiddle = *std::max_element(alRss.begin(), alRss.begin() + 9);
    const long lLast = *std::max_element(alRss.begin() + 9, alRss.end());
    fprintf(stderr, "resident memory: highest of cycles 3-11 %ld kB, of cycles 12-20 %ld kB\n", lMiddle, lLast);
    EXPECT_LT(lLast - lMiddle, 12 * 1024);
    fprintf(stderr, "heap in use after each cycle from the third, kB:");
    for (long long llHeap : allHeap)
        fprintf(stderr, " %lld", llHeap / 1024);
    fprintf(stderr, "\n");
    EXPECT_LT(allHeap.back() - oBaseline.llHeapInUse, 1024 * 1024);
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
