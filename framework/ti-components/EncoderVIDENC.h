// CVideoEncoder: the H.264 encoder of the video graph. Takes YUV 4:2:0 frames from the
// deinterlacer's secondary output on its input and hands H.264 access units to the RTSP video
// stream on its output. The application describes the stream in one record, EncodingParam; the
// encoder turns it into the platform's port definitions, encoder preset and AVC parameters while
// loaded, and into its dynamic rate-control parameters once idle.
#ifndef ENCODER_VIDENC_H
#define ENCODER_VIDENC_H

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "base-omx.h"

enum EncPreset : MUINT32
{
    EncPre_BetterSpeed = 0,
    EncPre_BetterQuality = 1,
};

// The H.264 stream wanted.
typedef struct tagEncodingParam
{
    MSIZE32 m_oFrameSize;           // picture width and height in pixels
    OmxPixelFormat m_ePixelFormat;  // of the input: OmxPixFmt_YUV420 only
    MUINT32 m_uiFrameRate;          // frames per second
    MUINT32 m_uiTargetBitRate;      // bits per second
    EncPreset m_eEncodingPreset;
    struct tagGop
    {
        MUINT32 m_uiIFrameInterval;  // frames from one I frame to the next; 1: all intra
        MUINT32 m_uiPFrameInterval;  // frames from one reference frame to the next; 1: no B frames
    } m_oGop;
    struct tagRateCtl
    {
        MBOOL32 m_bEnable;  // the quantiser limits below apply
        MUINT32 m_uiQpMinI;
        MUINT32 m_uiQpMaxI;
        MUINT32 m_uiQpMinP;
        MUINT32 m_uiQpMaxP;
        MUINT32 m_uiQpMinB;
        MUINT32 m_uiQpMaxB;
        MBOOL32 m_bSkipFrame;  // frames may be skipped to hold the rate
    } m_oRateCtl;
} EncodingParam;

class CVideoEncoder : public COMXComponent
{
public:
    // Largest picture accepted, both sides included.
    static const MSIZE32 s_oMaxFrameSize;

    CVideoEncoder();
    ~CVideoEncoder() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE SetParameters() override;
    OMX_ERRORTYPE SetParametersIdle() override;
    // The platform's encoder codes its next picture as an IDR picture.
    OMX_ERRORTYPE RequestKeyFrame() override;

    // Validates and keeps the record and the buffer counts of the two ports; talks to no one.
    OMX_ERRORTYPE SetEncoderParams(EncodingParam& roParam, MUINT uiNbBufferIn, MUINT uiNbBufferOut);

    // Links the output to input port uiInputIndex of poSink.
    using CComponent::ConnectTo;
    OMX_ERRORTYPE ConnectTo(CComponent* poSink, OMX_U32 uiInputIndex);

    CSinkPort& GetInputPort() { return m_oInputPort; }
    CSourcePort& GetOutputPort() { return m_oOutputPort; }
    const EncodingParam& GetEncoderParams() const { return m_oParam; }
    MUINT32 GetNumberOfInputBuffer() const { return m_uiNumberOfInputBuffer; }
    MUINT32 GetNumberOfOutputBuffer() const { return m_uiNumberOfOutputBuffer; }

protected:
    CSinkPort m_oInputPort;     // raw frames in, platform port 0
    CSourcePort m_oOutputPort;  // H.264 out, platform port 1
    EncodingParam m_oParam;
    MUINT32 m_uiNumberOfInputBuffer;
    MUINT32 m_uiNumberOfOutputBuffer;
};

#endif // ENCODER_VIDENC_H
