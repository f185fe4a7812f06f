// CSimulatedPcm: one PCM of the platform's ALSA side, an ALSA external I/O plugin (ioplug).
//
// Opened for capture it is the board's audio input: it delivers the stereo test signal of
// PellixAlsaSignal.h, paced in real time by CLOCK_MONOTONIC; or, in a process whose simulated
// HDMI input is a real source with an audio track (PellixInputAudio.h, libOMX_Core.so), that
// track, at 48 kHz stereo only, each frame captured s_uiInputDelayFrames after it was due. Opened for playback it is a local
// output that consumes frames in real time and can record them. Both run like a sound card with
// period interrupts: a timer wakes the application's poll once per period, the hardware position
// follows the clock, and a capture whose ring fills up (or a playback whose ring runs dry) goes
// to the XRUN state.
//
// Interleaved signed 16-bit little-endian only, 1 or 2 channels, 32000, 44100 or 48000 Hz. Faults
// and recordings are steered through the control folder (CAlsaControlFolder.h), by the file names
// that start with the "device" name of the PCM's configuration.
//
// ALSA calls every callback on the thread that uses the PCM; the object keeps no lock.
#ifndef CSIMULATED_PCM_H
#define CSIMULATED_PCM_H

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CAlsaControlFolder.h"
#include "PellixInputAudio.h"

class CSimulatedPcm
{
public:
    // The plugin's open: reads the PCM's configuration and creates the PCM.
    static int Open(snd_pcm_t** ppoPcm, const char* szName, snd_config_t* poConf, snd_pcm_stream_t eStream,
                    int iMode);

    CSimulatedPcm(const CSimulatedPcm&) = delete;
    CSimulatedPcm& operator=(const CSimulatedPcm&) = delete;

    // How long after it was due the input's audio is captured: the margin that the source's
    // delivery of its audio, block by block and on a busy machine, may take.
    static constexpr unsigned s_uiInputDelayFrames = PELLIX_INPUT_AUDIO_RATE * 3 / 100;

private:
    CSimulatedPcm(const std::string& roDevice, snd_pcm_stream_t eStream);
    ~CSimulatedPcm();

    static CSimulatedPcm* From(snd_pcm_ioplug_t* poIo) { return static_cast<CSimulatedPcm*>(poIo->private_data); }
    static int CallbackStart(snd_pcm_ioplug_t* poIo);
    static int CallbackStop(snd_pcm_ioplug_t* poIo);
    static snd_pcm_sframes_t CallbackPointer(snd_pcm_ioplug_t* poIo);
    static snd_pcm_sframes_t CallbackTransfer(snd_pcm_ioplug_t* poIo, const snd_pcm_channel_area_t* poAreas,
                                              snd_pcm_uframes_t uiOffset, snd_pcm_uframes_t uiSize);
    static int CallbackClose(snd_pcm_ioplug_t* poIo);
    static int CallbackHwParams(snd_pcm_ioplug_t* poIo, snd_pcm_hw_params_t* poParams);
    static int CallbackSwParams(snd_pcm_ioplug_t* poIo, snd_pcm_sw_params_t* poParams);
    static int CallbackPrepare(snd_pcm_ioplug_t* poIo);
    static int CallbackPollRevents(snd_pcm_ioplug_t* poIo, struct pollfd* poFds, unsigned int uiCount,
                                   unsigned short* puiRevents);

    static const snd_pcm_ioplug_callback_t s_oCallbacks;

    int Create(const char* szName, snd_pcm_stream_t eStream, int iMode);
    // Takes the input's audio track when the process has one to give.
    void FindInputAudio();
    int SetConstraints();
    bool IsCapture() const { return m_oIo.stream == SND_PCM_STREAM_CAPTURE; }

    // The device's clock: CLOCK_MONOTONIC in nanoseconds, standing still while the capture stalls.
    uint64_t Now() const;
    // Frames the hardware has moved since the start of the run, at the device's time uiNowNs.
    uint64_t FramesAt(uint64_t uiNowNs) const;
    // Period interrupts: every period from now on, once at once, or none.
    void ArmTimer(uint64_t uiFirstNs, uint64_t uiIntervalNs);
    void UpdateStall();
    void FillCapture(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset, snd_pcm_uframes_t uiSize);
    void FillFromInput(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset, snd_pcm_uframes_t uiSize);
    void Record(const snd_pcm_channel_area_t* poAreas, snd_pcm_uframes_t uiOffset, snd_pcm_uframes_t uiSize);

    snd_pcm_ioplug_t m_oIo;
    const std::string m_oDevice;
    const CAlsaControlFolder m_oFolder;
    int m_iTimerFd;
    int m_iRecordFd;
    uint64_t m_uiOpenNs;

    // Set by hw_params and sw_params.
    unsigned m_uiRate;
    unsigned m_uiChannels;
    snd_pcm_uframes_t m_uiPeriodSize;
    snd_pcm_uframes_t m_uiBufferSize;
    snd_pcm_uframes_t m_uiAvailMin;
    // One repetition of the test signal (m_uiRate samples) per channel.
    std::vector<int16_t> m_aiSignal[2];

    // The run, from start to stop or prepare.
    bool m_bRunning;
    uint64_t m_uiStartNs;       // device time of the run's frame 0
    uint64_t m_uiTransferred;   // frames the application read or wrote in this run
    uint64_t m_uiSignalIndex;   // index in the signal of the run's frame 0
    bool m_bStalled;
    uint64_t m_uiStallNs;       // time the stall began
    bool m_bMuted;

    // The input's audio track: the platform core's handle and reader, or null.
    void* m_pvCore;
    PfnPellixInputReadAudio m_pfnReadInputAudio;
};

#endif // CSIMULATED_PCM_H
