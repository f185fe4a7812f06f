#include "gen-components/ALSAAudioCapture.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ti814x-framework.h"

const char* const snd_pcm_state_strings[10] = {
    "SND_PCM_STATE_OPEN",    "SND_PCM_STATE_SETUP",    "SND_PCM_STATE_PREPARED",  "SND_PCM_STATE_RUNNING",
    "SND_PCM_STATE_XRUN",    "SND_PCM_STATE_DRAINING", "SND_PCM_STATE_PAUSED",    "SND_PCM_STATE_SUSPENDED",
    "SND_PCM_STATE_DISCONNECTED", "SND_PCM_STATE_LAST",
};

namespace
{
const char* const local_szCaptureDevice = "hw:0,0";
const MUINT32 local_uiCaptureRingFrames = 16384;
const MUINT32 local_uiCapturePeriodFrames = 1024;
const MUINT32 local_uiPlaybackRingFrames = 2048;
const MUINT32 local_uiPlaybackPeriodFrames = 128;
const MUINT32 local_uiBytesPerSample = 2;
// Resynchronisation: sixteen reads of 1024 frames drain the capture ring.
const unsigned local_uiDrainReads = 16;
const MUINT32 local_uiScratchFrames = 1024;
const MUINT32 local_uiScratchBytes = 4096;
const MUINT32 local_uiWaitForever = 0xFFFFFFFF;
const int local_iWaitPeriods = 4;
// Pause between two attempts to reopen devices that failed to open, in steps that notice a stop.
const unsigned local_uiReopenPauseSteps = 10;
const useconds_t local_uiReopenPauseStepUsec = 10000;

const char* local_StateName(snd_pcm_state_t eState)
{
    const unsigned uiState = static_cast<unsigned>(eState);
    return uiState < sizeof(snd_pcm_state_strings) / sizeof(snd_pcm_state_strings[0]) ? snd_pcm_state_strings[uiState]
                                                                                      : "?";
}

bool local_IsStreaming(snd_pcm_state_t eState)
{
    return eState == SND_PCM_STATE_PREPARED || eState == SND_PCM_STATE_RUNNING;
}

// How long uiFrames last at uiRate, in microseconds (0 without a rate).
unsigned local_FramesToMicroseconds(MUINT32 uiFrames, unsigned uiRate)
{
    return uiRate != 0 ? static_cast<unsigned>(static_cast<unsigned long long>(uiFrames) * 1000000ull / uiRate) : 0;
}
} // namespace

CALSAAudioCapture::CALSAAudioCapture()
    : m_oOutputPort(),
      m_uiNumberOfOutputBuffers(1),
      m_oCaptureDevice(),
      m_oPlaybackDevice(),
      m_ePlaybackOutput(AudioOut_Disabled),
      m_uiBufferSize(4096),
      m_eSampleRate(SampleRate_48000Hz),
      m_eNumberOfChannels(NumChannels_Two),
      m_oFifoBuffer(*&m_oFifoExternalMutex),  // bound now, initialised below
      m_uiPlaybackVolume(0),
      m_hCaptureThread(),
      m_oFifoAccessMutex(PTHREAD_MUTEX_INITIALIZER),
      m_oFifoExternalMutex(PTHREAD_MUTEX_INITIALIZER),
      m_bCaptureThreadStarted(0),
      m_bKillCaptureThread(0)
{
    ZEM_INFO(3, "CALSAAudioCapture");
}

CALSAAudioCapture::~CALSAAudioCapture()
{
    ZEM_INFO(3, "~CALSAAudioCapture");
}

OMX_ERRORTYPE CALSAAudioCapture::CreatePorts()
{
    m_uiInputPortCount = 0;
    m_poInputPort = nullptr;
    m_uiOutputPortCount = 1;
    m_poOutputPort = &m_oOutputPort;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CALSAAudioCapture::Init()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    int iResult = 0;

    m_oCaptureDevice.bOpened = 0;
    m_oPlaybackDevice.bOpened = 0;
    eError = InitPorts();
    if (eError != OMX_ErrorNone)
    {
        ZEM_INFO(0, "CALSAAudioCapture: Error occured (errno: %s)", strerror(errno));
        uiAbortLine = __LINE__;
        goto Zem_Abort;
    }
    if ((iResult = pthread_mutex_init(&m_oFifoAccessMutex, nullptr)) != 0)
    {
        ZEM_INFO(0, "CALSAAudioCapture: Error occured (errno: %s)", strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = pthread_mutex_init(&m_oFifoExternalMutex, nullptr)) != 0)
    {
        ZEM_INFO(0, "CALSAAudioCapture: Error occured (errno: %s)", strerror(iResult));
        pthread_mutex_destroy(&m_oFifoAccessMutex);
        m_oFifoAccessMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CALSAAudioCapture::Deinit()
{
    // A component torn down without Stop lets go of its thread and devices all the same.
    KillCaptureThread();
    CloseDevice(m_oCaptureDevice);
    CloseDevice(m_oPlaybackDevice);
    DropFifoContent();
    pthread_mutex_destroy(&m_oFifoAccessMutex);
    pthread_mutex_destroy(&m_oFifoExternalMutex);
    // A later Init sets them up again; a second Deinit finds them in their initial state.
    m_oFifoAccessMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
    m_oFifoExternalMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
    return m_oOutputPort.Deinit();
}

OMX_ERRORTYPE CALSAAudioCapture::ConnectTo(CComponent* poDest, unsigned long uiDestPort)
{
    return CComponent::ConnectTo(0, poDest, static_cast<MUINT32>(uiDestPort));
}

OMX_ERRORTYPE CALSAAudioCapture::SetCaptureParams(EPlaybackOutput ePlaybackOutput, ESupportedSampleRates eSampleRate,
                                                  ESupportedNumberChannels eNumberOfChannels)
{
    m_ePlaybackOutput = ePlaybackOutput;
    m_eSampleRate = eSampleRate;
    m_eNumberOfChannels = eNumberOfChannels;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CALSAAudioCapture::SetParameters()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    SPortBufferInfo oBufferInfo;
    CPort* poRemotePort = m_oOutputPort.GetRemotePort();

    ZEM_INFO(2, "ALSACapture output buffer size: %d", m_uiBufferSize);
    if (poRemotePort == nullptr)
        ZEM_FAIL(OMX_ErrorNotReady);
    ZEM_CHECK(CreateALSADevices());
    memset(&oBufferInfo, 0, sizeof(oBufferInfo));
    oBufferInfo.uiBufferSize = m_uiBufferSize;
    ZEM_CHECK(poRemotePort->ProvideBuffer(&oBufferInfo, m_uiNumberOfOutputBuffers));
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

// ---- Devices --------------------------------------------------------------------------------

void CALSAAudioCapture::CloseDevice(SALSADevice& roDevice)
{
    if (!roDevice.bOpened)
        return;
    snd_pcm_drop(roDevice.hDevice);
    snd_pcm_close(roDevice.hDevice);
    roDevice.hDevice = nullptr;
    roDevice.bOpened = 0;
}

OMX_ERRORTYPE CALSAAudioCapture::CreateALSADevices()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    int iResult = 0;

    if (m_ePlaybackOutput != AudioOut_Disabled)
    {
        const char* szPlayback = m_ePlaybackOutput == AudioOut_Analog ? "analog_softvol" : "hdmi_softvol";
        iResult = snd_pcm_open(&m_oPlaybackDevice.hDevice, szPlayback, SND_PCM_STREAM_PLAYBACK, 0);
        if (iResult < 0)
        {
            ZEM_INFO(0, "Error: could not open the audio playback device (%s)", snd_strerror(iResult));
            ZEM_FAIL(OMX_ErrorUndefined);
        }
        m_oPlaybackDevice.bOpened = 1;
        m_oPlaybackDevice.uiBufferSize = local_uiPlaybackRingFrames;
        m_oPlaybackDevice.uiPeriodSize = local_uiPlaybackPeriodFrames;
        ZEM_CHECK(ConfigureALSADriver(&m_oPlaybackDevice));
        ZEM_CHECK(SetPlaybackSwParams());
    }

    iResult = snd_pcm_open(&m_oCaptureDevice.hDevice, local_szCaptureDevice, SND_PCM_STREAM_CAPTURE, 0);
    if (iResult < 0)
    {
        ZEM_INFO(0, "Error: could not open the audio capture device (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    m_oCaptureDevice.bOpened = 1;
    m_oCaptureDevice.uiBufferSize = local_uiCaptureRingFrames;
    m_oCaptureDevice.uiPeriodSize = local_uiCapturePeriodFrames;
    ZEM_CHECK(ConfigureALSADriver(&m_oCaptureDevice));
    return OMX_ErrorNone;

Zem_Abort:
    CloseDevice(m_oPlaybackDevice);
    CloseDevice(m_oCaptureDevice);
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CALSAAudioCapture::ConfigureALSADriver(SALSADevice* poDevice)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    snd_pcm_t* const hDevice = poDevice->hDevice;
    snd_pcm_hw_params_t* poParams = nullptr;
    unsigned uiRate = static_cast<unsigned>(m_eSampleRate);
    snd_pcm_uframes_t uiFrames = 0;
    unsigned uiBufferTime = 0;
    unsigned uiPeriodTime = 0;
    unsigned uiPeriods = 0;
    int iDirection = 0;
    int iResult = 0;

    if ((iResult = snd_pcm_hw_params_malloc(&poParams)) < 0)
    {
        ZEM_INFO(0, "cannot allocate hardware parameters (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_pcm_hw_params_any(hDevice, poParams)) < 0)
    {
        ZEM_INFO(0, "Error, cannot initialize hardware parameter structure (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_pcm_hw_params_set_access(hDevice, poParams, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
    {
        ZEM_INFO(0, "Error, cannot set access type (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_pcm_hw_params_set_format(hDevice, poParams, SND_PCM_FORMAT_S16_LE)) < 0)
    {
        ZEM_INFO(0, "Error, cannot set sample format (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_pcm_hw_params_set_rate_near(hDevice, poParams, &uiRate, &iDirection)) < 0)
    {
        ZEM_INFO(0, "Error, cannot set sample rate (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if (uiRate != static_cast<unsigned>(m_eSampleRate))
        ZEM_INFO(1, "The rate %u Hz is not supported by the hardware.                 Using %u Hz instead.",
                 static_cast<unsigned>(m_eSampleRate), uiRate);
    if ((iResult = snd_pcm_hw_params_set_channels(hDevice, poParams, static_cast<unsigned>(m_eNumberOfChannels))) < 0)
    {
        ZEM_INFO(0, "cannot set channel count (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }

    // What the hardware grants replaces what was asked for.
    uiFrames = poDevice->uiBufferSize;
    snd_pcm_hw_params_set_buffer_size_near(hDevice, poParams, &uiFrames);
    poDevice->uiBufferSize = static_cast<MUINT32>(uiFrames);
    uiFrames = poDevice->uiPeriodSize;
    iDirection = 0;
    snd_pcm_hw_params_set_period_size_near(hDevice, poParams, &uiFrames, &iDirection);
    poDevice->uiPeriodSize = static_cast<MUINT32>(uiFrames);

    // Each read-back into a value of its own: one that fails keeps the value that follows from the
    // granted sizes and rate, never what an earlier read-back left (the capture thread waits for
    // four period times).
    if (snd_pcm_hw_params_get_buffer_time(poParams, &uiBufferTime, &iDirection) < 0)
        uiBufferTime = local_FramesToMicroseconds(poDevice->uiBufferSize, uiRate);
    if (snd_pcm_hw_params_get_period_time(poParams, &uiPeriodTime, &iDirection) < 0)
        uiPeriodTime = local_FramesToMicroseconds(poDevice->uiPeriodSize, uiRate);
    if (snd_pcm_hw_params_get_periods(poParams, &uiPeriods, &iDirection) < 0)
        uiPeriods = poDevice->uiPeriodSize != 0 ? poDevice->uiBufferSize / poDevice->uiPeriodSize : 0;
    poDevice->uiBufferTime = uiBufferTime;
    poDevice->uiPeriodTime = uiPeriodTime;
    poDevice->uiNumPeriods = uiPeriods;
    ZEM_INFO(2, "ALSA buffer size: %u, buffer time: %u", poDevice->uiBufferSize, poDevice->uiBufferTime);
    ZEM_INFO(2, "ALSA period size: %u, period time: %u", poDevice->uiPeriodSize, poDevice->uiPeriodTime);
    ZEM_INFO(2, "ALSA number of periods: %u", poDevice->uiNumPeriods);

    if ((iResult = snd_pcm_hw_params(hDevice, poParams)) < 0)
    {
        ZEM_INFO(0, "cannot set hardware parameters (%s)", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    snd_pcm_hw_params_free(poParams);
    return OMX_ErrorNone;

Zem_Abort:
    if (poParams != nullptr)
        snd_pcm_hw_params_free(poParams);
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CALSAAudioCapture::SetPlaybackSwParams()
{
    snd_pcm_t* const hDevice = m_oPlaybackDevice.hDevice;
    snd_pcm_sw_params_t* poParams = nullptr;
    int iResult = snd_pcm_sw_params_malloc(&poParams);
    // Playback starts once the ring is full to within one period.
    if (iResult >= 0)
        iResult = snd_pcm_sw_params_current(hDevice, poParams);
    if (iResult >= 0)
        iResult = snd_pcm_sw_params_set_start_threshold(
            hDevice, poParams, m_oPlaybackDevice.uiBufferSize - m_oPlaybackDevice.uiPeriodSize);
    if (iResult >= 0)
        iResult = snd_pcm_sw_params(hDevice, poParams);
    if (poParams != nullptr)
        snd_pcm_sw_params_free(poParams);
    if (iResult < 0)
    {
        ZEM_INFO(0, "Error occured: %s", snd_strerror(iResult));
        return OMX_ErrorUndefined;
    }
    return OMX_ErrorNone;
}

int CALSAAudioCapture::CaptureWaitTimeoutMs() const
{
    return static_cast<int>(m_oCaptureDevice.uiPeriodTime / 1000) * local_iWaitPeriods;
}

void CALSAAudioCapture::InitALSABuffers()
{
    unsigned char abyScratch[local_uiScratchBytes];
    memset(abyScratch, 0, sizeof(abyScratch));

    // Each read waits for its period first, so that a device that stalls meanwhile cannot hold
    // the thread, and a stop ends the draining; a prepared device is started for the reads.
    if (snd_pcm_state(m_oCaptureDevice.hDevice) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(m_oCaptureDevice.hDevice);
    const snd_pcm_uframes_t uiReadFrames = local_uiScratchBytes / (m_eNumberOfChannels * local_uiBytesPerSample);
    for (unsigned i = 0; i < local_uiDrainReads && !m_bKillCaptureThread; ++i)
    {
        if (snd_pcm_wait(m_oCaptureDevice.hDevice, CaptureWaitTimeoutMs()) <= 0)
            break;
        snd_pcm_readi(m_oCaptureDevice.hDevice, abyScratch,
                      uiReadFrames < local_uiScratchFrames ? uiReadFrames : local_uiScratchFrames);
    }
    if (!m_oPlaybackDevice.bOpened)
        return;
    // The playback ring is filled with silence to within one period (not with the last block
    // drained, which would be heard twice). A device that cannot even tell its room, or cannot be
    // recovered, is left to the loop's state check.
    memset(abyScratch, 0, sizeof(abyScratch));
    const snd_pcm_uframes_t uiWriteFrames = local_uiScratchBytes / (m_eNumberOfChannels * local_uiBytesPerSample);
    for (;;)
    {
        const snd_pcm_sframes_t iAvail = snd_pcm_avail_update(m_oPlaybackDevice.hDevice);
        if (iAvail < 0 || static_cast<snd_pcm_uframes_t>(iAvail) <= m_oPlaybackDevice.uiPeriodSize)
            break;
        const snd_pcm_sframes_t iWritten = snd_pcm_writei(
            m_oPlaybackDevice.hDevice, abyScratch, uiWriteFrames < local_uiScratchFrames ? uiWriteFrames : local_uiScratchFrames);
        if (iWritten < 0 && snd_pcm_recover(m_oPlaybackDevice.hDevice, static_cast<int>(iWritten), 1) < 0)
            break;
    }
}

// ---- Life cycle -----------------------------------------------------------------------------

OMX_ERRORTYPE CALSAAudioCapture::Start()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    int iResult = 0;
    CPort* poRemotePort = nullptr;

    ZEM_INFO(1, "CALSAAudioCapture");
    ZEM_CHECK(SetParameters());
    ZEM_CHECK(m_oOutputPort.Execute(0));
    m_bBufferProcessing = 1;
    ZEM_CHECK(m_oOutputPort.StartBufferProcessing());

    if ((iResult = pthread_create(&m_hCaptureThread, nullptr, CaptureThread, this)) != 0)
    {
        ZEM_INFO(0, "Error creating audio capture thread: %s", strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    m_bCaptureThreadStarted = 1;

    // Every buffer starts in the FIFO, empty.
    poRemotePort = m_oOutputPort.GetRemotePort();
    for (MUINT32 i = 0; i < poRemotePort->GetBufferCount(); ++i)
        ZEM_CHECK(FillThisBuffer(poRemotePort->GetBufferHeader(i)));
    return OMX_ErrorNone;

Zem_Abort:
    // Without a thread nothing uses the devices that SetParameters opened; Stop closes them
    // otherwise.
    if (!m_bCaptureThreadStarted)
    {
        CloseDevice(m_oCaptureDevice);
        CloseDevice(m_oPlaybackDevice);
    }
    ZEM_ABORT_RECORD();
    return eError;
}

OMX_ERRORTYPE CALSAAudioCapture::Stop()
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    CPort* poRemotePort = m_oOutputPort.GetRemotePort();

    ZEM_INFO(1, "CALSAAudioCapture");
    if (!m_bBufferProcessing)
        return OMX_ErrorNone;
    m_bBufferProcessing = 0;
    KillCaptureThread();
    CloseDevice(m_oCaptureDevice);
    if (m_ePlaybackOutput != AudioOut_Disabled)
        CloseDevice(m_oPlaybackDevice);

    ZEM_CHECK(m_oOutputPort.StopBufferProcessing());
    // Every buffer came back on the way down; they belong to the encoder's port, which frees
    // them next, and a later Start queues them afresh.
    DropFifoContent();
    if (poRemotePort != nullptr)
        ZEM_CHECK(poRemotePort->ReleaseBuffers());
    ZEM_CHECK(m_oOutputPort.Loaded());
    return OMX_ErrorNone;

Zem_Abort:
    ZEM_ABORT_RECORD();
    return eError;
}

void CALSAAudioCapture::KillCaptureThread()
{
    if (!m_bCaptureThreadStarted)
        return;
    ZEM_INFO(2, "Killing capture thread");
    pthread_mutex_lock(&m_oFifoAccessMutex);
    m_bKillCaptureThread = 1;
    m_oFifoBuffer.UnBlockWaitFifo();
    pthread_mutex_unlock(&m_oFifoAccessMutex);
    pthread_join(m_hCaptureThread, nullptr);
    m_bCaptureThreadStarted = 0;
    m_bKillCaptureThread = 0;
    ZEM_INFO(2, "Capture thread stopped");
}

void CALSAAudioCapture::DropFifoContent()
{
    OMX_BUFFERHEADERTYPE* poBufferHeader = nullptr;
    while (!m_oFifoBuffer.IsEmpty())
        m_oFifoBuffer.Read(&poBufferHeader);
}

// ---- Buffers --------------------------------------------------------------------------------

OMX_ERRORTYPE CALSAAudioCapture::FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    m_oFifoBuffer.Write(poBufferHeader);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CALSAAudioCapture::EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    return FillThisBuffer(poBufferHeader);
}

OMX_ERRORTYPE CALSAAudioCapture::FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader)
{
    return m_oOutputPort.EmptyThisBuffer(poBufferHeader);
}

// ---- Capture thread -------------------------------------------------------------------------

void* CALSAAudioCapture::CaptureThread(void* pvInstance)
{
    static_cast<CALSAAudioCapture*>(pvInstance)->CaptureLoop();
    return nullptr;
}

OMX_BUFFERHEADERTYPE* CALSAAudioCapture::TakeEmptyBuffer()
{
    OMX_BUFFERHEADERTYPE* poBufferHeader = nullptr;

    // The decision to wait and the kill request exclude each other: a kill either comes first
    // and is seen here, or finds the thread counted as a waiter and wakes it.
    pthread_mutex_lock(&m_oFifoAccessMutex);
    if (m_oFifoBuffer.IsEmpty() && !m_bKillCaptureThread)
    {
        pthread_mutex_lock(&m_oFifoExternalMutex);
        pthread_mutex_unlock(&m_oFifoAccessMutex);
        m_oFifoBuffer.WaitNotEmpty(local_uiWaitForever);
        // Released before the access mutex is taken again: the two are only ever nested with
        // the access mutex outside.
        pthread_mutex_unlock(&m_oFifoExternalMutex);
        pthread_mutex_lock(&m_oFifoAccessMutex);
    }
    if (!m_oFifoBuffer.IsEmpty())
        m_oFifoBuffer.Read(&poBufferHeader);
    pthread_mutex_unlock(&m_oFifoAccessMutex);
    return poBufferHeader;
}

void CALSAAudioCapture::CaptureBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader, MUINT32 uiFramesPerBuffer,
                                      bool& rbRestart, MUINT32& ruiCaptureErrors, MUINT32& ruiPlaybackErrors)
{
    snd_pcm_t* const hCapture = m_oCaptureDevice.hDevice;
    snd_pcm_state_t eState = snd_pcm_state(hCapture);
    if (!local_IsStreaming(eState))
    {
        ++ruiCaptureErrors;
        ZEM_INFO(1, "Capture state : %s, error count: %u", local_StateName(eState), ruiCaptureErrors);
        snd_pcm_prepare(hCapture);
        InitALSABuffers();
    }

    const int iWait = snd_pcm_wait(hCapture, CaptureWaitTimeoutMs());
    if (iWait == 0)
    {
        ZEM_INFO(1, "Timeout reached in snd_pcm_wait() (capture)");
        rbRestart = true;
    }
    else if (iWait < 0)
    {
        ZEM_INFO(1, "Error in snd_pcm_wait() (capture): %s", snd_strerror(iWait));
        rbRestart = true;
    }

    snd_pcm_sframes_t iFrames = 0;
    if (!rbRestart)
    {
        // Straight into the encoder's buffer.
        iFrames = snd_pcm_readi(hCapture, poBufferHeader->pBuffer, uiFramesPerBuffer);
        if (iFrames < 0)
        {
            ++ruiCaptureErrors;
            ZEM_INFO(1, "Error from snd_pcm_readi(): %s (error count: %u)", snd_strerror(static_cast<int>(iFrames)),
                     ruiCaptureErrors);
            snd_pcm_recover(hCapture, static_cast<int>(iFrames), 1);
            InitALSABuffers();
            iFrames = 0;
        }
        else if (static_cast<MUINT32>(iFrames) < uiFramesPerBuffer)
            ZEM_INFO(1, "Short read, read %d frames\n", static_cast<int>(iFrames));
    }

    if (m_ePlaybackOutput != AudioOut_Disabled && iFrames > 0 && m_oPlaybackDevice.bOpened)
    {
        snd_pcm_t* const hPlayback = m_oPlaybackDevice.hDevice;
        eState = snd_pcm_state(hPlayback);
        if (!local_IsStreaming(eState))
        {
            ++ruiPlaybackErrors;
            ZEM_INFO(1, "Playback state : %s, error count: %u", local_StateName(eState), ruiPlaybackErrors);
            snd_pcm_prepare(hPlayback);
            InitALSABuffers();
        }
        // The same frames, from the same buffer.
        const snd_pcm_sframes_t iWritten =
            snd_pcm_writei(hPlayback, poBufferHeader->pBuffer, static_cast<snd_pcm_uframes_t>(iFrames));
        if (iWritten < 0)
        {
            ++ruiPlaybackErrors;
            ZEM_INFO(1, "Error from snd_pcm_writei(): %s (error count: %u)", snd_strerror(static_cast<int>(iWritten)),
                     ruiPlaybackErrors);
            snd_pcm_recover(hPlayback, static_cast<int>(iWritten), 1);
            InitALSABuffers();
        }
    }

    // A buffer taken while the device fails still goes downstream, empty.
    poBufferHeader->nFilledLen = static_cast<OMX_U32>(iFrames) * m_eNumberOfChannels * local_uiBytesPerSample;
    poBufferHeader->nOffset = 0;
    FillBufferDone(poBufferHeader);
}

void CALSAAudioCapture::CaptureLoop()
{
    const MUINT32 uiFramesPerBuffer = m_uiBufferSize / (m_eNumberOfChannels * local_uiBytesPerSample);
    MUINT32 uiCaptureErrors = 0;
    MUINT32 uiPlaybackErrors = 0;
    bool bRestart = false;

    ZEM_INFO(2, "CaptureLoop");
    InitALSABuffers();
    while (!m_bKillCaptureThread)
    {
        if (!bRestart)
        {
            OMX_BUFFERHEADERTYPE* poBufferHeader = TakeEmptyBuffer();
            if (poBufferHeader != nullptr)
                CaptureBuffer(poBufferHeader, uiFramesPerBuffer, bRestart, uiCaptureErrors, uiPlaybackErrors);
        }
        if (bRestart)
        {
            ZEM_INFO(2, "Restarting ALSA devices");
            CloseDevice(m_oCaptureDevice);
            CloseDevice(m_oPlaybackDevice);
            if (CreateALSADevices() == OMX_ErrorNone)
            {
                bRestart = false;
                InitALSABuffers();
            }
            else
            {
                // The devices are not back yet: the next pass tries again, a little later.
                for (unsigned i = 0; i < local_uiReopenPauseSteps && !m_bKillCaptureThread; ++i)
                    usleep(local_uiReopenPauseStepUsec);
            }
        }
    }
}

OMX_ERRORTYPE CALSAAudioCapture::SetPlaybackVolume(int iVolumePercent)
{
    OMX_ERRORTYPE eError = OMX_ErrorNone;
    unsigned uiAbortLine = 0;
    snd_mixer_t* poMixer = nullptr;
    snd_mixer_selem_id_t* poId = nullptr;
    snd_mixer_elem_t* poElement = nullptr;
    long iMin = 0;
    long iMax = 0;
    int iResult = 0;

    if (m_ePlaybackOutput == AudioOut_Disabled)
        return OMX_ErrorInvalidState;
    const bool bAnalog = m_ePlaybackOutput == AudioOut_Analog;
    const char* const szMixer = bAnalog ? "analog_hw" : "hdmi_hw";
    const char* const szControl = bAnalog ? "analog_volume" : "hdmi_volume";
    const int iPercent = iVolumePercent < 0 ? 0 : (iVolumePercent > 100 ? 100 : iVolumePercent);

    if ((iResult = snd_mixer_open(&poMixer, 0)) < 0)
    {
        poMixer = nullptr;
        ZEM_INFO(0, "Error, Failed in snd_mixer_open: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_mixer_attach(poMixer, szMixer)) < 0)
    {
        ZEM_INFO(0, "Error from snd_mixer_attach: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_mixer_selem_register(poMixer, nullptr, nullptr)) < 0)
    {
        ZEM_INFO(0, "Error in snd_mixer_selem_register: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_mixer_load(poMixer)) < 0)
    {
        ZEM_INFO(0, "Error in snd_mixer_load: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    snd_mixer_selem_id_alloca(&poId);
    snd_mixer_selem_id_set_index(poId, 0);
    snd_mixer_selem_id_set_name(poId, szControl);
    if ((poElement = snd_mixer_find_selem(poMixer, poId)) == nullptr)
    {
        ZEM_INFO(0, "Error, can't find selem");
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_mixer_selem_get_playback_volume_range(poElement, &iMin, &iMax)) < 0)
    {
        ZEM_INFO(0, "Error in snd_mixer_selem_get_playback_volume_range: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }
    if ((iResult = snd_mixer_selem_set_playback_volume_all(poElement, iMin + iPercent * (iMax - iMin) / 100)) < 0)
    {
        ZEM_INFO(0, "Error in snd_mixer_selem_set_playback_volume_all: %s", snd_strerror(iResult));
        ZEM_FAIL(OMX_ErrorUndefined);
    }

    ZEM_INFO(2, "Playback volume is now: %d%c", iPercent, '%');
    snd_mixer_free(poMixer);
    if ((iResult = snd_mixer_close(poMixer)) < 0)
        ZEM_INFO(0, "Error in snd_mixer_close: %s", snd_strerror(iResult));
    m_uiPlaybackVolume = static_cast<MUINT32>(iPercent);
    return OMX_ErrorNone;

Zem_Abort:
    if (poMixer != nullptr)
    {
        snd_mixer_free(poMixer);
        snd_mixer_close(poMixer);
    }
    ZEM_ABORT_RECORD();
    return eError;
}
