// CCaptureVFCC on the platform stand-in: argument checks, mode detection, the values it sends
// the platform, streaming into a sink, the mode-change polling thread and failures at each
// platform call.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "Eventually.h"
#include "OutputCapture.h"
#include "VideoWrapperTestSupport.h"
#include "base-omx.h"
#include "ti-components/CaptureVFCC.h"
#include "ti814x-omx.h"

namespace
{
const std::string local_oCaptureFile = "framework/ti-components/CaptureVFCC/";

class CaptureVFCCTest : public VideoWrapperTest
{
};

struct SMode
{
    bool bDetected;
    MUINT32 uiWidth;
    MUINT32 uiHeight;
    MUINT32 uiRate;
    bool bInterlaced;
};

SMode ModeOf(const CCaptureVFCC& roCapture)
{
    return SMode{roCapture.IsVideoDetected(), roCapture.GetFrameSize().m_uiCx, roCapture.GetFrameSize().m_uiCy,
                 roCapture.GetFrameRate(), roCapture.IsInterlaced()};
}

void ExpectMode(const SMode& roExpected, const SMode& roActual)
{
    EXPECT_EQ(roExpected.bDetected, roActual.bDetected);
    EXPECT_EQ(roExpected.uiWidth, roActual.uiWidth);
    EXPECT_EQ(roExpected.uiHeight, roActual.uiHeight);
    EXPECT_EQ(roExpected.uiRate, roActual.uiRate);
    EXPECT_EQ(roExpected.bInterlaced, roActual.bInterlaced);
}

// The host's callback: every call with its thread.
struct SModeChanges
{
    struct SCall
    {
        SMode oMode;
        std::thread::id oThread;
        void* pvData;
    };

    static void Callback(int iDetected, unsigned uiWidth, unsigned uiHeight, unsigned uiRate, int iInterlaced,
                         void* pvData)
    {
        auto* poChanges = static_cast<SModeChanges*>(pvData);
        std::lock_guard<std::mutex> oLock(poChanges->m_oMutex);
        poChanges->m_aoCalls.push_back(SCall{SMode{iDetected != 0, uiWidth, uiHeight, uiRate, iInterlaced != 0},
                                             std::this_thread::get_id(), pvData});
    }
    std::vector<SCall> Calls()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoCalls;
    }
    size_t Count() { return Calls().size(); }

    std::mutex m_oMutex;
    std::vector<SCall> m_aoCalls;
};
} // namespace

TEST_F(CaptureVFCCTest, SetCaptureParamRefusesBadArgumentsSilentlyAndStoresNothing)
{
    CCaptureVFCC oCapture;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 4, true, 1280,
                                                      720, 50));
    const SMode oBefore = ModeOf(oCapture);
    SetInfoMessageLevel(9);
    COutputCapture oOut(STDOUT_FILENO);
    COutputCapture oErr(STDERR_FILENO);
    const auto fnSet = [&](OmxPixelFormat eFormat, int iDiv, MUINT32 uiWidth, MUINT32 uiHeight) {
        return oCapture.SetCaptureParam(eFormat, static_cast<CCaptureVFCC::CaptureFpsDiv>(iDiv), 6, false, uiWidth,
                                        uiHeight, 30);
    };
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_RGB888, 1, 1920, 1080));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(static_cast<OmxPixelFormat>(0), 1, 1920, 1080));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_YUV422, 1, 1920, 1201));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_YUV422, 1, 639, 480));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_YUV420, 1, 1921, 1080));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_YUV420, 1, 640, 479));
    // A divisor of 0 would divide by zero.
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(OmxPixFmt_YUV422, 0, 1920, 1080));
    EXPECT_EQ("", oOut.Finish());
    EXPECT_EQ("", oErr.Finish());
    SetInfoMessageLevel(0);
    ExpectMode(oBefore, ModeOf(oCapture));
    // The bounds themselves are accepted.
    EXPECT_EQ(OMX_ErrorNone, fnSet(OmxPixFmt_YUV420, 1, 640, 480));
    EXPECT_EQ(OMX_ErrorNone, fnSet(OmxPixFmt_YUV422, 2, 1920, 1200));
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
}

TEST_F(CaptureVFCCTest, DetectsTheModeAndAppliesTheDivisor)
{
    struct SCase
    {
        const char* szSignal;
        CCaptureVFCC::CaptureFpsDiv eDiv;
        MUINT32 uiGivenRate;
        SMode oExpected;
        const char* szPrinted;
    };
    const SCase aoCases[] = {
        {"1920x1080p60", CCaptureVFCC::CaptureFpsDiv_1, 50, {true, 1920, 1080, 60, false}, ""},
        {"1280x720p50", CCaptureVFCC::CaptureFpsDiv_1, 60, {true, 1280, 720, 50, false}, ""},
        // A field of 540 lines every 60th of a second: 1080 lines, 30 frames a second.
        {"1920x1080i60", CCaptureVFCC::CaptureFpsDiv_1, 50, {true, 1920, 1080, 30, true}, ""},
        {"1918x1078p60", CCaptureVFCC::CaptureFpsDiv_1, 50, {true, 1920, 1080, 60, false},
         "**** Detected 1918x1078! Patched to 1920x1078. *****\n"
         "**** Detected 1920x1078! Patched to 1920x1080. *****\n"},
        // Fields of 240 lines are below the smallest size: no signal, the given mode stands.
        {"720x480i60", CCaptureVFCC::CaptureFpsDiv_1, 50, {false, 1280, 720, 50, false}, ""},
        {"none", CCaptureVFCC::CaptureFpsDiv_1, 50, {false, 1280, 720, 50, false}, ""},
        // The divisor rounds half up and never gives 0.
        {"1920x1080p25", CCaptureVFCC::CaptureFpsDiv_2, 50, {true, 1920, 1080, 13, false}, ""},
        {"1920x1080p60", CCaptureVFCC::CaptureFpsDiv_2, 50, {true, 1920, 1080, 30, false}, ""},
        {"1280x720p50", static_cast<CCaptureVFCC::CaptureFpsDiv>(3), 60, {true, 1280, 720, 17, false}, ""},
        {"none", CCaptureVFCC::CaptureFpsDiv_2, 0, {false, 1280, 720, 1, false}, ""},
        {"none", CCaptureVFCC::CaptureFpsDiv_1, 0, {false, 1280, 720, 1, false}, ""},
    };
    CCaptureVFCC oCapture;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    for (const SCase& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.szSignal);
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
        COutputCapture oOut(STDOUT_FILENO);
        const OMX_ERRORTYPE eError =
            oCapture.SetCaptureParam(OmxPixFmt_YUV422, roCase.eDiv, 4, true, 1280, 720, roCase.uiGivenRate);
        EXPECT_EQ(roCase.szPrinted, oOut.Finish());
        ASSERT_EQ(OMX_ErrorNone, eError);
        ExpectMode(roCase.oExpected, ModeOf(oCapture));
        // The receiver control went back to loaded.
        EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXCtrlHandle()));
        EXPECT_EQ(OMX_StateLoaded, oCapture.GetCtrlState());
    }

    // One detection on its own: without a signal only the flag changes.
    bool bDetected = true;
    MSIZE32 oSize = {11, 22};
    MUINT32 uiRate = 33;
    bool bInterlaced = true;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    EXPECT_EQ(OMX_ErrorNone, oCapture.GetInputVideoMode(bDetected, oSize, uiRate, bInterlaced));
    EXPECT_FALSE(bDetected);
    ExpectMode(SMode{false, 11, 22, 33, true}, SMode{bDetected, oSize.m_uiCx, oSize.m_uiCy, uiRate, bInterlaced});
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
    EXPECT_EQ(OMX_ErrorInvalidComponent, oCapture.GetInputVideoMode(bDetected, oSize, uiRate, bInterlaced));
}

TEST_F(CaptureVFCCTest, SendsItsConfigurationToBothComponents)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    CCaptureVFCC oCapture;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_2, 6, true, 1280,
                                                      720, 60));
    const OMX_HANDLETYPE hCtrl = oCapture.GetOMXCtrlHandle();
    const OMX_HANDLETYPE hCapture = oCapture.GetOMXHandle();
    // Detection looks for any mode, progressive at most 1920 x 1200.
    const auto oInfo = ReadParam<OMX_PARAM_CTRL_VIDDECODER_INFO>(hCtrl, OMX_TI_IndexParamCTRLVidDecInfo);
    EXPECT_EQ(OMX_VIDEO_DECODER_STD_AUTO_DETECT, oInfo.videoStandard);
    EXPECT_EQ(OMX_VID_DEC_ADV7611_DRV, oInfo.videoDecoderId);
    EXPECT_EQ(OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT, oInfo.videoSystemId);
    EXPECT_EQ(OMX_VIDEO_CaptureHWPortVIP1_PORTA,
              ReadParam<OMX_PARAM_VFCC_HWPORT_ID>(hCtrl, OMX_TI_IndexParamVFCCHwPortID).eHwPortId);
    EXPECT_EQ(OMX_VIDEO_CaptureScanTypeProgressive,
              ReadParam<OMX_PARAM_VFCC_HWPORT_PROPERTIES>(hCtrl, OMX_TI_IndexParamVFCCHwPortProperties).eScanType);

    ASSERT_EQ(OMX_ErrorNone, oCapture.SetParameters());
    for (OMX_HANDLETYPE hHandle : {hCtrl, hCapture})
    {
        const auto oProperties =
            ReadParam<OMX_PARAM_VFCC_HWPORT_PROPERTIES>(hHandle, OMX_TI_IndexParamVFCCHwPortProperties);
        EXPECT_EQ(OMX_VIDEO_CaptureModeSC_NON_MUX, oProperties.eCaptMode);
        EXPECT_EQ(OMX_VIDEO_CaptureVifMode_16BIT, oProperties.eVifMode);
        EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oProperties.eInColorFormat);
        EXPECT_EQ(OMX_VIDEO_CaptureScanTypeInterlaced, oProperties.eScanType);
        EXPECT_EQ(1u, oProperties.nMaxChnlsPerHwPort);
        // The control allows the largest picture, the capture the one it captures.
        EXPECT_EQ(hHandle == hCtrl ? 1200u : 1080u, oProperties.nMaxHeight);
        EXPECT_EQ(1920u, oProperties.nMaxWidth);
    }
    EXPECT_EQ(OMX_TRUE, ReadParam<OMX_PARAM_CTRL_COLOR_RANGE>(hCtrl, OMX_TI_IndexParamCtrlColorRange).bFullRange);
    const auto oDefinition = ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hCapture, OMX_IndexParamPortDefinition);
    EXPECT_EQ(6u, oDefinition.nBufferCountActual);
    EXPECT_EQ(1920u, oDefinition.format.video.nFrameWidth);
    EXPECT_EQ(1080u, oDefinition.format.video.nFrameHeight);
    EXPECT_EQ(3840, oDefinition.format.video.nStride);
    EXPECT_EQ(OMX_VIDEO_CodingUnused, oDefinition.format.video.eCompressionFormat);
    EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oDefinition.format.video.eColorFormat);
    EXPECT_EQ(1920u * 1080 * 2, oDefinition.nBufferSize);
    EXPECT_EQ(OMX_BUFFER_MEMORY_DEFAULT,
              ReadParam<OMX_PARAM_BUFFER_MEMORYTYPE>(hCapture, OMX_TI_IndexParamBuffMemType).eBufMemoryType);
    EXPECT_EQ(OMX_VIDEO_CaptureHWPortVIP1_PORTA,
              ReadParam<OMX_PARAM_VFCC_HWPORT_ID>(hCapture, OMX_TI_IndexParamVFCCHwPortID).eHwPortId);
    EXPECT_EQ(0x2AAAAAAAu,
              ReadConfig<OMX_CONFIG_VFCC_FRAMESKIP_INFO>(hCapture, OMX_TI_IndexConfigVFCCFrameSkip).frameSkipMask);

    // Every frame kept: no skip mask.
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV420, CCaptureVFCC::CaptureFpsDiv_1, 6, true, 1280,
                                                      720, 60));
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetParameters());
    EXPECT_EQ(0u, ReadConfig<OMX_CONFIG_VFCC_FRAMESKIP_INFO>(hCapture, OMX_TI_IndexConfigVFCCFrameSkip).frameSkipMask);
    EXPECT_EQ(1920u * 1080 * 3 / 2,
              ReadParam<OMX_PARAM_PORTDEFINITIONTYPE>(hCapture, OMX_IndexParamPortDefinition).nBufferSize);
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
}

TEST_F(CaptureVFCCTest, StreamsEveryOtherFrameIntoASinkAndStops)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    CCaptureVFCC oCapture;
    CFrameSink oSink;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_2, 4, true, 1920,
                                                      1080, 60));
    EXPECT_EQ(30u, oCapture.GetFrameRate());
    ASSERT_EQ(OMX_ErrorNone, oCapture.ConnectTo(&oSink, 0));
    ASSERT_EQ(OMX_ErrorNone, oCapture.Start());
    EXPECT_EQ(OMX_StateExecuting, PlatformState(oCapture.GetOMXHandle()));
    EXPECT_EQ(OMX_StateExecuting, PlatformState(oCapture.GetOMXCtrlHandle()));
    ASSERT_TRUE(Eventually([&] { return oSink.Count() >= 6; }));

    // Configuration is for loaded components only.
    const std::vector<std::string> aoKeys = AbortKeys([&] {
        EXPECT_EQ(OMX_ErrorIncorrectStateOperation,
                  oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_2, 4, true, 1920, 1080, 60));
    });
    EXPECT_EQ(std::vector<std::string>{local_oCaptureFile + "SetCaptureParam/Unknown error"}, aoKeys);

    // Frames of the detected size, every other one of 60 a second: 1/30 s apart. (Stopping hands
    // the unfilled buffers on: only what came while running counts.)
    EXPECT_EQ(1280u * 720 * 2, oSink.FilledLength());
    const std::vector<OMX_TICKS> anStamps = oSink.TimeStamps();
    ASSERT_EQ(OMX_ErrorNone, oCapture.Stop());
    EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXHandle()));
    EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXCtrlHandle()));
    for (size_t i = 1; i < anStamps.size(); ++i)
        EXPECT_TRUE(IsWholePeriods(anStamps[i] - anStamps[i - 1], 1000000.0 / 30)) << anStamps[i] - anStamps[i - 1];
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
}

TEST_F(CaptureVFCCTest, PollingThreadReportsExactlyTheModeChanges)
{
    const auto fnThreads = &ThreadCount;
    CCaptureVFCC oCapture;
    SModeChanges oChanges;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    const unsigned uiThreadsInit = fnThreads();
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 4, true, 1920,
                                                      1080, 60));
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(&SModeChanges::Callback, &oChanges));
    EXPECT_EQ(&SModeChanges::Callback, oCapture.GetCallbackVideoModeChanged());
    EXPECT_EQ(uiThreadsInit + 1, fnThreads());

    // A new rate alone is no change: two polls go by without a call.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p50"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    EXPECT_EQ(0u, oChanges.Count());
    // A new size, a lost signal, an interlaced signal: one call each, in order.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    ASSERT_TRUE(Eventually([&] { return oChanges.Count() == 1; }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    ASSERT_TRUE(Eventually([&] { return oChanges.Count() == 2; }));
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    ASSERT_TRUE(Eventually([&] { return oChanges.Count() == 3; }));
    const std::vector<SModeChanges::SCall> aoCalls = oChanges.Calls();
    ExpectMode(SMode{true, 1280, 720, 60, false}, aoCalls[0].oMode);
    EXPECT_FALSE(aoCalls[1].oMode.bDetected);
    ExpectMode(SMode{true, 1920, 1080, 30, true}, aoCalls[2].oMode);
    for (const SModeChanges::SCall& roCall : aoCalls)
    {
        EXPECT_EQ(&oChanges, roCall.pvData);
        EXPECT_NE(std::this_thread::get_id(), roCall.oThread);
        EXPECT_EQ(aoCalls[0].oThread, roCall.oThread);
    }
    // The thread leaves the component's own mode alone.
    EXPECT_EQ(60u, oCapture.GetFrameRate());

    // A null callback stops polling: no thread, no more calls.
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(nullptr, nullptr));
    EXPECT_EQ(uiThreadsInit, fnThreads());
    EXPECT_EQ(0u, oCapture.GetPollingThreadKillSwitch());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_EQ(3u, oChanges.Count());

    // Deinit stops it too: what remains are the threads there were before the two components.
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(&SModeChanges::Callback, &oChanges));
    EXPECT_EQ(uiThreadsInit + 1, fnThreads());
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
    EXPECT_TRUE(Eventually([&] { return fnThreads() == uiThreadsInit - 2; }));
}

TEST_F(CaptureVFCCTest, PollingNeverInterleavesWithStartAndStop)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1280x720p60"));
    CCaptureVFCC oCapture;
    CFrameSink oSink;
    SModeChanges oChanges;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 4, true, 1920,
                                                      1080, 60));
    ASSERT_EQ(OMX_ErrorNone, oCapture.ConnectTo(&oSink, 0));
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(&SModeChanges::Callback, &oChanges));
    // Polls fall between and into starts and stops for three seconds; each start and stop
    // completes, with the capture where it belongs. (A poll between a stop and the next start
    // powers the receiver control for its detection.) The control's commands take their time,
    // so that a poll overlaps what the control thread does with the control often.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_DelayCommands("OMX.TI.VPSSM3.CTRL.TVP", 30));
    const auto oEnd = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    unsigned uiCycles = 0;
    while (std::chrono::steady_clock::now() < oEnd && !HasFailure())
    {
        EXPECT_EQ(OMX_ErrorNone, oCapture.Start());
        EXPECT_EQ(OMX_StateExecuting, PlatformState(oCapture.GetOMXCtrlHandle()));
        EXPECT_EQ(OMX_StateExecuting, PlatformState(oCapture.GetOMXHandle()));
        EXPECT_EQ(OMX_ErrorNone, oCapture.Stop());
        EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXHandle()));
        ++uiCycles;
    }
    EXPECT_GT(uiCycles, 3u);
    // Every detection succeeded: the mode never changed.
    EXPECT_EQ(0u, oChanges.Count());
    // Polling stopped, the receiver control is back in loaded.
    EXPECT_EQ(OMX_ErrorNone, oCapture.SetCallbackVideoModeChanged(nullptr, nullptr));
    EXPECT_EQ(OMX_StateLoaded, PlatformState(oCapture.GetOMXCtrlHandle()));
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
}

TEST_F(CaptureVFCCTest, InitFailsCleanlyAtEachPlatformCall)
{
    struct SCase
    {
        PellixFaultKind eKind;
        const char* szComponent;
        OMX_U32 uiIndex;
        std::vector<std::string> aoKeys;
    };
    const std::string oBase = "framework/base-components/OMXClassComponent/";
    const SCase aoCases[] = {
        {PellixFault_GetHandle, "OMX.TI.VPSSM3.VFCC", PELLIX_ANY_INDEX,
         {oBase + "Init/OMX_ErrorHardware", local_oCaptureFile + "Init/OMX_ErrorHardware"}},
        {PellixFault_GetHandle, "OMX.TI.VPSSM3.CTRL.TVP", PELLIX_ANY_INDEX,
         {local_oCaptureFile + "Init/OMX_ErrorHardware"}},
        {PellixFault_SendCommand, "OMX.TI.VPSSM3.VFCC", OMX_CommandPortEnable,
         {oBase + "EnablePort/OMX_ErrorHardware", local_oCaptureFile + "CreatePorts/OMX_ErrorHardware",
          oBase + "InitPorts/OMX_ErrorHardware", local_oCaptureFile + "Init/OMX_ErrorHardware"}},
    };
    for (const SCase& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.szComponent);
        CCaptureVFCC oCapture;
        ASSERT_EQ(OMX_ErrorNone,
                  PellixTest_InjectFault(roCase.eKind, roCase.szComponent, roCase.uiIndex, 1, OMX_ErrorHardware));
        EXPECT_EQ(roCase.aoKeys, AbortKeys([&] { EXPECT_EQ(OMX_ErrorHardware, oCapture.Init()); }));
        EXPECT_EQ(0u, PellixTest_PendingFaults());
        EXPECT_EQ(std::vector<std::string>(), AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit()); }));
        EXPECT_EQ(0u, PellixPlatform_LiveHandleCount());
    }
}

TEST_F(CaptureVFCCTest, ConfigurationFailsCleanlyAtEachPlatformCall)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080i60"));
    const auto fnSetCaptureParam = [](CCaptureVFCC& roCapture) {
        return roCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_2, 4, true, 1920, 1080, 60);
    };
    for (bool bSetParameters : {false, true})
    {
        // The calls of one clean run, then a run failing at each of them in turn.
        size_t uiCalls = 0;
        {
            CCaptureVFCC oCapture;
            ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
            if (bSetParameters)
            {
                ASSERT_EQ(OMX_ErrorNone, fnSetCaptureParam(oCapture));
            }
            {
                CPlatformCallFaults oCalls({oCapture.GetOMXHandle(), oCapture.GetOMXCtrlHandle()}, 0, OMX_ErrorNone);
                ASSERT_EQ(OMX_ErrorNone, bSetParameters ? oCapture.SetParameters() : fnSetCaptureParam(oCapture));
                uiCalls = oCalls.Calls().size();
            }
            EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
        }
        EXPECT_EQ(bSetParameters ? 8u : 6u, uiCalls);
        for (size_t uiFailAt = 1; uiFailAt <= uiCalls; ++uiFailAt)
        {
            SCOPED_TRACE(testing::Message() << (bSetParameters ? "SetParameters" : "SetCaptureParam") << " call "
                                            << uiFailAt);
            CCaptureVFCC oCapture;
            ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
            if (bSetParameters)
            {
                ASSERT_EQ(OMX_ErrorNone, fnSetCaptureParam(oCapture));
            }
            std::vector<std::string> aoKeys;
            OMX_ERRORTYPE eError = OMX_ErrorNone;
            std::string oFailed;
            {
                CPlatformCallFaults oCalls({oCapture.GetOMXHandle(), oCapture.GetOMXCtrlHandle()}, uiFailAt,
                                           OMX_ErrorHardware);
                aoKeys = AbortKeys([&] {
                    eError = bSetParameters ? oCapture.SetParameters() : fnSetCaptureParam(oCapture);
                });
                ASSERT_TRUE(oCalls.Failed());
                oFailed = oCalls.Calls()[uiFailAt - 1].oKind;
            }
            const bool bLastCommand = !bSetParameters && uiFailAt == uiCalls;
            if (bLastCommand)
            {
                // The receiver control's way back to loaded: reported, not a failure.
                EXPECT_EQ("SendCommand", oFailed);
                EXPECT_EQ(OMX_ErrorNone, eError);
                EXPECT_EQ(std::vector<std::string>{"framework/base-components/OMXClassComponent/SetState/"
                                                   "OMX_ErrorHardware"},
                          aoKeys);
            }
            else
            {
                EXPECT_EQ(OMX_ErrorHardware, eError);
                ASSERT_FALSE(aoKeys.empty());
                EXPECT_EQ(local_oCaptureFile + (bSetParameters ? "SetParameters" : "SetCaptureParam") +
                              "/OMX_ErrorHardware",
                          aoKeys.back());
            }
            EXPECT_EQ(std::vector<std::string>(), AbortKeys([&] { EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit()); }));
        }
    }
}
