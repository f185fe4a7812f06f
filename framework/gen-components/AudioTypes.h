// The audio choices the control API passes to the ALSA capture and the AAC encoder unchanged.
#ifndef AUDIO_TYPES_H
#define AUDIO_TYPES_H

// Capture and playback rate; the value is the rate in Hz.
enum ESupportedSampleRates
{
    SampleRate_32000Hz = 32000,
    SampleRate_44100Hz = 44100,
    SampleRate_48000Hz = 48000,
};

enum ESupportedNumberChannels
{
    NumChannels_One = 1,
    NumChannels_Two = 2,
};

// The local output that plays the captured audio back, with its PCM and its mixer:
//   AudioOut_Analog    "analog_softvol", mixer "analog_hw", control "analog_volume"
//   AudioOut_HDMI      "hdmi_softvol",   mixer "hdmi_hw",   control "hdmi_volume"
//   AudioOut_Disabled  no local playback
enum EPlaybackOutput
{
    AudioOut_Analog = 0,
    AudioOut_HDMI = 1,
    AudioOut_Disabled = 2,
};

#endif // AUDIO_TYPES_H
