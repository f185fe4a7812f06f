// CComponent: the abstract base of every processing element of the graph.
// COMXComponent: a CComponent driven by a platform OpenMAX IL component (and optionally its
// control component).
#ifndef OMX_CLASS_COMPONENT_H
#define OMX_CLASS_COMPONENT_H

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <pthread.h>

#include <atomic>
#include <mutex>

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
    // Asks that the next picture coded be a key picture, from which a decoder can start. Called by
    // the consumer of the component's output while it takes one of the component's buffers.
    // Components that code no pictures answer OMX_ErrorNotImplemented.
    virtual OMX_ERRORTYPE RequestKeyFrame();

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

// Events awaited by the controlling thread, each counted separately.
enum OMXEventType
{
    OMXEvent_StateChanged = 0,
    OMXEvent_EnableDisablePort = 1,
    OMXEvent_EOSBuffer = 2,
    OMXEvent_LastEvent = 3,
};

// Flags of nFlags in the headers of an interlaced input port.
enum : OMX_U32
{
    OMXBufferFlag_Field = 0x00010000,        // the header holds one field of an interlaced frame
    OMXBufferFlag_SecondField = 0x00020000,  // ... the second one
    OMXBufferFlag_FieldMask = OMXBufferFlag_Field | OMXBufferFlag_SecondField,
};

class COMXComponent : public CComponent
{
public:
    // strName: the platform component's name, e.g. "OMX.TI.DUCATI.VIDENC"; only copied. The
    // parameter is a plain char* as the platform's name parameters are (OMX_STRING), which fixes
    // the constructor's exported name.
    explicit COMXComponent(char* strName);
    ~COMXComponent() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_HANDLETYPE GetOMXHandle() override;
    OMX_ERRORTYPE Start() override;
    OMX_ERRORTYPE Stop() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Pause() override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StartBufferProcessing() override;
    OMX_ERRORTYPE StopBufferProcessing() override;
    OMX_ERRORTYPE FillThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE FillBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE EmptyThisBuffer(OMX_BUFFERHEADERTYPE* poBufferHeader) override;
    OMX_ERRORTYPE EmptyBufferDone(OMX_BUFFERHEADERTYPE* poBufferHeader) override;

    // Parameters and configurations, straight to the platform component.
    OMX_ERRORTYPE SetOmxParam(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE GetOmxParam(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE SetOmxConfig(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE GetOmxConfig(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE SetOmxCtlParam(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE GetOmxCtlParam(MUINT32 uiIndex, void* pvStruct);
    OMX_ERRORTYPE SetOmxCtlConfig(MUINT32 uiIndex, void* pvStruct);

    // State commands and the events that complete them.
    OMX_ERRORTYPE SetState(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState, MBOOL32 bWait);
    OMX_ERRORTYPE ScheduleStateTransition(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState);
    OMX_ERRORTYPE ScheduleAndWaitStateTransition(OMX_HANDLETYPE hOMXComponent, OMX_STATETYPE eState);
    OMX_ERRORTYPE WaitForStateTransition(OMX_HANDLETYPE hComponent, OMX_STATETYPE eState);
    OMX_ERRORTYPE EnablePort(MUINT32 uiPortID, MBOOL32 bEnable);
    void PostOMXEvent(OMX_HANDLETYPE hComponent, OMXEventType eEvent, MUINT32 uiData2);
    void WaitOMXEvent(OMXEventType eEvent);
    bool IsBuffersReady();

    // The local header that shares memory with a neighbour's header, and the port that holds it.
    CPort* FindLocalBufferHeader(OMX_BUFFERHEADERTYPE* poBufferheader, OMX_BUFFERHEADERTYPE** ppoLocalBufferheader,
                                 MUINT uiFieldOffset);
    OMX_ERRORTYPE PopulateBufferHeader(OMX_BUFFERHEADERTYPE* poDstBufferHeader,
                                       OMX_BUFFERHEADERTYPE* poSrcBufferHeader);

    OMX_HANDLETYPE GetOMXCtrlHandle() const { return m_hOMXCtrl; }
    OMX_STATETYPE GetComponentState() const { return m_eComponentState; }
    OMX_STATETYPE GetCtrlState() const { return m_eCtrlState; }

    // Platform callbacks; the application data is the wrapper.
    static OMX_ERRORTYPE CallbackOMXEvent(OMX_HANDLETYPE hComponent, OMX_PTR pAppData, OMX_EVENTTYPE eEvent,
                                          OMX_U32 uiData1, OMX_U32 uiData2, OMX_PTR pEventData);
    static OMX_ERRORTYPE CallbackEmptyBufferDone(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                                 OMX_BUFFERHEADERTYPE* poBufferHeader);
    static OMX_ERRORTYPE CallbackFillBufferDone(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                                OMX_BUFFERHEADERTYPE* poBufferHeader);

    // The callback table given with every handle of every wrapper.
    static OMX_CALLBACKTYPE oOmxCallback;

protected:
    // The end of a derived Deinit: closes the buffer traffic, deinitialises the ports (outputs
    // from the last, then inputs) and then the wrapper itself, which frees the handles, whatever
    // failed before: after a stop that failed part-way the platform's components still run, and
    // none of them may call into a wrapper that is destroyed next. The first error.
    OMX_ERRORTYPE DeinitPortsAndHandles();

    OMX_HANDLETYPE m_hOMXComponent;
    OMX_HANDLETYPE m_hOMXCtrl;
    // Written by the callback thread before it posts, read by the controlling thread.
    std::atomic<OMX_STATETYPE> m_eComponentState;
    std::atomic<OMX_STATETYPE> m_eCtrlState;
    char* m_pszName;
    pthread_cond_t m_aoEventCondition[OMXEvent_LastEvent];
    pthread_mutex_t m_aoEventMutex[OMXEvent_LastEvent];
    unsigned int m_auiEventCount[OMXEvent_LastEvent];

private:
    // The buffer operations (EmptyThisBuffer, FillThisBuffer, EmptyBufferDone, FillBufferDone)
    // count themselves in while the traffic is open and are refused once it is closed.
    // CloseBufferTraffic waits until no call is inside, so that Deinit frees nothing a platform
    // thread is using.
    class CBufferCall;
    void CloseBufferTraffic();

    // One field of an interlaced frame is done (given back by the platform, or never taken): the
    // header of the frame when that was its last field out, so that it goes back upstream; else
    // null.
    OMX_BUFFERHEADERTYPE* FieldDone(CPort* poPort, OMX_BUFFERHEADERTYPE* poField);

    // How many condition/mutex pairs Init created, so that Deinit destroys exactly those.
    MUINT32 m_uiEventObjectCount;
    // Serialises the fields' bookkeeping of FieldDone.
    std::mutex m_oFieldMutex;
    std::atomic<MUINT32> m_uiBufferCalls;
    std::atomic<bool> m_bBufferTrafficClosed;
};

#endif // OMX_CLASS_COMPONENT_H
