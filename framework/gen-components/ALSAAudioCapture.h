// CALSAAudioCapture: the software source at the head of the audio branch.
//
// It reads interleaved signed 16-bit PCM from the board's audio input ("hw:0,0") through ALSA
// straight into the buffers the AAC encoder's input port provides, and hands each filled buffer to
// the encoder. With a local output selected it writes every captured block to that output's
// playback PCM as well, from the same buffer. One capture thread of its own does both, and
// recovers from device errors without stopping the graph: a state error by prepare and
// resynchronisation, a read or write error by snd_pcm_recover and resynchronisation, a stalled
// device (wait time-out or wait error) by closing and reopening both devices until they open.
//
// Locks. m_oFifoExternalMutex is the FIFO's own mutex: the encoder's callback thread takes it
// alone, inside CFifo::Write. m_oFifoAccessMutex makes the capture thread's decision to wait on
// an empty FIFO and the kill request mutually exclusive. The order is m_oFifoAccessMutex, then
// m_oFifoExternalMutex, never the reverse: the capture thread takes the external mutex under the
// access mutex before its wait, and once woken it releases the external mutex before it takes
// the access mutex again; the kill request wakes the FIFO (taking the external mutex) under the
// access mutex.
#ifndef ALSA_AUDIO_CAPTURE_H
#define ALSA_AUDIO_CAPTURE_H

#include <alsa/asoundlib.h>
#include <pthread.h>

#include <atomic>

#include "base-components/CFifo.h"
#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "gen-components/AudioTypes.h"

// One ALSA stream.
typedef struct tagALSADevice
{
    snd_pcm_t* hDevice;
    MUINT32 bOpened;
    MUINT32 uiBufferSize;  // ring size in frames: requested, then granted
    MUINT32 uiPeriodSize;  // period size in frames: requested, then granted
    MUINT32 uiBufferTime;  // microseconds, read back
    MUINT32 uiPeriodTime;  // microseconds, read back
    MUINT32 uiNumPeriods;  // read back
} SALSADevice;

// Names of snd_pcm_state_t values, for the log.
extern const char* const snd_pcm_state_strings[10];

class CALSAAudioCapture : public CComponent
{
public:
    CALSAAudioCapture();
    ~CALSAAudioCapture() override;

    CALSAAudioCapture(const CALSAAudioCapture&) = delete;
    CALSAAudioCapture& operator=(const CALSAAudioCapture&) = delete;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE CreatePorts() override;
    // Opens the devices and has the encoder's input port provide the buffers.
    OMX_ERRORTYPE SetParameters() override;

    OMX_ERRORTYPE ConnectTo(CComponent* poDest, unsigned long uiDestPort);
    // Before Start.
    OMX_ERRORTYPE SetCaptureParams(EPlaybackOutput ePlaybackOutput, ESupportedSampleRates eSampleRate,
                                   ESupportedNumberChannels eNumberOfChannels);
    // Sets the selected output's volume control to min + percent x (max - min) / 100, the
    // percentage clamped to 0..100. OMX_ErrorInvalidState without a local output.
    OMX_ERRORTYPE SetPlaybackVolume(int iVolumePercent);
    MUINT32 GetPlaybackVolume() const { return m_uiPlaybackVolume; }
    // Stops and joins the capture thread if one runs.
    void KillCaptureThread();

    static void* CaptureThread(void* pvInstance);

protected:
    OMX_ERRORTYPE CreateALSADevices();
    OMX_ERRORTYPE ConfigureALSADriver(SALSADevice* poDevice);
    OMX_ERRORTYPE SetPlaybackSwParams();
    // Drains the capture ring and fills the playback ring to within one period.
    void InitALSABuffers();
    void CaptureLoop();

    CSourcePort m_oOutputPort;
    MUINT32 m_uiNumberOfOutputBuffers;
    SALSADevice m_oCaptureDevice;
    SALSADevice m_oPlaybackDevice;
    EPlaybackOutput m_ePlaybackOutput;
    MUINT32 m_uiBufferSize;
    ESupportedSampleRates m_eSampleRate;
    ESupportedNumberChannels m_eNumberOfChannels;
    CFifo m_oFifoBuffer;
    MUINT32 m_uiPlaybackVolume;
    pthread_t m_hCaptureThread;
    pthread_mutex_t m_oFifoAccessMutex;
    pthread_mutex_t m_oFifoExternalMutex;
    MBOOL32 m_bCaptureThreadStarted;
    // Written under m_oFifoAccessMutex, read by the capture thread at the top of each pass.
    std::atomic<MBOOL32> m_bKillCaptureThread;

private:
    void CloseDevice(SALSADevice& roDevice);
    // The capture wait's time-out: four periods, in milliseconds.
    int CaptureWaitTimeoutMs() const;
    // Takes the next empty buffer, waiting while there is none; null when asked to stop.
    OMX_BUFFERHEADERTYPE* TakeEmptyBuffer();
    // Reads one block into the buffer, plays it back and hands the buffer downstream.
    void CaptureBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader, MUINT32 uiFramesPerBuffer, bool& rbRestart,
                       MUINT32& ruiCaptureErrors, MUINT32& ruiPlaybackErrors);
    void DropFifoContent();
};

#endif // ALSA_AUDIO_CAPTURE_H
