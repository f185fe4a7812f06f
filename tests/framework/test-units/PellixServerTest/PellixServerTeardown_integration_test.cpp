// The control API's stop and failure paths on the simulated platform: a stop in which each kind of
// platform call fails on each component, a host callback that stops (and restarts) the stream from
// the polling thread, an interlaced field the deinterlacer refuses, a second InitComponents, the
// monitors the output cannot drive. Nothing may be touched after it was freed (the sanitizer
// builds run these), nothing may be left, and the next start serves a client. Each scenario runs
// in a process of its own.
#include <dlfcn.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Eventually.h"
#include "OutputCapture.h"
#include "PellixPlatform.h"
#include "PellixTestControl.h"
#include "ServerTestSupport.h"
#include "edid/Edid.h"
#include "test-units/PellixServerTest/GStreamerEncodeServer.h"
#include "test-units/PellixServerTest/PellixServerTestEntry.h"
#include "ti814x-framework.h"

namespace
{
const int local_iBitRate = 4000000;

// Starts; the address, or "" when the start failed. The output goes to roOut when given.
std::string Start(std::string* poOut = nullptr)
{
    char szAddress[128] = {0};
    COutputCapture oOut(STDOUT_FILENO);
    const bool bStarted = StartStreaming(local_iBitRate, sizeof(szAddress), szAddress);
    const std::string oText = oOut.Finish();
    if (poOut != nullptr)
        *poOut = oText;
    return bStarted && Eventually([] { return IsStreaming(); }) ? szAddress : "";
}

// A real client decodes a few pictures of what the address serves.
void ExpectClientDecodes(const std::string& roAddress)
{
    const SDecodeResult oResult = DecodeWithFfmpeg(roAddress, "-frames:v 3");
    EXPECT_GE(oResult.FramesOf(0), 3u) << roAddress << ": " << oResult.oRun.oErr;
}

// The process's threads and descriptors. GLib keeps idle threads of its pool (which ran the
// streaming threads) for a while: they are asked to end first.
std::pair<unsigned, unsigned> ThreadsAndDescriptors()
{
    g_thread_pool_stop_unused_threads();
    return {CountThreads(), CountFds()};
}

// Nothing of a graph is left: no record, no handle, the port free, threads and descriptors back.
void ExpectNothingLeft(const std::pair<unsigned, unsigned>& roBaseline)
{
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    EXPECT_TRUE(CanBindPort(g_uiServicePort));
    EXPECT_TRUE(Eventually([&] { return ThreadsAndDescriptors() <= roBaseline; }, std::chrono::seconds(10)))
        << "threads and descriptors before: " << roBaseline.first << ", " << roBaseline.second
        << "; now: " << CountThreads() << ", " << CountFds();
}

// The threads and descriptors once one whole cycle ran: what the libraries keep for good is there.
std::pair<unsigned, unsigned> BaselineAfterOneCycle()
{
    const std::string oAddress = Start();
    EXPECT_NE("", oAddress);
    EXPECT_TRUE(StopStreaming());
    return ThreadsAndDescriptors();
}

// ---- A stop in which one platform call fails ----------------------------------------------------

struct SStopFaultTarget
{
    const char* szComponent;
    const char* szWrapper;  // as DeinitComponents names it
};

void PrintTo(const SStopFaultTarget& roTarget, std::ostream* poStream)
{
    *poStream << roTarget.szComponent;
}

class TeardownStopFaults : public ::testing::TestWithParam<SStopFaultTarget>
{
};
} // namespace

// Each kind of call a stop makes fails once, in a run of its own: a refused state command leaves
// the rest of the graph running, a refused buffer or handle release leaves the platform's
// component alive. The stop reports it, no platform callback reaches a freed wrapper, nothing is
// left, and the next start serves a client.
TEST_P(TeardownStopFaults, EachKindOfCallFailingOnceGivesFalseNothingLeftAndAWorkingNextStart)
{
    PELLIX_RUN_IN_OWN_PROCESS(400);
    const SStopFaultTarget oTarget = GetParam();
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    ActivateAudioServer(1);
    const auto oBaseline = BaselineAfterOneCycle();
    const struct
    {
        PellixFaultKind eKind;
        OMX_U32 uiIndex;
    } aoKinds[] = {{PellixFault_SendCommand, OMX_CommandStateSet},
                   {PellixFault_FreeBuffer, PELLIX_ANY_INDEX},
                   {PellixFault_FreeHandle, PELLIX_ANY_INDEX}};
    for (const auto& roKind : aoKinds)
    {
        SCOPED_TRACE(std::string("fault kind ") + std::to_string(roKind.eKind) + " on " + oTarget.szComponent);
        const std::string oAddress = Start();
        ASSERT_NE("", oAddress);
        ExpectClientDecodes(oAddress);

        PellixTest_Reset();
        ASSERT_EQ(OMX_ErrorNone,
                  PellixTest_InjectFault(roKind.eKind, oTarget.szComponent, roKind.uiIndex, 1, OMX_ErrorHardware));
        bool bStopped = true;
        std::string oOut;
        {
            COutputCapture oCapture(STDOUT_FILENO);
            bStopped = StopStreaming();
            oOut = oCapture.Finish();
        }
        const bool bTaken = PellixTest_PendingFaults() == 0;
        PellixTest_Reset();
        fprintf(stderr, "%s, kind %d: %s, stop %s\n", oTarget.szComponent, roKind.eKind,
                bTaken ? "failed" : "not asked", bStopped ? "true" : "false");
        // A FreeBuffer of a component without ports is never asked for; every other kind is.
        EXPECT_TRUE(bTaken || roKind.eKind == PellixFault_FreeBuffer);
        EXPECT_EQ(!bTaken, bStopped);
        if (bTaken && roKind.eKind == PellixFault_FreeHandle)
        {
            const std::string oRecord = std::string("Error while deinitializing ") + oTarget.szWrapper +
                                        ": OMX_ErrorHardware";
            EXPECT_TRUE(HasInfoRecord(oOut, "DeinitComponents", oRecord)) << oOut;
        }
        ExpectNothingLeft(oBaseline);
    }
    const std::string oAddress = Start();
    ASSERT_NE("", oAddress);
    ExpectClientDecodes(oAddress);
    EXPECT_TRUE(StopStreaming());
    ExpectNothingLeft(oBaseline);
}

INSTANTIATE_TEST_SUITE_P(Platform, TeardownStopFaults,
                         ::testing::Values(SStopFaultTarget{"OMX.TI.VPSSM3.VFCC", "CaptureVFCC"},
                                           SStopFaultTarget{"OMX.TI.VPSSM3.CTRL.TVP", "CaptureVFCC"},
                                           SStopFaultTarget{"OMX.TI.VPSSM3.VFPC.DEIMDUALOUT", "DEIMDualOutputVFPC"},
                                           SStopFaultTarget{"OMX.TI.DUCATI.VIDENC", "EncoderVIDENC"},
                                           SStopFaultTarget{"OMX.TI.VPSSM3.VFDC", "DisplayVFDC"},
                                           SStopFaultTarget{"OMX.TI.VPSSM3.CTRL.DC", "DisplayVFDC"},
                                           SStopFaultTarget{"OMX.TI.DSP.AUDENC", "DSPAudioEncoder"}),
                         [](const ::testing::TestParamInfo<SStopFaultTarget>& roInfo) {
                             std::string oName = roInfo.param.szComponent + 4;
                             for (char& rc : oName)
                                 if (rc == '.')
                                     rc = '_';
                             return oName;
                         });

// ---- Stop and restart from the host's callback ----------------------------------------------------

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
    g_bCallbackRestarted = Start() != "";
    ++g_iCallbacks;
}
} // namespace

// The host's callback runs on the capture's polling thread; a stop from inside it cannot join that
// thread. The thread ends once the callback returns, touching nothing of the freed graph, and a
// start from inside the callback polls on a thread of its own.
TEST(Teardown, StopAndRestartFromTheModeChangeCallbackLeaveNoThreadAndTouchNothingFreed)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CScenarioPlatform oPlatform("1920x1080p60");
    ASSERT_TRUE(oPlatform.IsPortFree());
    const auto oBaseline = BaselineAfterOneCycle();

    SetVideoModeChangeCallback(local_StopInCallback);
    ASSERT_NE("", Start());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    ASSERT_TRUE(Eventually([] { return g_iCallbacks.load() == 1; }));
    EXPECT_TRUE(g_bCallbackStopped.load());
    ExpectNothingLeft(oBaseline);

    SetVideoModeChangeCallback(local_RestartInCallback);
    ASSERT_NE("", Start());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    ASSERT_TRUE(Eventually([] { return g_iCallbacks.load() == 2; }));
    EXPECT_TRUE(g_bCallbackStopped.load());
    ASSERT_TRUE(g_bCallbackRestarted.load());
    ExpectClientDecodes(ServiceUrl("/Video1920x1080@60fps"));
    SetVideoModeChangeCallback(nullptr);
    EXPECT_TRUE(StopStreaming());
    EXPECT_EQ(2, g_iCallbacks.load());
    ExpectNothingLeft(oBaseline);
}

// ---- Interlaced input ----------------------------------------------------------------------------

// Second fields the deinterlacer refuses, one at a time, more than the capture has buffers: each
// frame still returns to the capture, so frames keep flowing.
TEST(Teardown, RefusedSecondFieldsReturnTheirFramesToTheCapture)
{
    PELLIX_RUN_IN_OWN_PROCESS(170);
    CScenarioPlatform oPlatform("1920x1080i60");
    ASSERT_TRUE(oPlatform.IsPortFree());
    ASSERT_NE("", Start());
    const char* const szDei = "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT";
    for (int iFault = 0; iFault < 8; ++iFault)
    {
        // Fields reach the deinterlacer in pairs: the call after the next one is a second field.
        ASSERT_EQ(OMX_ErrorNone,
                  PellixTest_InjectFaultAfter(PellixFault_EmptyThisBuffer, szDei, 0, 1, 1, OMX_ErrorHardware));
        ASSERT_TRUE(Eventually([] { return PellixTest_PendingFaults() == 0; })) << "fault " << iFault;
    }
    const unsigned long long uiConsumed = PellixTest_GetCounter(szDei, PellixCounter_FramesConsumed);
    EXPECT_TRUE(Eventually([&] { return PellixTest_GetCounter(szDei, PellixCounter_FramesConsumed) > uiConsumed + 20; }))
        << "the capture ran out of frames";
    EXPECT_TRUE(StopStreaming());
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

// ---- Records and exported names -------------------------------------------------------------------

// A second InitComponents keeps the first record and its handles; one DeinitComponents frees
// everything. The wrapper's constructor is exported under the name its char* parameter gives.
TEST(Teardown, SecondInitComponentsIsRefusedWithoutALeak)
{
    PELLIX_RUN_IN_OWN_PROCESS(120);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    EXPECT_NE(nullptr, dlsym(RTLD_DEFAULT, "_ZN13COMXComponentC2EPc"));
    ActivateAudioServer(1);
    ASSERT_EQ(OMX_ErrorNone, InitComponents());
    const GStreamerEncodeServer* const poFirst = g_poServer;
    const unsigned uiHandles = PellixPlatform_LiveHandleCount();
    EXPECT_GT(uiHandles, 0u);
    COutputCapture oErr(STDERR_FILENO);
    EXPECT_EQ(OMX_ErrorInvalidState, InitComponents());
    EXPECT_NE(std::string::npos, oErr.Finish().find("InitComponents           OMX_ErrorInvalidState"));
    EXPECT_EQ(poFirst, g_poServer);
    EXPECT_EQ(uiHandles, PellixPlatform_LiveHandleCount());
    EXPECT_EQ(OMX_ErrorNone, DeinitComponents());
    EXPECT_EQ(nullptr, g_poServer);
    EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
}

// ---- Monitors the output cannot drive --------------------------------------------------------------

namespace
{
// The EDID bytes of a text dump: the hex lines after "edid-decode (hex):" up to the first rule.
std::vector<MUINT8> DumpBytes(const std::filesystem::path& roPath)
{
    std::ifstream oFile(roPath);
    std::string oLine;
    std::vector<MUINT8> aucBytes;
    bool bIn = false;
    while (std::getline(oFile, oLine))
    {
        if (oLine.rfind("edid-decode (hex):", 0) == 0)
            bIn = true;
        else if (bIn && oLine.rfind("----", 0) == 0)
            break;
        else if (bIn)
        {
            std::istringstream oHex(oLine);
            unsigned uiByte = 0;
            while (oHex >> std::hex >> uiByte)
                aucBytes.push_back(static_cast<MUINT8>(uiByte));
        }
    }
    return aucBytes;
}
} // namespace

// A monitor that prefers a timing beyond the output (above 165 MHz or 1920 x 1200) is driven in the
// caller's 1080p60 mode, said so in an INFO record, and the appliance serves a client.
TEST(Teardown, MonitorsPreferringMoreThanTheOutputDrivesShowTheFallbackModeAndServe)
{
    PELLIX_RUN_IN_OWN_PROCESS(400);
    CScenarioPlatform oPlatform;
    ASSERT_TRUE(oPlatform.IsPortFree());
    unsigned uiBeyond = 0;
    for (const auto& roEntry : std::filesystem::directory_iterator(PELLIX_SOURCE_DIR "/tests/data/edid"))
    {
        const std::vector<MUINT8> aucEdid = DumpBytes(roEntry.path());
        CEdid oEdid(aucEdid.data(), static_cast<MINT32>(aucEdid.size()));
        CDetailedTiming oPreferred;
        if (!oEdid.GetPreferredMode(oPreferred) ||
            (oPreferred.GetPixelClock() <= 165000 && oPreferred.GetHorizontalActive() <= 1920 &&
             oPreferred.GetVerticalActive() * (oPreferred.IsInterlaced() ? 2 : 1) <= 1200))
            continue;
        ++uiBeyond;
        SCOPED_TRACE(roEntry.path().filename().string());
        // The display's files are made from the monitor when its EDID file is missing.
        setenv("PELLIX_SIM_MONITOR", roEntry.path().c_str(), 1);
        std::filesystem::remove(std::string(getenv("PELLIX_PLATFORM_ROOT")) + "/sys/devices/platform/vpss/display0/edid");
        SetInfoMessageLevel(1);
        std::string oOut;
        const std::string oAddress = Start(&oOut);
        SetInfoMessageLevel(0);
        ASSERT_NE("", oAddress) << oOut;
        EXPECT_NE(std::string::npos, oOut.find(", 1920x1080@60Hz\n")) << oOut;
        // Other threads' records may come between the pieces of this one.
        const std::string oRecord = "Preferred mode " + std::to_string(oPreferred.GetHorizontalActive()) + "x";
        EXPECT_NE(std::string::npos, oOut.find(oRecord)) << oOut;
        EXPECT_NE(std::string::npos, oOut.find("is beyond the output, using 1920x1080@60Hz\n")) << oOut;
        ExpectClientDecodes(oAddress);
        EXPECT_TRUE(StopStreaming());
    }
    EXPECT_GE(uiBeyond, 10u) << "the test data holds many monitors that prefer 4K";
}
