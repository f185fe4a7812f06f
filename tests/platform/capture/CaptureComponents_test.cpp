// The capture ("OMX.TI.VPSSM3.VFCC") and its receiver control ("OMX.TI.VPSSM3.CTRL.TVP") driven
// through the IL core: what the receiver reports for each simulated signal, the frames the
// capture delivers (pattern, counter, time stamps, skips, drops, fields) and the checks of their
// settings.
#include <gtest/gtest.h>

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <mutex>
#include <thread>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "PellixTestControl.h"
#include "TestPicture.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szCapture = "OMX.TI.VPSSM3.VFCC";
const char* const local_szReceiver = "OMX.TI.VPSSM3.CTRL.TVP";

class VideoCaptureTest : public CEngineTest
{
protected:
    void TearDown() override
    {
        PellixTest_SetSimulatedInput("1920x1080p60");
        CEngineTest::TearDown();
    }
};

OMX_ERRORTYPE Detect(COmxTestClient& roReceiver, OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO& roDetect)
{
    InitStruct(roDetect);
    return OMX_GetParameter(roReceiver.Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlVidDecDetectVideo),
                            &roDetect);
}

// What one delivered frame showed.
struct SFrame
{
    OMX_TICKS nTimeStamp;
    OMX_U32 nFilledLen;
    long long llCounter;
    bool bBars;
    bool bRamp;
};

// The picture of a delivered buffer as a progressive frame: with fields, the lines (and for 4:2:0
// the chroma lines) of the two field pictures are put back in frame order.
std::vector<uint8_t> ProgressiveCopy(const OMX_BUFFERHEADERTYPE* poHeader, const STestPicture& roFormat, bool bFields)
{
    const uint8_t* pBuffer = poHeader->pBuffer + poHeader->nOffset;
    const size_t uiStride = roFormat.uiStride;
    const unsigned uiHeight = roFormat.uiHeight;
    const unsigned uiChromaLines = roFormat.IsSemiPlanar() ? uiHeight / 2 : 0;
    std::vector<uint8_t> aucFrame(uiStride * (uiHeight + uiChromaLines));
    if (!bFields)
    {
        std::copy(pBuffer, pBuffer + aucFrame.size(), aucFrame.begin());
        return aucFrame;
    }
    const size_t uiFieldBytes = uiStride * (uiHeight / 2 + uiChromaLines / 2);
    for (unsigned y = 0; y < uiHeight; ++y)
        std::copy_n(pBuffer + (y % 2) * uiFieldBytes + (y / 2) * uiStride, uiStride, &aucFrame[y * uiStride]);
    for (unsigned c = 0; c < uiChromaLines; ++c)
        std::copy_n(pBuffer + (c % 2) * uiFieldBytes + (uiHeight / 2 + c / 2) * uiStride, uiStride,
                    &aucFrame[(uiHeight + c) * uiStride]);
    return aucFrame;
}

// A capture brought to Executing with the test as its consumer: every frame is read and its
// buffer handed back at once, unless the test holds them.
class CCaptureRun
{
public:
    CCaptureRun(unsigned uiWidth, unsigned uiHeight, OMX_COLOR_FORMATTYPE eFormat, bool bFields)
        : m_oClient(local_szCapture),
          m_oFormat{nullptr, uiWidth, uiHeight, eFormat == OMX_COLOR_FormatYCbYCr ? 2 * uiWidth : uiWidth, eFormat},
          m_bFields(bFields)
    {
        m_oClient.OnFillDone([this](OMX_BUFFERHEADERTYPE* poHeader) { Received(poHeader); });
    }

    bool Start()
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition = m_oClient.PortDefinition(0);
        oDefinition.format.video.nFrameWidth = m_oFormat.uiWidth;
        oDefinition.format.video.nFrameHeight = m_oFormat.uiHeight;
        oDefinition.format.video.nStride = static_cast<OMX_S32>(m_oFormat.uiStride);
        oDefinition.format.video.eColorFormat = m_oFormat.eFormat;
        oDefinition.nBufferSize = m_oFormat.uiStride * m_oFormat.uiHeight * (m_oFormat.IsSemiPlanar() ? 3 : 2) /
                                  (m_oFormat.IsSemiPlanar() ? 2 : 1);
        OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
        InitStruct(oProperties);
        const OMX_INDEXTYPE eProperties = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortProperties);
        return OMX_SetParameter(m_oClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition) == OMX_ErrorNone &&
               OMX_GetParameter(m_oClient.Handle(), eProperties, &oProperties) == OMX_ErrorNone &&
               (oProperties.eScanType = m_bFields ? OMX_VIDEO_CaptureScanTypeInterlaced
                                                  : OMX_VIDEO_CaptureScanTypeProgressive,
                OMX_SetParameter(m_oClient.Handle(), eProperties, &oProperties) == OMX_ErrorNone) &&
               m_oClient.GoToExecuting() && m_oClient.SubmitAll(0, false) == OMX_ErrorNone;
    }

    void Received(OMX_BUFFERHEADERTYPE* poHeader)
    {
        // Buffers handed back unfilled (on the way down to idle) are neither read nor handed in
        // again, so that nothing touches them once the test frees them.
        if (poHeader->nFilledLen == 0)
            return;
        const std::vector<uint8_t> aucFrame = ProgressiveCopy(poHeader, m_oFormat, m_bFields);
        STestPicture oPicture = m_oFormat;
        oPicture.pData = aucFrame.data();
        const CPatternReader oReader(oPicture, m_oFormat.uiWidth, m_oFormat.uiHeight);
        {
            std::lock_guard<std::mutex> oLock(m_oMutex);
            m_aoFrames.push_back(SFrame{poHeader->nTimeStamp, poHeader->nFilledLen, oReader.Counter(),
                                        oReader.BarsInOrder(), oReader.RampRisesToTheRight()});
            if (m_bHold)
                return;
        }
        OMX_FillThisBuffer(m_oClient.Handle(), poHeader);
    }

    std::vector<SFrame> Frames()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoFrames;
    }
    size_t FrameCount() { return Frames().size(); }
    bool WaitFrames(size_t uiCount)
    {
        return Eventually([&] { return FrameCount() >= uiCount; });
    }
    void Hold()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bHold = true;
    }

    COmxTestClient m_oClient;

private:
    const STestPicture m_oFormat;
    const bool m_bFields;
    std::mutex m_oMutex;
    std::vector<SFrame> m_aoFrames;
    bool m_bHold = false;
};

// Frame n is stamped n frame periods after the start, in microseconds.
OMX_TICKS Stamp(long long llFrame, uint64_t uiPeriodNs)
{
    return static_cast<OMX_TICKS>(llFrame * uiPeriodNs / 1000);
}
} // namespace

TEST_F(VideoCaptureTest, ReceiverReportsTheSimulatedSignalFromIdleOn)
{
    COmxTestClient oReceiver(local_szReceiver);
    ASSERT_EQ(OMX_ErrorNone, oReceiver.GetHandleResult());
    OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO oDetect;
    // Unpowered in Loaded.
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Detect(oReceiver, oDetect));
    ASSERT_TRUE(oReceiver.GoTo(OMX_StateIdle));

    struct SCase
    {
        const char* szSignal;
        OMX_BOOL bPresent;
        OMX_U32 uiWidth;
        OMX_U32 uiHeight;
        OMX_U32 uiInterval;
        OMX_BOOL bInterlaced;
    };
    const SCase aoCases[] = {
        {"1920x1080p60", OMX_TRUE, 1920, 1080, 16667, OMX_FALSE},
        {"1920x1080i60", OMX_TRUE, 1920, 540, 16667, OMX_TRUE},  // one field every 1/60 s
        {"1280x720p50", OMX_TRUE, 1280, 720, 20000, OMX_FALSE},
        {"1918x1078p30", OMX_TRUE, 1918, 1078, 33333, OMX_FALSE},
        {"none", OMX_FALSE, 0, 0, 0, OMX_FALSE},
    };
    for (const SCase& roCase : aoCases)
    {
        SCOPED_TRACE(roCase.szSignal);
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
        ASSERT_EQ(OMX_ErrorNone, Detect(oReceiver, oDetect));
        EXPECT_EQ(roCase.bPresent, oDetect.bIsPresent);
        EXPECT_EQ(roCase.uiWidth, oDetect.uiFrameWidth);
        EXPECT_EQ(roCase.uiHeight, oDetect.uiFrameHeight);
        EXPECT_EQ(roCase.uiInterval, oDetect.uiFrameInterval);
        EXPECT_EQ(roCase.bInterlaced, oDetect.bInterlaced);
    }

    // One channel; the signal is not the client's to set.
    InitStruct(oDetect);
    oDetect.uiChannelIndex = 1;
    EXPECT_EQ(OMX_ErrorBadParameter,
              OMX_GetParameter(oReceiver.Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlVidDecDetectVideo),
                               &oDetect));
    EXPECT_EQ(OMX_ErrorUnsupportedSetting,
              OMX_SetParameter(oReceiver.Handle(), static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlVidDecDetectVideo),
                               &oDetect));
    EXPECT_TRUE(oReceiver.GoTo(OMX_StateLoaded));
}

TEST_F(VideoCaptureTest, ReceiverSettingsAreCheckedAndKept)
{
    COmxTestClient oReceiver(local_szReceiver);
    const OMX_HANDLETYPE hReceiver = oReceiver.Handle();
    OMX_PARAM_CTRL_VIDDECODER_INFO oInfo;
    InitStruct(oInfo);
    const OMX_INDEXTYPE eInfo = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCTRLVidDecInfo);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hReceiver, eInfo, &oInfo));
    EXPECT_EQ(OMX_VID_DEC_ADV7611_DRV, oInfo.videoDecoderId);
    oInfo.videoDecoderId = static_cast<OMX_VID_DEC_ID>(3);
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hReceiver, eInfo, &oInfo));

    OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
    InitStruct(oProperties);
    const OMX_INDEXTYPE eProperties = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortProperties);
    ASSERT_EQ(OMX_ErrorNone, OMX_GetParameter(hReceiver, eProperties, &oProperties));
    oProperties.nMaxChnlsPerHwPort = 2;
    EXPECT_EQ(OMX_ErrorBadParameter, OMX_SetParameter(hReceiver, eProperties, &oProperties));
    oProperties.nMaxChnlsPerHwPort = 1;
    oProperties.eScanType = OMX_VIDEO_CaptureScanTypeInterlaced;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hReceiver, eProperties, &oProperties));

    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    InitStruct(oRange);
    const OMX_INDEXTYPE eRange = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange);
    oRange.bFullRange = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorNone, OMX_SetParameter(hReceiver, eRange, &oRange));
    oRange.bFullRange = OMX_FALSE;
    EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(hReceiver, eRange, &oRange));
    EXPECT_EQ(OMX_TRUE, oRange.bFullRange);
    EXPECT_EQ(OMX_ErrorNone, OMX_GetParameter(hReceiver, eProperties, &oProperties));
    EXPECT_EQ(OMX_VIDEO_CaptureScanTypeInterlaced, oProperties.eScanType);
    // Loaded only.
    ASSERT_TRUE(oReceiver.GoTo(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, OMX_SetParameter(hReceiver, eRange, &oRange));
    EXPECT_TRUE(oReceiver.GoTo(OMX_StateLoaded));
}

TEST_F(VideoCaptureTest, CaptureRefusesWhatItCannotDeliver)
{
    COmxTestClient oCapture(local_szCapture);
    const OMX_HANDLETYPE hCapture = oCapture.Handle();
    const OMX_PARAM_PORTDEFINITIONTYPE oDefault = oCapture.PortDefinition(0);
    EXPECT_EQ(1920u, oDefault.format.video.nFrameWidth);
    EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oDefault.format.video.eColorFormat);

    const auto fnSet = [&](OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_COLOR_FORMATTYPE eFormat, OMX_U32 uiBufferSize) {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oDefault;
        oDefinition.format.video.nFrameWidth = uiWidth;
        oDefinition.format.video.nFrameHeight = uiHeight;
        oDefinition.format.video.nStride = 0;
        oDefinition.format.video.eColorFormat = eFormat;
        oDefinition.nBufferSize = uiBufferSize;
        return OMX_SetParameter(hCapture, OMX_IndexParamPortDefinition, &oDefinition);
    };
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(641, 480, OMX_COLOR_FormatYCbYCr, 641 * 480 * 2));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(640, 481, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 482 * 3 / 2));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(640, 480, OMX_COLOR_FormatYCbYCr, 640 * 480 * 2 - 1));
    EXPECT_EQ(OMX_ErrorBadParameter, fnSet(640, 480, OMX_COLOR_Format24bitRGB888, 640 * 480 * 3));
    ASSERT_EQ(OMX_ErrorNone, fnSet(640, 480, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 480 * 3 / 2));
    // A stride of 0 is a line of the width; the slice follows the height.
    const OMX_PARAM_PORTDEFINITIONTYPE oSet = oCapture.PortDefinition(0);
    EXPECT_EQ(640, oSet.format.video.nStride);
    EXPECT_EQ(480u, oSet.format.video.nSliceHeight);

    OMX_PARAM_BUFFER_MEMORYTYPE oMemory;
    InitStruct(oMemory);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_CUSTOM_TILER;
    EXPECT_EQ(OMX_ErrorBadParameter,
              OMX_SetParameter(hCapture, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamBuffMemType), &oMemory));
    OMX_PARAM_VFCC_HWPORT_ID oPortId;
    InitStruct(oPortId);
    oPortId.eHwPortId = static_cast<OMX_VIDEO_CAPTUREHWPORTID>(9);
    EXPECT_EQ(OMX_ErrorBadParameter,
              OMX_SetParameter(hCapture, static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortID), &oPortId));
}

TEST_F(VideoCaptureTest, DeliversThePatternAtTheInputRateSkipsAndDrops)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60"));
    CCaptureRun oRun(640, 480, OMX_COLOR_FormatYCbYCr, false);
    ASSERT_TRUE(oRun.Start());
    ASSERT_TRUE(oRun.WaitFrames(12));

    // Every frame shows the pattern upright, its number in its digits and its time at 60 per
    // second.
    const uint64_t uiPeriodNs = 1000000000ull / 60;
    for (const SFrame& roFrame : oRun.Frames())
    {
        ASSERT_GE(roFrame.llCounter, 0);
        EXPECT_EQ(640u * 480 * 2, roFrame.nFilledLen);
        EXPECT_TRUE(roFrame.bBars);
        EXPECT_TRUE(roFrame.bRamp);
        EXPECT_EQ(Stamp(roFrame.llCounter, uiPeriodNs), roFrame.nTimeStamp);
    }
    const std::vector<SFrame> aoFirst = oRun.Frames();
    EXPECT_LT(aoFirst.front().llCounter, aoFirst.back().llCounter);

    // Every other frame skipped: only even numbers from the next frames on.
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oSkip;
    InitStruct(oSkip);
    oSkip.frameSkipMask = 0x2AAAAAAA;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(oRun.m_oClient.Handle(),
                                           static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), &oSkip));
    const size_t uiSkipFrom = oRun.FrameCount() + 2;
    ASSERT_TRUE(oRun.WaitFrames(uiSkipFrom + 8));
    const std::vector<SFrame> aoSkipping = oRun.Frames();
    for (size_t i = uiSkipFrom; i < aoSkipping.size(); ++i)
        EXPECT_EQ(0, aoSkipping[i].llCounter % 2) << aoSkipping[i].llCounter;

    // Without a free buffer a frame is dropped and counted.
    const unsigned long long uiDroppedBefore = PellixTest_GetCounter(local_szCapture, PellixCounter_FramesDropped);
    oRun.Hold();
    EXPECT_TRUE(Eventually([&] {
        return PellixTest_GetCounter(local_szCapture, PellixCounter_FramesDropped) >= uiDroppedBefore + 3;
    }));
    EXPECT_EQ(oRun.FrameCount(), PellixTest_GetCounter(local_szCapture, PellixCounter_FramesProduced));
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(VideoCaptureTest, FollowsTheSignalWhileRunning)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60"));
    CCaptureRun oRun(640, 480, OMX_COLOR_FormatYCbYCr, false);
    ASSERT_TRUE(oRun.Start());
    ASSERT_TRUE(oRun.WaitFrames(3));

    // Half the rate: frames two 60th apart.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p30"));
    // The frame being made when the signal changed still comes a 60th after the one before.
    const size_t uiFrom = oRun.FrameCount() + 2;
    ASSERT_TRUE(oRun.WaitFrames(uiFrom + 4));
    const std::vector<SFrame> aoFrames = oRun.Frames();
    for (size_t i = uiFrom + 1; i < aoFrames.size(); ++i)
        EXPECT_NEAR(33333, aoFrames[i].nTimeStamp - aoFrames[i - 1].nTimeStamp, 1);

    // No signal, no frames; back again, frames again.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t uiSilent = oRun.FrameCount();
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(uiSilent, oRun.FrameCount());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60"));
    EXPECT_TRUE(oRun.WaitFrames(uiSilent + 3));
    EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
}

TEST_F(VideoCaptureTest, InterlacedFramesHoldTheirFieldsOneAfterTheOther)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480i60"));
    for (OMX_COLOR_FORMATTYPE eFormat : {OMX_COLOR_FormatYCbYCr, OMX_COLOR_FormatYUV420SemiPlanar})
    {
        SCOPED_TRACE(eFormat);
        CCaptureRun oRun(640, 480, eFormat, true);
        ASSERT_TRUE(oRun.Start());
        ASSERT_TRUE(oRun.WaitFrames(4));
        // Put back in frame order, the lines show the pattern; 60 fields make 30 frames a second.
        for (const SFrame& roFrame : oRun.Frames())
        {
            ASSERT_GE(roFrame.llCounter, 0);
            EXPECT_TRUE(roFrame.bBars);
            EXPECT_TRUE(roFrame.bRamp);
            EXPECT_EQ(Stamp(roFrame.llCounter, 1000000000ull / 30), roFrame.nTimeStamp);
        }
        EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
    }
}
