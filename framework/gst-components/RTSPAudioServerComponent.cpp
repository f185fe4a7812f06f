#include "gst-components/RTSPAudioServerComponent.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "ti814x-framework.h"

namespace
{
// Names of GstState by value.
const char* const szState[] = {
    "GST_STATE_VOID_PENDING", "GST_STATE_NULL", "GST_STATE_READY", "GST_STATE_PAUSED", "GST_STATE_PLAYING",
};

const char* local_StateName(GstState eState)
{
    const unsigned uiState = static_cast<unsigned>(eState);
    return uiState < sizeof(szState) / sizeof(szState[0]) ? szState[uiState] : "?";
}

// The audio fragment: a fakesrc making buffers of the encoder's buffer size without filling
// them, emitting "handoff" for each, in a time segment (the handoff stamps each frame with its
// time); the caps of framed raw AAC-LC frames with the stream's AudioSpecificConfig, from which
// the payloader announces the stream's configuration; an identity that drops the empty buffers
// of handoffs that had no frame to deliver (flagged as gaps), which the payloader cannot take;
// and rtpmp4apay. The source only pushes, and so cannot seek: a fakesrc that may be pulled in a
// time segment tells the pipeline that it can, the RTSP library then answers a PLAY with a seek
// that the live streams cannot make, and the shared media is left in error for every client.
const char* const local_szLaunchFormat =
    " fakesrc silent=true name=%s sizemax=%d sizetype=2 filltype=1 signal-handoffs=true format=time "
    "can-activate-pull=false ! audio/mpeg, "
    "mpegversion=4, framed=true, channels=%u, profile=lc, stream-format=raw, rate=%d, codec_data=(buffer)%s "
    "! identity drop-buffer-flags=gap ! rtpmp4apay ";

const char* const local_szSourceElementName = "RTSPAudioServer.fakesrc";

const MUINT32 local_uiWaitForever = 0xFFFFFFFF;
// While a pipeline exists the drain thread looks again after this pause.
const long local_iPipelinePauseNs = 500000000;
const long local_iNsPerSecond = 1000000000;
// Waiting for the drain thread to leave: the handoffs may take the wake-ups meant for it.
const useconds_t local_uiReleaseRetryUsec = 200;

// AAC-LC: audio object type 2, 1024 samples per frame.
const unsigned local_uiObjectTypeLc = 2;
const guint64 local_uiFrameSamples = 1024;
const MUINT32 local_auiSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                        16000, 12000, 11025, 8000,  7350};
const unsigned local_uiExplicitRateIndex = 15;
// A frame later than this behind the pipeline's clock follows a gap in the audio: the stream's
// time starts again from the clock.
const GstClockTime local_uiMaxLag = 200 * GST_MSECOND;

const guint local_uiAdtsHeaderSize = 7;
const guint local_uiAdtsHeaderSizeWithCrc = 9;
} // namespace

RTSPAudioServerComponent::RTSPAudioServerComponent()
    : GStreamerServerComponent(*&m_oFifoExternalMutex),  // bound now, initialised by Init
      m_uiSampleRate(48000),
      m_uiOutputBufferSize(4608),
      m_hFakeHandoffThread(),
      m_oFakeHandoffMutex(PTHREAD_MUTEX_INITIALIZER),
      m_oFifoExternalMutex(PTHREAD_MUTEX_INITIALIZER),
      m_bFakeHandoffThreadStarted(false),
      m_bKillFakeHandoffThread(false),
      m_oFakeHandoffCondition(),
      m_bFakeHandoffThreadDone(false),
      m_bNewStream(true),
      m_uiStreamStart(0),
      m_uiStreamSamples(0)
{
    m_szSourceElementName = local_szSourceElementName;
}

RTSPAudioServerComponent::~RTSPAudioServerComponent() = default;

OMX_ERRORTYPE RTSPAudioServerComponent::Init()
{
    pthread_condattr_t oAttributes;
    int iResult = pthread_mutex_init(&m_oFakeHandoffMutex, nullptr);
    if (iResult == 0 && (iResult = pthread_mutex_init(&m_oFifoExternalMutex, nullptr)) != 0)
        pthread_mutex_destroy(&m_oFakeHandoffMutex);
    if (iResult == 0)
    {
        // The pause of the drain thread is measured on the monotonic clock.
        pthread_condattr_init(&oAttributes);
        pthread_condattr_setclock(&oAttributes, CLOCK_MONOTONIC);
        iResult = pthread_cond_init(&m_oFakeHandoffCondition, &oAttributes);
        pthread_condattr_destroy(&oAttributes);
        if (iResult != 0)
        {
            pthread_mutex_destroy(&m_oFifoExternalMutex);
            pthread_mutex_destroy(&m_oFakeHandoffMutex);
        }
    }
    if (iResult != 0)
    {
        ZEM_INFO(0, "RTSPAudioServerComponent: Error occured (errno: %s)", strerror(iResult));
        m_oFakeHandoffMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
        m_oFifoExternalMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
        return OMX_ErrorUndefined;
    }
    return GStreamerServerComponent::Init();
}

OMX_ERRORTYPE RTSPAudioServerComponent::Deinit()
{
    // A stream torn down without a stop lets go of its thread all the same.
    KillFakeHandoffThread();
    pthread_cond_destroy(&m_oFakeHandoffCondition);
    pthread_mutex_destroy(&m_oFakeHandoffMutex);
    pthread_mutex_destroy(&m_oFifoExternalMutex);
    m_oFakeHandoffMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
    m_oFifoExternalMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
    return GStreamerServerComponent::Deinit();
}

void RTSPAudioServerComponent::SetAudioParams(MUINT32 uiSampleRate, MUINT32 uiOutputBufferSize)
{
    m_uiSampleRate = uiSampleRate;
    m_uiOutputBufferSize = uiOutputBufferSize;
}

bool RTSPAudioServerComponent::FormatAudioSpecificConfig(MUINT32 uiSampleRate, MUINT32 uiChannels, char* szText,
                                                         size_t uiTextSize)
{
    // Object type (5 bits), sampling-frequency index (4 bits; 15 is followed by the rate in 24
    // bits), channel configuration (4 bits), then frame length 1024, no core coder and no
    // extension (3 bits of 0).
    unsigned uiRateIndex = local_uiExplicitRateIndex;
    for (unsigned i = 0; i < sizeof(local_auiSampleRates) / sizeof(local_auiSampleRates[0]); ++i)
        if (local_auiSampleRates[i] == uiSampleRate)
            uiRateIndex = i;
    guint64 uiBits = local_uiObjectTypeLc;
    unsigned uiBitCount = 5;
    uiBits = (uiBits << 4) | uiRateIndex;
    uiBitCount += 4;
    if (uiRateIndex == local_uiExplicitRateIndex)
    {
        uiBits = (uiBits << 24) | (uiSampleRate & 0xFFFFFF);
        uiBitCount += 24;
    }
    uiBits = (uiBits << 4) | (uiChannels & 0xF);
    uiBits <<= 3;
    uiBitCount += 7;
    const unsigned uiBytes = (uiBitCount + 7) / 8;
    uiBits <<= uiBytes * 8 - uiBitCount;
    if (uiTextSize < uiBytes * 2 + 1)
        return false;
    for (unsigned i = 0; i < uiBytes; ++i)
        snprintf(szText + 2 * i, 3, "%02x", static_cast<unsigned>((uiBits >> (8 * (uiBytes - 1 - i))) & 0xFF));
    return true;
}

guint RTSPAudioServerComponent::GetAdtsHeaderSize(const guint8* pbyData, guint uiSize)
{
    // Sync word 0xFFF and layer 0; the header is followed by a CRC when protection is not absent.
    if (uiSize < local_uiAdtsHeaderSize || pbyData[0] != 0xFF || (pbyData[1] & 0xF6) != 0xF0)
        return 0;
    const guint uiHeader = (pbyData[1] & 0x01) != 0 ? local_uiAdtsHeaderSize : local_uiAdtsHeaderSizeWithCrc;
    const guint uiFrameLength = (static_cast<guint>(pbyData[3] & 0x03) << 11) | (static_cast<guint>(pbyData[4]) << 3) |
                                (static_cast<guint>(pbyData[5]) >> 5);
    return uiFrameLength >= uiHeader && uiFrameLength <= uiSize ? uiHeader : 0;
}

OMX_ERRORTYPE RTSPAudioServerComponent::SetParameters()
{
    char szConfig[16];
    ZEM_INFO(2, "RTSPAudioServerComponent");
    const CPort* poRemotePort = m_oInput.GetRemotePort();
    const MUINT32 uiBufferSize = poRemotePort ? poRemotePort->GetPortBufferInfo().uiBufferSize : 0;
    ZEM_INFO(2, "Buffer size: %d", uiBufferSize);
    if (uiBufferSize == 0)
    {
        ZEM_INFO(0, "Error: no remote input port");
        return OMX_ErrorUndefined;
    }
    FormatAudioSpecificConfig(m_uiSampleRate, s_uiChannels, szConfig, sizeof(szConfig));
    delete[] m_szLaunchCmd;
    m_szLaunchCmd = nullptr;
    const int iLength = snprintf(nullptr, 0, local_szLaunchFormat, m_szSourceElementName, static_cast<int>(uiBufferSize),
                                 s_uiChannels, static_cast<int>(m_uiSampleRate), szConfig);
    m_szLaunchCmd = new (std::nothrow) char[iLength + 1];
    if (m_szLaunchCmd == nullptr)
        return OMX_ErrorInsufficientResources;
    snprintf(m_szLaunchCmd, iLength + 1, local_szLaunchFormat, m_szSourceElementName, static_cast<int>(uiBufferSize),
             s_uiChannels, static_cast<int>(m_uiSampleRate), szConfig);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE RTSPAudioServerComponent::PipelineCreated(GstElement* poPipeline)
{
    GStreamerServerComponent::PipelineCreated(poPipeline);
    if (poPipeline == nullptr)
        return OMX_ErrorNone;
    if (!GST_IS_PIPELINE(poPipeline))
    {
        ZEM_INFO(0, "Error, argument is not a GstPipeline *");
        return OMX_ErrorNone;
    }

    // The new pipeline's stream starts with its first frame.
    m_bNewStream = true;
    ConnectSourceHandoff(poPipeline, G_CALLBACK(CallbackHandoff), "Audio Handoff connected");
    return OMX_ErrorNone;
}

void RTSPAudioServerComponent::CallbackHandoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* poPad,
                                               RTSPAudioServerComponent* poInstance)
{
    const CHandoffScope oScope(*poInstance);
    poInstance->Handoff(poFakesrc, poGstBuffer, poPad);
}

void RTSPAudioServerComponent::StampFrame(GstElement* poFakesrc, GstState eState, GstBuffer* poGstBuffer)
{
    // A stream's frames follow each other by their length in samples from its start. A new
    // pipeline's stream starts at its first frame, and after a gap in the audio the stream starts
    // again: there, at the pipeline's running time, which only a playing pipeline has (before,
    // the stream starts at 0). Times are rounded up, so that every frame starts on its sample at
    // the stream's clock rate.
    GstClockTime uiNow = GST_CLOCK_TIME_NONE;
    GstClock* poClock = eState == GST_STATE_PLAYING ? gst_element_get_clock(poFakesrc) : nullptr;
    if (poClock != nullptr)
    {
        const GstClockTime uiClockTime = gst_clock_get_time(poClock);
        const GstClockTime uiBaseTime = gst_element_get_base_time(poFakesrc);
        if (uiClockTime >= uiBaseTime)
            uiNow = uiClockTime - uiBaseTime;
        gst_object_unref(poClock);
    }
    const guint64 uiRate = m_uiSampleRate;
    GstClockTime uiStart = m_uiStreamStart;
    guint64 uiSamples = m_uiStreamSamples;
    GstClockTime uiTime = uiStart + gst_util_uint64_scale_ceil(uiSamples, GST_SECOND, uiRate);
    if (m_bNewStream.exchange(false) || (uiNow != GST_CLOCK_TIME_NONE && uiTime + local_uiMaxLag < uiNow))
    {
        uiStart = uiNow != GST_CLOCK_TIME_NONE ? uiNow : 0;
        uiSamples = 0;
        uiTime = uiStart;
    }
    uiSamples += local_uiFrameSamples;
    m_uiStreamStart = uiStart;
    m_uiStreamSamples = uiSamples;
    GST_BUFFER_PTS(poGstBuffer) = uiTime;
    GST_BUFFER_DTS(poGstBuffer) = uiTime;
    GST_BUFFER_DURATION(poGstBuffer) = uiStart + gst_util_uint64_scale_ceil(uiSamples, GST_SECOND, uiRate) - uiTime;
}

OMX_ERRORTYPE RTSPAudioServerComponent::Handoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* /*poPad*/)
{
    ZEM_INFO(9, "RTSPAudioServerComponent");
    if (!m_bBufferProcessing)
    {
        ZEM_INFO(2, "RTSPAudioServerComponent: buffer processing stopped");
        return OMX_ErrorNone;
    }

    GstState eState = GST_STATE_NULL;
    gst_element_get_state(poFakesrc, &eState, nullptr, 0);
    ZEM_INFO(4, "::%s", local_StateName(eState));

    OMX_BUFFERHEADERTYPE* poOmxBuffer = TakeHandoffBuffer();
    bool bDelivered = false;
    if (poOmxBuffer != nullptr && !IsFifoDisconnected())
    {
        if (eState != GST_STATE_PLAYING)
            ZEM_INFO(2, "eState != GST_STATE_PLAYING");
        // The stream carries raw frames: an ADTS header in front of the frame stays out.
        const guint8* pbyFrame = poOmxBuffer->pBuffer;
        guint uiSize = poOmxBuffer->nFilledLen;
        const guint uiHeader = GetAdtsHeaderSize(pbyFrame, uiSize);
        pbyFrame += uiHeader;
        uiSize -= uiHeader;
        GstMapInfo oMap;
        if (uiSize > 0 && gst_buffer_map(poGstBuffer, &oMap, GST_MAP_WRITE))
        {
            // sizemax is the encoder's buffer size: a frame always fits.
            const gsize uiCopy = uiSize <= oMap.size ? uiSize : oMap.size;
            memcpy(oMap.data, pbyFrame, uiCopy);
            gst_buffer_unmap(poGstBuffer, &oMap);
            gst_buffer_set_size(poGstBuffer, static_cast<gssize>(uiCopy));
            StampFrame(poFakesrc, eState, poGstBuffer);
            bDelivered = true;
        }
    }

    // Nothing to deliver: an empty buffer goes downstream, as a gap that never reaches the
    // payloader.
    if (!bDelivered)
    {
        gst_buffer_set_size(poGstBuffer, 0);
        GST_BUFFER_FLAG_SET(poGstBuffer, GST_BUFFER_FLAG_GAP);
    }

    if (poOmxBuffer != nullptr)
        m_oInput.EmptyBufferDone(poOmxBuffer);
    return OMX_ErrorNone;
}

// ---- Drain thread ---------------------------------------------------------------------------

OMX_ERRORTYPE RTSPAudioServerComponent::StartBufferProcessing()
{
    // A second start while the thread runs keeps the one thread.
    if (!m_bFakeHandoffThreadStarted)
    {
        m_bFakeHandoffThreadDone = false;
        const int iResult = pthread_create(&m_hFakeHandoffThread, nullptr, FakeHandoffThread, this);
        if (iResult != 0)
        {
            ZEM_INFO(0, "Error creating HandoffCallingThread: %s", strerror(iResult));
            return OMX_ErrorUndefined;
        }
        m_bFakeHandoffThreadStarted = true;
    }
    return GStreamerServerComponent::StartBufferProcessing();
}

OMX_ERRORTYPE RTSPAudioServerComponent::StopBufferProcessing()
{
    KillFakeHandoffThread();
    return GStreamerServerComponent::StopBufferProcessing();
}

void RTSPAudioServerComponent::KillFakeHandoffThread()
{
    if (!m_bFakeHandoffThreadStarted)
        return;
    ZEM_INFO(2, "Killing FakeHandoff thread");
    pthread_mutex_lock(&m_oFakeHandoffMutex);
    m_bKillFakeHandoffThread = true;
    pthread_cond_signal(&m_oFakeHandoffCondition);
    pthread_mutex_unlock(&m_oFakeHandoffMutex);
    // The FIFO's waiters are woken until the thread has left: it may have decided to wait just
    // before the flag was set, and a handoff waiting on the same FIFO may take a wake-up meant
    // for it.
    while (!m_bFakeHandoffThreadDone)
    {
        m_oFifoBuffer.UnBlockWaitFifo();
        if (!m_bFakeHandoffThreadDone)
            usleep(local_uiReleaseRetryUsec);
    }
    pthread_join(m_hFakeHandoffThread, nullptr);
    ZEM_INFO(2, "FakeHandoff thread stopped");
    m_bFakeHandoffThreadStarted = false;
    m_bKillFakeHandoffThread = false;
}

void* RTSPAudioServerComponent::FakeHandoffThread(void* pvInst)
{
    static_cast<RTSPAudioServerComponent*>(pvInst)->FakeHandoff();
    return nullptr;
}

void RTSPAudioServerComponent::FakeHandoff()
{
    for (;;)
    {
        OMX_BUFFERHEADERTYPE* poBufferHeader = nullptr;
        pthread_mutex_lock(&m_oFakeHandoffMutex);
        if (m_bKillFakeHandoffThread)
        {
            pthread_mutex_unlock(&m_oFakeHandoffMutex);
            break;
        }
        // The bridge keeps only a pipeline, never another element, so non-null is a pipeline;
        // the pointer is only compared, never followed.
        if (m_poPipeline.load() == nullptr)
        {
            if (m_oFifoBuffer.IsEmpty())
            {
                pthread_mutex_lock(&m_oFifoExternalMutex);
                pthread_mutex_unlock(&m_oFakeHandoffMutex);
                // A stop that came after the flag was read above is seen here, under the FIFO's
                // mutex, or it finds this thread counted as a waiter and wakes it.
                if (!m_bKillFakeHandoffThread)
                    m_oFifoBuffer.WaitNotEmpty(local_uiWaitForever);
                pthread_mutex_unlock(&m_oFifoExternalMutex);
                pthread_mutex_lock(&m_oFakeHandoffMutex);
            }
            if (!m_oFifoBuffer.IsEmpty())
                m_oFifoBuffer.Read(&poBufferHeader);
        }
        else if (!m_bKillFakeHandoffThread)
        {
            // The handoffs consume the FIFO meanwhile.
            timespec oUntil;
            clock_gettime(CLOCK_MONOTONIC, &oUntil);
            oUntil.tv_nsec += local_iPipelinePauseNs;
            if (oUntil.tv_nsec >= local_iNsPerSecond)
            {
                oUntil.tv_sec += 1;
                oUntil.tv_nsec -= local_iNsPerSecond;
            }
            pthread_cond_timedwait(&m_oFakeHandoffCondition, &m_oFakeHandoffMutex, &oUntil);
        }
        pthread_mutex_unlock(&m_oFakeHandoffMutex);
        // The encoded audio is discarded: the buffer goes straight back to the encoder.
        if (poBufferHeader != nullptr)
            m_oInput.EmptyBufferDone(poBufferHeader);
    }
    m_bFakeHandoffThreadDone = true;
}
