// CComponent: the abstract base of every processing element of the graph.
#ifndef OMX_CLASS_COMPONENT_H
#define OMX_CLASS_COMPONENT_H

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <atomic>

#include "ZemBaseTypes.h"

class CPort;
class CSinkPort;
class CSourcePort;

class CComponent
{
public:
    CComponent();
    virtual ~CComponent();

    virtual OMX_ERRORTYPE Init() = 0;
    virtual OMX_ERRORTYPE Deinit() = 0;
    virtual OMX_HANDLETYPE GetOMXHandle();
    virtual OMX_ERRORTYPE Start();
    virtual OMX_ERRORTYPE Stop();
    virtual OMX_ERRORTYPE Execute(MBOOL32 bTestMode);
    virtual OMX_ERRORTYPE Pause();
    virtual OMX_ERRORTYPE Loaded(MUINT uiInputPortId);
    virtual OMX_ERRORTYPE StartBufferProcessing();
    virtual OMX_ERRORTYPE StopBufferProcessing();
    virtual MBOOL32 IsBufferProcessing();
    virtual OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader);
    virtual OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader);
    virtual OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader);
    virtual OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader);
    virtual OMX_ERRORTYPE CreatePorts() = 0;
    virtual OMX_ERRORTYPE SetParameters();
    virtual OMX_ERRORTYPE SetParametersIdle();

    OMX_ERRORTYPE InitPorts();
    OMX_ERRORTYPE ConnectTo(MUINT32 uiOutputIndex, CComponent* poSink, MUINT32 uiInputIndex);

    MUINT32 GetInputPortCount() const { return m_uiInputPortCount; }
    MUINT32 GetOutputPortCount() const { return m_uiOutputPortCount; }
    const char* GetComponentName() const { return m_szComponentName; }

    static const char* ErrorToStr(OMX_ERRORTYPE eError);
    static const char* EventToStr(OMX_EVENTTYPE eEvent);
    static const char* StateToStr(OMX_STATETYPE eState);
    static const char* CommandToStr(OMX_COMMANDTYPE eCommand);

protected:
    MUINT32 m_uiInputPortCount;
    MUINT32 m_uiOutputPortCount;
    CSinkPort* m_poInputPort;
    CSourcePort* m_poOutputPort;
    // Written by the controlling thread, read by the callback threads once per buffer.
    std::atomic<MBOOL32> m_bBufferProcessing;
    char m_szComponentName[256];
};

#endif // OMX_CLASS_COMPONENT_H
