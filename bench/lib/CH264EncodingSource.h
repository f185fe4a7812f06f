// The H.264 encoder's side of a link, for the benchmarks of the stream components: a software
// component with one output port whose buffer headers and memory it owns, as the encoder wrapper's
// port does.
//
//   CH264EncodingSource oSource(oConfig);   // size, rate, bit rate, headers
//   oSource.SetSendHook(...); oSource.Init(); oSource.ConnectTo(0, &oStream, 0); oSource.Start();
//   ... oSource.GetSentCount() ... oSource.Stop(); oSource.Deinit();
//
// Started, it executes and starts the stream downstream and encodes a moving pattern with libx264
// at a steady frame rate, handing each buffer downstream through its output port: first the SPS and
// the PPS alone, then one access unit per buffer, without access-unit delimiters, repeated
// parameter sets or SEI. A picture for which no header is free is not encoded, and counted, as a
// capture without a free buffer does. Headers come back through FillThisBuffer (a handoff) or
// EmptyBufferDone (a stop).
#ifndef PELLIX_BENCH_H264_ENCODING_SOURCE_H
#define PELLIX_BENCH_H264_ENCODING_SOURCE_H

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

class CH264EncodingSource : public CComponent
{
public:
    struct SConfig
    {
        MUINT32 uiWidth;
        MUINT32 uiHeight;
        MUINT32 uiFps;
        MUINT32 uiKeyInt;
        MUINT32 uiBitrateKbps;
        MUINT32 uiBufferSize;
        MUINT32 uiBufferCount;
        const char* szPreset;
    };
    // Called on the encoding thread just before a buffer goes downstream, with its index
    // (0 = the parameter sets) and its header.
    typedef std::function<void(MUINT64, const OMX_BUFFERHEADERTYPE*)> TSendHook;

    CH264EncodingSource(const SConfig& roConfig, TSendHook oSendHook);
    ~CH264EncodingSource() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override;

    MUINT64 GetSentCount() const { return m_uiSent.load(); }
    MUINT64 GetSkippedCount() const { return m_uiSkipped.load(); }

private:
    // An output port whose headers point into memory of the component.
    struct SOwningPort : public CSourcePort
    {
        void Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory);
    };
    void Produce();
    OMX_BUFFERHEADERTYPE* TakeFree();
    void Send(MUINT64 uiIndex, OMX_BUFFERHEADERTYPE* poHeader);

    const SConfig m_oConfig;
    const TSendHook m_oSendHook;
    SOwningPort m_oOutput;
    std::vector<std::vector<OMX_U8>> m_aabyMemory;
    std::mutex m_oMutex;
    std::deque<OMX_BUFFERHEADERTYPE*> m_apoFree;
    std::atomic<bool> m_bRun{false};
    std::atomic<MUINT64> m_uiSent{0};
    std::atomic<MUINT64> m_uiSkipped{0};
    std::thread m_oThread;
};

#endif // PELLIX_BENCH_H264_ENCODING_SOURCE_H
