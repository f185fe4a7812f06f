#include "CSourcePicture.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstring>

namespace
{
// Copies uiLines lines of uiBytes each: line i of the destination plane from line
// uiFirst + i * uiStep of the source plane.
void local_CopyLines(uint8_t* pDestination, uint64_t uiDestinationStride, const uint8_t* pSource,
                     uint64_t uiSourceStride, unsigned uiFirst, unsigned uiStep, unsigned uiLines, size_t uiBytes)
{
    for (unsigned i = 0; i < uiLines; ++i)
        memcpy(pDestination + i * uiDestinationStride, pSource + (uiFirst + uint64_t(i) * uiStep) * uiSourceStride,
               uiBytes);
}
} // namespace

CSourcePicture::~CSourcePicture()
{
    if (m_poSample != nullptr)
        gst_sample_unref(m_poSample);
}

bool CSourcePicture::Describe(const CVideoFrameGeometry& roGeometry, GstVideoInfo& roInfo) const
{
    GstCaps* poCaps = m_poSample != nullptr ? gst_sample_get_caps(m_poSample) : nullptr;
    const GstVideoFormat eExpected = roGeometry.IsSemiPlanar() ? GST_VIDEO_FORMAT_NV12 : GST_VIDEO_FORMAT_YUY2;
    return poCaps != nullptr && gst_sample_get_buffer(m_poSample) != nullptr && gst_video_info_from_caps(&roInfo, poCaps) &&
           GST_VIDEO_INFO_FORMAT(&roInfo) == eExpected && GST_VIDEO_INFO_WIDTH(&roInfo) == int(roGeometry.m_uiWidth) &&
           GST_VIDEO_INFO_HEIGHT(&roInfo) == int(roGeometry.m_uiHeight);
}

bool CSourcePicture::Matches(const CVideoFrameGeometry& roGeometry) const
{
    GstVideoInfo oInfo;
    return Describe(roGeometry, oInfo);
}

uint64_t CSourcePicture::FrameBytes(const CVideoFrameGeometry& roGeometry, bool bFields)
{
    if (!bFields)
        return roGeometry.ByteLength();
    // Two field pictures of half the lines each, each with its own chroma plane when 4:2:0.
    const uint64_t uiFieldLines = roGeometry.m_uiHeight / 2;
    const uint64_t uiChromaLines = roGeometry.IsSemiPlanar() ? uiFieldLines / 2 : 0;
    return 2 * uint64_t(roGeometry.m_uiStride) * (uiFieldLines + uiChromaLines);
}

bool CSourcePicture::CopyTo(uint8_t* pBuffer, uint64_t uiSize, const CVideoFrameGeometry& roGeometry,
                            bool bFields) const
{
    GstVideoInfo oInfo;
    if (uiSize < FrameBytes(roGeometry, bFields) || !Describe(roGeometry, oInfo))
        return false;
    GstVideoFrame oFrame;
    if (!gst_video_frame_map(&oFrame, &oInfo, gst_sample_get_buffer(m_poSample), GST_MAP_READ))
        return false;

    const unsigned uiHeight = roGeometry.m_uiHeight;
    const uint64_t uiStride = roGeometry.m_uiStride;
    const size_t uiLineBytes = std::min<size_t>(uiStride, CVideoFrameGeometry::MinimumStride(roGeometry.m_uiWidth, roGeometry.m_eFormat));
    const uint8_t* pLuma = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&oFrame, 0));
    const uint64_t uiLumaStride = static_cast<uint64_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&oFrame, 0));
    const bool bSemiPlanar = roGeometry.IsSemiPlanar();
    const uint8_t* pChroma = bSemiPlanar ? static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&oFrame, 1)) : nullptr;
    const uint64_t uiChromaStride = bSemiPlanar ? static_cast<uint64_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&oFrame, 1)) : 0;
    if (!bFields)
    {
        local_CopyLines(pBuffer, uiStride, pLuma, uiLumaStride, 0, 1, uiHeight, uiLineBytes);
        if (bSemiPlanar)
            local_CopyLines(pBuffer + roGeometry.ChromaOffset(), uiStride, pChroma, uiChromaStride, 0, 1,
                            roGeometry.ChromaLines(), uiLineBytes);
    }
    else
    {
        // Field f holds frame lines f, f + 2, ...; its chroma lines are frame chroma lines f, f + 2, ...
        const unsigned uiFieldLines = uiHeight / 2;
        const unsigned uiFieldChroma = bSemiPlanar ? uiFieldLines / 2 : 0;
        const uint64_t uiFieldBytes = uiStride * (uiFieldLines + uiFieldChroma);
        for (unsigned uiField = 0; uiField < 2; ++uiField)
        {
            uint8_t* pField = pBuffer + uiField * uiFieldBytes;
            local_CopyLines(pField, uiStride, pLuma, uiLumaStride, uiField, 2, uiFieldLines, uiLineBytes);
            if (bSemiPlanar)
                local_CopyLines(pField + uiStride * uiFieldLines, uiStride, pChroma, uiChromaStride, uiField, 2,
                                uiFieldChroma, uiLineBytes);
        }
    }
    gst_video_frame_unmap(&oFrame);
    return true;
}
