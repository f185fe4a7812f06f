// Pattern source -> CVideoEncoder -> stream sink on the simulated platform: streams of 600
// frames at 1920 x 1080 and 1280 x 720 that ffmpeg decodes without a complaint, with their size,
// profile, level, IDR pictures and bit rate; then stops and starts with the same and with another
// record, each new stream beginning with its own parameter sets.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "AbortRecords.h"
#include "CAnnexBStream.h"
#include "CStreamProbe.h"
#include "EncoderVIDENCTestSupport.h"
#include "TempDir.h"

namespace
{
class EncoderChain : public EncoderTest
{
protected:
    void SetUp() override
    {
        EncoderTest::SetUp();
        ASSERT_EQ(OMX_ErrorNone, m_oSource.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oEncoder.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSink.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oSource.ConnectTo(0, &m_oEncoder, 0));
        ASSERT_EQ(OMX_ErrorNone, m_oEncoder.ConnectTo(&m_oSink, 0));
    }

    void TearDown() override
    {
        EXPECT_EQ(OMX_ErrorNone, m_oSink.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oEncoder.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSource.Deinit());
        EncoderTest::TearDown();
    }

    // Runs the chain for uiFrames frames of the record and keeps the stream in a file.
    void Run(EncodingParam oParam, unsigned uiFrames, const std::string& roName)
    {
        ASSERT_EQ(OMX_ErrorNone, m_oEncoder.SetEncoderParams(oParam, 8, 8));
        m_oSource.SetFormat(oParam.m_oFrameSize.m_uiCx, oParam.m_oFrameSize.m_uiCy, oParam.m_uiFrameRate, 8);
        CNv12PatternSource::s_uiFrameLimit = uiFrames;
        m_oSink.Clear();
        std::string oOther;
        const auto aoAborts = CaptureAbortRecords(
            [&] {
                ASSERT_EQ(OMX_ErrorNone, m_oSource.Start());
                EXPECT_TRUE(m_oSink.WaitEndOfStream());
                ASSERT_EQ(OMX_ErrorNone, m_oSource.Stop());
            },
            oOther);
        EXPECT_TRUE(aoAborts.empty()) << FormatAbortRecords(aoAborts) << oOther;
        EXPECT_EQ(OMX_StateLoaded, m_oEncoder.GetComponentState());
        m_oPath = (m_oDir.Path() / roName).string();
        std::ofstream(m_oPath, std::ios::binary) << m_oSink.Stream();
    }

    // What the sink received: parameter sets alone first, then one access unit of slices per
    // frame with the frame's timestamp, an IDR picture every I interval. Then only the output
    // buffers the stop handed back unfilled.
    void ExpectBuffers(const EncodingParam& roParam, unsigned uiFrames)
    {
        std::vector<SReceived> aoReceived = m_oSink.Received();
        while (!aoReceived.empty() && aoReceived.back().uiSize == 0 && aoReceived.back().nFlags == 0)
            aoReceived.pop_back();
        const std::string oStream = m_oSink.Stream();
        ASSERT_EQ(uiFrames + 1, aoReceived.size());
        std::vector<CAnnexBStream::SNalUnit> aoUnits;
        for (size_t i = 0; i < aoReceived.size(); ++i)
        {
            const SReceived& roBuffer = aoReceived[i];
            ASSERT_TRUE(CAnnexBStream::Split(reinterpret_cast<const uint8_t*>(oStream.data()) + roBuffer.uiOffset,
                                             roBuffer.uiSize, aoUnits));
            if (i == 0)
            {
                ASSERT_EQ(2u, aoUnits.size());
                EXPECT_EQ(unsigned(CAnnexBStream::NalType_Sps), aoUnits[0].uiType);
                EXPECT_EQ(unsigned(CAnnexBStream::NalType_Pps), aoUnits[1].uiType);
                EXPECT_EQ(OMX_U32(OMX_BUFFERFLAG_CODECCONFIG | OMX_BUFFERFLAG_ENDOFFRAME), roBuffer.nFlags);
                continue;
            }
            const unsigned uiFrame = static_cast<unsigned>(i - 1);
            const bool bIdr = uiFrame % roParam.m_oGop.m_uiIFrameInterval == 0;
            for (const auto& roUnit : aoUnits)
                ASSERT_EQ(unsigned(bIdr ? CAnnexBStream::NalType_IdrSlice : CAnnexBStream::NalType_Slice),
                          roUnit.uiType)
                    << "frame " << uiFrame;
            const OMX_U32 nFlags = OMX_BUFFERFLAG_ENDOFFRAME | (bIdr ? OMX_BUFFERFLAG_SYNCFRAME : 0) |
                                   (uiFrame + 1 == uiFrames ? OMX_BUFFERFLAG_EOS : 0);
            ASSERT_EQ(nFlags, roBuffer.nFlags) << "frame " << uiFrame;
            ASSERT_EQ(CNv12PatternSource::TimeStamp(uiFrame, roParam.m_uiFrameRate << 16), roBuffer.nTimeStamp)
                << "frame " << uiFrame;
        }
    }

    // What ffprobe and ffmpeg make of the file; returns the average bit rate over the run.
    double ExpectDecodes(const EncodingParam& roParam, unsigned uiFrames, const char* szProfile, int iLevel)
    {
        std::string oErrors;
        EXPECT_TRUE(CStreamProbe::DecodesCleanly(m_oPath, oErrors)) << oErrors;
        SStreamProbe oProbe;
        EXPECT_TRUE(CStreamProbe::Probe(m_oPath, oProbe));
        EXPECT_EQ(roParam.m_oFrameSize.m_uiCx, oProbe.uiWidth);
        EXPECT_EQ(roParam.m_oFrameSize.m_uiCy, oProbe.uiHeight);
        EXPECT_EQ(szProfile, oProbe.oProfile);
        EXPECT_EQ(iLevel, oProbe.iLevel);
        EXPECT_EQ(uiFrames, oProbe.abKeyFrame.size());
        for (size_t i = 0; i < oProbe.abKeyFrame.size(); ++i)
            EXPECT_EQ(i % roParam.m_oGop.m_uiIFrameInterval == 0, oProbe.abKeyFrame[i]) << "frame " << i;
        const double dSeconds = static_cast<double>(uiFrames) / roParam.m_uiFrameRate;
        return m_oSink.Stream().size() * 8.0 / dSeconds;
    }

    CPatternSourceWrapper m_oSource;
    CVideoEncoder m_oEncoder;
    CStreamSink m_oSink;
    CTempDir m_oDir;
    std::string m_oPath;
};

void ExpectBitRateNear(double dBitRate, MUINT32 uiTarget)
{
    const double dError = (dBitRate - uiTarget) / uiTarget;
    printf("bit rate %.0f bit/s for a target of %u: %+.1f %%\n", dBitRate, uiTarget, dError * 100.0);
    EXPECT_LT(std::fabs(dError), 0.15);
}
} // namespace

TEST_F(EncoderChain, SixHundredFramesAt1920x1080)
{
    const EncodingParam oParam = SystemRecord(1920, 1080, 8000000);
    Run(oParam, 600, "1080p.h264");
    ExpectBuffers(oParam, 600);
    ExpectBitRateNear(ExpectDecodes(oParam, 600, "Constrained Baseline", 42), oParam.m_uiTargetBitRate);
    EXPECT_EQ(600u, PellixTest_GetCounter(ENCODER_NAME, PellixCounter_FramesEncoded));
}

TEST_F(EncoderChain, SixHundredFramesAt1280x720)
{
    const EncodingParam oParam = SystemRecord(1280, 720, 4000000);
    Run(oParam, 600, "720p.h264");
    ExpectBuffers(oParam, 600);
    ExpectBitRateNear(ExpectDecodes(oParam, 600, "Constrained Baseline", 42), oParam.m_uiTargetBitRate);
}

TEST_F(EncoderChain, StopAndStartAgainWithTheSameAndWithAnotherRecord)
{
    const EncodingParam oFirst = SystemRecord(1280, 720, 4000000);
    Run(oFirst, 120, "first.h264");
    ExpectBuffers(oFirst, 120);
    ExpectDecodes(oFirst, 120, "Constrained Baseline", 42);

    Run(oFirst, 120, "again.h264");
    ExpectBuffers(oFirst, 120);
    ExpectDecodes(oFirst, 120, "Constrained Baseline", 42);

    // Smaller, IDR every 30, with quantiser limits: High profile.
    EncodingParam oOther = SystemRecord(640, 360, 1000000);
    oOther.m_oGop.m_uiIFrameInterval = 30;
    oOther.m_oRateCtl = {1, 10, 51, 10, 51, 10, 51, 0};
    Run(oOther, 120, "other.h264");
    ExpectBuffers(oOther, 120);
    ExpectDecodes(oOther, 120, "High", 42);
}
