// A moving NV12 test picture for the encoder: a frame counter as a row of black and white blocks
// at the top, diagonal bars moving sideways, and at the bottom a band of noise that is new in
// every frame, so that the stream needs a steady share of bits. Every frame is made of row
// copies from tables made once, so that a frame costs little more than writing it.
#ifndef CNV12_PATTERN_H
#define CNV12_PATTERN_H

#include <cstddef>
#include <cstdint>
#include <vector>

class CNv12Pattern
{
public:
    // Bits of the frame counter shown at the top.
    static const unsigned s_uiCounterBits = 16;

    CNv12Pattern(unsigned uiWidth, unsigned uiHeight);

    unsigned Width() const { return m_uiWidth; }
    unsigned Height() const { return m_uiHeight; }
    // Bytes of one frame with the given line pitch: the Y plane, then the CbCr plane.
    size_t FrameBytes(unsigned uiStride) const;

    // Writes frame uiFrame; uiStride is at least the width.
    void Render(uint64_t uiFrame, uint8_t* pFrame, unsigned uiStride) const;

    // The counter read back from a decoded Y plane (pitch uiStride): black blocks are 0 bits.
    static uint64_t ReadCounter(const uint8_t* pLuma, unsigned uiStride, unsigned uiWidth);

private:
    static const unsigned s_uiBarPeriod = 128;  // pixels after which the bars repeat
    static const unsigned s_uiBarRows = 64;     // lines after which the bars repeat
    static const unsigned s_uiSpeed = 4;        // pixels per frame

    void RenderPlane(uint64_t uiFrame, uint8_t* pPlane, unsigned uiStride, unsigned uiRows, bool bChroma) const;

    unsigned m_uiWidth;
    unsigned m_uiHeight;
    unsigned m_uiCounterRows;  // lines of the counter (luma)
    unsigned m_uiNoiseRows;    // lines of the noise band (luma)
    std::vector<uint8_t> m_aucBars;       // s_uiBarRows rows of width + period, luma then chroma
    std::vector<uint8_t> m_aucNoise;      // noise to take bands from, at a new place every frame
};

#endif // CNV12_PATTERN_H
