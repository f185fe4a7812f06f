// A benchmark's serving graph: a chain of components that ends in one stream component, served by
// GStreamerRTSPServer on a free port of loopback and built and torn down as the control API does
// (the server's Init before the chain, StopServing before the chain stops, its Deinit last).
//
//   struct SChain { OMX_ERRORTYPE Build(); void Teardown(); RTSPVideoServerComponent oStream; ... };
//   SBenchServingGraph<SChain> oGraph(the chain's constructor arguments);
//   if (oGraph.Build("/Video") == OMX_ErrorNone) ... oGraph.Url() ... oGraph.oChain ...
//
// SChain::Build initialises, connects and starts the chain (its stream first); SChain::Teardown
// stops the head of the chain and deinitialises every component.
#ifndef PELLIX_BENCH_SERVING_GRAPH_H
#define PELLIX_BENCH_SERVING_GRAPH_H

#include <string>
#include <utility>

#include "RtspClients.h"
#include "gst-components/GStreamerRTSPServer.h"

template <typename TChain>
struct SBenchServingGraph
{
    template <typename... TArgs>
    explicit SBenchServingGraph(TArgs&&... aoArgs) : oChain(std::forward<TArgs>(aoArgs)...)
    {
    }
    ~SBenchServingGraph() { Teardown(); }
    SBenchServingGraph(const SBenchServingGraph&) = delete;
    SBenchServingGraph& operator=(const SBenchServingGraph&) = delete;

    OMX_ERRORTYPE Build(const char* szPath)
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        m_oPath = szPath;
        m_bBuilt = true;
        if ((eError = oServer.Init()) != OMX_ErrorNone || (eError = oChain.Build()) != OMX_ErrorNone ||
            (eError = oServer.AddStreamingComponent(&oChain.oStream)) != OMX_ErrorNone ||
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
        oChain.Teardown();
        oServer.Deinit();
    }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(uiPort) + m_oPath; }

    TChain oChain;
    GStreamerRTSPServer oServer;
    const unsigned uiPort = PickFreePort();

private:
    std::string m_oPath;
    bool m_bBuilt = false;
};

#endif // PELLIX_BENCH_SERVING_GRAPH_H
