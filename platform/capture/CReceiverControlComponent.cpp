#include "CReceiverControlComponent.h"

#include "CCaptureSettings.h"
#include "CSimulatedInput.h"
#include "ComponentRegistry.h"

PELLIX_REGISTER_COMPONENT("OMX.TI.VPSSM3.CTRL.TVP", PellixCreateComponent<CReceiverControlComponent>)

namespace
{
const OMX_U32 local_uiUsPerSecond = 1000000;
}

CReceiverControlComponent::CReceiverControlComponent(const char* szName) : CPlatformComponent(szName)
{
    OMX_PARAM_CTRL_VIDDECODER_INFO oDecoderInfo;
    CCaptureSettings::InitStruct(oDecoderInfo);
    oDecoderInfo.videoStandard = OMX_VIDEO_DECODER_STD_AUTO_DETECT;
    oDecoderInfo.videoDecoderId = OMX_VID_DEC_ADV7611_DRV;
    oDecoderInfo.videoSystemId = OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT;
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCTRLVidDecInfo), SettingAccess_LoadedOnly, false,
                 &oDecoderInfo);
    const OMX_PARAM_VFCC_HWPORT_ID oPortId = CCaptureSettings::DefaultHwPortId();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortID), SettingAccess_LoadedOnly, false, &oPortId);
    const OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties = CCaptureSettings::DefaultHwPortProperties();
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamVFCCHwPortProperties), SettingAccess_LoadedOnly, false,
                 &oProperties);
    // Limited range until told otherwise.
    OMX_PARAM_CTRL_COLOR_RANGE oRange;
    CCaptureSettings::InitStruct(oRange);
    oRange.bFullRange = OMX_FALSE;
    AddParameter(static_cast<OMX_INDEXTYPE>(OMX_TI_IndexParamCtrlColorRange), SettingAccess_LoadedOnly, false, &oRange);
}

OMX_ERRORTYPE CReceiverControlComponent::OnGetParameter(OMX_INDEXTYPE eIndex, OMX_PTR pvStruct)
{
    if (static_cast<OMX_U32>(eIndex) != OMX_TI_IndexParamCtrlVidDecDetectVideo)
        return OMX_ErrorUnsupportedIndex;
    auto* poDetect = static_cast<OMX_PARAM_CTRL_VIDDECODER_DETECT_VIDEO*>(pvStruct);
    const OMX_ERRORTYPE eError = CheckStructHead(eIndex, pvStruct, sizeof(*poDetect));
    if (eError != OMX_ErrorNone)
        return eError;
    // One receiver, one channel.
    if (poDetect->uiChannelIndex != 0)
        return OMX_ErrorBadParameter;
    // The receiver is powered from Idle on.
    const OMX_STATETYPE eState = State();
    if (eState == OMX_StateLoaded || eState == OMX_StateWaitForResources)
        return OMX_ErrorIncorrectStateOperation;

    const SSimulatedSignal oSignal = CSimulatedInput::Instance().Current();
    poDetect->bIsPresent = oSignal.bPresent ? OMX_TRUE : OMX_FALSE;
    poDetect->uiFrameWidth = oSignal.uiWidth;
    poDetect->uiFrameHeight = oSignal.bInterlaced ? oSignal.uiHeight / 2 : oSignal.uiHeight;
    // Microseconds between frames (fields when interlaced), rounded to the nearest.
    poDetect->uiFrameInterval = oSignal.uiRate != 0 ? (local_uiUsPerSecond + oSignal.uiRate / 2) / oSignal.uiRate : 0;
    poDetect->bInterlaced = oSignal.bInterlaced ? OMX_TRUE : OMX_FALSE;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE CReceiverControlComponent::OnSetParameter(OMX_INDEXTYPE eIndex, OMX_PTR)
{
    // What the receiver sees is not for the client to set.
    return static_cast<OMX_U32>(eIndex) == OMX_TI_IndexParamCtrlVidDecDetectVideo ? OMX_ErrorUnsupportedSetting
                                                                                   : OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE CReceiverControlComponent::CheckSetting(OMX_INDEXTYPE eIndex, bool, OMX_PTR pvNew)
{
    switch (static_cast<OMX_U32>(eIndex))
    {
    case OMX_TI_IndexParamCTRLVidDecInfo:
    {
        // The simulated platform has the HDMI receiver only, detecting on its own.
        const auto& roInfo = *static_cast<const OMX_PARAM_CTRL_VIDDECODER_INFO*>(pvNew);
        const bool bValid = roInfo.videoStandard == OMX_VIDEO_DECODER_STD_AUTO_DETECT &&
                            roInfo.videoDecoderId == OMX_VID_DEC_ADV7611_DRV &&
                            roInfo.videoSystemId == OMX_VIDEO_DECODER_VIDEO_SYSTEM_AUTO_DETECT;
        return bValid ? OMX_ErrorNone : OMX_ErrorBadParameter;
    }
    case OMX_TI_IndexParamCtrlColorRange:
    {
        const OMX_BOOL bFullRange = static_cast<const OMX_PARAM_CTRL_COLOR_RANGE*>(pvNew)->bFullRange;
        return bFullRange == OMX_TRUE || bFullRange == OMX_FALSE ? OMX_ErrorNone : OMX_ErrorBadParameter;
    }
    default:
        return CCaptureSettings::CheckHwPortSetting(eIndex, pvNew);
    }
}
