// The demanding input and what the platform makes of it: the picture chosen after the mode of the
// simulated input, the capture code every captured picture carries, still readable after a real
// encode and decode at 2 Mbit/s, and the encoder that codes faster when it cannot keep up, with
// the stream going on unbroken.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>

#include "CCaptureTimeCode.h"
#include "CFrameLines.h"
#include "CMotionPattern.h"
#include "COmxTestClient.h"
#include "CSimulatedInput.h"
#include "CStreamProbe.h"
#include "EngineTestSupport.h"
#include "OutputCapture.h"
#include "TempDir.h"
#include "ti814x-omx.h"

namespace
{
typedef CEngineTest DemandingInput;

const uint64_t local_uiFirstTimeUs = 5000000000123ull;  // a time that needs both 32-bit words

// Picture uiFrame of the demanding input, stamped as the capture stamps it.
void local_Draw(const CMotionPattern& roPattern, const CFrameLines& roLines, uint32_t uiFrame, uint8_t* pBuffer)
{
    roPattern.Draw(uiFrame, pBuffer);
    CCaptureTimeCode::Write(roLines, pBuffer, {local_uiFirstTimeUs + 16667ull * uiFrame, uiFrame});
}

TEST_F(DemandingInput, PictureIsChosenAfterTheModeAndEveryCapturedPictureCarriesItsCode)
{
    struct SCase
    {
        const char* szInput;
        OMX_ERRORTYPE eResult;
        EPattern ePattern;  // in force afterwards
    };
    const SCase aoCases[] = {
        {"640x480p60:motion", OMX_ErrorNone, Pattern_Motion},
        {"640x480p60:zoneplate", OMX_ErrorBadParameter, Pattern_Motion},
        {"640x480p60:", OMX_ErrorBadParameter, Pattern_Motion},
        {"none:motion", OMX_ErrorBadParameter, Pattern_Motion},
        {"640x480p60motion", OMX_ErrorBadParameter, Pattern_Motion},
        {"720x480i60:bars", OMX_ErrorNone, Pattern_Bars},
        {"640x480i60:motion", OMX_ErrorNone, Pattern_Motion},
        {"640x480p60", OMX_ErrorNone, Pattern_Bars},
        {"640x480p60:motion", OMX_ErrorNone, Pattern_Motion},
    };
    for (const SCase& roCase : aoCases)
    {
        EXPECT_EQ(roCase.eResult, PellixTest_SetSimulatedInput(roCase.szInput)) << roCase.szInput;
        EXPECT_EQ(roCase.ePattern, CSimulatedInput::Instance().Pattern()) << roCase.szInput;
    }

    // The capture draws the demanding picture in NV12 and stamps each with its number and time.
    COmxTestClient oCapture("OMX.TI.VPSSM3.VFCC");
    OMX_PARAM_PORTDEFINITIONTYPE oPort = oCapture.PortDefinition(0);
    oPort.format.video.eColorFormat = OMX_COLOR_FormatYUV420SemiPlanar;
    oPort.format.video.nFrameWidth = 640;
    oPort.format.video.nFrameHeight = 480;
    oPort.format.video.nStride = 640;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(oCapture.Handle(), OMX_IndexParamPortDefinition, &oPort));
    std::mutex oMutex;
    std::vector<CCaptureTimeCode::SValue> aoCodes;
    std::atomic<unsigned> uiUnread(0);
    oCapture.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
        // Handed back empty on the way to Loaded.
        if (poHeader->nFilledLen == 0)
            return;
        CCaptureTimeCode::SValue oValue;
        if (!CCaptureTimeCode::Read(poHeader->pBuffer, 640, 1, 640, 480, oValue))
            ++uiUnread;
        else
        {
            std::lock_guard<std::mutex> oLock(oMutex);
            aoCodes.push_back(oValue);
        }
        OMX_FillThisBuffer(oCapture.Handle(), poHeader);
    });
    const uint64_t uiStartUs = CCaptureTimeCode::NowUs();
    ASSERT_TRUE(oCapture.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SubmitAll(0, false));
    EXPECT_TRUE(Eventually([&] {
        std::lock_guard<std::mutex> oLock(oMutex);
        return aoCodes.size() >= 10;
    }));
    ASSERT_TRUE(oCapture.GoToLoaded());
    const uint64_t uiEndUs = CCaptureTimeCode::NowUs();
    EXPECT_EQ(0u, uiUnread.load());
    for (size_t i = 0; i < aoCodes.size(); ++i)
    {
        EXPECT_GE(aoCodes[i].uiTimeUs, uiStartUs);
        EXPECT_LE(aoCodes[i].uiTimeUs, uiEndUs);
        if (i > 0)
        {
            EXPECT_GT(aoCodes[i].uiFrame, aoCodes[i - 1].uiFrame);
            EXPECT_GT(aoCodes[i].uiTimeUs, aoCodes[i - 1].uiTimeUs);
        }
    }
    EXPECT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
}

// The encoder is told that it may take 1 us a picture: after a second of pictures it steps to
// the fastest preset, after another it says once that it cannot keep up; every picture is coded
// all the same, in one unbroken stream of the profile and picture pattern asked for, at 2 Mbit/s,
// and every decoded picture gives its capture code back.
TEST_F(DemandingInput, EncoderTooSlowForItsInputCodesFasterAndTheStreamGoesOnWithEveryCode)
{
    const unsigned uiWidth = 1280;
    const unsigned uiHeight = 720;
    const unsigned uiFrames = 150;
    const unsigned uiKeyInterval = 30;
    CScopedEnv oBudget("PELLIX_SIM_ENCODER_BUDGET_US", "1");
    COmxTestClient oEncoder("OMX.TI.DUCATI.VIDENC");
    OMX_PARAM_PORTDEFINITIONTYPE oPort = oEncoder.PortDefinition(0);
    oPort.format.video.nFrameWidth = uiWidth;
    oPort.format.video.nFrameHeight = uiHeight;
    oPort.format.video.nStride = uiWidth;
    oPort.format.video.xFramerate = 60u << 16;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(oEncoder.Handle(), OMX_IndexParamPortDefinition, &oPort));
    oPort = oEncoder.PortDefinition(1);
    oPort.format.video.nBitrate = 2000000;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(oEncoder.Handle(), OMX_IndexParamPortDefinition, &oPort));
    OMX_VIDEO_PARAM_AVCTYPE oAvc;
    InitStruct(oAvc, 1);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(oEncoder.Handle(), OMX_IndexParamVideoAvc, &oAvc));
    oAvc.eProfile = OMX_VIDEO_AVCProfileBaseline;
    oAvc.nPFrames = uiKeyInterval - 1;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetParameter(oEncoder.Handle(), OMX_IndexParamVideoAvc, &oAvc));

    const CVideoFrameGeometry oGeometry(uiWidth, uiHeight, uiWidth, OMX_COLOR_FormatYUV420SemiPlanar);
    CFrameLines oLines;
    oLines.Configure(oGeometry, false);
    CMotionPattern oPattern;
    oPattern.Configure(oGeometry, false);
    std::mutex oMutex;
    unsigned uiSent = 0;
    std::string oStream;
    std::atomic<bool> bEnded(false);
    const auto fnFeed = [&](OMX_BUFFERHEADERTYPE* poHeader) {
        std::lock_guard<std::mutex> oLock(oMutex);
        if (uiSent == uiFrames)
            return;
        local_Draw(oPattern, oLines, uiSent, poHeader->pBuffer);
        poHeader->nOffset = 0;
        poHeader->nFilledLen = static_cast<OMX_U32>(oLines.FrameBytes());
        poHeader->nTimeStamp = static_cast<OMX_TICKS>(16667 * uiSent);
        poHeader->nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (++uiSent == uiFrames ? OMX_BUFFERFLAG_EOS : 0);
        OMX_EmptyThisBuffer(oEncoder.Handle(), poHeader);
    };
    oEncoder.OnEmptyDone(fnFeed);
    oEncoder.OnFillDone([&](OMX_BUFFERHEADERTYPE* poHeader) {
        std::lock_guard<std::mutex> oLock(oMutex);
        oStream.append(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset), poHeader->nFilledLen);
        if ((poHeader->nFlags & OMX_BUFFERFLAG_EOS) != 0)
            bEnded = true;
        else
            OMX_FillThisBuffer(oEncoder.Handle(), poHeader);
    });

    COutputCapture oErrors(STDERR_FILENO);
    ASSERT_TRUE(oEncoder.GoToExecuting());
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SubmitAll(1, false));
    for (OMX_BUFFERHEADERTYPE* poHeader : oEncoder.Buffers(0))
        fnFeed(poHeader);
    EXPECT_TRUE(Eventually([&] { return bEnded.load(); }, std::chrono::seconds(120)));
    ASSERT_TRUE(oEncoder.GoToLoaded());
    const std::string oLog = oErrors.Finish();
    const std::string oSwitch = "OMX.TI.DUCATI.VIDENC: coding took ";
    EXPECT_NE(std::string::npos, oLog.find("x264 preset superfast -> ultrafast\n")) << oLog;
    EXPECT_EQ(oLog.find(oSwitch), oLog.rfind(oSwitch)) << oLog;
    const std::string oBehind = "at the fastest x264 preset ultrafast: the input is held back\n";
    EXPECT_NE(std::string::npos, oLog.find(oBehind)) << oLog;
    EXPECT_EQ(oLog.find(oBehind), oLog.rfind(oBehind)) << oLog;
    EXPECT_EQ(0u, PellixTest_GetCounter("OMX.TI.DUCATI.VIDENC", PellixCounter_FramesDropped));

    CTempDir oDir;
    const std::string oPath = oDir.Write("stream.h264", oStream).string();
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
    EXPECT_EQ("Constrained Baseline", oProbe.oProfile);
    ASSERT_EQ(uiFrames, oProbe.abKeyFrame.size());
    for (unsigned i = 0; i < uiFrames; ++i)
        EXPECT_EQ(i % uiKeyInterval == 0, oProbe.abKeyFrame[i]) << "picture " << i;
    std::string oDecodeErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oDecodeErrors)) << oDecodeErrors;

    std::string oLuma;
    ASSERT_EQ(0, CStreamProbe::Run("ffmpeg -nostdin -v error -f h264 -i " + oPath + " -pix_fmt gray -f rawvideo -",
                                   oLuma, false));
    const size_t uiPictureBytes = size_t(uiWidth) * uiHeight;
    ASSERT_EQ(uiFrames * uiPictureBytes, oLuma.size());
    for (unsigned i = 0; i < uiFrames; ++i)
    {
        CCaptureTimeCode::SValue oValue = {0, 0};
        ASSERT_TRUE(CCaptureTimeCode::Read(reinterpret_cast<const uint8_t*>(oLuma.data()) + i * uiPictureBytes, uiWidth,
                                           1, uiWidth, uiHeight, oValue))
            << "picture " << i;
        EXPECT_EQ(i, oValue.uiFrame);
        EXPECT_EQ(local_uiFirstTimeUs + 16667ull * i, oValue.uiTimeUs);
    }
}
} // namespace
