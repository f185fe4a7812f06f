// A stand-in for the H.264 encoder's side of a link, for the tests of the stream components.
//
// A software component with one output port whose buffer headers and memory it owns, as the
// encoder wrapper's port does. It encodes a loop of pictures of a moving pattern with libx264
// when first started (baseline, an IDR every uiKeyInt pictures; no access-unit delimiter, SEI or
// repeated parameter set). Started, it hands downstream through its output port first the SPS and PPS alone, then
// one access unit per buffer, uiFps a second, round the loop; a picture for which no header is
// free is skipped, as the encoder does. Headers come back through FillThisBuffer (a handoff) or
// EmptyBufferDone (a stop; the audio stream); Returned() lists them in order.
//
//   CH264TestSource oSource;                   // 320x240, 60 pictures a second, an IDR every 30
//   oSource.Init(); oSource.ConnectTo(0, &oStream, 0); oSource.Start(); ... oSource.Stop(); oSource.Deinit();
//
// Never started, it is an upstream port of uiBufferCount headers of uiBufferSize bytes for a
// stream's unit tests (Header(i)). Tests that use it link the library and libx264.
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
    struct SConfig
    {
        MUINT32 uiWidth = 320;
        MUINT32 uiHeight = 240;
        MUINT32 uiFps = 60;
        MUINT32 uiKeyInt = 30;
        MUINT32 uiBufferSize = 256 * 1024;
        MUINT32 uiBufferCount = 6;
    };

    CH264TestSource();
    explicit CH264TestSource(const SConfig& roConfig);
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
    class COwningPort : public CSourcePort
    {
    public:
        void Own(SPortBufferInfo& roInfo, std::vector<std::vector<OMX_U8>>& raabyMemory);
    };

    // The loop of pictures, encoded at the first start.
    void Encode();
    void Produce();
    void GiveBack(OMX_BUFFERHEADERTYPE* poHeader);

    SConfig m_oConfig;
    COwningPort m_oOutput;
    std::vector<std::vector<OMX_U8>> m_aabyMemory;
    std::vector<std::vector<OMX_U8>> m_aabyUnits;  // the parameter sets, then one access unit a picture
    std::mutex m_oMutex;
    std::deque<OMX_BUFFERHEADERTYPE*> m_apoFree;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoReturned;
    std::atomic<bool> m_bRun{false};
    std::thread m_oThread;
};

#endif // PELLIX_TEST_H264_TEST_SOURCE_H
