// The settings the display component and its controller share: the driver instance and the
// custom mode, their defaults and their checks.
#ifndef CDISPLAY_SETTINGS_H
#define CDISPLAY_SETTINGS_H

#include <cstdint>
#include <cstring>

#include "ti814x-omx.h"

class CDisplaySettings
{
public:
    // The first HD output in custom mode.
    static OMX_PARAM_VFDC_DRIVERINSTID DefaultDriverInstance();
    // 1920 x 1080 progressive at 60 Hz (CEA-861), the mode the output starts in.
    static OMX_PARAM_DC_CUSTOM_MODE_INFO DefaultMode();

    // OMX_ErrorBadParameter for an output other than the first HD one or a mode other than
    // custom: the simulated platform drives that output only.
    static OMX_ERRORTYPE CheckDriverInstance(const OMX_PARAM_VFDC_DRIVERINSTID& roInstance);
    // OMX_ErrorBadParameter for a mode the output cannot generate: no pixels, lines, clock or
    // rate, an unknown scan format, more than 1920 x 1200 active (lines of the whole frame), a
    // pixel clock above 165 MHz or more than 240 Hz.
    static OMX_ERRORTYPE CheckMode(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode);

    // Lines of a whole frame on screen: twice the field's lines for an interlaced mode.
    static OMX_U32 FrameLines(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode);
    // Nanoseconds between two frames: one refresh, two (fields) for an interlaced mode.
    static uint64_t FramePeriodNs(const OMX_PARAM_DC_CUSTOM_MODE_INFO& roMode);

    // Sets nSize, nVersion 1.1 and nPortIndex of a zeroed structure.
    template <typename TStruct>
    static void InitStruct(TStruct& roStruct)
    {
        OmxInitStructureHeader(roStruct);
    }
};

#endif // CDISPLAY_SETTINGS_H
