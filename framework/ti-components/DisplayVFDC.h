// CDisplayVFDC: the local monitor. Wraps the platform's display component "OMX.TI.VPSSM3.VFDC"
// (up to 20 input ports composed as windows of a mosaic layout) and its controller
// "OMX.TI.VPSSM3.CTRL.DC" (timing generator, colour range, colour-space converter). The display
// mode is the monitor's preferred timing from its EDID, else the caller's; it is programmed into
// the display driver's sysfs files and into both platform components.
#ifndef DISPLAY_VFDC_H
#define DISPLAY_VFDC_H

#include <string>

#include "base-components/OMXClassComponent.h"
#include "base-components/OMXClassPort.h"
#include "base-omx.h"
#include "ti814x-omx.h"

class CEdid;

// A colour-space matrix: three coefficient rows and the offsets.
typedef struct tagCscMatrix
{
    float m_afRedVector[3];
    float m_afGreenVector[3];
    float m_afBlueVector[3];
    float m_afOffsetVector[3];
} CscMatrix;

class CDisplayVFDC : public COMXComponent
{
public:
    static constexpr MUINT32 s_uiMaxInputPorts = 20;
    // Returned by AddInputPort when the port is refused.
    static constexpr unsigned s_uiInvalidPort = 0xFFFFFFFF;
    // What the HD output can drive: its pixel clock in kHz, and its active pixels and lines (of
    // the whole frame).
    static constexpr unsigned s_uiMaxPixelClock = 165000;
    static constexpr MSIZE32 s_oMaxActiveSize = {1920, 1200};

    // Configuration of one input port.
    struct InputPort
    {
        OmxPixelFormat m_ePixelFormat;
        bool m_bProvideBuffer;    // the port allocates its buffers itself
        unsigned m_uiNbBuffer;
        tagMSIZE32 m_oBufferSize;  // pixels of the frames in the buffers
        tagMSIZE32 m_oWindowSize;  // pixels shown on screen, never more than the buffer size
    };

    // One window on screen.
    struct MosaicRegion
    {
        unsigned m_uiInPortIdx;  // the input port whose frames it shows
        tagMPOS32 m_oDstPos;     // top-left corner on screen, never negative
        unsigned m_uiZOrder;     // stacking priority
    };

    CDisplayVFDC();
    ~CDisplayVFDC() override;

    OMX_ERRORTYPE Init() override;
    OMX_ERRORTYPE Deinit() override;
    OMX_ERRORTYPE CreatePorts() override;
    OMX_ERRORTYPE SetParameters() override;

    // Chooses the display mode: the monitor's preferred timing when bUsePreferedMode is set and
    // the EDID has one, else the timing given. Takes effect in SetParameters.
    OMX_ERRORTYPE SetVideoOutParams(bool bUsePreferedMode, unsigned uiWidth, unsigned uiHeight, bool bInterlaced,
                                    unsigned uiFps, unsigned uiPixelClock, unsigned uiHorzFrontPorch,
                                    unsigned uiHorzBackPorch, unsigned uiHorzSync, unsigned uiVertFrontPorch,
                                    unsigned uiVertBackPorch, unsigned uiVertSync);
    // The monitor's EDID, read on first use or afresh with bReset; null without one.
    CEdid* GetEdid(bool bReset);
    const char* GetMonitorName() const { return m_sMonitorName.c_str(); }
    unsigned GetDisplayWidth() const { return static_cast<unsigned>(m_oDisplayMode.width); }
    unsigned GetDisplayHeight() const { return static_cast<unsigned>(m_oDisplayMode.height); }
    unsigned GetDisplayFrequency() const { return static_cast<unsigned>(m_oDisplayMode.fps); }

    // Configures the next input port (after clearing ports and windows with bReset); its index,
    // or s_uiInvalidPort when refused.
    unsigned AddInputPort(bool bReset, OmxPixelFormat ePixelFormat, bool bProvideBuffer, unsigned uiNbBuffers,
                          const tagMSIZE32& roBufferSize, const tagMSIZE32& roWindowSize);
    // Stores the windows; shows them at once while the display runs.
    bool SetMosaicLayout(unsigned uiNbMosaicRegions, const MosaicRegion* aoMosaicRegions);
    // One port and one window at the rectangle's top-left corner.
    OMX_ERRORTYPE InitSingleWindowLayout(OmxPixelFormat ePixelFormat, unsigned uiNbBuffers, tagMRECT32 roWindowRect);
    // Stores a colour-space matrix; sends it at once once the controller runs.
    bool SetCscMatrix(const CscMatrix& roCscMatrix);
    // Sends the stored windows to the display component.
    OMX_ERRORTYPE ApplyMosaicLayout();

    // Writes the timing into the display driver's files of display 0.
    static bool ChangeDisplayMode(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roDisplayMode);

    // For tests and diagnostics.
    const OMX_PARAM_DC_CUSTOM_MODE_INFO& GetDisplayMode() const { return m_oDisplayMode; }
    const OMX_CONFIG_CTRL_SET_CSC& GetCscMatrix() const { return m_oCscMatrix; }
    MUINT32 GetInputPortNumber() const { return m_uiNbInPorts; }
    MUINT32 GetMosaicRegionNumber() const { return m_uiNbMosaicRegions; }
    MUINT32 GetMosaicLayoutId() const { return m_uiMosaicLayoutId; }

private:
    bool IsRunning() const;

    OMX_PARAM_DC_CUSTOM_MODE_INFO m_oDisplayMode;
    OMX_CONFIG_CTRL_SET_CSC m_oCscMatrix;
    CEdid* m_poEdid;
    std::string m_sMonitorName;
    bool m_bSetCscMatrix;
    MUINT32 m_uiNbInPorts;
    InputPort m_aoInPort[s_uiMaxInputPorts];
    CSinkPort m_aoSinkPort[s_uiMaxInputPorts];
    MUINT32 m_uiNbMosaicRegions;
    MosaicRegion m_aoMosaicRgn[s_uiMaxInputPorts];
    MUINT32 m_uiMosaicLayoutId;
};

#endif // DISPLAY_VFDC_H
