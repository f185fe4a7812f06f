// The ALSA capture's read-back of the times and the period count its devices were granted: a
// read-back that fails gives the value that follows from the granted sizes and rate, never the
// value an earlier read-back left (the capture thread waits for four period times).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>

#include "AlsaTestEnvironment.h"
#include "FrameSink.h"
#include "Eventually.h"
#include "OutputCapture.h"
#include "gen-components/ALSAAudioCapture.h"
#include "ti814x-framework.h"

namespace
{
// Which read-back fails: 1 buffer time, 2 period time, 3 period count; 0 none.
std::atomic<int> g_iFailingReadBack{0};

template <typename TFn>
TFn local_Next(const char* szName)
{
    return reinterpret_cast<TFn>(dlsym(RTLD_NEXT, szName));
}
} // namespace

// The library's calls reach these first: the test program defines them, and forwards to ALSA.
extern "C" int snd_pcm_hw_params_get_buffer_time(const snd_pcm_hw_params_t* poParams, unsigned* puiValue, int* piDir)
{
    typedef int (*TFn)(const snd_pcm_hw_params_t*, unsigned*, int*);
    static const TFn s_pfnNext = local_Next<TFn>("snd_pcm_hw_params_get_buffer_time");
    return g_iFailingReadBack == 1 ? -EINVAL : s_pfnNext(poParams, puiValue, piDir);
}

extern "C" int snd_pcm_hw_params_get_period_time(const snd_pcm_hw_params_t* poParams, unsigned* puiValue, int* piDir)
{
    typedef int (*TFn)(const snd_pcm_hw_params_t*, unsigned*, int*);
    static const TFn s_pfnNext = local_Next<TFn>("snd_pcm_hw_params_get_period_time");
    return g_iFailingReadBack == 2 ? -EINVAL : s_pfnNext(poParams, puiValue, piDir);
}

extern "C" int snd_pcm_hw_params_get_periods(const snd_pcm_hw_params_t* poParams, unsigned* puiValue, int* piDir)
{
    typedef int (*TFn)(const snd_pcm_hw_params_t*, unsigned*, int*);
    static const TFn s_pfnNext = local_Next<TFn>("snd_pcm_hw_params_get_periods");
    return g_iFailingReadBack == 3 ? -EINVAL : s_pfnNext(poParams, puiValue, piDir);
}

// Each read-back failing in turn, with local playback on: the capture ring (16384 frames of 1024
// at 48 kHz) and the playback ring (2048 of 128) are logged with their computed values, and the
// capture still delivers.
TEST(ALSAReadBack, AFailedReadBackGivesTheValueOfTheGrantedSizesAndRate)
{
    CAlsaTestEnvironment oAlsa;
    for (int iFailing = 0; iFailing <= 3; ++iFailing)
    {
        SCOPED_TRACE("failing read-back " + std::to_string(iFailing));
        CFrameSink oSink;
        CALSAAudioCapture oCapture;
        ASSERT_EQ(OMX_ErrorNone, oSink.Init());
        ASSERT_EQ(OMX_ErrorNone, oCapture.Init());
        ASSERT_EQ(OMX_ErrorNone, oCapture.ConnectTo(&oSink, 0));
        ASSERT_EQ(OMX_ErrorNone, oCapture.SetCaptureParams(AudioOut_Analog, SampleRate_48000Hz, NumChannels_Two));
        SetInfoMessageLevel(2);
        COutputCapture oLog(STDOUT_FILENO);
        g_iFailingReadBack = iFailing;
        const OMX_ERRORTYPE eStart = oCapture.Start();
        g_iFailingReadBack = 0;
        const bool bDelivers = Eventually([&] { return oSink.Count() >= 8; });
        EXPECT_EQ(OMX_ErrorNone, oCapture.Stop());
        const std::string oText = oLog.Finish();
        SetInfoMessageLevel(0);
        EXPECT_EQ(OMX_ErrorNone, eStart);
        EXPECT_TRUE(bDelivers);
        for (const char* szLine :
             {"ALSA buffer size: 16384, buffer time: 341333\n", "ALSA period size: 1024, period time: 21333\n",
              "ALSA number of periods: 16\n", "ALSA buffer size: 2048, buffer time: 42666\n",
              "ALSA period size: 128, period time: 2666\n"})
            EXPECT_NE(std::string::npos, oText.find(szLine)) << szLine << oText;
        EXPECT_EQ(OMX_ErrorNone, oCapture.Deinit());
        EXPECT_EQ(OMX_ErrorNone, oSink.Deinit());
    }
}
