// Pixel formats of the video ports and the line pitch and frame size each implies.
#ifndef BASE_OMX_H
#define BASE_OMX_H

#include "ZemBaseTypes.h"

// The values are the OpenMAX IL colour-format codes of the same layouts, so a value is
// written unchanged into the eColorFormat of a port definition.
enum OmxPixelFormat : MUINT32
{
    OmxPixFmt_RGB888 = 11,  // OMX_COLOR_Format24bitRGB888: 3 bytes per pixel
    OmxPixFmt_YUV420 = 21,  // OMX_COLOR_FormatYUV420SemiPlanar: Y plane, then interleaved CbCr at half height
    OmxPixFmt_YUV422 = 25,  // OMX_COLOR_FormatYCbYCr: packed Y0 Cb Y1 Cr
};

// Bytes per line of the first (or only) plane; 0 for an unknown format.
inline unsigned GetPitch(unsigned uiWidth, OmxPixelFormat ePixelFormat)
{
    switch (ePixelFormat)
    {
    case OmxPixFmt_YUV422: return 2 * uiWidth;
    case OmxPixFmt_YUV420: return uiWidth;
    case OmxPixFmt_RGB888: return 3 * uiWidth;
    }
    return 0;
}

// Bytes of one whole frame buffer; 0 for an unknown format.
inline unsigned GetBufferSize(const tagMSIZE32& roBufferSize, OmxPixelFormat ePixelFormat)
{
    const MUINT32 uiPixels = roBufferSize.m_uiCx * roBufferSize.m_uiCy;
    switch (ePixelFormat)
    {
    case OmxPixFmt_YUV422: return 2 * uiPixels;
    case OmxPixFmt_YUV420: return (3 * uiPixels) >> 1;
    case OmxPixFmt_RGB888: return 3 * uiPixels;
    }
    return 0;
}

#endif // BASE_OMX_H
