// CALSAAudioCapture on the platform's ALSA side, feeding a software stand-in of the encoder's
// input: what it captures and plays back, its volume control, its recovery from an overrun and
// from a stalled device, the sizes it reads back from its devices (each read-back made to fail in
// turn), and its stop in every state.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>

#include "AlsaTestEnvironment.h"
#include "AudioSignalCheck.h"
#include "Eventually.h"
#include "FrameSink.h"
#include "LibraryTestSupport.h"
#include "gen-components/ALSAAudioCapture.h"

namespace
{
// Which read-back of the granted sizes fails: 1 buffer time, 2 period time, 3 period count; 0 none.
std::atomic<int> g_iFailingReadBack{0};
} // namespace

// The library's calls reach these first: this program defines them, and forwards to ALSA.
#define PELLIX_READ_BACK(NAME, FAILING)                                                                \
    extern "C" int NAME(const snd_pcm_hw_params_t* poParams, unsigned* puiValue, int* piDir)           \
    {                                                                                                  \
        typedef int (*TFn)(const snd_pcm_hw_params_t*, unsigned*, int*);                               \
        static const TFn s_pfnNext = reinterpret_cast<TFn>(dlsym(RTLD_NEXT, #NAME));                   \
        return g_iFailingReadBack == (FAILING) ? -EINVAL : s_pfnNext(poParams, puiValue, piDir);       \
    }
PELLIX_READ_BACK(snd_pcm_hw_params_get_buffer_time, 1)
PELLIX_READ_BACK(snd_pcm_hw_params_get_period_time, 2)
PELLIX_READ_BACK(snd_pcm_hw_params_get_periods, 3)

namespace
{
class ALSAAudioCaptureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetInfoMessageLevel(2);
        m_oSink.m_bKeepData = true;
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
    // Buffers handed in of the whole size, or empty.
    unsigned Buffers(bool bFull)
    {
        unsigned uiCount = 0;
        for (const CFrameSink::SBuffer& ro : m_oSink.Buffers())
            uiCount += (bFull ? ro.nFilledLen == ro.nAllocLen : ro.nFilledLen == 0) ? 1 : 0;
        return uiCount;
    }
    bool WaitBuffers(unsigned uiMore)
    {
        const unsigned uiTarget = Buffers(true) + uiMore;
        return Eventually([&] { return Buffers(true) >= uiTarget; });
    }
    std::vector<SPcmSegment> Segments(const std::string& roPcm, unsigned uiChannels, unsigned uiRate)
    {
        return SplitPcm(PcmSamples(roPcm), uiChannels, uiRate);
    }

    CAlsaTestEnvironment m_oAlsa;
    CFrameSink m_oSink;
    CALSAAudioCapture m_oCapture;
};
} // namespace

TEST_F(ALSAAudioCaptureTest, FillsWholeBuffersWithTheSignalAndPlaysExactlyThatBackWhenAsked)
{
    struct SCase
    {
        EPlaybackOutput eOutput;
        ESupportedSampleRates eRate;
        ESupportedNumberChannels eChannels;
        unsigned uiRate, uiChannels;
    };
    // 4096-byte buffers: 1024 stereo frames, 2048 mono ones.
    unsigned uiStarts = 0;
    const SCase aoCases[] = {{AudioOut_Disabled, SampleRate_44100Hz, NumChannels_One, 44100, 1},
                             {AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two, 48000, 2}};
    for (const SCase& roCase : aoCases)
    {
        m_oAlsa.Write("analog.raw", "");
        m_oAlsa.Write("hdmi.raw", "");
        m_oSink.Clear();
        m_oCapture.SetCaptureParams(roCase.eOutput, roCase.eRate, roCase.eChannels);
        COutputCapture oLog(STDOUT_FILENO);
        ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
        EXPECT_EQ(++uiStarts, m_oSink.m_uiExecutes);
        ASSERT_TRUE(WaitBuffers(24));
        // Without a local output the volume is refused.
        EXPECT_EQ(roCase.eOutput == AudioOut_Disabled ? OMX_ErrorInvalidState : OMX_ErrorNone,
                  m_oCapture.SetPlaybackVolume(50));
        ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
        const std::string oText = oLog.Finish();
        EXPECT_TRUE(Occurrences(oText, "Killing capture thread") == 1 &&
                    Occurrences(oText, "Capture thread stopped") == 1) << oText;
        // Whole buffers, one run of the signal without a sample lost. On a busy machine the capture
        // may overrun, or the playback run dry: each is logged, and each recovery drains the
        // capture, so that it may begin a new run.
        const std::string oCaptured = m_oSink.Data();
        EXPECT_TRUE(oCaptured.size() % 4096 == 0 && m_oSink.Count() == Buffers(true));
        const std::vector<SPcmSegment> aoSegments = Segments(oCaptured, roCase.uiChannels, roCase.uiRate);
        const size_t uiRecoveries =
            Occurrences(oText, "Playback state :") + Occurrences(oText, "Error from snd_pcm_writei()");
        ASSERT_TRUE(!aoSegments.empty() &&
                    aoSegments.size() <= 1 + Occurrences(oText, "Error from snd_pcm_readi()") + uiRecoveries) << oText;
        for (const SPcmSegment& roSegment : aoSegments)
            EXPECT_EQ(SPcmSegment::Segment_Signal, roSegment.eKind);
        const bool bSilent = roCase.eOutput == AudioOut_Disabled;
        EXPECT_EQ("", m_oAlsa.Read("hdmi.raw") + (bSilent ? m_oAlsa.Read("analog.raw") : ""));
        if (bSilent)
            continue;
        // The recording is the priming silence, then the very bytes handed downstream. A playback
        // that ran dry on a busy machine is primed again, so each further silence must be logged.
        const std::string oPlayed = m_oAlsa.Read("analog.raw");
        const std::vector<SPcmSegment> aoPlayed = Segments(oPlayed, 2, 48000);
        ASSERT_GE(aoPlayed.size(), 2u);
        EXPECT_EQ(SPcmSegment::Segment_Silence, aoPlayed[0].eKind);
        EXPECT_GE(aoPlayed[0].uiFrames, 1920u);
        size_t uiSilences = 0;
        for (const SPcmSegment& roSegment : aoPlayed)
        {
            EXPECT_NE(SPcmSegment::Segment_Other, roSegment.eKind);
            uiSilences += roSegment.eKind == SPcmSegment::Segment_Silence ? 1 : 0;
        }
        EXPECT_LE(uiSilences - 1, uiRecoveries) << oText;  // recoveries in a row prime one silence
        if (uiRecoveries == 0) { EXPECT_EQ(oCaptured, oPlayed.substr(aoPlayed[0].uiFrames * 4)); }
    }
    // A stopped component stops again without doing anything.
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
}

TEST_F(ALSAAudioCaptureTest, VolumeFollowsTheRangeOfTheSelectedControl)
{
    COutputCapture oLog(STDOUT_FILENO);
    // Never started: a stop does nothing. Analog: 0 to 255, HDMI: -40 to 60, clamped to 0..100 %.
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    const std::vector<std::tuple<EPlaybackOutput, int, const char*, MUINT32>> aoCases = {
        {AudioOut_Analog, 50, "127 127\n", 50}, {AudioOut_HDMI, 33, "-7 -7\n", 33},
        {AudioOut_HDMI, -5, "-40 -40\n", 0},    {AudioOut_HDMI, 150, "60 60\n", 100}};
    for (const auto& roCase : aoCases)
    {
        m_oCapture.SetCaptureParams(std::get<0>(roCase), SampleRate_48000Hz, NumChannels_Two);
        EXPECT_EQ(OMX_ErrorNone, m_oCapture.SetPlaybackVolume(std::get<1>(roCase)));
        EXPECT_EQ(std::get<2>(roCase),
                  m_oAlsa.Read(std::get<0>(roCase) == AudioOut_HDMI ? "hdmi_volume" : "analog_volume"));
        EXPECT_EQ(std::get<3>(roCase), m_oCapture.GetPlaybackVolume());
    }
    EXPECT_EQ("127 127\n", m_oAlsa.Read("analog_volume"));
    // Without a local output: refused, nothing logged, nothing kept.
    m_oCapture.SetCaptureParams(AudioOut_Disabled, SampleRate_48000Hz, NumChannels_Two);
    EXPECT_EQ(OMX_ErrorInvalidState, m_oCapture.SetPlaybackVolume(20));
    EXPECT_EQ(100u, m_oCapture.GetPlaybackVolume());
    const std::string oText = oLog.Finish();
    for (const auto& roLine : std::vector<std::pair<std::string, size_t>>{
             {"50%\n", 1}, {"33%\n", 1}, {"0%\n", 1}, {"100%\n", 1}, {"20%", 0}})
        EXPECT_EQ(roLine.second, Occurrences(oText, "Playback volume is now: " + roLine.first)) << roLine.first;
    EXPECT_EQ(0u, Occurrences(oText, "Killing capture thread"));
}

TEST_F(ALSAAudioCaptureTest, RecoversFromAnOverrunAndAStalledDeviceAndTakesTheHardwaresRate)
{
    m_oAlsa.Write("capture.rate", "48000\n");
    COutputCapture oLog(STDOUT_FILENO);
    m_oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_44100Hz, NumChannels_Two);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    ASSERT_TRUE(WaitBuffers(4));
    // An overrun: prepare and resynchronisation, no reopening, no empty buffer.
    m_oAlsa.Write("capture.xrun", "");
    ASSERT_TRUE(Eventually([&] { return !m_oAlsa.Exists("capture.xrun"); }));
    ASSERT_TRUE(WaitBuffers(8));
    std::string oText = oLog.Finish();
    EXPECT_EQ(0u, Buffers(false));
    EXPECT_EQ(1u, Occurrences(oText, "The rate 44100 Hz is not supported by the hardware.                 "
                               "Using 48000 Hz instead.\n"));
    EXPECT_EQ(1u, Occurrences(oText, "Capture state : SND_PCM_STATE_XRUN, error count: 1\n")) << oText;
    EXPECT_EQ(0u, Occurrences(oText, "Restarting ALSA devices"));
    // The capture stalls, then fails to open three times before it comes back: one empty buffer.
    COutputCapture oStallLog(STDOUT_FILENO);
    m_oAlsa.Write("capture.open-fail", "3\n");
    m_oAlsa.Write("capture.stall", "");
    ASSERT_TRUE(Eventually([&] { return Buffers(false) > 0; }));
    ASSERT_TRUE(Eventually([&] { return !m_oAlsa.Exists("capture.open-fail"); }));
    ASSERT_TRUE(WaitBuffers(8));
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    oText = oStallLog.Finish();
    EXPECT_EQ(1u, Buffers(false));
    EXPECT_EQ(1u, Occurrences(oText, "Timeout reached in snd_pcm_wait() (capture)\n")) << oText;
    EXPECT_EQ(3u, Occurrences(oText, "Error: could not open the audio capture device (No such device)\n"));
    EXPECT_EQ(4u, Occurrences(oText, "Restarting ALSA devices\n"));
    // The stream after the reopening is the signal again, sample for sample.
    const std::vector<SPcmSegment> aoSegments = Segments(m_oSink.Data(), 2, 48000);
    ASSERT_GE(aoSegments.size(), 2u);
    for (const SPcmSegment& roSegment : aoSegments)
        EXPECT_EQ(SPcmSegment::Segment_Signal, roSegment.eKind);
}

// Each read-back failing in turn, with local playback on: the capture ring (16384 frames of 1024
// at 48 kHz) and the playback ring (2048 of 128) are logged with the values that follow from the
// granted sizes and rate, never with a value an earlier read-back left (the capture thread waits
// for four period times), and the capture still delivers.
TEST_F(ALSAAudioCaptureTest, AFailedReadBackGivesTheValueOfTheGrantedSizesAndRate)
{
    m_oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two);
    for (int iFailing = 0; iFailing <= 3; ++iFailing)
    {
        COutputCapture oLog(STDOUT_FILENO);
        g_iFailingReadBack = iFailing;
        const OMX_ERRORTYPE eStart = m_oCapture.Start();
        g_iFailingReadBack = 0;
        const bool bDelivers = WaitBuffers(8);
        EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
        const std::string oText = oLog.Finish();
        EXPECT_TRUE(eStart == OMX_ErrorNone && bDelivers) << iFailing;
        for (const char* szLine :
             {"ALSACapture output buffer size: 4096\n", "ALSA buffer size: 16384, buffer time: 341333\n",
              "ALSA period size: 1024, period time: 21333\n", "ALSA number of periods: 16\n",
              "ALSA buffer size: 2048, buffer time: 42666\n", "ALSA period size: 128, period time: 2666\n"})
            EXPECT_NE(std::string::npos, oText.find(szLine)) << iFailing << " " << szLine << oText;
    }
}

TEST_F(ALSAAudioCaptureTest, StopsWhileTheCaptureThreadWaitsOnAnEmptyFifoAndStartsAgain)
{
    m_oSink.Hold(true);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    // The one buffer is held downstream: the capture thread waits for it to come back.
    ASSERT_TRUE(Eventually([&] { return m_oSink.Held() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    COutputCapture oLog(STDOUT_FILENO);
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
    EXPECT_EQ(1u, Occurrences(oLog.Finish(), "Capture thread stopped"));
    m_oSink.Hold(false);
    ASSERT_EQ(OMX_ErrorNone, m_oCapture.Start());
    EXPECT_TRUE(WaitBuffers(4));
    EXPECT_EQ(OMX_ErrorNone, m_oCapture.Stop());
}
