// A stand-in for the H.264 encoder's side of the link, for the stream component's tests.
//
// A software component with one output port that owns its buffer headers, as the encoder wrapper
// does. Once started it encodes a moving pattern with libx264 at a steady frame rate and hands each
// buffer downstream through its output port (EmptyThisBuffer into the stream component): first the
// SPS and the PPS alone, then one access unit per buffer, an IDR starting with its slice, without
// access-unit delimiters, repeated parameter sets or SEI. Headers come back through FillThisBuffer
// (after a handoff) or EmptyBufferDone (drained at stop). A frame for which no header is free is
// not encoded, and counted.
#ifndef CH264_TEST_SOURCE_H
#define CH264_TEST_SOURCE_H

#include <pthread.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <condition_variable>
#include <thread>
#include <vector>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

// An output port whose headers and memory are made by the test component itself.
class CProvidingSourcePort : public CSourcePort
{
public:
    ~CProvidingSourcePort() override;
    void Provide(const SPortBufferInfo& roInfo, MUINT32 uiCount);
    void Release();

private:
    std::vector<OMX_U8*> m_apbyMemory;
};

class CH264TestSource : public CComponent
{
public:
    struct SConfig
    {
        MUINT32 uiWidth = 320;
        MUINT32 uiHeight = 240;
        MUINT32 uiFps = 60;
        MUINT32 uiKeyInt = 30;
        MUINT32 uiBitrateKbps = 0;  // 0: constant quality
        MUINT32 uiBufferSize = 256 * 1024;
        MUINT32 uiBufferCount = 6;
        const char* szPreset = "ultrafast";
    };

    explicit CH264TestSource(const SConfig& roConfig);
    ~CH264TestSource() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader) override;

    // Called on the producing thread just before a buffer goes downstream, with its index
    // (0 = the parameter sets) and the header.
    void SetSendHook(std::function<void(MUINT64, const OMX_BUFFERHEADERTYPE*)> oHook) { m_oSendHook = std::move(oHook); }

    MUINT64 GetSentCount() const { return m_uiSent.load(); }
    MUINT64 GetSkippedCount() const { return m_uiSkipped.load(); }
    MUINT64 GetReturnedCount() const { return m_uiReturned.load(); }
    MUINT32 GetFreeCount();
    // SPS and PPS as written into the first buffer, each with its start code.
    std::vector<OMX_U8> GetParameterSets();
    const SConfig& GetConfig() const { return m_oConfig; }

private:
    static void ProducerThread(CH264TestSource* poSource);
    void Produce();
    OMX_BUFFERHEADERTYPE* TakeFree();
    void GiveBack(OMX_BUFFERHEADERTYPE* poBufferHeader);
    void Send(MUINT64 uiIndex, OMX_BUFFERHEADERTYPE* poBufferHeader);

    SConfig m_oConfig;
    CProvidingSourcePort m_oOutput;
    std::mutex m_oFreeMutex;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoFree;
    std::vector<OMX_U8> m_abyParameterSets;
    std::thread m_oThread;
    std::atomic<bool> m_bRun;
    std::atomic<MUINT64> m_uiSent;
    std::atomic<MUINT64> m_uiSkipped;
    std::atomic<MUINT64> m_uiReturned;
    std::function<void(MUINT64, const OMX_BUFFERHEADERTYPE*)> m_oSendHook;
};

#endif // CH264_TEST_SOURCE_H
