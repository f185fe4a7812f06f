// The demanding picture of the simulated input: fine detail that moves everywhere in every
// frame, as hard to code as camera pictures. Six horizontal bands each show a window on a large,
// seamlessly repeating texture (fine grain over coarser structure, in colour), each band moving
// in its own direction by a few pixels a frame, and a grain that changes with every frame (the
// two lowest bits of the luma) lies over all of it, as a camera's noise does.
//
// Drawing is cheap: the texture and the grain are made once per geometry; a frame is, line by
// line, a copy out of the texture combined with a line of the grain taken at a new place.
#ifndef CMOTION_PATTERN_H
#define CMOTION_PATTERN_H

#include <cstdint>
#include <vector>

#include "CFrameLines.h"

class CMotionPattern
{
public:
    CMotionPattern();

    // Prepares frames of this geometry and layout (the texture is made again only when the
    // geometry changed). bFields: the frame holds two fields one after the other.
    void Configure(const CVideoFrameGeometry& roGeometry, bool bFields);
    // Bytes a frame occupies.
    uint64_t FrameBytes() const { return m_oLines.FrameBytes(); }
    // Draws frame number uiFrame into pBuffer, which holds at least FrameBytes().
    void Draw(uint64_t uiFrame, uint8_t* pBuffer) const;

private:
    struct SBand
    {
        unsigned uiTop;     // frame lines [uiTop, uiBottom)
        unsigned uiBottom;
        int iStepX;         // texture pixels the window moves a frame (even)
        int iStepY;         // texture lines the window moves a frame
        unsigned uiStartX;  // the window's place in frame 0 (even)
        unsigned uiStartY;
    };

    static constexpr unsigned s_uiBands = 6;
    // The texture repeats every s_uiPeriod pixels and lines.
    static constexpr unsigned s_uiPeriod = 1024;
    // Grain lines start anywhere within this many bytes of the grain table.
    static constexpr unsigned s_uiGrainSpan = 1u << 16;

    void MakeTexture();

    CFrameLines m_oLines;
    bool m_bMade;
    CVideoFrameGeometry m_oMadeFor;
    SBand m_aoBands[s_uiBands];
    // Texture lines of s_uiPeriod + width pixels (the repeat included, so that every window is
    // one piece): s_uiPeriod lines of luma (or packed pixels), then, when 4:2:0, s_uiPeriod / 2
    // lines of interleaved chroma.
    std::vector<uint8_t> m_aucTexture;
    uint64_t m_uiTextureLineBytes;
    uint64_t m_uiChromaOffset;
    // What the grain changes in each byte of a line: the two lowest bits of the luma samples.
    std::vector<uint8_t> m_aucGrain;
};

#endif // CMOTION_PATTERN_H
