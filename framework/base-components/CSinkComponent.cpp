#include "base-components/CSinkComponent.h"

#include <cstdint>
#include <cstdio>

#include "ti814x-framework.h"

CSinkComponent::CSinkComponent() : m_oPrevTime{0, 0}, m_iFrameCount(0)
{
    // The port exists before Init.
    InitPorts();
}

CSinkComponent::~CSinkComponent() = default;

OMX_ERRORTYPE CSinkComponent::CreatePorts()
{
    m_uiInputPortCount = 1;
    m_poInputPort = &m_oInput;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::Init()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::Deinit()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::Execute(MBOOL32 /*bTestMode*/)
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::Pause()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::Loaded(MUINT /*uiInputPortId*/)
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::StartBufferProcessing()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::StopBufferProcessing()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::StartProcessing()
{
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CSinkComponent::EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader)
{
    timespec oNow{0, 0};

    // The buffer that opens a new second is counted in the report of the second before.
    ++m_iFrameCount;
    clock_gettime(CLOCK_REALTIME, &oNow);
    if (oNow.tv_sec != m_oPrevTime.tv_sec)
    {
        if (m_oPrevTime.tv_sec != 0 || m_oPrevTime.tv_nsec != 0)
            printf("FPS(0x%08X)=%d\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)), m_iFrameCount);
        m_oPrevTime = oNow;
        m_iFrameCount = 0;
    }
    ZEM_INFO(9, "CSinkComponent:%p", static_cast<void*>(poBufferheader));
    return m_oInput.FillThisBuffer(poBufferheader);
}
