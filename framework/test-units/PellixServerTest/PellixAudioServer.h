// The audio record: the optional audio branch, ALSA capture -> AAC encoder -> RTSP audio stream.
#ifndef PELLIX_AUDIO_SERVER_H
#define PELLIX_AUDIO_SERVER_H

#include "gen-components/ALSAAudioCapture.h"
#include "gst-components/RTSPAudioServerComponent.h"
#include "ti-components/DSPAudioEncoder.h"

typedef struct tagPellixAudioServer
{
    tagPellixAudioServer() = default;
    tagPellixAudioServer(const tagPellixAudioServer&) = delete;
    tagPellixAudioServer& operator=(const tagPellixAudioServer&) = delete;

    RTSPAudioServerComponent m_oRTSPAudioServerComponent;
    CALSAAudioCapture m_oALSAAudioCapture;
    CDSPAudioEncoder m_oDSPAudioEncoder;
} PellixAudioServer;

#endif // PELLIX_AUDIO_SERVER_H
