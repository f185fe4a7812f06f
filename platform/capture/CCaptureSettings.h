// The settings the capture and its receiver control share: the hardware port's number and
// properties, their defaults and their checks.
#ifndef CCAPTURE_SETTINGS_H
#define CCAPTURE_SETTINGS_H

#include <cstring>

#include "ti814x-omx.h"

class CCaptureSettings
{
public:
    // Zeroed, then size, version 1.1.0.0 and port 0.
    template <typename TStruct>
    static void InitStruct(TStruct& roStruct)
    {
        OmxInitStructure(roStruct);
    }

    // Port A of the first video input port.
    static OMX_PARAM_VFCC_HWPORT_ID DefaultHwPortId();
    // One progressive 4:2:2 channel over 16 bits, up to 1920 x 1200.
    static OMX_PARAM_VFCC_HWPORT_PROPERTIES DefaultHwPortProperties();

    // OMX_ErrorBadParameter for a port the chip does not have.
    static OMX_ERRORTYPE CheckHwPortId(const OMX_PARAM_VFCC_HWPORT_ID& roPortId);
    // OMX_ErrorBadParameter for what the input port cannot carry: a multiplexed mode, an unknown
    // interface width or scan type, anything but 4:2:2 on the interface, no picture or more than
    // 4096 x 4096, other than one channel, the two fields of a frame merged line by line (they
    // come one after the other).
    static OMX_ERRORTYPE CheckHwPortProperties(const OMX_PARAM_VFCC_HWPORT_PROPERTIES& roProperties);
    // The check of either setting; OMX_ErrorNone for other indices.
    static OMX_ERRORTYPE CheckHwPortSetting(OMX_INDEXTYPE eIndex, const void* pvNew);
};

#endif // CCAPTURE_SETTINGS_H
