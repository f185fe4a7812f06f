// The video chain of the RTSP latency benchmark, for SBenchServingGraph: CH264EncodingSource ->
// RTSPVideoServerComponent.
#ifndef PELLIX_BENCH_ENCODING_CHAIN_H
#define PELLIX_BENCH_ENCODING_CHAIN_H

#include "CH264EncodingSource.h"
#include "gst-components/RTSPVideoServerComponent.h"

struct SEncodingChain
{
    SEncodingChain(const CH264EncodingSource::SConfig& roConfig, CH264EncodingSource::TSendHook oSendHook)
        : oSource(roConfig, std::move(oSendHook))
    {
    }
    OMX_ERRORTYPE Build()
    {
        OMX_ERRORTYPE eError = OMX_ErrorNone;
        if ((eError = oStream.Init()) != OMX_ErrorNone || (eError = oSource.Init()) != OMX_ErrorNone ||
            (eError = oSource.ConnectTo(0, &oStream, 0)) != OMX_ErrorNone)
            return eError;
        return oSource.Start();
    }
    void Teardown()
    {
        oSource.Stop();
        oSource.Deinit();
        oStream.Deinit();
    }

    CH264EncodingSource oSource;
    RTSPVideoServerComponent oStream;
};

#endif // PELLIX_BENCH_ENCODING_CHAIN_H
