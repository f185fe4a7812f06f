// "OMX.TI.VPSSM3.VFCC": the video capture. One output port (0) filled from the simulated input
// with the test pattern (CTestPattern), in the size, stride and format of the port's definition.
//
// Frames come at the input's rate: frames per second for a progressive signal, half the fields
// per second for an interlaced one. Input frame n (counted from the move to Executing) is
// skipped when bit n % 30 of the frame-skip mask is set; any other frame takes the oldest free
// output buffer, or is dropped and counted (FramesDropped) when none is free, as capture
// hardware does. nTimeStamp is the frame's time in microseconds since the move to Executing;
// the frame's number is drawn in the picture. While no signal is present nothing is delivered.
// The signal may change at any time (PellixTest_SetSimulatedInput); the rate follows at once.
//
// With OMX_VIDEO_CaptureScanTypeInterlaced in the hardware port properties each frame holds its
// two fields one after the other, the even lines first. The frame-skip mask may change in any
// state; the other settings in Loaded only.
#ifndef CCAPTURE_COMPONENT_H
#define CCAPTURE_COMPONENT_H

#include <atomic>
#include <cstdint>

#include "CPlatformComponent.h"
#include "CSimulatedInput.h"
#include "CTestPattern.h"

class CCaptureComponent : public CPlatformComponent
{
public:
    explicit CCaptureComponent(const char* szName);
    ~CCaptureComponent() override;

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnProcess() override;
    void OnTick(unsigned uiElapsedTicks) override;
    OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;

private:
    static void SignalChanged(void* pvContext, const SSimulatedSignal& roSignal);

    // Takes up the current signal when it changed: the clock runs at its frame rate, or stops
    // while there is none.
    void FollowSignal();
    bool IsSkipped(uint64_t uiFrame) const;
    void Deliver(OMX_BUFFERHEADERTYPE* poHeader);

    // The component thread's own.
    CTestPattern m_oPattern;
    unsigned m_uiSignalGeneration;
    bool m_bSignalPresent;
    uint64_t m_uiFramePeriodNs;
    uint64_t m_uiFrame;       // number of the next input frame
    uint64_t m_uiFrameTimeNs; // its time since the move to Executing
    OMX_U32 m_uiSkipMask;
};

#endif // CCAPTURE_COMPONENT_H
