// "OMX.TI.VPSSM3.VFPC.DEIMDUALOUT": the deinterlacer and scaler with two outputs. Input port 0,
// primary output 16, secondary output 17, each of its own size, stride and format (YUV 4:2:2
// packed or 4:2:0 semi-planar, as in its port definition); scaling and conversion with
// libswscale (CFrameScaler), or, when both outputs have the picture's size and the input is
// YUV 4:2:2 packed, line by line in one pass over the input, the fields read where they are.
//
// One output frame per input frame on each output. The primary output sets the pace: an input
// frame waits until the primary output has a free buffer. The secondary output, when it has no
// free buffer, skips that frame (FramesDropped) and never holds the primary back.
//
// With a subsampling factor of 2 (OMX_TI_IndexConfigSubSamplingFactor) each input buffer holds
// one field, as its port definition describes it; the two fields of a frame arrive one after the
// other, the second marked 0x00020000 in nFlags. They are woven into one frame (the
// deinterlacing) unless the algorithm is bypassed (OMX_TI_IndexConfigAlgEnable), in which case
// the first field alone is scaled to the outputs. A second field without its first, or a first
// field followed by another first field, is given back unused (FramesDropped).
//
// The input's channel resolution (OMX_TI_IndexConfigVidChResolution, eDir OMX_DirInput) chooses
// the part of each input picture that is processed; the outputs' resolution must match the
// outputs' port definitions. Settings changed while executing apply from the next frame on.
// Counters: FramesConsumed per input frame processed, FramesProduced per output frame.
#ifndef CDEINTERLACER_COMPONENT_H
#define CDEINTERLACER_COMPONENT_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "CFrameScaler.h"
#include "CPlatformComponent.h"
#include "CVideoFrameGeometry.h"
#include "ti814x-omx.h"

class CDeinterlacerComponent : public CPlatformComponent
{
public:
    static constexpr OMX_U32 s_uiInputPort = 0;
    static const OMX_U32 s_auiOutputPort[2];

    explicit CDeinterlacerComponent(const char* szName);
    ~CDeinterlacerComponent() override;

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnProcess() override;
    OMX_ERRORTYPE OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;

private:
    struct SInputFrame
    {
        OMX_BUFFERHEADERTYPE* poFirst;   // the frame, or its first field
        OMX_BUFFERHEADERTYPE* poSecond;  // its second field, or null
    };

    // The channel resolution of a direction: 0 input, 1 output.
    static unsigned DirectionSlot(OMX_DIRTYPE eDir) { return eDir == OMX_DirInput ? 0 : 1; }
    OMX_ERRORTYPE CheckResolution(const OMX_CONFIG_VIDCHANNEL_RESOLUTION& roResolution) const;

    // Builds the work for the current settings (thread only); false when they cannot be done.
    bool Configure();
    // Takes the next input frame when one is complete; false otherwise.
    bool TakeInputFrame(SInputFrame& roFrame);
    // Gives an input buffer back unused.
    void Drop(OMX_BUFFERHEADERTYPE* poHeader);
    bool HoldsPicture(const OMX_BUFFERHEADERTYPE* poHeader) const;
    void Weave(const uint8_t* pFirst, const uint8_t* pSecond);
    void Process(const SInputFrame& roFrame);
    // Fills the outputs done line by line that have a buffer (apoOutput[i] not null) from the
    // picture at apField[0] (lines uiStride bytes apart) or, with apField[1], from the two fields
    // of a frame.
    void ConvertLineByLine(const uint8_t* const* apField, uint64_t uiStride, OMX_BUFFERHEADERTYPE* const* apoOutput);

    // Guards m_aoResolution.
    mutable std::mutex m_oResolutionMutex;
    OMX_CONFIG_VIDCHANNEL_RESOLUTION m_aoResolution[2];
    // Set by a client thread when a setting the work depends on changed.
    std::atomic<bool> m_bReconfigure;

    // The component thread's own.
    bool m_bConfigured;
    bool m_bFields;                    // an input buffer holds one field
    bool m_bWeave;                     // fields are woven into frames
    bool m_bLineByLine;                // both outputs are made line by line: no woven frame
    CVideoFrameGeometry m_oInput;      // the picture of one input buffer
    CVideoFrameGeometry m_oSource;     // what the scalers read: the input picture or the woven frame
    OMX_U32 m_auiCrop[4];              // left, top, width, height within m_oSource
    CVideoFrameGeometry m_aoOutput[2];
    CFrameScaler m_aoScaler[2];
    std::unique_ptr<uint8_t, void (*)(void*)> m_pWoven;  // the woven frame libswscale reads

    // Lines made at once on both outputs: 16 lines of 1920 pixels of the source stay in the cache.
    static constexpr unsigned s_uiBandLines = 16;
};

#endif // CDEINTERLACER_COMPONENT_H
