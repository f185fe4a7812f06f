// A stand-in for the H.264 encoder's side of a link, for the tests of the stream components: a
// software component with one output port whose buffer headers and memory it owns, as the encoder
// wrapper's port does.
//
//   CH264TestSource oSource;          // 6 headers of 256 kB
//   oSource.Init(); oSource.ConnectTo(0, &oStream, 0); oSource.Start(); ... oSource.Stop(); oSource.Deinit();
//
// Started, it executes and starts the stream downstream (which builds its launch fragment) and
// hands it, through the output port, first a buffer with the SPS and the PPS alone, then one
// access unit per buffer, 60 a second: pictures of 16 x 16 grey, each an IDR (two in turn,
// idr_pic_id 0 and 1). A picture for which no header is free is skipped, as the encoder does.
// Headers come back through FillThisBuffer (a handoff) or EmptyBufferDone (a stop; the audio
// stream); Returned() lists them in order. Never started, it is an upstream port of headers for a
// stream's unit tests (Header(i)).
#ifndef PELLIX_TEST_H264_TEST_SOURCE_H
#define PELLIX_TEST_H264_TEST_SOURCE_H

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

class CH264TestSource : public CComponent
{
public:
    explicit CH264TestSource(MUINT32 uiBufferSize = 256 * 1024, MUINT32 uiBufferCount = 6);
    ~CH264TestSource() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poHeader) override;

    OMX_BUFFERHEADERTYPE* Header(MUINT32 uiIndex) const { return m_oOutput.GetBufferHeader(uiIndex); }
    std::vector<OMX_BUFFERHEADERTYPE*> Returned();

private:
    // An output port whose headers point into memory of the component.
    struct SOwningPort : public CSourcePort
    {
        void Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory);
    };
    void Produce();

    const MUINT32 m_uiBufferSize;
    SOwningPort m_oOutput;
    std::vector<std::vector<OMX_U8>> m_aabyMemory;
    std::mutex m_oMutex;
    std::deque<OMX_BUFFERHEADERTYPE*> m_apoFree;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoReturned;
    std::atomic<bool> m_bRun{false};
    std::thread m_oThread;
};

#endif // PELLIX_TEST_H264_TEST_SOURCE_H
