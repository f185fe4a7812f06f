// CCaptureVFCC on the platform stand-in: argument checks, mode detection, the values it sends the
// platform, the mode-change polling thread while polls fall between and into starts and stops, and
// the frames the capture delivers through it (the test pattern, its time stamps, skipped frames,
// the input's rate, no signal, drops, fields one after the other).
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
#include <thread>

#include "TestPicture.h"
#include "WrapperTestSupport.h"
#include "base-omx.h"
#include "ti-components/CaptureVFCC.h"

namespace
{
const std::string local_oFile = "framework/ti-components/CaptureVFCC/";

// "1920x1080@60p", "none 1280x720@50p": detected or not, size, rate, scan.
std::string Mode(bool bDetected, MSIZE32 oSize, MUINT32 uiRate, bool bInterlaced)
{
    return std::string(bDetected ? "" : "none ") + std::to_string(oSize.m_uiCx) + "x" + std::to_string(oSize.m_uiCy) +
           "@" + std::to_string(uiRate) + (bInterlaced ? "i" : "p");
}

OMX_ERRORTYPE Set(CCaptureVFCC& ro, int iDiv = 1, MUINT32 uiWidth = 1920, MUINT32 uiHeight = 1080, MUINT32 uiRate = 60,
                  OmxPixelFormat eFormat = OmxPixFmt_YUV422)
{
    return ro.SetCaptureParam(eFormat, CCaptureVFCC::CaptureFpsDiv(iDiv), 4, true, uiWidth, uiHeight, uiRate);
}

// The host's callback: every mode reported, and whether all came on one thread not the test's.
struct SModeChanges
{
    static void Callback(int iDetected, unsigned uiWidth, unsigned uiHeight, unsigned uiRate, int iInterlaced, void* pv)
    {
        auto* po = static_cast<SModeChanges*>(pv);
        std::lock_guard<std::mutex> oLock(po->m_oMutex);
        po->m_aoModes.push_back(Mode(iDetected != 0, {uiWidth, uiHeight}, uiRate, iInterlaced != 0));
        po->m_bOneOtherThread = po->m_bOneOtherThread && std::this_thread::get_id() != po->m_oTestThread &&
                                (po->m_aoModes.size() == 1 || std::this_thread::get_id() == po->m_oThread);
        po->m_oThread = std::this_thread::get_id();
    }
    std::vector<std::string> Modes()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoModes;
    }
    std::mutex m_oMutex;
    std::vector<std::string> m_aoModes;
    std::thread::id m_oThread, m_oTestThread = std::this_thread::get_id();
    bool m_bOneOtherThread = true;
};

// The frames the sink got: "<counter>@<time stamp>", "broken" where the pattern was not upright in
// its place, "empty" for a buffer handed on unfilled.
std::vector<std::string> Frames(CFrameSink& roSink, unsigned uiWidth, unsigned uiHeight, bool bSemiPlanar, bool bFields)
{
    // The list first: the bytes only grow while the capture runs, so they hold every listed buffer.
    const std::vector<CFrameSink::SBuffer> aoBuffers = roSink.Buffers();
    const std::string oData = roSink.Data();
    std::vector<std::string> aoFrames;
    for (const CFrameSink::SBuffer& ro : aoBuffers)
    {
        const SPatternSeen o = ReadPattern(oData.substr(ro.uiOffset, ro.nFilledLen), uiWidth, uiHeight, bSemiPlanar,
                                           uiWidth, uiHeight, bFields);
        aoFrames.push_back(ro.nFilledLen == 0 ? "empty"
                                              : std::to_string(o.llCounter) + "@" + std::to_string(ro.nTimeStamp) +
                                                    (o.bInPlace ? "" : " broken"));
    }
    return aoFrames;
}

typedef CWrapperTest CaptureVFCCTest;
} // namespace

TEST_F(CaptureVFCCTest, RefusesBadParametersSilentlyAndDetectsTheMode)
{
    CCaptureVFCC oCapture;
    ASSERT_TRUE(Ok(oCapture.Init()) && Ok(Set(oCapture)));
    // Other formats, sizes outside 640x480..1920x1200, a divisor of 0 (it would divide by
    // zero): refused without a word, nothing kept; the bounds themselves are taken.
    const std::string oSaid = LogOf(9, [&] {
        COutputCapture oErr(STDERR_FILENO);
        for (const std::vector<int>& a :
             std::vector<std::vector<int>>{{1, 1920, 1201}, {1, 639, 480}, {1, 1921, 1080}, {1, 640, 479},
                                           {0, 1920, 1080}, {1, 1920, 1080, OmxPixFmt_RGB888}, {1, 1920, 1080, 0}})
            EXPECT_EQ(OMX_ErrorBadParameter, Set(oCapture, a[0], MUINT32(a[1]), MUINT32(a[2]), 30,
                                                 a.size() > 3 ? OmxPixelFormat(a[3]) : OmxPixFmt_YUV420));
        EXPECT_EQ("", oErr.Finish());
    });
    EXPECT_EQ("", oSaid);
    EXPECT_EQ("1920x1080@60p", Mode(oCapture.IsVideoDetected(), oCapture.GetFrameSize(), oCapture.GetFrameRate(),
                                    oCapture.IsInterlaced()));
    EXPECT_TRUE(Ok(Set(oCapture, 1, 640, 480, 60, OmxPixFmt_YUV420)) && Ok(Set(oCapture, 2, 1920, 1200)));
    // The given mode stands where nothing is detected; the divisor rounds half up and never
    // gives 0. A field of 540 lines every 60th of a second is 1080 lines at 30 frames a second;
    // fields of 240 lines are below the smallest size. The receiver control goes back to loaded.
    const std::vector<std::tuple<const char*, int, MUINT32, const char*, const char*>> aoCases = {
        {"1920x1080p60", 1, 50, "1920x1080@60p", ""}, {"1280x720p50", 1, 60, "1280x720@50p", ""},
        {"1920x1080i60", 1, 50, "1920x1080@30i", ""},
        {"1918x1078p60", 1, 50, "1920x1080@60p",
         "**** Detected 1918x1078! Patched to 1920x1078. *****\n"
         "**** Detected 1920x1078! Patched to 1920x1080. *****\n"},
        {"720x480i60", 1, 50, "none 1280x720@50p", ""}, {"1920x1080p25", 2, 50, "1920x1080@13p", ""},
        {"1920x1080p60", 2, 50, "1920x1080@30p", ""}, {"1280x720p50", 3, 60, "1280x720@17p", ""},
        {"none", 2, 0, "none 1280x720@1p", ""}, {"none", 1, 0, "none 1280x720@1p", ""}};
    for (const auto& ro : aoCases)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(std::get<0>(ro)));
        COutputCapture oPrinted(STDOUT_FILENO);
        EXPECT_EQ(OMX_ErrorNone, Set(oCapture, std::get<1>(ro), 1280, 720, std::get<2>(ro)));
        EXPECT_EQ(std::get<4>(ro), oPrinted.Finish());
        EXPECT_EQ(std::get<3>(ro), Mode(oCapture.IsVideoDetected(), oCapture.GetFrameSize(), oCapture.GetFrameRate(),
                                        oCapture.IsInterlaced()));
        EXPECT_TRUE(PlatformState(oCapture.GetOMXCtrlHandle()) == OMX_StateLoaded &&
                    oCapture.GetCtrlState() == OMX_StateLoaded);
    }
    // One detection on its own: without a signal only the flag changes; without a control, none.
    bool bDetected = true, bInterlaced = true;
    MSIZE32 oSize = {11, 22};
    MUINT32 uiRate = 33;
    EXPECT_EQ(OMX_ErrorNone, oCapture.GetInputVideoMode(bDetected, oSize, uiRate, bInterlaced));
    EXPECT_EQ("none 11x22@33i", Mode(bDetected, oSize, uiRate, bInterlaced));
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
    EXPECT_EQ(OMX_ErrorInvalidComponent, oCapture.GetInputVideoMode(bDetected, oSize, uiRate, bInterlaced));
}

TEST_F(CaptureVFCCTest, SendsItsConfigurationAndFailsCleanlyAtEachPlatformCall)
{
    const std::string oBase = "framework/base-components/OMXClassComponent/";
    // A 1080i signal, the divisor 2, each step failing at each call in turn; a failed detection
    // still takes the receiver control back to loaded, and the last call of SetCaptureParam, that
    // way back, is reported but not a failure. After a clean SetParameters: the port's picture
    // (1080 lines, not 540) in 4:2:2, every other frame skipped, the receiver's properties on the
    // control (the largest picture) and the capture (its picture).
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    ExpectEachCallFails<CCaptureVFCC>(
        6, local_oFile + "SetCaptureParam", [](CCaptureVFCC&) {}, [](CCaptureVFCC& ro) { return Set(ro, 2); }, nullptr,
        6, oBase + "SetState/OMX_ErrorHardware", 1);
    ExpectEachCallFails<CCaptureVFCC>(
        8, local_oFile + "SetParameters", [](CCaptureVFCC& ro) { ASSERT_EQ(OMX_ErrorNone, Set(ro, 2)); },
        [](CCaptureVFCC& ro) { return ro.SetParameters(); },
        [](CCaptureVFCC& ro) {
            const auto oPort = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(ro.GetOMXHandle(), OMX_IndexParamPortDefinition);
            EXPECT_EQ((std::vector<OMX_U32>{1920, 1080, 3840, OMX_COLOR_FormatYCbYCr, 4, 1920 * 1080 * 2, 0x2AAAAAAA}),
                      (std::vector<OMX_U32>{oPort.format.video.nFrameWidth, oPort.format.video.nFrameHeight,
                                            OMX_U32(oPort.format.video.nStride), oPort.format.video.eColorFormat,
                                            oPort.nBufferCountActual, oPort.nBufferSize,
                                            ReadParam<OMX_CONFIG_VFCC_FRAMESKIP_INFO>(
                                                ro.GetOMXHandle(), OMX_TI_IndexConfigVFCCFrameSkip, 0, true)
                                                .frameSkipMask}));
            for (OMX_HANDLETYPE h : {ro.GetOMXCtrlHandle(), ro.GetOMXHandle()})
            {
                const auto o = ReadParam<OMX_PARAM_VFCC_HWPORT_PROPERTIES>(h, OMX_TI_IndexParamVFCCHwPortProperties);
                EXPECT_EQ((std::vector<OMX_U32>{OMX_VIDEO_CaptureVifMode_16BIT, OMX_VIDEO_CaptureScanTypeInterlaced,
                                                1920, h == ro.GetOMXCtrlHandle() ? 1200u : 1080u,
                                                OMX_VIDEO_CaptureHWPortVIP1_PORTA}),
                          (std::vector<OMX_U32>{
                              o.eVifMode, o.eScanType, o.nMaxWidth, o.nMaxHeight,
                              ReadParam<OMX_PARAM_VFCC_HWPORT_ID>(h, OMX_TI_IndexParamVFCCHwPortID).eHwPortId}));
            }
            EXPECT_EQ(OMX_TRUE,
                      ReadParam<OMX_PARAM_CTRL_COLOR_RANGE>(ro.GetOMXCtrlHandle(), OMX_TI_IndexParamCtrlColorRange)
                          .bFullRange);
        });
}

TEST_F(CaptureVFCCTest, PollingReportsModeChangesNeverInterleavingWithStartsAndStopsAndTheFramesShowThePattern)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    CCaptureVFCC oCapture;
    CFrameSink oSink;
    SModeChanges oChanges;
    oSink.m_bKeepData = true;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    const unsigned uiThreadsInit = ThreadCount();
    ASSERT_TRUE(Ok(oSink.Init()) && Ok(Set(oCapture, 2)) && Ok(oCapture.ConnectTo(&oSink, 0)));
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(&SModeChanges::Callback, &oChanges));
    EXPECT_TRUE(oCapture.GetCallbackVideoModeChanged() == &SModeChanges::Callback &&
                ThreadCount() == uiThreadsInit + 1);
    // Polls fall between and into starts and stops for three seconds: each start and stop
    // completes with the capture where it belongs, and every detection succeeds, the mode never
    // changes. (A poll between a stop and the next start powers the receiver control for its
    // detection.) The control's commands take their time, so that a poll often overlaps them.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands("OMX.TI.VPSSM3.CTRL.TVP", 30));
    const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    unsigned uiCycles = 0;
    for (; std::chrono::steady_clock::now() < oEnd && !HasFailure(); ++uiCycles)
    {
        EXPECT_EQ(OMX_ErrorNone, oCapture.Start());
        EXPECT_TRUE(PlatformState(oCapture.GetOMXCtrlHandle()) == OMX_StateExecuting &&
                    PlatformState(oCapture.GetOMXHandle()) == OMX_StateExecuting);
        EXPECT_EQ(OMX_ErrorNone, oCapture.Stop());
        EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXHandle()));
    }
    EXPECT_TRUE(uiCycles > 3 && oChanges.Modes().empty() &&
                PlatformState(oCapture.GetOMXCtrlHandle()) == OMX_StateLoaded);
    PellixTest_Reset();
    // A new rate alone is no change: two polls go by without a call. A new size, a lost signal,
    // an interlaced signal: one call each, in order, all from the one polling thread; the
    // component's own mode stays.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p50"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    std::vector<std::string> aoExpected;
    for (const auto& roChange : std::vector<std::pair<const char*, const char*>>{
             {"1920x1080p60", "1920x1080@60p"}, {"none", "none 1920x1080@60p"}, {"1920x1080i60", "1920x1080@30i"}})
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roChange.first));
        aoExpected.push_back(roChange.second);
        ASSERT_TRUE(Eventually([&] { return oChanges.Modes().size() == aoExpected.size(); })) << roChange.first;
    }
    EXPECT_TRUE(oChanges.Modes() == aoExpected && oChanges.m_bOneOtherThread && oCapture.GetFrameRate() == 30);
    // A null callback stops polling: no thread, no more calls.
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(nullptr, nullptr));
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == uiThreadsInit; }) &&
                oCapture.GetPollingThreadKillSwitch() == 0);
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(3u, oChanges.Modes().size());

    // Running: the pattern upright with its number, every other frame skipped, each stamped that
    // many 60ths of a second after the start; then half the rate, then no signal and no frames,
    // then frames again; without a free buffer a frame is dropped and counted. Configuration is
    // for loaded components only.
    oSink.Clear();  // (each stop handed the unfilled buffers on)
    ASSERT_TRUE(Ok(oCapture.Start()) && Eventually([&] { return oSink.Count() >= 6; }));
    for (const std::string& roFrame : Frames(oSink, 1280, 720, false, false))
    {
        const long long llCounter = std::stoll(roFrame);
        EXPECT_TRUE(llCounter % 2 == 0 &&
                    roFrame == std::to_string(llCounter) + "@" + std::to_string(llCounter * 16666666 / 1000))
            << roFrame;
    }
    EXPECT_EQ(std::vector<std::string>{local_oFile + "SetCaptureParam/Unknown error"},
              AbortKeys([&] { EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Set(oCapture, 2)); }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p30"));
    size_t uiFrom = oSink.Count() + 2;
    ASSERT_TRUE(Eventually([&] { return oSink.Count() >= uiFrom + 4; }));
    const std::vector<CFrameSink::SBuffer> aoBuffers = oSink.Buffers();
    for (size_t i = uiFrom + 1; i < aoBuffers.size(); ++i)
        EXPECT_NEAR(66667, aoBuffers[i].nTimeStamp - aoBuffers[i - 1].nTimeStamp, 1) << i;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    uiFrom = oSink.Count();
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(uiFrom, oSink.Count());
    ASSERT_TRUE(Ok(PellixTest_SetSimulatedInput("1280x720p60")) &&
                Eventually([&] { return oSink.Count() >= uiFrom + 3; }));
    oSink.Hold(true);
    EXPECT_TRUE(
        Eventually([&] { return PellixTest_GetCounter("OMX.TI.VPSSM3.VFCC", PellixCounter_FramesDropped) >= 3; }));
    EXPECT_EQ(oSink.Count(), PellixTest_GetCounter("OMX.TI.VPSSM3.VFCC", PellixCounter_FramesProduced));
    ASSERT_EQ(OMX_ErrorNone, oCapture.Stop());
    // Interlaced frames hold their fields one after the other: put back in frame order, the lines
    // show the pattern; 60 fields make 30 frames a second.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    for (OmxPixelFormat eFormat : {OmxPixFmt_YUV422, OmxPixFmt_YUV420})
    {
        oSink.Clear();
        ASSERT_TRUE(Ok(Set(oCapture, 1, 1920, 1080, 60, eFormat)) && Ok(oCapture.Start()) &&
                    Eventually([&] { return oSink.Count() >= 3; }));
        ASSERT_EQ(OMX_ErrorNone, oCapture.Stop());
        for (const std::string& roFrame : Frames(oSink, 1920, 1080, eFormat == OmxPixFmt_YUV420, true))
            EXPECT_TRUE(roFrame == "empty" || roFrame == std::to_string(std::stoll(roFrame)) + "@" +
                                                             std::to_string(std::stoll(roFrame) * 33333333 / 1000))
                << roFrame;
    }
    // Deinit stops polling too: what remains are the threads there were before the two components.
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(&SModeChanges::Callback, &oChanges));
    EXPECT_EQ(uiThreadsInit + 1, ThreadCount());
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == uiThreadsInit - 2; }));
    EXPECT_EQ(OMX_ErrorNone, oSink.Deinit());
}
