// The platform's ALSA side through alsa-lib, for what the library's ALSA capture does not show (its
// test in tests/framework/gen-components captures, plays back, sets volumes and recovers from the
// faults the control folder injects): the capture's pace, other rates, a real overrun, and a
// muted capture and the time the signal came back; the definitions and volumes refused.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AlsaTestEnvironment.h"
#include "AudioSignalCheck.h"

namespace
{
typedef std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)> TPcm;

// The capture device, interleaved 16-bit at exactly the rate asked for, with a ring of 341 ms
// (16384 frames at 48 kHz) in periods of a quarter of it.
TPcm OpenCapture(unsigned uiRate, unsigned uiChannels)
{
    snd_pcm_t* po = nullptr;
    EXPECT_EQ(0, snd_pcm_open(&po, "hw:0,0", SND_PCM_STREAM_CAPTURE, 0));
    EXPECT_TRUE(po != nullptr && snd_pcm_set_params(po, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                                    uiChannels, uiRate, 0, 341334) == 0);
    return TPcm(po, &snd_pcm_close);
}

// Reads uiFrames frames as the library does: a running device is waited for (a period's worth)
// before each read, which then takes what is there.
std::vector<int16_t> Read(snd_pcm_t* po, size_t uiFrames, unsigned uiChannels)
{
    std::vector<int16_t> aiSamples(uiFrames * uiChannels);
    snd_pcm_sframes_t iRead = 0;
    for (size_t uiDone = 0; uiDone < uiFrames; uiDone += static_cast<size_t>(iRead))
    {
        EXPECT_TRUE(snd_pcm_state(po) != SND_PCM_STATE_RUNNING || snd_pcm_wait(po, 1000) == 1);
        iRead = snd_pcm_readi(po, &aiSamples[uiDone * uiChannels], uiFrames - uiDone);
        EXPECT_GT(iRead, 0) << snd_strerror(static_cast<int>(iRead));
        if (iRead <= 0)
            return {};
    }
    return aiSamples;
}

uint64_t NowNs()
{
    return uint64_t(std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count());
}

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
        const TPcm oCapture = OpenCapture(ro.first, ro.second);
        ASSERT_NE(nullptr, oCapture);
        const auto oStart = std::chrono::steady_clock::now();
        const std::vector<int16_t> aiSamples = Read(oCapture.get(), ro.first, ro.second);
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
        // Nobody reads for longer than the ring lasts: an overrun.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        EXPECT_TRUE(snd_pcm_avail_update(oCapture.get()) == -EPIPE &&
                    snd_pcm_state(oCapture.get()) == SND_PCM_STATE_XRUN);
    }
}

TEST_F(AlsaPluginsTest, MutedCaptureIsSilentAndTellsWhenTheSignalComesBack)
{
    m_oAlsa.Write("capture.mute", "");
    const TPcm oCapture = OpenCapture(48000, 2);
    ASSERT_NE(nullptr, oCapture);
    const std::vector<int16_t> aiSilence = Read(oCapture.get(), 2048, 2);
    EXPECT_EQ(std::vector<int16_t>(4096, 0), aiSilence);
    const uint64_t uiBefore = NowNs();
    m_oAlsa.Remove("capture.mute");
    const std::vector<int16_t> aiSignal = Read(oCapture.get(), 2048, 2);
    const uint64_t uiAfter = NowNs();
    ASSERT_FALSE(aiSignal.empty());
    EXPECT_EQ(SPcmSegment::Segment_Signal, SplitPcm(aiSignal, 2, 48000).front().eKind);
    // The first sample of the signal was taken (on CLOCK_MONOTONIC) before the read returned, and
    // no earlier than the ring could hold before the unmute (341 ms).
    const uint64_t uiTone = std::stoull(m_oAlsa.Read("capture.tone"));
    EXPECT_TRUE(uiTone + 341334000u >= uiBefore && uiTone <= uiAfter);
}

// Definitions of the devices that cannot work are refused when the device is opened, with the
// system's configuration around them; a volume outside the control's range is refused.
TEST_F(AlsaPluginsTest, BadDefinitionsAndVolumesOutsideTheRangeAreRefused)
{
    snd_config_t* poTop = nullptr;
    snd_input_t* poFile = nullptr;
    snd_input_t* poText = nullptr;
    const std::string oBad = "ctl.nocontrol { type pellix min 0 max 10 }\n"
                             "ctl.norange { type pellix control \"x\" min 10 max 10 }\n"
                             "ctl.unknown { type pellix control \"x\" colour 3 }\n"
                             "ctl.nostring { type pellix control 5 }\n"
                             "ctl.nointeger { type pellix control \"x\" max \"a\" }\n"
                             "pcm.nodevice { type pellix device 3 }\n"
                             "pcm.unknown { type pellix colour 1 }\n";
    ASSERT_TRUE(snd_config_top(&poTop) == 0 && snd_input_stdio_open(&poFile, getenv("ALSA_CONFIG_PATH"), "r") == 0 &&
                snd_config_load(poTop, poFile) == 0 &&
                snd_input_buffer_open(&poText, oBad.c_str(), static_cast<ssize_t>(oBad.size())) == 0 &&
                snd_config_load(poTop, poText) == 0);
    snd_input_close(poFile);
    snd_input_close(poText);
    for (const char* szName : {"nocontrol", "norange", "unknown", "nostring", "nointeger"})
    {
        snd_ctl_t* poCtl = nullptr;
        EXPECT_EQ(-EINVAL, snd_ctl_open_lconf(&poCtl, szName, 0, poTop)) << szName;
    }
    for (const char* szName : {"nodevice", "unknown"})
    {
        snd_pcm_t* poPcm = nullptr;
        EXPECT_EQ(-EINVAL, snd_pcm_open_lconf(&poPcm, szName, SND_PCM_STREAM_PLAYBACK, 0, poTop)) << szName;
    }
    snd_config_delete(poTop);

    snd_ctl_t* poCtl = nullptr;
    ASSERT_EQ(0, snd_ctl_open(&poCtl, "analog_hw", 0));
    snd_ctl_elem_value_t* poValue = nullptr;
    snd_ctl_elem_value_alloca(&poValue);
    snd_ctl_elem_value_set_interface(poValue, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_value_set_name(poValue, "analog_volume");
    for (const auto& ro : std::vector<std::pair<long, int>>{{256, -EINVAL}, {-1, -EINVAL}, {200, 0}})
    {
        snd_ctl_elem_value_set_integer(poValue, 0, ro.first);
        snd_ctl_elem_value_set_integer(poValue, 1, ro.first);
        EXPECT_EQ(ro.second, std::min(snd_ctl_elem_write(poCtl, poValue), 0)) << ro.first;
    }
    snd_ctl_close(poCtl);
}
