// The appliance's audio branch, for SBenchServingGraph: ALSA capture (48000 Hz stereo, local
// playback on the given output) -> AAC encoder -> audio stream, which counts the encoded buffers
// that reach it.
#ifndef PELLIX_BENCH_AUDIO_CHAIN_H
#define PELLIX_BENCH_AUDIO_CHAIN_H

#include <atomic>

#include "gen-components/ALSAAudioCapture.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "ti-components/DSPAudioEncoder.h"

// The audio stream with the encoded buffers that reach it counted.
struct SCountingAudioStream : public RTSPAudioServerComponent
{
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        ++iArrived;
        return RTSPAudioServerComponent::EmptyThisBuffer(poHeader);
    }
    std::atomic<long> iArrived{0};
};

struct SAudioChain
{
    explicit SAudioChain(EPlaybackOutput ePlaybackOutput) : m_ePlaybackOutput(ePlaybackOutput) {}
    OMX_ERRORTYPE Build()
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        if ((eError = oStream.Init()) != OMX_ErrorNone || (eError = oCapture.Init()) != OMX_ErrorNone ||
            (eError = oEncoder.Init()) != OMX_ErrorNone ||
            (eError = oCapture.SetCaptureParams(m_ePlaybackOutput, SampleRate_48000Hz, NumChannels_Two)) != OMX_ErrorNone ||
            (eError = oCapture.ConnectTo(&oEncoder, 0)) != OMX_ErrorNone || (eError = oEncoder.ConnectTo(&oStream, 0)) != OMX_ErrorNone)
            return eError;
        return oCapture.Start();
    }
    void Teardown()
    {
        oCapture.Stop();
        oCapture.Deinit();
        oEncoder.Deinit();
        oStream.Deinit();
    }

    CALSAAudioCapture oCapture;
    CDSPAudioEncoder oEncoder;
    SCountingAudioStream oStream;

private:
    const EPlaybackOutput m_ePlaybackOutput;
};

#endif // PELLIX_BENCH_AUDIO_CHAIN_H
