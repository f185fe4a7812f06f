// A stand-in for the AAC encoder's input side, for the capture's tests: a software component with
// one input port that provides its buffers when the capture asks it to (memory of its own behind
// headers of its own), records every buffer handed to it and gives it back at once, or holds it
// while told to.
#ifndef CPCM_TEST_SINK_H
#define CPCM_TEST_SINK_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

// An input port that allocates what ProvideBuffer asked for.
class CProvidingSinkPort : public CSinkPort
{
public:
    ~CProvidingSinkPort() override;
    void Allocate();

private:
    std::vector<std::vector<OMX_U8>> m_aoMemory;
};

class CPcmTestSink : public CComponent
{
public:
    CPcmTestSink();
    ~CPcmTestSink() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;

    // While set, buffers stay here; clearing it gives them back.
    void Hold(bool bHold);
    std::string Data();
    unsigned HeldCount();

    std::atomic<unsigned> uiBuffers{0};       // buffers handed in
    std::atomic<unsigned> uiEmptyBuffers{0};  // ... of them empty
    std::atomic<unsigned> uiFullBuffers{0};   // ... of them of the whole buffer size
    std::atomic<unsigned> uiExecutes{0};

private:
    CProvidingSinkPort m_oInput;
    std::mutex m_oMutex;
    std::string m_oData;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoHeld;
    bool m_bHold = false;
};

#endif // CPCM_TEST_SINK_H
