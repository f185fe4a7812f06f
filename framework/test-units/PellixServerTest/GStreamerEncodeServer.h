// The server record: every component of the video graph, held by value so that one allocation
// holds the whole graph, and the optional audio record.
#ifndef GSTREAMER_ENCODE_SERVER_H
#define GSTREAMER_ENCODE_SERVER_H

#include "base-components/CDefaultSource.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPVideoServerComponent.h"
#include "test-units/PellixServerTest/PellixAudioServer.h"
#include "ti-components/CaptureVFCC.h"
#include "ti-components/DEIMDualOutputVFPC.h"
#include "ti-components/DisplayVFDC.h"
#include "ti-components/EncoderVIDENC.h"

typedef struct tagGStreamerEncodeServer
{
    tagGStreamerEncodeServer() : m_poAudio(nullptr), m_bCapture(false) {}
    tagGStreamerEncodeServer(const tagGStreamerEncodeServer&) = delete;
    tagGStreamerEncodeServer& operator=(const tagGStreamerEncodeServer&) = delete;

    GStreamerRTSPServer m_oRTSPServer;
    RTSPVideoServerComponent m_oRTSPVideoServerComponent;
    CDefaultSource m_oDefaultSource;
    CCaptureVFCC m_oCapture;
    CDEIMDualOutput m_oDei;
    CDisplayVFDC m_oDisplay;
    CVideoEncoder m_oEncoder;
    PellixAudioServer* m_poAudio;  // owned; null while audio is off
    bool m_bCapture;               // the capture feeds the graph; else the default source does
} GStreamerEncodeServer;

#endif // GSTREAMER_ENCODE_SERVER_H
