// The system's video path into the encoder: capture -> deinterlacer -> encoder -> stream file,
// set up as the control library sets it up for a 1080p60 input, the display's place taken by a
// sink. The stream is kept in the build's artifacts folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AbortRecords.h"
#include "CStreamProbe.h"
#include "EncoderVIDENCTestSupport.h"
#include "ti-components/CaptureVFCC.h"
#include "ti-components/DEIMDualOutputVFPC.h"

TEST_F(EncoderTest, CapturedFramesComeThroughTheDeinterlacerIntoADecodableStream)
{
    const unsigned uiPictures = 180;
    ASSERT_EQ(OMX_ErrorNone, PellixTest_SetSimulatedInput("1920x1080p60"));
    CCaptureVFCC oCapture;
    CDEIMDualOutput oDei;
    CVideoEncoder oEncoder;
    CSinkComponent oDisplay;
    CStreamSink oSink;
    ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
    ASSERT_EQ(OMX_ErrorNone, oDei.Init());
    ASSERT_EQ(OMX_ErrorNone, oEncoder.Init());
    ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParam(OmxPixFmt_YUV422, CCaptureVFCC::CaptureFpsDiv_1, 6, true, 1920,
                                                      1080, 60));
    const MSIZE32 oSize = oCapture.GetFrameSize();
    ASSERT_EQ(OMX_ErrorNone, oDei.SetDeiParams(oSize, oSize, oSize, OmxPixFmt_YUV422, OmxPixFmt_YUV422,
                                               OmxPixFmt_YUV420, oCapture.IsInterlaced(), 6, 6, 8, false));
    EncodingParam oParam = SystemRecord(oSize.m_uiCx, oSize.m_uiCy, 8000000);
    oParam.m_uiFrameRate = oCapture.GetFrameRate();
    ASSERT_EQ(OMX_ErrorNone, oEncoder.SetEncoderParams(oParam, 8, 8));
    ASSERT_EQ(OMX_ErrorNone, oCapture.ConnectTo(&oDei, 0));
    ASSERT_EQ(OMX_ErrorNone, oDei.ConnectPrimaryTo(&oDisplay, 0));
    ASSERT_EQ(OMX_ErrorNone, oDei.ConnectSecondaryTo(&oEncoder, 0));
    ASSERT_EQ(OMX_ErrorNone, oEncoder.ConnectTo(&oSink, 0));

    std::string oOther;
    const auto aoAborts = CaptureAbortRecords(
        [&] {
            ASSERT_EQ(OMX_ErrorNone, oCapture.Start());
            EXPECT_TRUE(Eventually([&] { return oSink.Received().size() > uiPictures; }, std::chrono::seconds(120)));
            ASSERT_EQ(OMX_ErrorNone, oCapture.Stop());
        },
        oOther);
    EXPECT_TRUE(aoAborts.empty()) << FormatAbortRecords(aoAborts) << oOther;

    // Parameter sets first, then pictures in capture order (at least up to the stop, after
    // which upstream hands on what it had left); the stop hands back empty buffers.
    std::vector<SReceived> aoReceived = oSink.Received();
    while (!aoReceived.empty() && aoReceived.back().uiSize == 0 && aoReceived.back().nFlags == 0)
        aoReceived.pop_back();
    ASSERT_GT(aoReceived.size(), uiPictures);
    EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), aoReceived[0].nFlags);
    for (size_t i = 1; i < aoReceived.size(); ++i)
    {
        EXPECT_NE(0u, aoReceived[i].uiSize) << i;
        EXPECT_EQ((i - 1) % oParam.m_oGop.m_uiIFrameInterval == 0,
                  (aoReceived[i].nFlags & OMX_BUFFERFLAG_SYNCFRAME) != 0)
            << i;
        if (i > 1 && i <= uiPictures)
        {
            EXPECT_GT(aoReceived[i].nTimeStamp, aoReceived[i - 1].nTimeStamp) << i;
        }
    }

    const std::filesystem::path oFolder = std::filesystem::path(PELLIX_BINARY_DIR) / "artifacts";
    std::filesystem::create_directories(oFolder);
    const std::string oPath = (oFolder / "encoder-capture-1080p60.h264").string();
    std::ofstream(oPath, std::ios::binary) << oSink.Stream();
    std::string oErrors;
    EXPECT_TRUE(CStreamProbe::DecodesCleanly(oPath, oErrors)) << oErrors;
    SStreamProbe oProbe;
    ASSERT_TRUE(CStreamProbe::Probe(oPath, oProbe));
    EXPECT_EQ(1920u, oProbe.uiWidth);
    EXPECT_EQ(1080u, oProbe.uiHeight);
    EXPECT_EQ("Constrained Baseline", oProbe.oProfile);
    EXPECT_EQ(aoReceived.size() - 1, oProbe.abKeyFrame.size());

    EXPECT_EQ(OMX_ErrorNone, oSink.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oEncoder.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oDisplay.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oDei.Deinit());
    EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
}
