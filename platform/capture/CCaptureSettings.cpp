#include "CCaptureSettings.h"

#include "CVideoFrameGeometry.h"

OMX_PARAM_VFCC_HWPORT_ID CCaptureSettings::DefaultHwPortId()
{
    OMX_PARAM_VFCC_HWPORT_ID oPortId;
    InitStruct(oPortId);
    oPortId.eHwPortId = OMX_VIDEO_CaptureHWPortVIP1_PORTA;
    return oPortId;
}

OMX_PARAM_VFCC_HWPORT_PROPERTIES CCaptureSettings::DefaultHwPortProperties()
{
    OMX_PARAM_VFCC_HWPORT_PROPERTIES oProperties;
    InitStruct(oProperties);
    oProperties.eCaptMode = OMX_VIDEO_CaptureModeSC_NON_MUX;
    oProperties.eVifMode = OMX_VIDEO_CaptureVifMode_16BIT;
    oProperties.eInColorFormat = OMX_COLOR_FormatYCbYCr;
    oProperties.eScanType = OMX_VIDEO_CaptureScanTypeProgressive;
    oProperties.nMaxWidth = 1920;
    oProperties.nMaxHeight = 1200;
    oProperties.nMaxChnlsPerHwPort = 1;
    return oProperties;
}

OMX_ERRORTYPE CCaptureSettings::CheckHwPortId(const OMX_PARAM_VFCC_HWPORT_ID& roPortId)
{
    return roPortId.eHwPortId >= OMX_VIDEO_CaptureHWPortVIP1_PORTA &&
                   roPortId.eHwPortId <= OMX_VIDEO_CaptureHWPortVIP2_PORTB
               ? OMX_ErrorNone
               : OMX_ErrorBadParameter;
}

OMX_ERRORTYPE CCaptureSettings::CheckHwPortProperties(const OMX_PARAM_VFCC_HWPORT_PROPERTIES& roProperties)
{
    const bool bValid =
        roProperties.eCaptMode == OMX_VIDEO_CaptureModeSC_NON_MUX &&
        roProperties.eVifMode >= OMX_VIDEO_CaptureVifMode_08BIT &&
        roProperties.eVifMode <= OMX_VIDEO_CaptureVifMode_24BIT &&
        roProperties.eInColorFormat == OMX_COLOR_FormatYCbYCr &&
        (roProperties.eScanType == OMX_VIDEO_CaptureScanTypeProgressive ||
         roProperties.eScanType == OMX_VIDEO_CaptureScanTypeInterlaced) &&
        roProperties.nMaxWidth > 0 && roProperties.nMaxWidth <= CVideoFrameGeometry::s_uiMaxDimension &&
        roProperties.nMaxHeight > 0 && roProperties.nMaxHeight <= CVideoFrameGeometry::s_uiMaxDimension &&
        roProperties.nMaxChnlsPerHwPort == 1 && roProperties.bFieldMerged == OMX_FALSE;
    return bValid ? OMX_ErrorNone : OMX_ErrorBadParameter;
}

OMX_ERRORTYPE CCaptureSettings::CheckHwPortSetting(OMX_INDEXTYPE eIndex, const void* pvNew)
{
    switch (static_cast<OMX_U32>(eIndex))
    {
    case OMX_TI_IndexParamVFCCHwPortID:
        return CheckHwPortId(*static_cast<const OMX_PARAM_VFCC_HWPORT_ID*>(pvNew));
    case OMX_TI_IndexParamVFCCHwPortProperties:
        return CheckHwPortProperties(*static_cast<const OMX_PARAM_VFCC_HWPORT_PROPERTIES*>(pvNew));
    default:
        return OMX_ErrorNone;
    }
}
