// "OMX.TI.VPSSM3.VFDC": the display component. Up to 20 video input ports (0..19, disabled until
// the client enables them), each feeding at most one window of the mosaic layout on screen.
// Frames are shown at the refresh rate of the custom mode set (OMX_TI_IndexParamVFDCCustomModeInfo;
// an interlaced mode shows a frame over two fields): at each refresh every window whose port has
// a new frame queued shows it, and the frame it showed before goes back to the client. A window's
// last frame stays on screen, and the component holds its buffer, until the next one replaces it
// or the buffers are handed back (move to Idle, flush, disable).
//
// Five mosaic layouts (ids 0..4) are created in Loaded (OMX_TI_IndexParamVFDCCreateMosaicLayout)
// and rewritten in any state (OMX_TI_IndexConfigVFDCModifyMosaicLayout), never the one on screen
// outside Loaded; OMX_TI_IndexConfigVFDCMosaicPort2WinMap selects one for the screen and names
// the port of each window. Every window and every port map is checked against the mode and the
// ports' definitions; what cannot be shown is refused with OMX_ErrorBadParameter.
//
// The picture on screen is composed when the test-control API asks for a snapshot, and, with
// PELLIX_SIM_DISPLAY=window, at every refresh while Executing, into a real window
// (CDisplayWindow); the frames shown last are copied once when their buffers are handed back,
// so that a stopped display can still be pictured.
#ifndef CDISPLAY_COMPONENT_H
#define CDISPLAY_COMPONENT_H

#include <mutex>
#include <vector>

#include "CDisplayWindow.h"
#include "CPlatformComponent.h"
#include "CRgbImage.h"
#include "ti814x-omx.h"

class CDisplayComponent : public CPlatformComponent
{
public:
    static constexpr unsigned s_uiPortCount = 20;

    explicit CDisplayComponent(const char* szName);
    ~CDisplayComponent() override;

    // The composed screen written to a file (the snapshot of the test-control API).
    OMX_ERRORTYPE WriteSnapshot(const char* szPath);

protected:
    OMX_ERRORTYPE OnStateChange(OMX_STATETYPE eFrom, OMX_STATETYPE eTo) override;
    void OnTick(unsigned uiElapsedTicks) override;
    void OnReleaseBuffers(OMX_U32 nPortIndex) override;
    OMX_ERRORTYPE OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnGetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetConfig(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE CheckPortDefinition(const CPlatformPort& roPort, OMX_PARAM_PORTDEFINITIONTYPE& roNew) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;

private:
    // What one input port shows.
    struct SPortScreen
    {
        OMX_BUFFERHEADERTYPE* poShown = nullptr;  // held while on screen
        std::vector<uint8_t> auiKept;            // copy of the last frame, once its buffer went back
        bool bKept = false;
    };

    static OMX_ERRORTYPE SnapshotWriter(void* pvContext, const char* szPath);

    // Screen size of the current mode, in frame lines.
    void ScreenSize(unsigned& ruiWidth, unsigned& ruiHeight) const;
    // What composing the screen needs: the ports' definitions and the screen size.
    void ReadScreen(OMX_PARAM_PORTDEFINITIONTYPE (&raoDefinition)[s_uiPortCount], unsigned& ruiWidth,
                    unsigned& ruiHeight) const;
    // The windows of the layout on screen that have a frame, in the order they are drawn (lower
    // priorities first), with the pixels each shows; their number. The caller holds
    // m_oDisplayMutex while it reads the pixels; aoDefinition holds the ports' definitions.
    unsigned VisibleWindows(const OMX_PARAM_PORTDEFINITIONTYPE* aoDefinition,
                            SWindowPixels (&raoWindows)[OMX_VFDC_MAX_NUM_DISPLAY_WINDOWS]) const;
    // The composed screen to the window, at a refresh.
    void ShowInWindow();
    OMX_ERRORTYPE CheckLayout(const OMX_PARAM_VFDC_CREATEMOSAICLAYOUT& roLayout) const;
    OMX_ERRORTYPE CheckPortMap(const OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP& roMap) const;
    // A layout created (OMX_TI_IndexParamVFDCCreateMosaicLayout) or modified
    // (OMX_TI_IndexConfigVFDCModifyMosaicLayout), and either read back.
    OMX_ERRORTYPE StoreLayout(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct);
    OMX_ERRORTYPE ReadLayout(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) const;

    // Guards the layouts, the port map and the screen.
    mutable std::mutex m_oDisplayMutex;
    OMX_PARAM_VFDC_CREATEMOSAICLAYOUT m_aoLayout[OMX_VFDC_MAX_LAYOUTS];
    bool m_abLayoutCreated[OMX_VFDC_MAX_LAYOUTS];
    OMX_CONFIG_VFDC_MOSAICLAYOUT_PORT2WINMAP m_oPortMap;
    bool m_bMapSelected;
    bool m_abOnScreen[s_uiPortCount];  // the port feeds a window of the selected layout
    SPortScreen m_aoScreen[s_uiPortCount];

    // The component thread's own.
    CDisplayWindow m_oWindow;
};

#endif // CDISPLAY_COMPONENT_H
