// RTSPVideoServerComponent: the H.264 stream of the RTSP server.
//
// Fed by the H.264 encoder's output port, it contributes the video launch fragment (a fakesrc
// that emits handoffs, h264parse and rtph264pay) and, in each handoff, copies one access unit
// into the GStreamer buffer. After each new pipeline it drops everything until a key frame (an
// IDR slice or an I slice), keeps the sequence and picture parameter sets of the stream and puts
// them in front of the frames it delivers while the pipeline is not playing yet, counts what it
// delivers, and can copy the delivered byte stream into a file. A viewer joining a media that
// already plays gets what the others get from then on: so that it need not wait for the next
// key frame of the stream's pattern, the encoder codes a key frame as the next access unit after
// each viewer's start, and the frames still coded before it are dropped (for every viewer: one
// frame, as a rule), so that the new viewer's first frame is that key frame.
#ifndef RTSP_VIDEO_SERVER_COMPONENT_H
#define RTSP_VIDEO_SERVER_COMPONENT_H

#include <gst/gst.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "gst-components/CMutexLockUnlock.h"
#include "gst-components/GStreamerServerComponent.h"

// One byte of the stream (the same type wherever it is declared).
typedef uint8_t MUINT8;

class RTSPVideoServerComponent : public GStreamerServerComponent
{
public:
    RTSPVideoServerComponent();
    ~RTSPVideoServerComponent() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE SetParameters() override;
    OMX_ERRORTYPE PipelineCreated(GstElement* poPipeline) override;
    void ViewerJoined() override;
    // Passes a request for a key frame on to the encoder, from within its delivery (where it is
    // running and cannot be torn down), then queues the access unit.
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    virtual OMX_ERRORTYPE Handoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* pad);

    static void CallbackHandoff(GstElement* fakesrc, GstBuffer* poGstBuffer, GstPad* pad,
                                RTSPVideoServerComponent* poInstance);

    // Index of the first byte of the first 00 00 01 in data, or size when there is none.
    static guint GetNextStartCode(const guint8* data, guint size);

    // Copy of every delivered GStreamer buffer, appended to szFileName (a raw H.264 byte stream).
    bool CreateOutFile(const char* szFileName);
    void CloseOutFile();

    void GetStatistics(MUINT64& ruiElapsedTime, MUINT64& ruiNbBitsTotal, MUINT64& ruiNbFramesTotal,
                       MUINT64& ruiNbBitsLastSec, MUINT64& ruiNbFramesLastSec);

    // Room for the stored parameter sets.
    static constexpr MUINT32 s_uiParamSetCapacity = 80;

private:
    // Appends to m_abyParamSet every SPS and PPS unit of data, start code included, while it fits.
    void CollectParamSets(const guint8* pbyData, guint uiSize);
    // Counts a delivery of uiSize bytes; in any state but playing the counts start afresh.
    void UpdateStatistics(GstState eState, MUINT64 uiSize);

    guint8 m_abyParamSet[s_uiParamSetCapacity];
    std::atomic<MUINT32> m_uiParamSetSize;
    FILE* m_poOutFile;
    // Set on the RTSP library's thread at each new pipeline, read and cleared by the handoff.
    std::atomic<bool> m_bSkipFrame;
    // Set on the RTSP library's thread when a viewer starts, taken by the next delivery.
    std::atomic<bool> m_bKeyFrameWanted;
    // Set by the delivery whose key-frame request the encoder took, before that delivery is
    // queued; taken by the handoff of that access unit at the latest, which closes the gate.
    std::atomic<bool> m_bKeyFrameComing;
    MUINT64 m_uiStartTime;
    MUINT64 m_uiCurSecTime;
    MUINT64 m_uiNbBytesTotal;
    MUINT64 m_uiNbFramesTotal;
    MUINT64 m_uiNbBytesCurSec;
    MUINT64 m_uiNbFramesCurSec;
    MUINT64 m_uiNbBytesLastSec;
    MUINT64 m_uiNbFramesLastSec;
    // Recursive. Guards the eight statistics and the output file.
    pthread_mutex_t m_oStatisticMutex;
};

// Slice type (H.264 slice_type modulo 5: 0 P, 1 B, 2 I, 3 SP, 4 SI) of a non-IDR slice whose first
// byte after the NAL header is uiData, for a slice that starts the picture.
MUINT8 GetFrameType(MUINT8 uiData);

#endif // RTSP_VIDEO_SERVER_COMPONENT_H
