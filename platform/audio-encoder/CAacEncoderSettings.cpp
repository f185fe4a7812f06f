#include "CAacEncoderSettings.h"

#include "ti814x-omx.h"

namespace
{
const OMX_U32 local_anRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000,
                                 7350};
const OMX_U32 local_nBitsPerFrameAndChannel = 6144;
const OMX_U32 local_nMinBitRate = 8000;

bool local_ChannelsSupported(OMX_U32 nChannels)
{
    return nChannels >= 1 && nChannels <= CAacEncoderSettings::s_uiMaxChannels;
}
} // namespace

OMX_AUDIO_PARAM_PCMMODETYPE CAacEncoderSettings::DefaultPcm()
{
    OMX_AUDIO_PARAM_PCMMODETYPE oPcm;
    OmxInitStructure(oPcm, s_nInputPort);
    oPcm.nChannels = 2;
    oPcm.eNumData = OMX_NumericalDataSigned;
    oPcm.eEndian = OMX_EndianLittle;
    oPcm.bInterleaved = OMX_TRUE;
    oPcm.nBitPerSample = 16;
    oPcm.nSamplingRate = 48000;
    oPcm.ePCMMode = OMX_AUDIO_PCMModeLinear;
    oPcm.eChannelMapping[0] = OMX_AUDIO_ChannelLF;
    oPcm.eChannelMapping[1] = OMX_AUDIO_ChannelRF;
    return oPcm;
}

OMX_AUDIO_PARAM_AACPROFILETYPE CAacEncoderSettings::DefaultAac()
{
    OMX_AUDIO_PARAM_AACPROFILETYPE oAac;
    OmxInitStructure(oAac, s_nOutputPort);
    oAac.nChannels = 2;
    oAac.nSampleRate = 48000;
    oAac.nBitRate = 128000;
    oAac.nAudioBandWidth = 0;
    oAac.nFrameLength = s_uiFrameSamples;
    oAac.nAACtools = OMX_AUDIO_AACToolAll;
    oAac.nAACERtools = OMX_AUDIO_AACERNone;
    oAac.eAACProfile = OMX_AUDIO_AACObjectLC;
    oAac.eAACStreamFormat = OMX_AUDIO_AACStreamFormatMP4ADTS;
    oAac.eChannelMode = OMX_AUDIO_ChannelModeStereo;
    return oAac;
}

int CAacEncoderSettings::SampleRateIndex(OMX_U32 nRate)
{
    for (unsigned i = 0; i < sizeof(local_anRates) / sizeof(local_anRates[0]); ++i)
        if (local_anRates[i] == nRate)
            return static_cast<int>(i);
    return -1;
}

OMX_ERRORTYPE CAacEncoderSettings::CheckPcm(const OMX_AUDIO_PARAM_PCMMODETYPE& roPcm)
{
    if (!local_ChannelsSupported(roPcm.nChannels) || SampleRateIndex(roPcm.nSamplingRate) < 0 ||
        roPcm.eNumData != OMX_NumericalDataSigned || roPcm.eEndian != OMX_EndianLittle ||
        roPcm.bInterleaved != OMX_TRUE || roPcm.nBitPerSample != 16 || roPcm.ePCMMode != OMX_AUDIO_PCMModeLinear)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CAacEncoderSettings::CheckAac(const OMX_AUDIO_PARAM_AACPROFILETYPE& roAac)
{
    if (!local_ChannelsSupported(roAac.nChannels) || SampleRateIndex(roAac.nSampleRate) < 0 ||
        roAac.eAACProfile != OMX_AUDIO_AACObjectLC ||
        (roAac.nFrameLength != 0 && roAac.nFrameLength != s_uiFrameSamples))
        return OMX_ErrorBadParameter;
    if (roAac.eAACStreamFormat != OMX_AUDIO_AACStreamFormatMP4ADTS &&
        roAac.eAACStreamFormat != OMX_AUDIO_AACStreamFormatMP2ADTS &&
        roAac.eAACStreamFormat != OMX_AUDIO_AACStreamFormatRAW)
        return OMX_ErrorBadParameter;
    // What a frame can carry at most, and a floor below which AAC-LC is of no use.
    const OMX_U32 nMaxBitRate = local_nBitsPerFrameAndChannel * roAac.nSampleRate / s_uiFrameSamples * roAac.nChannels;
    if (roAac.nBitRate != 0 && (roAac.nBitRate < local_nMinBitRate || roAac.nBitRate > nMaxBitRate))
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

void CAacEncoderSettings::WriteAdtsHeader(unsigned char* pbyHeader, bool bMpeg2, int iRateIndex,
                                          unsigned uiChannels, unsigned uiPayload)
{
    // Sync word, MPEG version, layer 0, no CRC; profile (object type - 1), rate index, channel
    // configuration; frame length with the header; buffer fullness 0x7FF (variable rate); one
    // raw data block.
    const unsigned uiProfile = OMX_AUDIO_AACObjectLC - 1;
    const unsigned uiLength = uiPayload + s_uiAdtsHeaderSize;
    pbyHeader[0] = 0xFF;
    pbyHeader[1] = static_cast<unsigned char>(0xF1 | (bMpeg2 ? 0x08 : 0x00));
    pbyHeader[2] = static_cast<unsigned char>((uiProfile << 6) | (static_cast<unsigned>(iRateIndex) << 2) |
                                              ((uiChannels >> 2) & 0x01));
    pbyHeader[3] = static_cast<unsigned char>(((uiChannels & 0x03) << 6) | ((uiLength >> 11) & 0x03));
    pbyHeader[4] = static_cast<unsigned char>((uiLength >> 3) & 0xFF);
    pbyHeader[5] = static_cast<unsigned char>(((uiLength & 0x07) << 5) | 0x1F);
    pbyHeader[6] = 0xFC;
}
