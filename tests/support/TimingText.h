// A video timing as one line of text, to compare whole: "1920x1080p 148500 kHz 88/44/148 4/5/36
// +h+v" (active size and scan, pixel clock, horizontal and vertical front porch/sync/back porch,
// sync polarities). For the tests of the display-timing code and the display controller.
#ifndef PELLIX_TEST_TIMING_TEXT_H
#define PELLIX_TEST_TIMING_TEXT_H

#include <string>

#include "edid/DetailedTiming.h"

inline std::string TimingText(int iWidth, int iHeight, bool bInterlaced, int iClockKHz, const int (&aiH)[3],
                              const int (&aiV)[3], bool bHPositive, bool bVPositive)
{
    char szText[160];
    snprintf(szText, sizeof(szText), "%dx%d%c %d kHz %d/%d/%d %d/%d/%d %ch%cv", iWidth, iHeight,
             bInterlaced ? 'i' : 'p', iClockKHz, aiH[0], aiH[1], aiH[2], aiV[0], aiV[1], aiV[2], bHPositive ? '+' : '-',
             bVPositive ? '+' : '-');
    return szText;
}

inline std::string TimingText(const CDetailedTiming& roT)
{
    return TimingText(roT.GetHorizontalActive(), roT.GetVerticalActive(), roT.IsInterlaced() != 0, roT.GetPixelClock(),
                      {roT.GetHorizontalFrontPorch(), roT.GetHorizontalSync(), roT.GetHorizontalBackPorch()},
                      {roT.GetVerticalFrontPorch(), roT.GetVerticalSync(), roT.GetVerticalBackPorch()},
                      roT.IsHorizontalPolarityPositive() != 0, roT.IsVerticalPolarityPositive() != 0);
}

#endif // PELLIX_TEST_TIMING_TEXT_H
