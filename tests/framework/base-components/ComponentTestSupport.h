// Test doubles of the component framework: a port that provides memory without a platform, and a
// software component with one such port on each side that counts the operations reaching it and
// answers with configurable results (counters may be read from any thread).
#ifndef PELLIX_COMPONENT_TEST_SUPPORT_H
#define PELLIX_COMPONENT_TEST_SUPPORT_H

#include <atomic>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

// Adds no data members, so it can stand in a component's port array.
template <class TPort>
class TFakeProvidingPort : public TPort
{
public:
    ~TFakeProvidingPort() override { FakeRelease(); }
    // Makes uiCount ready headers over the given memory, each uiBufferSize bytes apart.
    void FakeProvide(const SPortBufferInfo& roInfo, OMX_U8* pMemory, MUINT32 uiCount)
    {
        FakeRelease();
        this->m_oPortBufferInfo = roInfo;
        this->m_uiBufferCount = uiCount;
        this->m_apoBufferHeader = new OMX_BUFFERHEADERTYPE*[uiCount];
        for (MUINT32 i = 0; i < uiCount; ++i)
        {
            this->m_apoBufferHeader[i] = new OMX_BUFFERHEADERTYPE();
            this->m_apoBufferHeader[i]->pBuffer = pMemory + size_t(i) * roInfo.uiBufferSize;
            this->m_apoBufferHeader[i]->nAllocLen = roInfo.uiBufferSize;
        }
        this->m_uiState |= CPort::PortState_BufferReady;
    }
    void FakeRelease()
    {
        for (MUINT32 i = 0; this->m_apoBufferHeader != nullptr && i < this->m_uiBufferCount; ++i)
            delete this->m_apoBufferHeader[i];
        delete[] this->m_apoBufferHeader;
        this->m_apoBufferHeader = nullptr;
        this->m_uiBufferCount = 0;
        this->m_uiState &= ~static_cast<MUINT32>(CPort::PortState_BufferReady);
    }
    OMX_BUFFERHEADERTYPE** HeaderTable() const { return this->m_apoBufferHeader; }
};

class CRecordingComponent : public CComponent
{
public:
    enum EOperation { Op_Execute, Op_Pause, Op_Loaded, Op_StartBufferProcessing, Op_StopBufferProcessing,
                      Op_FillThisBuffer, Op_EmptyThisBuffer, Op_Count };

    OMX_ERRORTYPE Init() override { return InitPorts(); }
    OMX_ERRORTYPE Deinit() override { return OMX_ErrorNone; }
    OMX_ERRORTYPE CreatePorts() override
    {
        m_uiInputPortCount = m_uiOutputPortCount = 1;
        m_poInputPort = &m_oInput;
        m_poOutputPort = &m_oOutput;
        return OMX_ErrorNone;
    }
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override
    {
        m_uiLastTestMode = bTestMode;
        if (m_pProvideMemory != nullptr)  // as a platform component that allocates its inputs
            m_oInput.FakeProvide(m_oProvideInfo, m_pProvideMemory, m_uiProvideCount);
        return Record(Op_Execute);
    }
    OMX_ERRORTYPE Pause() override { return Record(Op_Pause); }
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override
    {
        m_uiLastLoadedPort = uiInputPortId;
        return Record(Op_Loaded);
    }
    OMX_ERRORTYPE StartBufferProcessing() override { return Record(Op_StartBufferProcessing); }
    OMX_ERRORTYPE StopBufferProcessing() override { return Record(Op_StopBufferProcessing); }
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* po) override { return Record(Op_FillThisBuffer, po); }
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* po) override { return Record(Op_EmptyThisBuffer, po); }

    // On Execute, make the input port a ready provider over this memory.
    void ProvideOnExecute(const SPortBufferInfo& roInfo, OMX_U8* pMemory, MUINT32 uiCount)
    {
        m_oProvideInfo = roInfo;
        m_pProvideMemory = pMemory;
        m_uiProvideCount = uiCount;
    }
    unsigned Count(EOperation eOperation) const { return m_auiCount[eOperation]; }
    OMX_BUFFERHEADERTYPE* Last(EOperation eOperation) const { return m_apoLast[eOperation]; }
    void SetResult(EOperation eOperation, OMX_ERRORTYPE eResult) { m_aeResult[eOperation] = eResult; }

    TFakeProvidingPort<CSinkPort> m_oInput;
    TFakeProvidingPort<CSourcePort> m_oOutput;
    MBOOL32 m_uiLastTestMode = 0;
    MUINT m_uiLastLoadedPort = 0xFFFFFFFF;

private:
    OMX_ERRORTYPE Record(EOperation eOperation, OMX_BUFFERHEADERTYPE* po = nullptr)
    {
        m_apoLast[eOperation] = po;
        ++m_auiCount[eOperation];
        return m_aeResult[eOperation];
    }

    std::atomic<unsigned> m_auiCount[Op_Count] = {};
    std::atomic<OMX_BUFFERHEADERTYPE*> m_apoLast[Op_Count] = {};
    std::atomic<OMX_ERRORTYPE> m_aeResult[Op_Count] = {};
    SPortBufferInfo m_oProvideInfo{};
    OMX_U8* m_pProvideMemory = nullptr;
    MUINT32 m_uiProvideCount = 0;
};

#endif // PELLIX_COMPONENT_TEST_SUPPORT_H
