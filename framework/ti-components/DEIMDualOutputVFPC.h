// CDEIMDualOutput: the deinterlacer and scaler. One input, deinterlaced when it carries
// interlaced frames, scaled and converted into two outputs of their own size and pixel format:
// the primary output (to the display) and the secondary output (to the encoder).
#ifndef DEIM_DUAL_OUTPUT_VFPC_H
#define DEIM_DUAL_OUTPUT_VFPC_H

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "base-omx.h"

class CDEIMDualOutput : public COMXComponent
{
public:
    // Platform port indices.
    enum
    {
        InputPortID = 0,
        PrimaryOutputPortID = 16,
        SecondaryOutputPortID = 17,
    };

    CDEIMDualOutput();
    ~CDEIMDualOutput() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE SetParameters() override;
    OMX_ERRORTYPE StopBufferProcessing() override;

    // Stores the configuration while loaded; no platform call.
    OMX_ERRORTYPE SetDeiParams(const MSIZE32& roInputSize, const MSIZE32& roPriOutSize, const MSIZE32& roSecOutSize,
                               OmxPixelFormat eInPixelFormat, OmxPixelFormat ePriOutPixelFormat,
                               OmxPixelFormat eSecOutPixelFormat, bool bInterlaced, MUINT uiNbBufferIn,
                               MUINT uiNbBufferPriOut, MUINT uiNbBufferSecOut, bool bProvideInputBuffers);

    OMX_ERRORTYPE ConnectPrimaryTo(CComponent* poSink, OMX_U32 uiInputIndex);
    OMX_ERRORTYPE ConnectSecondaryTo(CComponent* poSink, OMX_U32 uiInputIndex);

private:
    // Reads the port's definition, sets the picture and buffer fields, writes it back.
    OMX_ERRORTYPE SetPortDefinition(MUINT32 uiPortID, const MSIZE32& roSize, OmxPixelFormat ePixelFormat,
                                    MUINT32 uiBufferSize, MUINT32 uiBufferCount);

    CSinkPort m_oInputPort;
    CSourcePort m_aoOutputPort[2];
    MSIZE32 m_oInputSize;
    MSIZE32 m_oPriOutSize;
    MSIZE32 m_oSecOutSize;
    OmxPixelFormat m_eInPixelFormat;
    OmxPixelFormat m_ePriOutPixelFormat;
    OmxPixelFormat m_eSecOutPixelFormat;
    bool m_bInterlaced;
    MUINT m_uiNbBufferIn;
    MUINT m_uiNbBufferPriOut;
    MUINT m_uiNbBufferSecOut;
    bool m_bProvideInputBuffers;
};

#endif // DEIM_DUAL_OUTPUT_VFPC_H
