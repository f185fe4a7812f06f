// A software consumer for the tests of the components: keeps the time stamp, flags and size of
// every buffer handed to it (and the bytes, with m_bKeepData), and gives each straight back or,
// while holding, keeps it until Hold(false) or the stop. When the upstream component has its input
// port provide the buffers (as the AAC encoder's input does for the ALSA capture), it allocates
// them on Execute and frees them on Loaded.
#ifndef PELLIX_TEST_FRAME_SINK_H
#define PELLIX_TEST_FRAME_SINK_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

class CFrameSink : public CComponent
{
public:
    struct SBuffer
    {
        OMX_TICKS nTimeStamp;
        OMX_U32 nFlags, nFilledLen, nAllocLen;
        size_t uiOffset;  // of its bytes in Data()
    };

    OMX_ERRORTYPE Init() override { return InitPorts(); }
    OMX_ERRORTYPE Deinit() override { return m_oInput.Deinit(); }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiInputPortCount = 1;
        m_poInputPort = &m_oInput;
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE Execute(MBOOL32) override
    {
        ++m_uiExecutes;
        if (m_oInput.IsBufferProvider() && !m_oInput.IsBufferReady())
            m_oInput.Allocate();
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE Pause() override { return OMX_ErrorNone; }
    OMX_ERRORTYPE Loaded(MUINT) override { return m_oInput.IsBufferProvider() ? m_oInput.ReleaseBuffers() : OMX_ErrorNone; }
    OMX_ERRORTYPE StartBufferProcessing() override { return OMX_ErrorNone; }
    // As a platform component on its way to idle: every buffer goes back.
    OMX_ERRORTYPE StopBufferProcessing() override
    {
        Hold(false);
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poHeader) override
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        m_aoBuffers.push_back(
            SBuffer{poHeader->nTimeStamp, poHeader->nFlags, poHeader->nFilledLen, poHeader->nAllocLen, m_oData.size()});
        if (m_bKeepData)
            m_oData.append(reinterpret_cast<const char*>(poHeader->pBuffer + poHeader->nOffset), poHeader->nFilledLen);
        if (m_bHold)
        {
            m_apoHeld.push_back(poHeader);
            return OMX_ErrorNone;
        }
        oLock.unlock();
        return m_oInput.FillThisBuffer(poHeader);
    }
    void Hold(bool bHold)
    {
        std::unique_lock<std::mutex> oLock(m_oMutex);
        m_bHold = bHold;
        std::vector<OMX_BUFFERHEADERTYPE*> apoHeld;
        if (!bHold)
            apoHeld.swap(m_apoHeld);
        oLock.unlock();
        for (OMX_BUFFERHEADERTYPE* poHeader : apoHeld)
            m_oInput.FillThisBuffer(poHeader);
    }
    template <typename TFn>
    auto Locked(TFn fn)
    {
        std::lock_guard<std::mutex> oLock(m_oMutex);
        return fn();
    }
    std::vector<SBuffer> Buffers() { return Locked([this] { return m_aoBuffers; }); }
    size_t Count() { return Buffers().size(); }
    std::string Data() { return Locked([this] { return m_oData; }); }
    size_t Held() { return Locked([this] { return m_apoHeld.size(); }); }
    // Forgets what came so far.
    void Clear() { Locked([this] { m_aoBuffers.clear(); m_oData.clear(); }); }

    bool m_bKeepData = false;
    std::atomic<unsigned> m_uiExecutes{0};

private:
    // An input port that allocates what ProvideBuffer asked for; ReleaseBuffers deletes the headers.
    class CPort : public CSinkPort
    {
    public:
        void Allocate()
        {
            m_aoMemory.assign(m_uiBufferCount, std::vector<OMX_U8>(m_oPortBufferInfo.uiBufferSize));
            for (MUINT32 i = 0; i < m_uiBufferCount; ++i)
            {
                m_apoBufferHeader[i] = new OMX_BUFFERHEADERTYPE();
                m_apoBufferHeader[i]->nSize = sizeof(OMX_BUFFERHEADERTYPE);
                m_apoBufferHeader[i]->pBuffer = m_aoMemory[i].data();
                m_apoBufferHeader[i]->nAllocLen = m_oPortBufferInfo.uiBufferSize;
            }
            m_uiState |= PortState_BufferReady;
        }

    private:
        std::vector<std::vector<OMX_U8>> m_aoMemory;
    };

    CPort m_oInput;
    std::mutex m_oMutex;
    bool m_bHold = false;
    std::vector<SBuffer> m_aoBuffers;
    std::string m_oData;
    std::vector<OMX_BUFFERHEADERTYPE*> m_apoHeld;
};

#endif // PELLIX_TEST_FRAME_SINK_H
