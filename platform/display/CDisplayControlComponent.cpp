#include "CDisplayControlComponent.h"

#include "CDisplayDriverFiles.h"
#include "CDisplaySettings.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.CTRL.DC", PellixCreateComponent<CDisplayControlComponent>)

namespace
{
// Coefficients are 13-bit codes (3 integer, 10 fraction bits), offsets 12-bit codes (10, 2).
const OMX_U32 local_uiCoefficientMask = (1u << 13) - 1;
const OMX_U32 local_uiOffsetMask = (1u << 12) - 1;

bool local_FitsIn(const OMX_U32 (&auiVector)[3], OMX_U32 uiMask)
{
    return (auiVector[0] & ~uiMask) == 0 && (auiVector[1] & ~uiMask) == 0 && (auiVector[2] & ~uiMask) == 0;
}
} // namespace

CDisplayControlComponent::CDisplayControlComponent(const char* szName) : CPlatformComponent(szName)
{
    CDisplayDriverFiles::EnsureCreated();

    const OMX_PARAM_VFDC_DRIVERINSTID oInstance = CDisplaySettings::DefaultDriverInstance();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCDriverInstId), SettingAccess_LoadedOnly, false,
                 &oInstance);
    const OMX_PARAM_DC_CUSTOM_MODE_INFO oMode = CDisplaySettings::DefaultMode();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFDCCustomModeInfo), SettingAccess_LoadedOnly, false,
                 &oMode);
    // Limited range until told otherwise.
    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    CDisplaySettings::InitStruct(oRange);
    oRange.bFullRange = OMX_FALSE;
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange), SettingAccess_LoadedOnly, false, &oRange);
    // The identity matrix without offsets: 1.0 is 1024.
    OMX_CONFIG_CTRL_SET_CSC oCsc;
    CDisplaySettings::InitStruct(oCsc);
    oCsc.auiRedVector[0] = 1024;
    oCsc.auiGreenVector[1] = 1024;
    oCsc.auiBlueVector[2] = 1024;
    AddConfig(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexConfigCtrlSetCsc), SettingAccess_AnyState, false, &oCsc);
}

OMX_ERRORTYPE CDisplayControlComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    switch (static_cast<OMX_U32>(eIndex))
    {
    case OMX_TI_IndexParamVFDCDriverInstId:
        return CDisplaySettings::CheckDriverInstance(*static_cast<const OMX_PARAM_VFDC_DRIVERINSTID*>(pvNew));
    case OMX_TI_IndexParamVFDCCustomModeInfo:
        return CDisplaySettings::CheckMode(*static_cast<const OMX_PARAM_DC_CUSTOM_MODE_INFO*>(pvNew));
    case OMX_TI_IndexParamCtrlColorRange:
    {
        const OMX_BOOL bFullRange = static_cast<const OMX_PARAM_CTRL_COLOR_RANGE*>(pvNew)->bFullRange;
        return bFullRange == OMX_TRUE || bFullRange == OMX_FALSE ? OMX_ErrorNone : OMX_ErrorBadParameter;
    }
    case OMX_TI_IndexConfigCtrlSetCsc:
    {
        const auto& roCsc = *static_cast<const OMX_CONFIG_CTRL_SET_CSC*>(pvNew);
        const bool bValid = local_FitsIn(roCsc.auiRedVector, local_uiCoefficientMask) &&
                            local_FitsIn(roCsc.auiGreenVector, local_uiCoefficientMask) &&
                            local_FitsIn(roCsc.auiBlueVector, local_uiCoefficientMask) &&
                            local_FitsIn(roCsc.auiOffsetVector, local_uiOffsetMask);
        return bValid ? OMX_ErrorNone : OMX_ErrorBadParameter;
    }
    default:
        return OMX_ErrorNone;
    }
}
