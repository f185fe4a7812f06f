// An 8-bit RGB picture of the screen, onto which the display draws the frames of its windows.
#ifndef CRGB_IMAGE_H
#define CRGB_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The pixels one window reads from a frame buffer.
struct SWindowPixels
{
    const uint8_t* puiData;  // the frame: first plane, then (semi-planar) the chroma plane
    size_t uiSize;           // bytes that may be read from puiData
    unsigned uiX, uiY;       // top-left corner on the screen
    unsigned uiWidth, uiHeight;
    unsigned uiPitch;        // bytes per line of the first plane
    bool bSemiPlanar;        // false: packed Y0 Cb Y1 Cr; true: luma plane, interleaved Cb Cr plane
    size_t uiChromaOffset;   // semi-planar: where the chroma plane starts
    unsigned uiChromaPitch;  // semi-planar: bytes per chroma line
};

class CRgbImage
{
public:
    // A black picture.
    CRgbImage(unsigned uiWidth, unsigned uiHeight);

    unsigned Width() const { return m_uiWidth; }
    unsigned Height() const { return m_uiHeight; }
    const std::vector<uint8_t>& Pixels() const { return m_auiPixels; }  // rows of R, G, B bytes

    // Draws a window of full-range BT.601 YCbCr pixels, clipped to the picture and to the bytes
    // the window may read.
    void DrawWindow(const SWindowPixels& roWindow);

private:
    void PutYCbCr(unsigned uiX, unsigned uiY, int iY, int iCb, int iCr);

    unsigned m_uiWidth;
    unsigned m_uiHeight;
    std::vector<uint8_t> m_auiPixels;
};

#endif // CRGB_IMAGE_H
