// CCaptureVFCC: the head of the video graph. Wraps the capture component and the control
// component of its video receiver, detects the input's mode, configures the capture for it,
// provides the frame buffers of its one output and, on request, polls the receiver once a second
// and tells the application of every change of mode.
#ifndef CAPTURE_VFCC_H
#define CAPTURE_VFCC_H

#include <pthread.h>

#include <atomic>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "base-omx.h"

// Called on the polling thread: (detected, width, height, frame rate, interlaced, data). Width,
// height and rate are those of the frame; when detected is 0 the others mean nothing.
typedef void (*VideoModeChangedCallback)(int, unsigned int, unsigned int, unsigned int, int, void*);

class CCaptureVFCC : public COMXComponent
{
public:
    enum CaptureFpsDiv
    {
        CaptureFpsDiv_1 = 1,  // every frame
        CaptureFpsDiv_2 = 2,  // every other frame
    };

    // Every accepted size lies within these, both ends included.
    static const MSIZE32 s_oMinFrameSize;
    static const MSIZE32 s_oMaxFrameSize;

    CCaptureVFCC();
    ~CCaptureVFCC() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE SetParameters() override;
    OMX_ERRORTYPE Execute(MBOOL32 bTestMode) override;
    OMX_ERRORTYPE Loaded(MUINT uiInputPortId) override;
    OMX_ERRORTYPE StopBufferProcessing() override;

    // Configuration while loaded; detects the input, whose mode replaces the given size and rate.
    OMX_ERRORTYPE SetCaptureParam(OmxPixelFormat ePixelFormat, CaptureFpsDiv eFrameRateDiv, MUINT32 uiNumberOfBuffer,
                                  bool bHdmiInput, MUINT32 uiFrameWidth, MUINT32 uiFrameHeight, MUINT32 uiFrameRate);
    // One detection through the receiver control. The outputs other than the flag keep their
    // contents when no usable signal is found.
    OMX_ERRORTYPE GetInputVideoMode(bool& rbVideoDetected, MSIZE32& roFrameSize, MUINT32& ruiFrameRate,
                                    bool& rbInterlaced);
    // Installs the callback and (re)starts polling; a null callback only stops polling.
    OMX_ERRORTYPE SetCallbackVideoModeChanged(VideoModeChangedCallback pCallback, void* pvCallbackData);
    void KillVideoModeChangePollingThread();

    OMX_ERRORTYPE ConnectTo(CComponent* poSink, unsigned int uiInputIndex);

    bool IsVideoDetected() const { return m_bVideoDetected; }
    const MSIZE32& GetFrameSize() const { return m_oFrameSize; }
    MUINT32 GetFrameRate() const { return m_uiFrameRate; }
    bool IsInterlaced() const { return m_bInterlaced; }
    MBOOL32 GetPollingThreadKillSwitch() const { return m_bKillVideoModeChangePollingThread; }
    VideoModeChangedCallback GetCallbackVideoModeChanged() const { return m_pfnVideoModeChangedCb; }

private:
    static void* VideoModeChangePollingThread(void* pvComponent);

    // The work of GetInputVideoMode and SetCaptureParam; the caller holds m_hDetectionMutex.
    OMX_ERRORTYPE DetectInputVideoMode(bool& rbVideoDetected, MSIZE32& roFrameSize, MUINT32& ruiFrameRate,
                                       bool& rbInterlaced);
    // The hardware port properties, to the control component or to the capture component.
    OMX_ERRORTYPE SetHwPortProperties(bool bOnControl, bool bInterlaced, MUINT32 uiMaxWidth, MUINT32 uiMaxHeight);
    OMX_ERRORTYPE SetHwPortID(bool bOnControl);
    // Sleeps one polling period; false when a stop was requested.
    bool WaitPollingPeriod();

    OmxPixelFormat m_ePixelFormat;
    bool m_bHdmiInput;
    CaptureFpsDiv m_eFrameRateDiv;
    bool m_bVideoDetected;
    MSIZE32 m_oFrameSize;
    MUINT32 m_uiFrameRate;
    bool m_bInterlaced;
    CSourcePort m_oCaptureOutput;
    SPortBufferInfo m_oPortBufferInfo;
    MUINT32 m_uiNumberOfBuffer;
    pthread_t* m_poVideoModeChangePollingThread;
    // The running polling thread's own flag: set when a stop from inside the host's callback
    // releases the thread instead of joining it. Written and read on that thread only.
    bool* m_pbPollingThreadReleased;
    // Written by the control thread under m_hPollingMutex, read by the polling thread.
    std::atomic<MBOOL32> m_bKillVideoModeChangePollingThread;
    VideoModeChangedCallback m_pfnVideoModeChangedCb;
    void* m_pvVideoModeChangedData;

    // Detection and the state changes of the two platform components never interleave: the
    // polling thread's detection and every control-thread operation that commands either
    // component, or waits for its state events, hold this mutex.
    pthread_mutex_t m_hDetectionMutex;
    // The polling period's sleep, cut short by a stop request.
    pthread_mutex_t m_hPollingMutex;
    pthread_cond_t m_hPollingCond;
};

#endif // CAPTURE_VFCC_H
