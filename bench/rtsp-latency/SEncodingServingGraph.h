// The RTSP side fed by real encoding: CH264EncodingSource -> RTSPVideoServerComponent ->
// GStreamerRTSPServer on a free port of loopback, built and torn down as the control API does
// (the server, the head of the chain, then every Deinit).
//
//   SEncodingServingGraph oGraph(oConfig, oSendHook);
//   if (oGraph.Build("/Video1920x1080@60fps") == OMX_ErrorNone) ... oGraph.Url() ...
#ifndef PELLIX_BENCH_ENCODING_SERVING_GRAPH_H
#define PELLIX_BENCH_ENCODING_SERVING_GRAPH_H

#include <string>

#include "CH264EncodingSource.h"
#include "RtspClients.h"
#include "gst-components/GStreamerRTSPServer.h"
#include "gst-components/RTSPVideoServerComponent.h"

struct SEncodingServingGraph
{
    SEncodingServingGraph(const CH264EncodingSource::SConfig& roConfig, CH264EncodingSource::TSendHook oSendHook)
        : oSource(roConfig, std::move(oSendHook))
    {
    }
    ~SEncodingServingGraph() { Teardown(); }

    OMX_ERRORTYPE Build(const char* szPath)
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        m_oPath = szPath;
        m_bBuilt = true;
        if ((eError = oServer.Init()) != OMX_ErrorNone || (eError = oVideo.Init()) != OMX_ErrorNone ||
            (eError = oSource.Init()) != OMX_ErrorNone || (eError = oSource.ConnectTo(0, &oVideo, 0)) != OMX_ErrorNone ||
            (eError = oSource.Start()) != OMX_ErrorNone || (eError = oServer.AddStreamingComponent(&oVideo)) != OMX_ErrorNone ||
            (eError = oServer.SetPortInfo(szPath, uiPort)) != OMX_ErrorNone)
            return eError;
        return oServer.StartServing(false);
    }
    void Teardown()
    {
        if (!m_bBuilt)
            return;
        m_bBuilt = false;
        oServer.StopServing();
        oSource.Stop();
        oSource.Deinit();
        oVideo.Deinit();
        oServer.Deinit();
    }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(uiPort) + m_oPath; }

    CH264EncodingSource oSource;
    RTSPVideoServerComponent oVideo;
    GStreamerRTSPServer oServer;
    const unsigned uiPort = PickFreePort();

private:
    std::string m_oPath;
    bool m_bBuilt = false;
};

#endif // PELLIX_BENCH_ENCODING_SERVING_GRAPH_H
