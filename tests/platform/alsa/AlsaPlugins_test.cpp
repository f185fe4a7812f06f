// The platform's ALSA side through alsa-lib, as the library uses it: the names of the
// configuration, the capture's test signal and pace, the playback's consumption and recording,
// the volume controls, and the faults the control folder injects.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <chrono>
#include <climits>
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
        snd_pcm_hw_params_t* poParams = nullptr;
        snd_pcm_hw_params_alloca(&poParams);
        snd_pcm_hw_params_any(m_poPcm, poParams);
        snd_pcm_hw_params_set_access(m_poPcm, poParams, SND_PCM_ACCESS_RW_INTERLEAVED);
        snd_pcm_hw_params_set_format(m_poPcm, poParams, SND_PCM_FORMAT_S16_LE);
        snd_pcm_hw_params_set_rate_near(m_poPcm, poParams, &uiRate, nullptr);
        snd_pcm_hw_params_set_channels(m_poPcm, poParams, uiChannels);
        snd_pcm_hw_params_set_buffer_size_near(m_poPcm, poParams, &uiBuffer);
        snd_pcm_hw_params_set_period_size_near(m_poPcm, poParams, &uiPeriod, nullptr);
        EXPECT_EQ(0, snd_pcm_hw_params(m_poPcm, poParams));
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
            if (snd_pcm_state(m_poPcm) == SND_PCM_STATE_RUNNING)
            {
                EXPECT_EQ(1, snd_pcm_wait(m_poPcm, 1000));
            }
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

double SecondsSince(const std::chrono::steady_clock::time_point& roStart)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - roStart).count();
}

// The clock the plugin stamps the signal's return with (CLOCK_MONOTONIC), in nanoseconds.
uint64_t MonotonicNs()
{
    return static_cast<uint64_t>(std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// The range and the values of a volume control, through the simple mixer interface.
struct SVolume
{
    long iMin = 0;
    long iMax = 0;
    long iLeft = 0;
    long iRight = 0;
};

int AccessVolume(const char* szMixer, const char* szControl, SVolume& roVolume, long iSet = LONG_MIN)
{
    snd_mixer_t* poMixer = nullptr;
    int iResult = snd_mixer_open(&poMixer, 0);
    if (iResult < 0)
        return iResult;
    if ((iResult = snd_mixer_attach(poMixer, szMixer)) == 0 && (iResult = snd_mixer_selem_register(poMixer, nullptr, nullptr)) == 0 &&
        (iResult = snd_mixer_load(poMixer)) == 0)
    {
        snd_mixer_selem_id_t* poId = nullptr;
        snd_mixer_selem_id_alloca(&poId);
        snd_mixer_selem_id_set_name(poId, szControl);
        snd_mixer_elem_t* poElement = snd_mixer_find_selem(poMixer, poId);
        iResult = -ENOENT;
        if (poElement != nullptr)
        {
            snd_mixer_selem_get_playback_volume_range(poElement, &roVolume.iMin, &roVolume.iMax);
            iResult = iSet == LONG_MIN ? 0 : snd_mixer_selem_set_playback_volume_all(poElement, iSet);
            snd_mixer_selem_get_playback_volume(poElement, SND_MIXER_SCHN_FRONT_LEFT, &roVolume.iLeft);
            snd_mixer_selem_get_playback_volume(poElement, SND_MIXER_SCHN_FRONT_RIGHT, &roVolume.iRight);
        }
    }
    snd_mixer_close(poMixer);
    return iResult;
}

class AlsaPluginsTest : public ::testing::Test
{
protected:
    CAlsaTestEnvironment m_oAlsa;
};
} // namespace

TEST_F(AlsaPluginsTest, CaptureDeliversTheSignalNoFasterThanRealTimeAtEveryRate)
{
    {
        CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
        ASSERT_EQ(0, oCapture.OpenResult());
        EXPECT_EQ(48000u, oCapture.Configure(48000, 2, 16384, 1024));
        const auto oStart = std::chrono::steady_clock::now();
        const std::vector<int16_t> aiSamples = oCapture.Read(48000, 2);
        // A device paced by the clock cannot deliver a second of audio in less than a second.
        EXPECT_GE(SecondsSince(oStart), 0.98);
        const std::vector<SPcmSegment> aoSegments = SplitPcm(aiSamples, 2, 48000);
        ASSERT_EQ(1u, aoSegments.size());
        EXPECT_TRUE(aoSegments[0].eKind == SPcmSegment::Segment_Signal && aoSegments[0].uiFrames == 48000);
        const SToneMeasure oLeft = MeasureTone(aiSamples, 2, 0, 48000, 0);
        const SToneMeasure oRight = MeasureTone(aiSamples, 2, 1, 48000, 0);
        EXPECT_NEAR(997.0, oLeft.dFrequency, 0.5);
        EXPECT_NEAR(16384.0, oLeft.dAmplitude, 20.0);
        EXPECT_NEAR(1499.0, oRight.dFrequency, 0.5);
        EXPECT_NEAR(8192.0, oRight.dAmplitude, 20.0);
    }
    {
        CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
        ASSERT_EQ(0, oCapture.OpenResult());
        EXPECT_EQ(32000u, oCapture.Configure(32000, 1, 8192, 512));
        const std::vector<SPcmSegment> aoSegments = SplitPcm(oCapture.Read(4096, 1), 1, 32000);
        ASSERT_EQ(1u, aoSegments.size());
        EXPECT_EQ(SPcmSegment::Segment_Signal, aoSegments[0].eKind);
    }
    // Hardware that offers one rate only grants it whatever is asked.
    m_oAlsa.Write("capture.rate", "48000\n");
    CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oCapture.OpenResult());
    EXPECT_EQ(48000u, oCapture.Configure(44100, 2, 16384, 1024));
}

TEST_F(AlsaPluginsTest, PlaybackRecordsExactlyWhatItReceivesAndPlaysInRealTime)
{
    m_oAlsa.Write("analog.raw", "");
    std::vector<int16_t> aiSamples(24000 * 2);
    for (size_t i = 0; i < aiSamples.size(); ++i)
        aiSamples[i] = static_cast<int16_t>(i * 7);
    {
        CPcm oPlayback("analog_softvol", SND_PCM_STREAM_PLAYBACK);
        ASSERT_EQ(0, oPlayback.OpenResult());
        oPlayback.Configure(48000, 2, 2048, 128);
        const auto oStart = std::chrono::steady_clock::now();
        for (size_t uiDone = 0; uiDone < 24000;)
        {
            const snd_pcm_sframes_t iWritten = snd_pcm_writei(oPlayback.Get(), &aiSamples[uiDone * 2], 24000 - uiDone);
            ASSERT_GT(iWritten, 0) << snd_strerror(static_cast<int>(iWritten));
            uiDone += static_cast<size_t>(iWritten);
        }
        // All but the last ring's worth has been played when the writes return.
        EXPECT_GE(SecondsSince(oStart), (24000.0 - 2048) / 48000 - 0.01);
        EXPECT_EQ(SND_PCM_STATE_RUNNING, snd_pcm_state(oPlayback.Get()));
        // Nothing more comes: the ring runs dry.
        EXPECT_TRUE(Eventually([&] { return snd_pcm_avail_update(oPlayback.Get()) == -EPIPE; }));
    }
    const std::string oRecorded = m_oAlsa.Read("analog.raw");
    ASSERT_EQ(aiSamples.size() * 2, oRecorded.size());
    EXPECT_EQ(0, memcmp(aiSamples.data(), oRecorded.data(), oRecorded.size()));
    // Without the file nothing is recorded.
    EXPECT_FALSE(m_oAlsa.Exists("hdmi.raw"));
    CPcm oHdmi("hdmi_softvol", SND_PCM_STREAM_PLAYBACK);
    EXPECT_EQ(0, oHdmi.OpenResult());
}

TEST_F(AlsaPluginsTest, StalledCaptureNeverWakesItsPoll)
{
    CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oCapture.OpenResult());
    oCapture.Configure(48000, 2, 16384, 1024);
    oCapture.Read(2048, 2);
    m_oAlsa.Write("capture.stall", "");
    // Within a period or two the stall is noticed; from then on every wait times out.
    int iWait = 1;
    for (int i = 0; i < 50 && iWait != 0; ++i)
    {
        iWait = snd_pcm_wait(oCapture.Get(), 100);
        if (iWait > 0)
            oCapture.Read(1024, 2);
    }
    EXPECT_EQ(0, iWait);
    EXPECT_EQ(0, snd_pcm_wait(oCapture.Get(), 100));
    // The request was taken up: the device opened next runs.
    EXPECT_FALSE(m_oAlsa.Exists("capture.stall"));
    CPcm oReopened("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oReopened.OpenResult());
    oReopened.Configure(48000, 2, 16384, 1024);
    snd_pcm_start(oReopened.Get());
    EXPECT_EQ(1, snd_pcm_wait(oReopened.Get(), 1000));
}

TEST_F(AlsaPluginsTest, OpenFailuresAndOverrunsInjectedAndReal)
{
    m_oAlsa.Write("capture.open-fail", "2\n");
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(-ENODEV, CPcm("hw:0,0", SND_PCM_STREAM_CAPTURE).OpenResult());
    EXPECT_FALSE(m_oAlsa.Exists("capture.open-fail"));
    CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oCapture.OpenResult());
    oCapture.Configure(48000, 2, 4096, 1024);
    oCapture.Read(1024, 2);
    // Injected: the read that sees it succeeds, the device is in XRUN after it, the file is gone.
    m_oAlsa.Write("capture.xrun", "");
    EXPECT_EQ(1024u, oCapture.Read(1024, 2).size() / 2);
    EXPECT_EQ(SND_PCM_STATE_XRUN, snd_pcm_state(oCapture.Get()));
    EXPECT_FALSE(m_oAlsa.Exists("capture.xrun"));
    ASSERT_EQ(0, snd_pcm_prepare(oCapture.Get()));
    EXPECT_EQ(1024u, oCapture.Read(1024, 2).size() / 2);
    // Real: nobody reads for longer than the ring lasts (4096 frames, 85 ms).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(-EPIPE, snd_pcm_avail_update(oCapture.Get()));
    EXPECT_EQ(SND_PCM_STATE_XRUN, snd_pcm_state(oCapture.Get()));
}

TEST_F(AlsaPluginsTest, MutedCaptureIsSilentAndTellsWhenTheSignalComesBack)
{
    m_oAlsa.Write("capture.mute", "");
    CPcm oCapture("hw:0,0", SND_PCM_STREAM_CAPTURE);
    ASSERT_EQ(0, oCapture.OpenResult());
    oCapture.Configure(48000, 2, 16384, 1024);
    const std::vector<int16_t> aiSilence = oCapture.Read(2048, 2);
    EXPECT_EQ(std::vector<int16_t>(aiSilence.size(), 0), aiSilence);
    const uint64_t uiBefore = MonotonicNs();
    m_oAlsa.Remove("capture.mute");
    const std::vector<int16_t> aiSignal = oCapture.Read(2048, 2);
    const uint64_t uiAfter = MonotonicNs();
    EXPECT_EQ(SPcmSegment::Segment_Signal, SplitPcm(aiSignal, 2, 48000).front().eKind);
    // The first sample of the signal was taken before the read returned, and no earlier than
    // the ring could hold before the unmute (16384 frames, 341 ms).
    const uint64_t uiTone = std::stoull(m_oAlsa.Read("capture.tone"));
    EXPECT_GE(uiTone + 341334000u, uiBefore);
    EXPECT_LE(uiTone, uiAfter);
}

TEST_F(AlsaPluginsTest, VolumeControlsKeepTheirValuesInTheFolder)
{
    SVolume oAnalog;
    ASSERT_EQ(0, AccessVolume("analog_hw", "analog_volume", oAnalog));
    EXPECT_EQ(0, oAnalog.iMin);
    EXPECT_EQ(255, oAnalog.iMax);
    EXPECT_EQ(255, oAnalog.iLeft);
    SVolume oHdmi;
    ASSERT_EQ(0, AccessVolume("hdmi_hw", "hdmi_volume", oHdmi, 17));
    EXPECT_EQ(-40, oHdmi.iMin);
    EXPECT_EQ(60, oHdmi.iMax);
    EXPECT_EQ("17 17\n", m_oAlsa.Read("hdmi_volume"));
    // A new handle finds the value; the other control is untouched.
    SVolume oAgain;
    ASSERT_EQ(0, AccessVolume("hdmi_hw", "hdmi_volume", oAgain));
    EXPECT_EQ(17, oAgain.iLeft);
    EXPECT_EQ(17, oAgain.iRight);
    EXPECT_FALSE(m_oAlsa.Exists("analog_volume"));
    // Names that the configuration does not provide.
    SVolume oNone;
    EXPECT_EQ(-ENOENT, AccessVolume("analog_hw", "hdmi_volume", oNone));
    EXPECT_LT(AccessVolume("other_hw", "analog_volume", oNone), 0);
    CPcm oUnknown("other_softvol", SND_PCM_STREAM_PLAYBACK);
    EXPECT_LT(oUnknown.OpenResult(), 0);
}
