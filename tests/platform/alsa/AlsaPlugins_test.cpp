// The platform's ALSA side through alsa-lib, for what the library's ALSA capture does not show (its
// test in tests/framework/gen-components captures, plays back, sets volumes and recovers from the
// faults the control folder injects): the capture's pace, other rates, a real overrun, and a
// muted capture and the time the signal came back.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "AlsaTestEnvironment.h"
#include "AudioSignalCheck.h"
#include "Eventually.h"

namespace
{
// An open PCM, closed when the object goes.
class CPcm
{
public:
    CPcm(const char* szName, snd_pcm_stream_t eStream) { m_iOpen = snd_pcm_open(&m_poPcm, szName, eStream, 0); }
    ~CPcm()
    {
        if (m_iOpen == 0)
            snd_pcm_close(m_poPcm);
    }
    CPcm(const CPcm&) = delete;
    CPcm& operator=(const CPcm&) = delete;

    int OpenResult() const { return m_iOpen; }
    snd_pcm_t* Get() const { return m_poPcm; }
    // Interleaved 16-bit, the rate asked for (the granted one is returned), a ring and a period.
    unsigned Configure(unsigned uiRate, unsigned uiChannels, snd_pcm_uframes_t uiBuffer, snd_pcm_uframes_t uiPeriod)
    {
        snd_pcm_hw_params_t* po = nullptr;
        snd_pcm_hw_params_alloca(&po);
        snd_pcm_hw_params_any(m_poPcm, po);
        snd_pcm_hw_params_set_access(m_poPcm, po, SND_PCM_ACCESS_RW_INTERLEAVED);
        snd_pcm_hw_params_set_format(m_poPcm, po, SND_PCM_FORMAT_S16_LE);
        snd_pcm_hw_params_set_rate_near(m_poPcm, po, &uiRate, nullptr);
        snd_pcm_hw_params_set_channels(m_poPcm, po, uiChannels);
        snd_pcm_hw_params_set_buffer_size_near(m_poPcm, po, &uiBuffer);
        snd_pcm_hw_params_set_period_size_near(m_poPcm, po, &uiPeriod, nullptr);
        EXPECT_EQ(0, snd_pcm_hw_params(m_poPcm, po));
        return uiRate;
    }
    // Reads uiFrames frames as the library does: a running device is waited for (a period's
    // worth) before each read, which then takes what is there.
    std::vector<int16_t> Read(size_t uiFrames, unsigned uiChannels)
    {
        std::vector<int16_t> aiSamples(uiFrames * uiChannels);
        size_t uiDone = 0;
        while (uiDone < uiFrames)
        {
            EXPECT_TRUE(snd_pcm_state(m_poPcm) != SND_PCM_STATE_RUNNING || snd_pcm_wait(m_poPcm, 1000) == 1);
            const snd_pcm_sframes_t iRead = snd_pcm_readi(m_poPcm, &aiSamples[uiDone * uiChannels], uiFrames - uiDone);
            EXPECT_GT(iRead, 0) << snd_strerror(static_cast<int>(iRead));
            if (iRead <= 0)
                break;
            uiDone += static_cast<size_t>(iRead);
        }
        aiSamples.resize(uiDone * uiChannels);
        return aiSamples;
    }

private:
    snd_pcm_t* m_poPcm = nullptr;
    int m_iOpen = -1;
};

class AlsaPluginsTest : public ::testing::Test
{
protected:
    CAlsaTestEnvironment m_oAlsa;
};
} // namespace

TEST_F(AlsaPluginsTest, CaptureDeliversTheSignalNoFasterThanRealTimeAtEveryRateAndOverrunsWhenNotRead)
{
    for (const auto& ro : std::vector<std::pair<unsigned, unsigned>>{{48000, 2}, {32000, 1}})
    {
        CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
        ASSERT_EQ(0, oCapture.OpenResult());
        EXPECT_EQ(ro.first, oCapture.Configure(ro.first, ro.second, 16384, 1024));
        const auto oStart = std::chrono::steady_clock::now();
        const std::vector<int16_t> aiSamples = oCapture.Read(ro.first, ro.second);
        // A device paced by the clock cannot deliver a second of audio in less than a second.
        EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - oStart).count(), 0.98);
        const std::vector<SPcmSegment> aoSegments = SplitPcm(aiSamples, ro.second, ro.first);
        ASSERT_EQ(1u, aoSegments.size());
        EXPECT_TRUE(aoSegments[0].eKind == SPcmSegment::Segment_Signal && aoSegments[0].uiFrames == ro.first);
        for (unsigned c = 0; c < ro.second; ++c)
        {
            const SToneMeasure oTone = MeasureTone(aiSamples, ro.second, c, ro.first, 0);
            EXPECT_NEAR(c == 0 ? 997.0 : 1499.0, oTone.dFrequency, 0.5);
            EXPECT_NEAR(c == 0 ? 16384.0 : 8192.0, oTone.dAmplitude, 20.0);
        }
        // Nobody reads for longer than the ring lasts (16384 frames): an overrun.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        EXPECT_TRUE(snd_pcm_avail_update(oCapture.Get()) == -EPIPE &&
                    snd_pcm_state(oCapture.Get()) == SND_PCM_STATE_XRUN);
    }
}

TEST_F(AlsaPluginsTest, MutedCaptureIsSilentAndTellsWhenTheSignalComesBack)
{
    m_oAlsa.Write("capture.mute", "");
    CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oCapture.OpenResult());
    oCapture.Configure(48000, 2, 16384, 1024);
    const std::vector<int16_t> aiSilence = oCapture.Read(2048, 2);
    EXPECT_EQ(std::vector<int16_t>(aiSilence.size(), 0), aiSilence);
    const auto fnNow = []
    { return uint64_t(std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count()); };
    const uint64_t uiBefore = fnNow();
    m_oAlsa.Remove("capture.mute");
    const std::vector<int16_t> aiSignal = oCapture.Read(2048, 2);
    const uint64_t uiAfter = fnNow();
    EXPECT_EQ(SPcmSegment::Segment_Signal, SplitPcm(aiSignal, 2, 48000).front().eKind);
    // The first sample of the signal was taken (on CLOCK_MONOTONIC) before the read returned, and
    // no earlier than the ring could hold before the unmute (16384 frames, 341 ms).
    const uint64_t uiTone = std::stoull(m_oAlsa.Read("capture.tone"));
    EXPECT_TRUE(uiTone + 341334000u >= uiBefore && uiTone <= uiAfter);
}
