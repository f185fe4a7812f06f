// RTSPAudioServerComponent: the AAC stream of the RTSP server.
//
// Fed by the AAC encoder's output port, it contributes the audio launch fragment (a fakesrc that
// emits handoffs, the caps of raw AAC-LC frames with their AudioSpecificConfig, rtpmp4apay) and,
// in each handoff, copies one encoded frame into the GStreamer buffer, without the ADTS header the
// encoder puts in front of it, stamped with its time. Unlike video, audio keeps flowing while no
// client is connected: a drain thread hands every encoded buffer straight back to the encoder
// while no media pipeline exists, so that the encoder and the capture never run out of buffers.
//
// Locks (see README.md): m_oFakeHandoffMutex guards the drain thread's loop and its stop flag;
// m_oFifoExternalMutex is the FIFO's mutex, held by whoever waits on the FIFO. The drain thread
// takes the FIFO's mutex under m_oFakeHandoffMutex before it waits and releases it before it
// takes m_oFakeHandoffMutex again, as the handoffs do with the bridge's unblock mutex: the FIFO's
// mutex is only ever the inner one. No lock is held while a buffer goes back to the encoder.
#ifndef RTSP_AUDIO_SERVER_COMPONENT_H
#define RTSP_AUDIO_SERVER_COMPONENT_H

#include <gst/gst.h>
#include <pthread.h>

#include <atomic>

#include "gst-components/GStreamerServerComponent.h"

class RTSPAudioServerComponent : public GStreamerServerComponent
{
public:
    // The channel count the stream's caps declare.
    static constexpr MUINT32 s_uiChannels = 2;

    RTSPAudioServerComponent();
    ~RTSPAudioServerComponent() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    // Builds the launch fragment from the encoder's buffer size and the sample rate.
    OMX_ERRORTYPE SetParameters() override;
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override;
    virtual OMX_ERRORTYPE Handoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* poPad);

    // Before SetParameters.
    void SetAudioParams(MUINT32 uiSampleRate, MUINT32 uiOutputBufferSize);
    // Stops and joins the drain thread if it runs.
    void KillFakeHandoffThread();

    static void* FakeHandoffThread(void* pvInst);
    static void CallbackHandoff(GstElement* poFakesrc, GstBuffer* poGstBuffer, GstPad* poPad,
                                RTSPAudioServerComponent* poInstance);

    // The AudioSpecificConfig of an AAC-LC stream, as the hexadecimal text of the caps'
    // codec_data; false when szText (of uiTextSize characters) cannot hold it.
    static bool FormatAudioSpecificConfig(MUINT32 uiSampleRate, MUINT32 uiChannels, char* szText, size_t uiTextSize);
    // Bytes of the ADTS header at the start of an AAC frame, 0 when it has none.
    static guint GetAdtsHeaderSize(const guint8* pbyData, guint uiSize);

protected:
    // The drain thread's loop.
    void FakeHandoff();

    MUINT32 m_uiSampleRate;
    MUINT32 m_uiOutputBufferSize;
    pthread_t m_hFakeHandoffThread;
    pthread_mutex_t m_oFakeHandoffMutex;
    pthread_mutex_t m_oFifoExternalMutex;
    MBOOL32 m_bFakeHandoffThreadStarted;
    // Written under m_oFakeHandoffMutex, read by the drain thread.
    std::atomic<MBOOL32> m_bKillFakeHandoffThread;

private:
    // Stamps the buffer with the time of the frame it carries.
    void StampFrame(GstElement* poFakesrc, GstState eState, GstBuffer* poGstBuffer);

    // Wakes the drain thread out of its pause while a pipeline exists.
    pthread_cond_t m_oFakeHandoffCondition;
    // Set by the drain thread as it leaves.
    std::atomic<bool> m_bFakeHandoffThreadDone;
    // Set by each new pipeline: its first frame starts a stream.
    std::atomic<bool> m_bNewStream;
    // The handoffs' own (of one pipeline after the other, on their streaming threads): the
    // running time at which the stream started, and the samples of the frames it has had since.
    std::atomic<GstClockTime> m_uiStreamStart;
    std::atomic<guint64> m_uiStreamSamples;
};

#endif // RTSP_AUDIO_SERVER_COMPONENT_H
