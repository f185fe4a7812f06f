// "OMX.TI.VPSSM3.VFCC": the video capture. One output port (0) filled from the simulated input,
// in the size, stride and format of the port's definition: with a built-in pattern drawn at the
// input's rate (the colour bars of CTestPattern, or the demanding CMotionPattern), or with the
// pictures of a real source (CMediaSource) as they come. Every picture of a built-in pattern
// carries its capture time and frame number in its first lines (CCaptureTimeCode); a real
// source's pictures are handed on as they are.
//
// The pattern's frames come at the input's rate: frames per second for a progressive signal, half
// the fields per second for an interlaced one. A real source's pictures come at its own pace
// (a file's frame rate, a live source's), converted and scaled by GStreamer to the port's
// picture and copied once into the buffer (CSourcePicture). Input frame n (counted from the move
// to Executing) is skipped when bit n % 30 of the frame-skip mask is set; any other frame takes
// the oldest free output buffer, or is dropped and counted (FramesDropped) when none is free, as
// capture hardware does; the pattern's frames due while the component's thread was late are
// captured when it runs again, as far as buffers are free. nTimeStamp is the frame's time in
// microseconds since the move to Executing; the pattern draws the frame's number in the picture.
// While no signal is present nothing is delivered. The input may change at any time (PellixTest_SetSimulatedInput, or a real
// source's own changes); the capture follows at once.
//
// With OMX_VIDEO_CaptureScanTypeInterlaced in the hardware port properties each frame holds its
// two fields one after the other, the even lines first. The frame-skip mask may change in any
// state; the other settings in Loaded only.
#ifndef CCAPTURE_COMPONENT_H
#define CCAPTURE_COMPONENT_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "CPlatformComponent.h"
#include "CFrameLines.h"
#include "CMotionPattern.h"
#include "CSimulatedInput.h"
#include "CTestPattern.h"

class CMediaSource;

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
    static void PictureReady(void* pvContext);

    // Takes up the current input when it changed: a real source's pictures, or the pattern's
    // clock at the signal's frame rate, stopped while there is none.
    void FollowSignal();
    // Takes the real source's pictures from now on (null: none).
    void FollowSource(const std::shared_ptr<CMediaSource>& rpoSource);
    void ReadSkipMask();
    bool IsSkipped(uint64_t uiFrame) const;
    // Draws the pattern's frame m_uiFrame, captured at uiCaptureUs (CLOCK_MONOTONIC), into the
    // buffer and hands it on.
    void Deliver(OMX_BUFFERHEADERTYPE* poHeader, uint64_t uiCaptureUs);
    // Writes the capture time and the frame number into a picture just made.
    void Stamp(uint8_t* pPicture, uint64_t uiFrame, uint64_t uiCaptureUs) const;
    // Every picture the real source has waiting, each into a free buffer.
    void DeliverPictures();

    // The component thread's own.
    CTestPattern m_oPattern;
    CMotionPattern m_oMotion;         // made when first chosen
    EPattern m_ePattern;              // the one drawn
    CVideoFrameGeometry m_oGeometry;  // the output's picture
    bool m_bFields;                   // as two fields
    CFrameLines m_oLines;             // of the output's picture
    unsigned m_uiSignalGeneration;
    bool m_bSignalPresent;
    uint64_t m_uiFramePeriodNs;
    uint64_t m_uiFrame;       // number of the next input frame
    uint64_t m_uiFrameTimeNs; // the pattern's: its time since the move to Executing
    uint64_t m_uiLastCaptureUs; // the capture time stamped on the last picture delivered
    std::chrono::steady_clock::time_point m_oExecutingSince;
    OMX_U32 m_uiSkipMask;
    std::shared_ptr<CMediaSource> m_poSource;  // the real source captured, while Executing
};

#endif // CCAPTURE_COMPONENT_H
