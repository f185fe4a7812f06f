// "OMX.TI.VPSSM3.CTRL.TVP": the control of the HDMI receiver in front of the capture. No ports.
// It keeps the receiver's settings (which receiver and what it looks for, the hardware port and
// its properties, the colour range; all in Loaded only) and reports the signal the receiver
// sees (OMX_TI_IndexParamCtrlVidDecDetectVideo, read only, answered in Idle and above, when the
// receiver is powered): the simulated input. An interlaced signal is reported by its field: a
// 1920x1080i60 input reads 1920 x 540, interlaced, a field every 16667 us.
#ifndef CRECEIVER_CONTROL_COMPONENT_H
#define CRECEIVER_CONTROL_COMPONENT_H

#include "CPlatformComponent.h"

class CReceiverControlComponent : public CPlatformComponent
{
public:
    explicit CReceiverControlComponent(const char* szName);

protected:
    OMX_ERRORTYPE OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct) override;
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;
};

#endif // CRECEIVER_CONTROL_COMPONENT_H
