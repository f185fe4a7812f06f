#include "CVideoFrameGeometry.h"

CVideoFrameGeometry::CVideoFrameGeometry()
    : m_uiWidth(0), m_uiHeight(0), m_uiStride(0), m_eFormat(OMX_COLOR_FormatUnused)
{
}

CVideoFrameGeometry::CVideoFrameGeometry(OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_U32 uiStride,
                                         OMX_COLOR_FORMATTYPE eFormat)
    : m_uiWidth(uiWidth), m_uiHeight(uiHeight), m_uiStride(uiStride), m_eFormat(eFormat)
{
}

CVideoFrameGeometry CVideoFrameGeometry::FromPortDefinition(const OMX_PARAM_PORTDEFINITIONTYPE& roDefinition)
{
    const OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roDefinition.format.video;
    return CVideoFrameGeometry(roVideo.nFrameWidth, roVideo.nFrameHeight, static_cast<OMX_U32>(roVideo.nStride),
                               roVideo.eColorFormat);
}

void CVideoFrameGeometry::WriteTo(OMX_PARAM_PORTDEFINITIONTYPE& roDefinition) const
{
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roDefinition.format.video;
    roVideo.nFrameWidth = m_uiWidth;
    roVideo.nFrameHeight = m_uiHeight;
    roVideo.nStride = static_cast<OMX_S32>(m_uiStride);
    roVideo.nSliceHeight = m_uiHeight;
    roVideo.eCompressionFormat = OMX_VIDEO_CodingUnused;
    roVideo.eColorFormat = m_eFormat;
    roDefinition.nBufferSize = static_cast<OMX_U32>(ByteLength());
}

bool CVideoFrameGeometry::IsSupportedFormat(OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYCbYCr || eFormat == OMX_COLOR_FormatYUV420SemiPlanar;
}

OMX_U32 CVideoFrameGeometry::MinimumStride(OMX_U32 uiWidth, OMX_COLOR_FORMATTYPE eFormat)
{
    return eFormat == OMX_COLOR_FormatYCbYCr ? 2 * uiWidth : uiWidth;
}

OMX_ERRORTYPE CVideoFrameGeometry::CheckPortDefinition(OMX_PARAM_PORTDEFINITIONTYPE& roDefinition)
{
    OMX_VIDEO_PORTDEFINITIONTYPE& roVideo = roDefinition.format.video;
    if (roVideo.eCompressionFormat != OMX_VIDEO_CodingUnused || !IsSupportedFormat(roVideo.eColorFormat))
        return OMX_ErrorBadParameter;
    // Pixels come in Cb/Cr pairs, and 4:2:0 lines in pairs too.
    const bool bSemiPlanar = roVideo.eColorFormat == OMX_COLOR_FormatYUV420SemiPlanar;
    if (roVideo.nFrameWidth == 0 || roVideo.nFrameWidth % 2 != 0 || roVideo.nFrameWidth > s_uiMaxDimension ||
        roVideo.nFrameHeight == 0 || (bSemiPlanar && roVideo.nFrameHeight % 2 != 0) ||
        roVideo.nFrameHeight > s_uiMaxDimension)
        return OMX_ErrorBadParameter;
    const OMX_U32 uiMinimumStride = MinimumStride(roVideo.nFrameWidth, roVideo.eColorFormat);
    if (roVideo.nStride == 0)
        roVideo.nStride = static_cast<OMX_S32>(uiMinimumStride);
    if (roVideo.nStride < static_cast<OMX_S32>(uiMinimumStride) ||
        roVideo.nStride > static_cast<OMX_S32>(4 * s_uiMaxDimension))
        return OMX_ErrorBadParameter;
    roVideo.nSliceHeight = roVideo.nFrameHeight;
    if (roDefinition.nBufferSize < FromPortDefinition(roDefinition).ByteLength())
        return OMX_ErrorBadParameter;
    return OMX_ErrorNone;
}
