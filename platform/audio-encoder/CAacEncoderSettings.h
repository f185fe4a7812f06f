// The settings of the AAC encoder component: their defaults and their checks.
//
// PCM input (port 0, OMX_IndexParamAudioPcm): signed 16-bit little-endian interleaved linear PCM,
// 1 or 2 channels, at one of the rates AAC defines. AAC output (port 1, OMX_IndexParamAudioAac):
// AAC-LC, 1024 samples per frame, 1 or 2 channels, one of the rates AAC defines, a bit rate the
// format can carry (0: the codec's default), as an ADTS stream (MPEG-4 or MPEG-2 ADTS) or as raw
// frames. Input and output must agree on rate and channels when the component leaves Loaded.
#ifndef CAAC_ENCODER_SETTINGS_H
#define CAAC_ENCODER_SETTINGS_H

#include <OMX_Audio.h>
#include <OMX_Core.h>

class CAacEncoderSettings
{
public:
    static constexpr OMX_U32 s_nInputPort = 0;
    static constexpr OMX_U32 s_nOutputPort = 1;
    // Samples per channel in one AAC-LC frame.
    static constexpr unsigned s_uiFrameSamples = 1024;
    static constexpr unsigned s_uiMaxChannels = 2;
    // Input buffers: one frame of stereo PCM.
    static constexpr OMX_U32 s_nInputBufferSize = s_uiFrameSamples * s_uiMaxChannels * 2;
    // Output buffers: the largest frame the format allows (6144 bits per channel) and its header.
    static constexpr unsigned s_uiAdtsHeaderSize = 7;
    static constexpr OMX_U32 s_nOutputBufferSize = 6144 / 8 * s_uiMaxChannels + s_uiAdtsHeaderSize;

    static OMX_AUDIO_PARAM_PCMMODETYPE DefaultPcm();
    static OMX_AUDIO_PARAM_AACPROFILETYPE DefaultAac();
    // OMX_ErrorNone, or OMX_ErrorBadParameter for a value the component cannot honour.
    static OMX_ERRORTYPE CheckPcm(const OMX_AUDIO_PARAM_PCMMODETYPE& roPcm);
    static OMX_ERRORTYPE CheckAac(const OMX_AUDIO_PARAM_AACPROFILETYPE& roAac);
    // The sampling-frequency index of the rate in AAC's table, or -1.
    static int SampleRateIndex(OMX_U32 nRate);
    // Writes the 7-byte ADTS header of a frame of uiPayload bytes.
    static void WriteAdtsHeader(unsigned char* pbyHeader, bool bMpeg2, int iRateIndex, unsigned uiChannels,
                                unsigned uiPayload);
};

#endif // CAAC_ENCODER_SETTINGS_H
