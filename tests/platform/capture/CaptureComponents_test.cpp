// The capture ("OMX.TI.VPSSM3.VFCC") and its receiver control ("OMX.TI.VPSSM3.CTRL.TVP") through
// the IL core: what the receiver reports for each simulated signal, the frames the capture
// delivers (pattern, counter, time stamps, skips, drops, fields) and the checks of their settings.
#include <gtest/gtest.h>

#include <OMX_Component.h>

#include <mutex>
#include <vector>

#include "COmxTestClient.h"
#include "EngineTestSupport.h"
#include "TestPicture.h"
#include "ti814x-omx.h"

namespace
{
const char* const local_szCapture = "OMX.TI.VPSSM3.VFCC";
const char* const local_szReceiver = "OMX.TI.VPSSM3.CTRL.TVP";

template <typename TStruct>
OMX_ERRORTYPE Param(const COmxTestClient& roClient, OMX_U32 uiIndex, TStruct& roStruct, bool bSet)
{
    const auto eIndex = static_cast<OMX_INDEXTYPE>(uiIndex);
    return bSet ? OMX_SetParameter(roClient.Handle(), eIndex, &roStruct) : OMX_GetParameter(roClient.Handle(), eIndex, &roStruct);
}

// What one delivered frame showed.
struct SFrame
{
    OMX_TICKS nTimeStamp;
    OMX_U32 nFilledLen;
    long long llCounter;
    bool bPattern;  // bars and ramp in place
};

// A capture brought to Executing with the test as its consumer: every frame is read, with its
// fields put back in frame order, and its buffer handed back at once unless the test holds them.
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
        oDefinition.nBufferSize = m_oFormat.uiStride * m_oFormat.uiHeight * (m_oFormat.IsSemiPlanar() ? 3 : 4) / 2;
        OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
        InitStruct(oProperties);
        if (!Ok(OMX_SetParameter(m_oClient.Handle(), OMX_IndexParamPortDefinition, &oDefinition)) ||
            !Ok(Param(m_oClient, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, false)))
            return false;
        oProperties.eScanType = m_bFields ? OMX_VIDEO_CaptureScanTypeInterlaced : OMX_VIDEO_CaptureScanTypeProgressive;
        return Ok(Param(m_oClient, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, true)) &&
               m_oClient.GoToExecuting() && Ok(m_oClient.SubmitAll(0, false));
    }

    std::vector<SFrame> Frames()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return m_aoFrames;
    }
    bool WaitFrames(size_t uiCount)
    {
        return Eventually([&] { return Frames().size() >= uiCount; });
    }
    void Hold()
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_bHold = true;
    }

    COmxTestClient m_oClient;

private:
    void Received(OMX_BUFFERHEADERTYPE* poHeader)
    {
        // Buffers handed back unfilled (on the way down to Idle) are neither read nor handed in
        // again, so that nothing touches them once the test frees them.
        if (poHeader->nFilledLen == 0)
            return;
        // With fields, the lines (and for 4:2:0 the chroma lines) of the two field pictures
        // are put back in frame order.
        const uint8_t* pBuffer = poHeader->pBuffer + poHeader->nOffset;
        const size_t uiStride = m_oFormat.uiStride;
        const unsigned uiLines = m_oFormat.uiHeight * (m_oFormat.IsSemiPlanar() ? 3 : 2) / 2;
        std::vector<uint8_t> aucFrame(uiStride * uiLines);
        for (unsigned y = 0; y < uiLines; ++y)
        {
            const bool bChroma = y >= m_oFormat.uiHeight;
            const unsigned uiLine = bChroma ? y - m_oFormat.uiHeight : y;
            const size_t uiSource = !m_bFields ? y
                                               : (uiLine % 2) * uiLines / 2 + (bChroma ? m_oFormat.uiHeight / 2 : 0) +
                                                     uiLine / 2;
            std::copy_n(pBuffer + uiSource * uiStride, uiStride, &aucFrame[y * uiStride]);
        }
        STestPicture oPicture = m_oFormat;
        oPicture.pData = aucFrame.data();
        const CPatternReader oReader(oPicture, m_oFormat.uiWidth, m_oFormat.uiHeight);
        std::lock_guard<std::mutex> oLock(m_oMutex);
        m_aoFrames.push_back(SFrame{poHeader->nTimeStamp, poHeader->nFilledLen, oReader.Counter(),
                                    oReader.BarsInOrder() && oReader.RampRisesToTheRight()});
        if (!m_bHold)
            OMX_FillThisBuffer(m_oClient.Handle(), poHeader);
    }

    const STestPicture m_oFormat;
    const bool m_bFields;
    std::mutex m_oMutex;
    std::vector<SFrame> m_aoFrames;
    bool m_bHold = false;
};

// Every frame shows the pattern upright with its number, stamped that many periods after the start.
void ExpectPatternFrames(const std::vector<SFrame>& raoFrames, unsigned uiFramesPerSecond, OMX_U32 nFilledLen)
{
    for (const SFrame& roFrame : raoFrames)
    {
        ASSERT_GE(roFrame.llCounter, 0);
        EXPECT_TRUE(roFrame.bPattern) << roFrame.llCounter;
        EXPECT_EQ(roFrame.llCounter * (1000000000 / uiFramesPerSecond) / 1000, roFrame.nTimeStamp) << roFrame.llCounter;
        EXPECT_TRUE(nFilledLen == 0 || roFrame.nFilledLen == nFilledLen);
    }
}

class VideoCaptureTest : public CEngineTest
{
protected:
    void TearDown() override
    {
        PellixTest_SetSimulatedInput("1920x1080p60");
        CEngineTest::TearDown();
    }
};
} // namespace

TEST_F(VideoCaptureTest, ReceiverReportsTheSignalFromIdleOnAndChecksItsSettings)
{
    COmxTestClient oReceiver(local_szReceiver);
    OMX_PARAM_CTRL_VIDDECODER_INFO oInfo;
    InitStruct(oInfo);
    ASSERT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamCTRLVidDecInfo, oInfo, false));
    EXPECT_EQ(OMX_VID_DEC_ADV7611_DRV, oInfo.videoDecoderId);
    oInfo.videoDecoderId = static_cast<OMX_VID_DEC_ID>(3);
    EXPECT_EQ(OMX_ErrorBadParameter, Param(oReceiver, OMX_TI_IndexParamCTRLVidDecInfo, oInfo, true));
    OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
    InitStruct(oProperties);
    ASSERT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, false));
    oProperties.nMaxChnlsPerHwPort = 2;
    EXPECT_EQ(OMX_ErrorBadParameter, Param(oReceiver, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, true));
    oProperties.nMaxChnlsPerHwPort = 1;
    oProperties.eScanType = OMX_VIDEO_CaptureScanTypeInterlaced;
    EXPECT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, true));
    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    InitStruct(oRange);
    oRange.bFullRange = OMX_TRUE;
    EXPECT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamCtrlColorRange, oRange, true));
    oRange.bFullRange = OMX_FALSE;
    EXPECT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamCtrlColorRange, oRange, false));
    EXPECT_EQ(OMX_TRUE, oRange.bFullRange);
    oProperties.eScanType = OMX_VIDEO_CaptureScanTypeProgressive;
    EXPECT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamVFCCHwPortProperties, oProperties, false));
    EXPECT_EQ(OMX_VIDEO_CaptureScanTypeInterlaced, oProperties.eScanType);

    // Unpowered in Loaded; settings are for Loaded only.
    OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO oDetect;
    InitStruct(oDetect);
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Param(oReceiver, OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
    ASSERT_TRUE(oReceiver.GoTo(OMX_StateIdle));
    EXPECT_EQ(OMX_ErrorIncorrectStateOperation, Param(oReceiver, OMX_TI_IndexParamCtrlColorRange, oRange, true));
    const struct
    {
        const char* szSignal;
        OMX_BOOL bPresent;
        OMX_U32 uiWidth, uiHeight, uiInterval;
        OMX_BOOL bInterlaced;
    } aoCases[] = {
        {"1920x1080p60", OMX_TRUE, 1920, 1080, 16667, OMX_FALSE},
        {"1920x1080i60", OMX_TRUE, 1920, 540, 16667, OMX_TRUE},  // one field every 1/60 s
        {"1280x720p50", OMX_TRUE, 1280, 720, 20000, OMX_FALSE},
        {"1918x1078p30", OMX_TRUE, 1918, 1078, 33333, OMX_FALSE},
        {"none", OMX_FALSE, 0, 0, 0, OMX_FALSE},
    };
    for (const auto& roCase : aoCases)
    {
        ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput(roCase.szSignal));
        ASSERT_EQ(OMX_ErrorNone, Param(oReceiver, OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
        EXPECT_TRUE(oDetect.bIsPresent == roCase.bPresent && oDetect.uiFrameWidth == roCase.uiWidth &&
                    oDetect.uiFrameHeight == roCase.uiHeight && oDetect.uiFrameInterval == roCase.uiInterval &&
                    oDetect.bInterlaced == roCase.bInterlaced)
            << roCase.szSignal;
    }
    // One channel; the signal is not the client's to set.
    oDetect.uiChannelIndex = 1;
    EXPECT_EQ(OMX_ErrorBadParameter, Param(oReceiver, OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, false));
    EXPECT_EQ(OMX_ErrorUnsupportedSetting, Param(oReceiver, OMX_TI_IndexParamCtrlVidDecDetectVideo, oDetect, true));
    EXPECT_TRUE(oReceiver.GoTo(OMX_StateLoaded));
}

TEST_F(VideoCaptureTest, CaptureRefusesWhatItCannotDeliver)
{
    COmxTestClient oCapture(local_szCapture);
    const OMX_PARAM_PORTDEFINITIONTYPE oDefault = oCapture.PortDefinition(0);
    EXPECT_EQ(1920u, oDefault.format.video.nFrameWidth);
    EXPECT_EQ(OMX_COLOR_FormatYCbYCr, oDefault.format.video.eColorFormat);
    const struct
    {
        OMX_U32 uiWidth, uiHeight;
        OMX_COLOR_FORMATTYPE eFormat;
        OMX_U32 uiBufferSize;
        OMX_ERRORTYPE eExpected;
    } aoCases[] = {
        {641, 480, OMX_COLOR_FormatYCbYCr, 641 * 480 * 2, OMX_ErrorBadParameter},
        {640, 481, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 482 * 3 / 2, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_FormatYCbYCr, 640 * 480 * 2 - 1, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_Format24bitRGB888, 640 * 480 * 3, OMX_ErrorBadParameter},
        {640, 480, OMX_COLOR_FormatYUV420SemiPlanar, 640 * 480 * 3 / 2, OMX_ErrorNone},
    };
    for (const auto& roCase : aoCases)
    {
        OMX_PARAM_PORTDEFINITIONTYPE oDefinition = oDefault;
        oDefinition.format.video.nFrameWidth = roCase.uiWidth;
        oDefinition.format.video.nFrameHeight = roCase.uiHeight;
        oDefinition.format.video.nStride = 0;
        oDefinition.format.video.eColorFormat = roCase.eFormat;
        oDefinition.nBufferSize = roCase.uiBufferSize;
        EXPECT_EQ(roCase.eExpected, OMX_SetParameter(oCapture.Handle(), OMX_IndexParamPortDefinition, &oDefinition))
            << roCase.uiWidth << "x" << roCase.uiHeight << " " << roCase.eFormat << " " << roCase.uiBufferSize;
    }
    // A stride of 0 is a line of the width; the slice follows the height.
    EXPECT_EQ(640, oCapture.PortDefinition(0).format.video.nStride);
    EXPECT_EQ(480u, oCapture.PortDefinition(0).format.video.nSliceHeight);
    OMX_PARAM_BUFFER_MEMORYTYPE oMemory;
    InitStruct(oMemory);
    oMemory.eBufMemoryType = OMX_BUFFER_MEMORY_CUSTOM_TILER;
    EXPECT_EQ(OMX_ErrorBadParameter, Param(oCapture, OMX_TI_IndexParamBuffMemType, oMemory, true));
    OMX_PARAM_VFCC_HWPORT_ID oPortId;
    InitStruct(oPortId);
    oPortId.eHwPortId = static_cast<OMX_VIDEO_CAPTUREHWPORTID>(9);
    EXPECT_EQ(OMX_ErrorBadParameter, Param(oCapture, OMX_TI_IndexParamVFCCHwPortID, oPortId, true));
}

TEST_F(VideoCaptureTest, DeliversThePatternAtTheInputRateFollowsTheSignalSkipsAndDrops)
{
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60"));
    CCaptureRun oRun(640, 480, OMX_COLOR_FormatYCbYCr, false);
    ASSERT_TRUE(oRun.Start());
    ASSERT_TRUE(oRun.WaitFrames(12));
    ExpectPatternFrames(oRun.Frames(), 60, 640 * 480 * 2);
    EXPECT_LT(oRun.Frames().front().llCounter, oRun.Frames().back().llCounter);

    // Every other frame skipped: only even numbers from the next frames on.
    OMX_CONFIG_VFCC_FRAMESKIP_INFO oSkip;
    InitStruct(oSkip);
    oSkip.frameSkipMask = 0x2AAAAAAA;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(oRun.m_oClient.Handle(),
                                           static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), &oSkip));
    size_t uiFrom = oRun.Frames().size() + 2;
    ASSERT_TRUE(oRun.WaitFrames(uiFrom + 8));
    std::vector<SFrame> aoFrames = oRun.Frames();
    for (size_t i = uiFrom; i < aoFrames.size(); ++i)
        EXPECT_EQ(0, aoFrames[i].llCounter % 2) << aoFrames[i].llCounter;
    oSkip.frameSkipMask = 0;
    ASSERT_EQ(OMX_ErrorNone, OMX_SetConfig(oRun.m_oClient.Handle(),
                                           static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigVFCCFrameSkip), &oSkip));

    // Half the rate: frames two 60ths apart (the one being made at the change still comes a 60th
    // after the one before).
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p30"));
    uiFrom = oRun.Frames().size() + 2;
    ASSERT_TRUE(oRun.WaitFrames(uiFrom + 4));
    aoFrames = oRun.Frames();
    for (size_t i = uiFrom + 1; i < aoFrames.size(); ++i)
        EXPECT_NEAR(33333, aoFrames[i].nTimeStamp - aoFrames[i - 1].nTimeStamp, 1);
    // No signal, no frames; back again, frames again.
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("none"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t uiSilent = oRun.Frames().size();
    std::this_thread::sleep_for(g_oQuietPeriod);
    EXPECT_EQ(uiSilent, oRun.Frames().size());
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("640x480p60"));
    ASSERT_TRUE(oRun.WaitFrames(uiSilent + 3));

    // Without a free buffer a frame is dropped and counted.
    const unsigned long long uiDropped = PellixTest_GetCounter(local_szCapture, PellixCounter_FramesDropped);
    oRun.Hold();
    EXPECT_TRUE(Eventually([&] { return PellixTest_GetCounter(local_szCapture, PellixCounter_FramesDropped) >= uiDropped + 3; }));
    EXPECT_EQ(oRun.Frames().size(), PellixTest_GetCounter(local_szCapture, PellixCounter_FramesProduced));
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
        ExpectPatternFrames(oRun.Frames(), 30, 0);
        EXPECT_TRUE(oRun.m_oClient.GoToLoaded());
    }
}
