// "OMX.TI.DSP.AUDENC": the AAC-LC encoder, on libavcodec's native AAC encoder. Input port 0 takes
// interleaved signed 16-bit PCM; output port 1 gives one encoded frame of 1024 samples per
// channel per buffer, behind an ADTS header when the stream format is
// OMX_AUDIO_AACStreamFormatMP4ADTS (or MP2ADTS), as a bare raw frame for
// OMX_AUDIO_AACStreamFormatRAW. Each output buffer carries OMX_BUFFERFLAG_ENDOFFRAME and the time
// of its frame in microseconds from the move to Executing.
//
// Input buffers may hold any number of whole sample frames: their samples are gathered into
// frames of 1024, so a buffer may yield no encoded frame or several; an empty buffer is handed
// straight back. A frame is only coded while an output buffer is free for the frame coded before
// it, so that a consumer that holds the output back holds the input back too. The encoder gives
// its first frame one frame late (its look-ahead). The buffer sizes are fixed and reported in the
// port definitions: one frame of stereo PCM in, the largest AAC frame of two channels with its
// header out.
//
// Settings (Loaded only): the port definitions (the coding of each port is fixed), PCM on port 0
// and AAC on port 1 (see CAacEncoderSettings). The move to Idle is refused with
// OMX_ErrorUnsupportedSetting when the two disagree on rate or channels; the move to Executing
// with OMX_ErrorInsufficientResources when the encoder cannot be opened.
#ifndef CAAC_ENCODER_COMPONENT_H
#define CAAC_ENCODER_COMPONENT_H

#include "CAacSession.h"
#include "CPlatformComponent.h"

class CAacEncoderComponent : public CPlatformComponent
{
public:
    explicit CAacEncoderComponent(const char* szName);
    ~CAacEncoderComponent() override;

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnProcess() override;
    void OnReleaseBuffers(OMX_U32 nPortIndex) override;
    OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;

private:
    bool ReadSettings(OMX_AUDIO_PARAM_PCMMODETYPE& roPcm, OMX_AUDIO_PARAM_AACPROFILETYPE& roAac) const;
    OMX_ERRORTYPE OpenSession();
    // One step of work; false when nothing more can be done until buffers come.
    bool Step();
    // Hands the frame taken out of the encoder to a free output buffer.
    void DeliverPacket();

    // The component thread's own.
    CAacSession m_oSession;
    OMX_BUFFERHEADERTYPE* m_poInput;  // the input buffer being gathered from, or null
    OMX_U32 m_nInputOffset;           // bytes of it already gathered
    bool m_bPacketPending;            // a frame taken out of the encoder waits for an output buffer
    bool m_bMayReceive;               // the encoder may have a frame to give
    bool m_bAdts;
    bool m_bMpeg2;
    int m_iRateIndex;
    unsigned m_uiRate;
    unsigned m_uiChannels;
};

#endif // CAAC_ENCODER_COMPONENT_H
