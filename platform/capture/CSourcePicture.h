// One picture of a real source (CMediaSource), held until the capture has copied it into its
// buffer. The copy is the only one the picture sees between GStreamer and the capture's buffer:
// line by line, in the layout of CVideoFrameGeometry, and, for a frame of two fields, with its
// even lines (the top field) first and its odd lines after them, each field a picture of its own
// (with its own chroma plane when 4:2:0), as the capture delivers interlaced video. Nothing is
// converted: the picture must already have the capture's size and pixel format.
#ifndef CSOURCE_PICTURE_H
#define CSOURCE_PICTURE_H

#include <gst/video/video.h>

#include <cstddef>
#include <cstdint>

#include "CVideoFrameGeometry.h"

class CSourcePicture
{
public:
    // Takes over the reference to poSample (which may be null).
    explicit CSourcePicture(GstSample* poSample) : m_poSample(poSample) {}
    ~CSourcePicture();
    CSourcePicture(const CSourcePicture&) = delete;
    CSourcePicture& operator=(const CSourcePicture&) = delete;

    bool IsValid() const { return m_poSample != nullptr; }

    // Bytes a frame of that geometry takes in a buffer, with or without fields.
    static uint64_t FrameBytes(const CVideoFrameGeometry& roGeometry, bool bFields);

    // The picture has that geometry's size and pixel format.
    bool Matches(const CVideoFrameGeometry& roGeometry) const;
    // Copies the picture into pBuffer (uiSize bytes) laid out as roGeometry, as two fields when
    // bFields. False, and nothing copied, when the picture has another size or format or does not
    // fit.
    bool CopyTo(uint8_t* pBuffer, uint64_t uiSize, const CVideoFrameGeometry& roGeometry, bool bFields) const;

private:
    // The picture's video info, when it has that geometry's size and pixel format.
    bool Describe(const CVideoFrameGeometry& roGeometry, GstVideoInfo& roInfo) const;

    GstSample* m_poSample;
};

#endif // CSOURCE_PICTURE_H
