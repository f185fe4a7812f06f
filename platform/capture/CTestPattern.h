// The picture the simulated input delivers: colour bars over the upper two thirds (white,
// yellow, cyan, green, magenta, red, blue, black from left to right), a grey ramp from black on
// the left to white on the right below them, an orange bar moving to the right by a few pixels
// per frame, and the frame's number in eight white digits on a black box in the ramp. The
// picture tells at a glance whether video moves, which frames were lost and whether it stands
// upright and unmirrored.
//
// Drawing is cheap: the still part is drawn once per geometry, copied into a buffer the first
// time the buffer is seen, and afterwards only the moving bar's old place is restored and the
// bar and the counter are drawn again. A frame may be laid out as two fields (CFrameLines).
#ifndef CTEST_PATTERN_H
#define CTEST_PATTERN_H

#include <cstdint>
#include <vector>

#include "CFrameLines.h"

class CTestPattern
{
public:
    // Where the parts of the picture lie, in pixels and lines of the whole frame. Every value is
    // a multiple of 4, so that a rectangle covers whole chroma samples in every layout.
    struct SLayout
    {
        unsigned uiBarsHeight;    // colour bars: lines [0, uiBarsHeight)
        unsigned auiBarLeft[9];   // bar i spans [auiBarLeft[i], auiBarLeft[i + 1])
        unsigned uiBlock;         // side of one block of a digit's 5 x 7 grid
        unsigned uiCounterLeft;   // first digit's left edge; digit i starts 6 * i blocks further
        unsigned uiCounterTop;    // digits' top line
        unsigned uiBoxMargin;     // black around the digits
        unsigned uiMovingWidth;   // width of the moving bar
        unsigned uiMovingStep;    // pixels it moves per frame
    };

    static constexpr unsigned s_uiDigits = 8;
    static constexpr unsigned s_uiFontWidth = 5;
    static constexpr unsigned s_uiFontHeight = 7;
    // Rows of each digit's glyph, top first; bit 4 is the leftmost block.
    static const uint8_t s_aauiFont[10][s_uiFontHeight];

    // The layout of a frame of that size.
    static SLayout LayoutFor(unsigned uiWidth, unsigned uiHeight);
    // Left edge of the moving bar in the given frame.
    static unsigned MovingBarLeft(const SLayout& roLayout, unsigned uiWidth, uint64_t uiFrame);

    CTestPattern();

    // Prepares the still part for frames of this geometry and layout; buffers seen before are
    // drawn in full again. bFields: the frame holds two fields one after the other.
    void Configure(const CVideoFrameGeometry& roGeometry, bool bFields);
    const CVideoFrameGeometry& Geometry() const { return m_oLines.Geometry(); }
    // Bytes a frame occupies.
    uint64_t FrameBytes() const { return m_oLines.FrameBytes(); }
    // Draws frame number uiFrame into pBuffer, which holds at least FrameBytes().
    void Draw(uint64_t uiFrame, uint8_t* pBuffer);

private:
    struct SColour
    {
        uint8_t uiY;
        uint8_t uiCb;
        uint8_t uiCr;
    };

    // What a buffer holds from an earlier Draw.
    struct SBufferState
    {
        const uint8_t* pBuffer;
        unsigned uiGeneration;  // of the still part it holds
        unsigned uiMovingLeft;  // where the moving bar was drawn
    };

    static constexpr unsigned s_uiKnownBuffers = 32;

    void FillRect(uint8_t* pFrame, unsigned uiLeft, unsigned uiTop, unsigned uiWidth, unsigned uiHeight,
                  const SColour& roColour) const;
    void RestoreRect(uint8_t* pFrame, unsigned uiLeft, unsigned uiWidth) const;
    void DrawCounter(uint8_t* pFrame, uint64_t uiFrame) const;
    SBufferState& StateOf(const uint8_t* pBuffer);

    CFrameLines m_oLines;
    SLayout m_oLayout;
    std::vector<uint8_t> m_aucBackground;
    unsigned m_uiGeneration;
    SBufferState m_aoBuffers[s_uiKnownBuffers];
    unsigned m_uiNextSlot;
};

#endif // CTEST_PATTERN_H
