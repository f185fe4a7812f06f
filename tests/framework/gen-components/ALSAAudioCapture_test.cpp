// CALSAAudioCapture on the platform's ALSA side, feeding a software stand-in of the encoder's
// input: what it captures, what it plays back, its volume control, its recovery from a stalled
// device and from an overrun, and its stop in every state.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "AlsaTestEnvironment.h"
#include "AudioSignalCheck.h"
#include "CPcmTestSink.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "gen-components/ALSAAudioCapture.h"
#include "ti814x-framework.h"

namespace
{
size_t Count(const std::string& roText, const std::string& roNeedle)
{
    size_t uiCount = 0;
    for (size_t uiPos = roText.find(roNeedle); uiPos != std::string::npos; uiPos = roText.find(roNeedle, uiPos + 1))
        ++uiCount;
    return uiCount;
}

class ALSAAudioCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetInfoMessageLevel(2);
        ASSERT_EQ(OMX_ErrorNone, m_oSink.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oCapture.Init());
        ASSERT_EQ(OMX_ErrorNone, m_oCapture.ConnectTo(&m_oSink, 0));
    }
    void TearDown() override
    {
        m_oCapture.Stop();
        EXPECT_EQ(OMX_ErrorNone, m_oCapture.Deinit());
        EXPECT_EQ(OMX_ErrorNone, m_oSink.Deinit());
        SetInfoMessageLevel(0);
    }
    bool WaitBuffers(unsigned uiMore)
    {
        const unsigned uiTarget = m_oSink.uiFullBuffers + uiMore;
        return Eventually([&] { return m_oSink.uiFullBuffers >= uiTarget; });
    }

    CAlsaTestEnvironment m_oAlsa;
    CPcmTestSink m_oSink;
    CALSAAudioCapture m_oCapture;
};
} // namespace

TEST_F(ALSAAudioCaptureTest, DefaultsFillEachBufferWith1024FramesOfTheSignalAndPlayNothing)
{
    m_oAlsa.Write("analog.raw", "");
    m_oAlsa.Write("hdmi.raw", "");
    COutputCapture oLog(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    EXPECT_EQ(1u, m_oSink.uiExecutes.load());
    ASSERT_TRUE(WaitBuffers(24));
    EXPECT_EQ(OMX_ErrorInvalidState, m_oCapture.SetPlaybackVolume(50));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oText = oLog.Finish();

    EXPECT_NE(std::string::npos, oText.find("ALSACapture output buffer size: 4096\n")) << oText;
    EXPECT_NE(std::string::npos, oText.find("ALSA buffer size: 16384, buffer time: 341333\n"));
    EXPECT_NE(std::string::npos, oText.find("ALSA period size: 1024, period time: 21333\n"));
    EXPECT_NE(std::string::npos, oText.find("ALSA number of periods: 16\n"));
    EXPECT_EQ(1u, Count(oText, "Killing capture thread"));
    EXPECT_EQ(1u, Count(oText, "Capture thread stopped"));
    EXPECT_EQ(0u, Count(oText, "Playback volume"));
    // Whole buffers, one run of the signal without a sample lost, and nothing played.
    EXPECT_EQ(m_oSink.uiBuffers.load(), m_oSink.uiFullBuffers.load());
    const std::vector<SPcmSegment> aoSegments = SplitPcm(PcmSamples(m_oSink.Data()), 2, 48000);
    ASSERT_EQ(1u, aoSegments.size());
    EXPECT_EQ(SPcmSegment::Segment_Signal, aoSegments[0].eKind);
    EXPECT_EQ("", m_oAlsa.Read("analog.raw"));
    EXPECT_EQ("", m_oAlsa.Read("hdmi.raw"));
    // A stopped component stops again without doing anything.
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
}

TEST_F(ALSAAudioCaptureTest, MonoBuffersCarry2048Frames)
{
    m_oCapture.SetCaptureParams(AudioOut_Disabled, SampleRate_44100Hz, NumChannels_One);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(8));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oData = m_oSink.Data();
    EXPECT_EQ(0u, oData.size() % 4096);
    const std::vector<SPcmSegment> aoSegments = SplitPcm(PcmSamples(oData), 1, 44100);
    ASSERT_EQ(1u, aoSegments.size());
    EXPECT_EQ(SPcmSegment::Segment_Signal, aoSegments[0].eKind);
}

TEST_F(ALSAAudioCaptureTest, LocalPlaybackReceivesExactlyTheCapturedSamples)
{
    m_oAlsa.Write("analog.raw", "");
    COutputCapture oLog(STDOUT_FILENO);
    m_oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(48));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oText = oLog.Finish();

    // The recording is the priming silence, then the very bytes handed downstream. A playback
    // that ran dry on a busy machine is primed again, so each further silence must be logged.
    const std::string oPlayed = m_oAlsa.Read("analog.raw");
    const std::string oCaptured = m_oSink.Data();
    const std::vector<SPcmSegment> aoSegments = SplitPcm(PcmSamples(oPlayed), 2, 48000);
    ASSERT_GE(aoSegments.size(), 2u);
    EXPECT_EQ(SPcmSegment::Segment_Silence, aoSegments[0].eKind);
    EXPECT_GE(aoSegments[0].uiFrames, 1920u);
    size_t uiSilences = 0;
    for (const SPcmSegment& roSegment : aoSegments)
    {
        EXPECT_NE(SPcmSegment::Segment_Other, roSegment.eKind);
        uiSilences += roSegment.eKind == SPcmSegment::Segment_Silence ? 1 : 0;
    }
    const size_t uiRecoveries = Count(oText, "Playback state :") + Count(oText, "Error from snd_pcm_writei()");
    EXPECT_EQ(uiSilences - 1, uiRecoveries) << oText;
    if (uiRecoveries == 0)
    {
        EXPECT_EQ(oCaptured, oPlayed.substr(aoSegments[0].uiFrames * 4));
    }
}

TEST_F(ALSAAudioCaptureTest, VolumeFollowsTheRangeOfTheSelectedControl)
{
    m_oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two);
    COutputCapture oLog(STDOUT_FILENO);
    // Never started: a stop does nothing.
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.SetPlaybackVolume(50));
    EXPECT_EQ("127 127\n", m_oAlsa.Read("analog_volume"));  // 0 + 50 x 255 / 100
    EXPECT_EQ(50u, m_oCapture.GetPlaybackVolume());

    // HDMI: -40 to 60.
    m_oCapture.SetCaptureParams(AudioOut_HDMI, SampleRate_48000Hz, NumChannels_Two);
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.SetPlaybackVolume(33));
    EXPECT_EQ("-7 -7\n", m_oAlsa.Read("hdmi_volume"));
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.SetPlaybackVolume(-5));
    EXPECT_EQ("-40 -40\n", m_oAlsa.Read("hdmi_volume"));
    EXPECT_EQ(0u, m_oCapture.GetPlaybackVolume());
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.SetPlaybackVolume(150));
    EXPECT_EQ("60 60\n", m_oAlsa.Read("hdmi_volume"));
    EXPECT_EQ(100u, m_oCapture.GetPlaybackVolume());
    EXPECT_EQ("127 127\n", m_oAlsa.Read("analog_volume"));

    // Without a local output: refused, nothing logged, nothing kept.
    m_oCapture.SetCaptureParams(AudioOut_Disabled, SampleRate_48000Hz, NumChannels_Two);
    EXPECT_EQ(OMX_ErrorInvalidState, m_oCapture.SetPlaybackVolume(20));
    EXPECT_EQ(100u, m_oCapture.GetPlaybackVolume());
    const std::string oText = oLog.Finish();
    EXPECT_EQ(1u, Count(oText, "Playback volume is now: 50%\n"));
    EXPECT_EQ(1u, Count(oText, "Playback volume is now: 33%\n"));
    EXPECT_EQ(1u, Count(oText, "Playback volume is now: 0%\n"));
    EXPECT_EQ(1u, Count(oText, "Playback volume is now: 100%\n"));
    EXPECT_EQ(0u, Count(oText, "Playback volume is now: 20%"));
    EXPECT_EQ(0u, Count(oText, "Killing capture thread"));
}

TEST_F(ALSAAudioCaptureTest, HardwareRateOtherThanAskedIsTakenWithANotice)
{
    m_oAlsa.Write("capture.rate", "48000\n");
    COutputCapture oLog(STDOUT_FILENO);
    m_oCapture.SetCaptureParams(AudioOut_Disabled, SampleRate_44100Hz, NumChannels_Two);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(4));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    EXPECT_EQ(1u, Count(oLog.Finish(),
                        "The rate 44100 Hz is not supported by the hardware.                 Using 48000 Hz instead.\n"));
}

TEST_F(ALSAAudioCaptureTest, StalledCaptureDeliversOneEmptyBufferAndReopensUntilTheDevicesOpen)
{
    COutputCapture oLog(STDOUT_FILENO);
    m_oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(4));
    // The capture stalls, then fails to open three times before it comes back.
    m_oAlsa.Write("capture.open-fail", "3\n");
    m_oAlsa.Write("capture.stall", "");
    ASSERT_TRUE(Eventually([&] { return m_oSink.uiEmptyBuffers > 0; }));
    ASSERT_TRUE(Eventually([&] { return !m_oAlsa.Exists("capture.open-fail"); }));
    ASSERT_TRUE(WaitBuffers(8));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oText = oLog.Finish();

    EXPECT_EQ(1u, m_oSink.uiEmptyBuffers.load());
    EXPECT_EQ(1u, Count(oText, "Timeout reached in snd_pcm_wait() (capture)\n")) << oText;
    EXPECT_EQ(3u, Count(oText, "Error: could not open the audio capture device (No such device)\n"));
    EXPECT_EQ(4u, Count(oText, "Restarting ALSA devices\n"));
    // The stream after the reopening is the signal again, sample for sample.
    const std::vector<SPcmSegment> aoSegments = SplitPcm(PcmSamples(m_oSink.Data()), 2, 48000);
    ASSERT_EQ(2u, aoSegments.size());
    EXPECT_EQ(SPcmSegment::Segment_Signal, aoSegments[1].eKind);
}

TEST_F(ALSAAudioCaptureTest, OverrunIsRecoveredByPrepareAndResynchronisation)
{
    COutputCapture oLog(STDOUT_FILENO);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(4));
    m_oAlsa.Write("capture.xrun", "");
    ASSERT_TRUE(Eventually([&] { return !m_oAlsa.Exists("capture.xrun"); }));
    ASSERT_TRUE(WaitBuffers(24));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oText = oLog.Finish();
    EXPECT_EQ(1u, Count(oText, "Capture state : SND_PCM_STATE_XRUN, error count: 1\n")) << oText;
    EXPECT_EQ(0u, Count(oText, "Restarting ALSA devices"));
    EXPECT_EQ(0u, m_oSink.uiEmptyBuffers.load());
}

TEST_F(ALSAAudioCaptureTest, StopWhileTheCaptureThreadWaitsOnAnEmptyFifo)
{
    m_oSink.Hold(true);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    // The one buffer is held downstream: the capture thread waits for it to come back.
    ASSERT_TRUE(Eventually([&] { return m_oSink.HeldCount() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    COutputCapture oLog(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::string oText = oLog.Finish();
    EXPECT_EQ(1u, Count(oText, "Capture thread stopped"));
    // Start, stop, start again.
    m_oSink.Hold(false);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    EXPECT_TRUE(WaitBuffers(4));
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
}
