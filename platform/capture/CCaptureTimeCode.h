// The capture time and number of a picture, written into the picture itself as a block code that
// a client on the same machine reads back after decoding, to tell how long the picture took from
// capture to its screen.
//
// The code is 4 rows of 32 square blocks of s_uiBlock x s_uiBlock pixels across the middle of
// the picture's first lines (its left edge on a multiple of 16 pixels, so that every block is a
// whole macroblock; the corners stay free for what the picture shows there), one bit a block, white (luma 235) for 1 and black (16) for 0, most significant
// bit on the left, with neutral chroma: row 0 holds the high 32 bits of the capture time
// (CLOCK_MONOTONIC, in microseconds), row 1 its low 32 bits, row 2 the frame number and row 3 a
// check value (CRC-32 of the 12 bytes above, big-endian). Blocks of one or more whole 16 x 16
// macroblocks survive 4:2:0 and H.264 at low bit rates; a reader that finds a block neither
// clearly white nor clearly black, or a check value that does not match, takes the code as
// damaged. Pictures narrower than 32 blocks or lower than 4 carry no code.
#ifndef CCAPTURE_TIME_CODE_H
#define CCAPTURE_TIME_CODE_H

#include <cstdint>

class CFrameLines;

class CCaptureTimeCode
{
public:
    static constexpr unsigned s_uiBlock = 16;
    static constexpr unsigned s_uiColumns = 32;
    static constexpr unsigned s_uiRows = 4;

    struct SValue
    {
        uint64_t uiTimeUs;  // capture time, CLOCK_MONOTONIC
        uint32_t uiFrame;   // frame number
    };

    // CLOCK_MONOTONIC now, in microseconds.
    static uint64_t NowUs();

    // Writes the code into a frame laid out as roLines (whose buffer holds at least
    // roLines.FrameBytes()).
    static void Write(const CFrameLines& roLines, uint8_t* pFrame, const SValue& roValue);

    // Reads the code from a picture's luma: uiWidth x uiHeight samples, each line uiLineBytes
    // apart, samples uiSampleStep bytes apart (1 for a luma plane, 2 for YUV 4:2:2 packed).
    // False when the picture carries no code or a damaged one.
    static bool Read(const uint8_t* pLuma, unsigned uiLineBytes, unsigned uiSampleStep, unsigned uiWidth,
                     unsigned uiHeight, SValue& roValue);

    // The check value of the 12 bytes the code carries.
    static uint32_t Check(const SValue& roValue);
    // The code's left edge in a picture uiWidth pixels wide.
    static unsigned Left(unsigned uiWidth);
};

#endif // CCAPTURE_TIME_CODE_H
