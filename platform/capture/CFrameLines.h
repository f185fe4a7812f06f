// Where each line of a frame lies in a capture buffer, for the pictures the capture draws or
// stamps: the layouts of CVideoFrameGeometry, progressive, or as two fields one after the other
// (the even lines first, then the odd lines; each field a picture of its own with its own chroma
// plane when 4:2:0). Frame line y is line y / 2 of field y % 2; a 4:2:0 field's chroma line k / 2
// goes with its lines k (which writes it) and k + 1. A field of an odd number of lines leaves its
// last line without chroma of its own rather than reach past the frame.
#ifndef CFRAME_LINES_H
#define CFRAME_LINES_H

#include <cstdint>
#include <vector>

#include "CVideoFrameGeometry.h"

class CFrameLines
{
public:
    CFrameLines();

    void Configure(const CVideoFrameGeometry& roGeometry, bool bFields);
    const CVideoFrameGeometry& Geometry() const { return m_oGeometry; }
    bool HasFields() const { return m_bFields; }
    // Bytes a frame occupies in the buffer.
    uint64_t FrameBytes() const { return m_uiFrameBytes; }

    // Offset of frame line y's luma (or packed) bytes.
    uint32_t Luma(unsigned y) const { return m_auiLuma[y]; }
    // 4:2:0: whether frame line y writes a chroma line, and that line's offset.
    bool WritesChroma(unsigned y) const { return m_abWritesChroma[y] != 0; }
    uint32_t Chroma(unsigned y) const { return m_auiChroma[y]; }

private:
    CVideoFrameGeometry m_oGeometry;
    bool m_bFields;
    uint64_t m_uiFrameBytes;
    std::vector<uint32_t> m_auiLuma;
    std::vector<uint32_t> m_auiChroma;
    std::vector<uint8_t> m_abWritesChroma;
};

#endif // CFRAME_LINES_H
