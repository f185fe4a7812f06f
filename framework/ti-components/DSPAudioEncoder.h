// CDSPAudioEncoder: the wrapper of the platform's AAC encoder, "OMX.TI.DSP.AUDENC".
//
// It sits between the ALSA capture, which provides its input buffers and fills them with
// interleaved PCM (port 0), and the RTSP audio stream, which takes its AAC output (port 1). It
// configures the two ports for PCM in and AAC-LC out, chooses the rate, channels and bit rate,
// and provides its output buffers itself, of the size the component reports; everything else
// (states, buffer exchange, events) is the wrapper's.
#ifndef DSP_AUDIO_ENCODER_H
#define DSP_AUDIO_ENCODER_H

#include <OMX_Audio.h>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "gen-components/AudioTypes.h"

class CDSPAudioEncoder : public COMXComponent
{
public:
    CDSPAudioEncoder();
    ~CDSPAudioEncoder() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    // Configures the component in loaded state; called by Execute.
    OMX_ERRORTYPE SetParameters() override;

    // Takes effect at the next start of the graph.
    OMX_ERRORTYPE SetAudioEncoderParams(ESupportedSampleRates eSampleRate, OMX_U32 uiAACBitrate, OMX_U32 uiNumChannels,
                                        OMX_U32 uiNumberOfInputBuffers, OMX_U32 uiNumberOfOutputBuffers,
                                        OMX_U32 uiInputBufferSize, OMX_U32 uiOutputBufferSize);
    OMX_ERRORTYPE ConnectTo(CComponent* poSink, unsigned long uiInputIndex);

    OMX_U32 GetInputBufferSize() const { return m_uiInputBufferSize; }
    OMX_U32 GetOutputBufferSize() const { return m_uiOutputBufferSize; }

protected:
    // Reads the port's definition, sets its buffer count and coding, writes it back and reads
    // back what the component made of it.
    OMX_ERRORTYPE SetPortDefinition(OMX_U32 uiPort, OMX_U32 uiBufferCount, OMX_AUDIO_CODINGTYPE eEncoding,
                                    OMX_PARAM_PORTDEFINITIONTYPE& roDefinition);

    CSinkPort m_oInputPort;
    CSourcePort m_oOutputPort;
    OMX_U32 m_uiNumberOfInputBuffers;
    OMX_U32 m_uiNumberOfOutputBuffers;
    OMX_U32 m_uiInputBufferSize;
    OMX_U32 m_uiOutputBufferSize;
    OMX_U32 m_uiNumChannels;
    ESupportedSampleRates m_eInputSampleRate;
    OMX_U32 m_uiAACBitrate;
};

#endif // DSP_AUDIO_ENCODER_H
