// CSinkComponent: a software consumer with one input port. It hands every buffer straight back
// upstream and prints the measured frame rate once per second.
#ifndef CSINK_COMPONENT_H
#define CSINK_COMPONENT_H

#include <ctime>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

class CSinkComponent : public CComponent
{
public:
    CSinkComponent();
    ~CSinkComponent() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Pause() override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE CreatePorts() override;
    virtual OMX_ERRORTYPE StartProcessing();

    CSinkPort& GetInputPort() { return m_oInput; }

protected:
    CSinkPort m_oInput;
    timespec m_oPrevTime;  // time of the last rate report; zero until the first buffer
    MINT32 m_iFrameCount;  // buffers counted since then
};

#endif // CSINK_COMPONENT_H
