// "OMX.TI.VPSSM3.CTRL.DC": the display controller. No ports; it owns the output's settings: the
// driver instance and custom mode (in Loaded), the colour range (in Loaded) and the
// colour-space converter's matrix (in any state). Every setting is checked and read back as set.
#ifndef CDISPLAY_CONTROL_COMPONENT_H
#define CDISPLAY_CONTROL_COMPONENT_H

#include "CPlatformComponent.h"

class CDisplayControlComponent : public CPlatformComponent
{
public:
    explicit CDisplayControlComponent(const char* szName);

protected:
    OMX_ERRORTYPE CheckSetting(OMX_INDEXTYPE eIndex, bool bConfig, OMX_PTR pvNew) override;
};

#endif // CDISPLAY_CONTROL_COMPONENT_H
