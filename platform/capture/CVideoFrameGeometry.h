// Where the pixels of one picture lie in a buffer. Two layouts: YUV 4:2:2 packed
// (OMX_COLOR_FormatYCbYCr: Y0 Cb Y1 Cr, one plane) and YUV 4:2:0 semi-planar
// (OMX_COLOR_FormatYUV420SemiPlanar: a luma plane of m_uiHeight lines, then an interleaved CbCr
// plane of half as many lines, both m_uiStride bytes per line). Shared by the capture and the
// deinterlacer, which check their port definitions with it.
#ifndef CVIDEO_FRAME_GEOMETRY_H
#define CVIDEO_FRAME_GEOMETRY_H

#include <OMX_Component.h>
#include <OMX_IVCommon.h>

#include <cstdint>

class CVideoFrameGeometry
{
public:
    // Largest picture a video port of the platform takes, in pixels and lines.
    static constexpr OMX_U32 s_uiMaxDimension = 4096;

    CVideoFrameGeometry();
    CVideoFrameGeometry(OMX_U32 uiWidth, OMX_U32 uiHeight, OMX_U32 uiStride, OMX_COLOR_FORMATTYPE eFormat);
    // The picture a port definition describes.
    static CVideoFrameGeometry FromPortDefinition(const OMX_PARAM_PORTDEFINITIONTYPE& roDefinition);

    static bool IsSupportedFormat(OMX_COLOR_FORMATTYPE eFormat);
    // Bytes of a line of uiWidth pixels (of the luma plane when semi-planar).
    static OMX_U32 MinimumStride(OMX_U32 uiWidth, OMX_COLOR_FORMATTYPE eFormat);
    // Checks a video port definition a client sets and completes it: a supported format, even
    // width (and even height for 4:2:0), at most s_uiMaxDimension each way, a stride of at least
    // one line (0: exactly one line), a buffer that holds the picture. nSliceHeight follows the
    // height. OMX_ErrorBadParameter when the port cannot take it.
    static OMX_ERRORTYPE CheckPortDefinition(OMX_PARAM_PORTDEFINITIONTYPE& roDefinition);

    // Describes this picture in a port definition: size, stride, slice, raw format, and a buffer
    // size that holds it.
    void WriteTo(OMX_PARAM_PORTDEFINITIONTYPE& roDefinition) const;

    bool IsSemiPlanar() const { return m_eFormat == OMX_COLOR_FormatYUV420SemiPlanar; }
    // Lines of the chroma plane (0 when packed).
    OMX_U32 ChromaLines() const { return IsSemiPlanar() ? (m_uiHeight + 1) / 2 : 0; }
    // Offset of the chroma plane (semi-planar).
    uint64_t ChromaOffset() const { return static_cast<uint64_t>(m_uiStride) * m_uiHeight; }
    // Bytes from the picture's first byte to just past its last line.
    uint64_t ByteLength() const { return static_cast<uint64_t>(m_uiStride) * (m_uiHeight + ChromaLines()); }

    OMX_U32 m_uiWidth;
    OMX_U32 m_uiHeight;
    OMX_U32 m_uiStride;
    OMX_COLOR_FORMATTYPE m_eFormat;
};

#endif // CVIDEO_FRAME_GEOMETRY_H
