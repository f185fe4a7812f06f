// The audio chain's figures on the simulated platform: the CPU time the process spends per
// second of audio (ALSA capture with local playback, AAC encoder, RTSP audio stream and server),
// with nobody listening and with a client playing; and the delay from the capture of a sample to
// the first RTP packet that carries it, at a client on loopback.
//
// The delay: the capture runs muted; when the signal is switched on, the capture's plugin writes
// down the time at which the first sample of the signal was taken, and the client notes the
// arrival of the first packet whose frame is no longer silence.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "AlsaTestEnvironment.h"
#include "SAudioChain.h"
#include "SBenchServingGraph.h"
#include "ti814x-framework.h"

namespace
{
const double local_dMeasureSeconds = 10.0;
const unsigned local_uiDelayRuns = 9;
// An AAC frame of silence is a few bytes; one of the test signal at 192 kbit/s about 500.
const size_t local_uiSilentFrameLimit = 64;

uint64_t NowNs(clockid_t eClock)
{
    timespec oNow;
    clock_gettime(eClock, &oNow);
    return static_cast<uint64_t>(oNow.tv_sec) * 1000000000u + static_cast<uint64_t>(oNow.tv_nsec);
}

// The size of the AAC frame in an RTP packet of the audio stream: LATM with the configuration out
// of band, the frame's length as bytes of 255 and a last byte below 255, then the frame; 0 when the
// packet is not one of these.
size_t LatmFrameSize(const std::string& roPacket)
{
    const auto* pbyData = reinterpret_cast<const unsigned char*>(roPacket.data());
    if (roPacket.size() < 12 || (pbyData[0] >> 6) != 2)
        return 0;
    size_t uiOffset = 12 + 4 * (pbyData[0] & 0x0F);
    if ((pbyData[0] & 0x10) != 0 && roPacket.size() >= uiOffset + 4)
        uiOffset += 4 + 4 * ((static_cast<size_t>(pbyData[uiOffset + 2]) << 8) | pbyData[uiOffset + 3]);
    size_t uiLength = 0;
    while (uiOffset < roPacket.size())
    {
        const unsigned char byLength = pbyData[uiOffset++];
        uiLength += byLength;
        if (byLength != 255)
            break;
    }
    return uiOffset + uiLength == roPacket.size() ? uiLength : 0;
}

// CPU milliseconds of the whole process per second of audio, over local_dMeasureSeconds.
double CpuPerAudioSecond(const SCountingAudioStream& roStream, CRawRtspClient* poClient)
{
    const long iFramesBefore = roStream.iArrived;
    const uint64_t uiCpuBefore = NowNs(CLOCK_PROCESS_CPUTIME_ID);
    const uint64_t uiEnd = NowNs(CLOCK_MONOTONIC) + static_cast<uint64_t>(local_dMeasureSeconds * 1e9);
    while (NowNs(CLOCK_MONOTONIC) < uiEnd)
    {
        if (poClient == nullptr || poClient->NextPacket(100).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(poClient == nullptr ? 100 : 0));
    }
    const double dCpuMs = static_cast<double>(NowNs(CLOCK_PROCESS_CPUTIME_ID) - uiCpuBefore) / 1e6;
    const double dAudioSeconds = static_cast<double>(roStream.iArrived - iFramesBefore) * 1024.0 / 48000.0;
    return dAudioSeconds > 0 ? dCpuMs / dAudioSeconds : 0;
}
} // namespace

int main()
{
    SetInfoMessageLevel(0);
    setenv("PELLIX_NET_INTERFACE", "lo", 1);
    CAlsaTestEnvironment oAlsa;
    oAlsa.Write("capture.mute", "");
    SBenchServingGraph<SAudioChain> oGraph(AudioOut_Analog);
    if (oGraph.Build("/Video320x240@60fps_audio") != OMX_ErrorNone)
    {
        fprintf(stderr, "the audio chain did not start\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double dIdle = CpuPerAudioSecond(oGraph.oChain.oStream, nullptr);

    CRawRtspClient oClient(oGraph.Url());
    if (!oClient.Play(1, true))
    {
        fprintf(stderr, "the client could not play\n");
        return 1;
    }
    const double dPlaying = CpuPerAudioSecond(oGraph.oChain.oStream, &oClient);

    std::vector<double> adDelayMs;
    for (unsigned uiRun = 0; uiRun < local_uiDelayRuns; ++uiRun)
    {
        oAlsa.Write("capture.mute", "");
        oAlsa.Remove("capture.tone");
        // Silence reaches the client first.
        const uint64_t uiQuiet = NowNs(CLOCK_MONOTONIC) + 500000000u;
        while (NowNs(CLOCK_MONOTONIC) < uiQuiet)
            oClient.NextPacket(50);
        oAlsa.Remove("capture.mute");
        uint64_t uiArrival = 0;
        for (int i = 0; i < 500 && uiArrival == 0; ++i)
        {
            if (LatmFrameSize(oClient.NextPacket(1000)) > local_uiSilentFrameLimit)
                uiArrival = NowNs(CLOCK_MONOTONIC);
        }
        const std::string oTone = oAlsa.Read("capture.tone");
        if (uiArrival == 0 || oTone.empty())
            continue;
        adDelayMs.push_back(static_cast<double>(static_cast<int64_t>(uiArrival - std::stoull(oTone))) / 1e6);
    }
    oClient.Close();
    oGraph.Teardown();

    std::sort(adDelayMs.begin(), adDelayMs.end());
    printf("audio chain (48000 Hz stereo, AAC-LC 192 kbit/s, local playback on), %.0f s each:\n", local_dMeasureSeconds);
    printf("  CPU per second of audio, no client:      %6.1f ms\n", dIdle);
    printf("  CPU per second of audio, client playing: %6.1f ms\n", dPlaying);
    if (!adDelayMs.empty())
        printf("  capture to first RTP packet at the client: median %.1f ms, min %.1f ms, max %.1f ms (%zu runs)\n",
               adDelayMs[adDelayMs.size() / 2], adDelayMs.front(), adDelayMs.back(), adDelayMs.size());
    else
        printf("  capture to first RTP packet: not measured\n");
    return 0;
}
