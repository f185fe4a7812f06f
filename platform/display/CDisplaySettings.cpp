#include "CDisplaySettings.h"

namespace
{
// What the HD output's timing generator drives: a pixel clock of 165 MHz at most, 1920 x 1200
// active pixels and lines (of the whole frame) at most.
const OMX_U32 local_uiMaxPixelClockKHz = 165000;
const OMX_U32 local_uiMaxWidth = 1920;
const OMX_U32 local_uiMaxFrameLines = 1200;
const OMX_U32 local_uiMaxRate = 240;
} // namespace

OMX_PARAM_VFDC_DRIVERINSTID CDisplaySettings::DefaultDriverInstance()
{
    OMX_PARAM_VFDC_DRIVERINSTID oInstance;
    InitStruct(oInstance);
    oInstance.nDrvInstID = OMX_VIDEO_DISPLAY_ID_HD0;
    oInstance.eDispVencMode = OMX_DC_MODE_CUSTOM;
    return oInstance;
}

OMX_PARAM_DC_CUSTOM_MODE_INFO CDisplaySettings::DefaultMode()
{
    OMX_PARAM_DC_CUSTOM_MODE_INFO oMode;
    InitStruct(oMode);
    oMode.width = 1920;
    oMode.height = 1080;
    oMode.scanFormat = OMX_SF_PROGRESSIVE;
    oMode.pixelClock = 148500;
    oMode.fps = 60;
    oMode.hFrontPorch = 88;
    oMode.hBackPorch = 148;
    oMode.hSyncLen = 44;
    oMode.vFrontPorch = 4;
    oMode.vBackPorch = 36;
    oMode.vSyncLen = 5;
    return oMode;
}

OMX_ERRORTYPE CDisplaySettings::CheckDriverInstance(const OMX_PARAM_VFDC_DRIVERINSTID& roInstance)
{
    if (roInstance.nDrvInstID != OMX_VIDEO_DISPLAY_ID_HD0 || roInstance.eDispVencMode != OMX_DC_MODE_CUSTOM)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CDisplaySettings::CheckMode(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode)
{
    if (roMode.width == 0 || roMode.height == 0 || roMode.pixelClock == 0 || roMode.fps == 0)
        return OMX_ErrorBadParameter;
    if (roMode.scanFormat != OMX_DC_SF_INTERLACED && roMode.scanFormat != OMX_SF_PROGRESSIVE)
        return OMX_ErrorBadParameter;
    if (roMode.width > local_uiMaxWidth || FrameLines(roMode) > local_uiMaxFrameLines || roMode.fps > local_uiMaxRate ||
        roMode.pixelClock > local_uiMaxPixelClockKHz)
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}

OMX_U32 CDisplaySettings::FrameLines(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode)
{
    return roMode.scanFormat == OMX_DC_SF_INTERLACED ? 2 * roMode.height : roMode.height;
}

uint64_t CDisplaySettings::FramePeriodNs(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode)
{
    const uint64_t uiFields = roMode.scanFormat == OMX_DC_SF_INTERLACED ? 2 : 1;
    return uiFields * 1000000000ull / (roMode.fps > 0 ? roMode.fps : 1);
}
