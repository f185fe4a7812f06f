// CSourceComponent: a software producer with one output port, paced by its consumer: every buffer
// that comes back is produced again at once.
#ifndef CSOURCE_COMPONENT_H
#define CSOURCE_COMPONENT_H

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"

class CSourceComponent : public CComponent
{
public:
    CSourceComponent();
    ~CSourceComponent() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferheader) override;
    OMX_ERRORTYPE CreatePorts() override;

    CSourcePort& GetOutputPort() { return m_oOutput; }

protected:
    CSourcePort m_oOutput;
};

#endif // CSOURCE_COMPONENT_H
