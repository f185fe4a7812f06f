// The HD output drives at most 1920 x 1200 active pixels and lines at a pixel clock of 165 MHz:
// the display component and its controller refuse any custom mode beyond, as the device does.
#include <gtest/gtest.h>

#include "DisplayTestSupport.h"

namespace
{
class DisplayTimingLimits : public CDisplayTest
{
};
} // namespace

TEST_F(DisplayTimingLimits, ModesBeyondTheOutputAreRefusedByBothComponents)
{
    const OMX_INDEXTYPE eMode = static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo);
    const struct
    {
        OMX_U32 nWidth, nHeight, nFps, nClock;
        bool bInterlaced;
        OMX_ERRORTYPE eExpected;
    } aoCases[] = {
        {1920, 1080, 60, 148500, false, OMX_ErrorNone},         // 1080p60
        {1920, 1200, 60, 154000, false, OMX_ErrorNone},         // WUXGA, reduced blanking
        {1920, 540, 60, 74250, true, OMX_ErrorNone},            // 1080i: 1080 lines a frame
        {1920, 1080, 60, 165000, false, OMX_ErrorNone},         // the clock's limit itself
        {1920, 1080, 60, 165001, false, OMX_ErrorBadParameter},
        {3840, 2160, 60, 594000, false, OMX_ErrorBadParameter}, // 4K at 60 Hz
        {3840, 2160, 30, 297000, false, OMX_ErrorBadParameter},
        {2560, 1440, 60, 241500, false, OMX_ErrorBadParameter},
        {1921, 1080, 60, 148500, false, OMX_ErrorBadParameter},
        {1920, 1201, 60, 154000, false, OMX_ErrorBadParameter},
        {1920, 601, 60, 148500, true, OMX_ErrorBadParameter},  // 1202 lines a frame
    };
    COmxTestClient oDisplay(DISPLAY_NAME);
    COmxTestClient oController(DISPLAY_CONTROL_NAME);
    for (const auto& roCase : aoCases)
    {
        OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = MakeMode(roCase.nWidth, roCase.nHeight, roCase.nFps, roCase.bInterlaced);
        oMode.pixelClock = roCase.nClock;
        for (OMX_HANDLETYPE hHandle : {oDisplay.Handle(), oController.Handle()})
            EXPECT_EQ(roCase.eExpected, OMX_SetParameter(hHandle, eMode, &oMode))
                << roCase.nWidth << "x" << roCase.nHeight << (roCase.bInterlaced ? "i" : "p") << " at "
                << roCase.nClock << " kHz";
    }
}
