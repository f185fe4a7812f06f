// The VESA Generalized Timing Formula in scaled integer arithmetic, for the modes a monitor
// announces by size and rate only and the mode table lacks. Stateless: every operation is a
// class-level function writing a CDetailedTiming.
#ifndef GTF_H
#define GTF_H

#include "edid/DetailedTiming.h"

class CGtf
{
public:
    // The GTF parameters. The formulas always use the default ones (cell granularity 8 pixels,
    // minimum front porch 1 line, vertical sync 3 lines, horizontal sync 8 % of the total,
    // minimum vertical sync plus back porch 550 us, C' = 30, M' = 300) and never read a record
    // passed to them.
    struct SCoefficients
    {
        MUINT32 uiMarginPercentage;
        MUINT32 uiCellGranularity;
        MUINT32 uiMin_Front_Porch;
        MUINT32 uiVsync_Width;
        MUINT32 uiHSync_Width_Percentage;
        MUINT32 uiMin_VSync_Plus_Back_Porch;
        MUINT32 uiMCoefficientGradient;
        MUINT32 uiCCoefficientOffset;
        MUINT32 uiKCoefficientScalingFactor;
        MUINT32 uiJCoefficientScalingFactorWeight;
    };

    // Chooses the formula by the magnitude of iRateInHz: 1..999 a vertical rate in Hz,
    // 1000..99999 a line rate in Hz (taken in kHz), from 100000 on a pixel clock in Hz (taken in
    // MHz). A rate of 0 or below gives false with roTiming untouched. The timing computed is
    // always progressive and without margins.
    static MBOOL32 GetGtfTiming(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive, MINT32 iRateInHz,
                                MBOOL32 bInterlaced, MBOOL32 bMargins, const SCoefficients* poCoefficients);

    // Each variant fills roTiming and returns whether the timing computed is consistent (sync
    // after the active area and before the end of the line and of the frame).
    // iRate: vertical refresh in Hz.
    static MBOOL32 GetGtfTimingBasedOnVRate(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive,
                                            MINT32 iRate, MBOOL32 bInterlaced, MBOOL32 bMargins,
                                            const SCoefficients* poCoefficients);
    // iRate: line rate in kHz, stored unchanged as the line rate.
    static MBOOL32 GetGtfTimingBasedOnHRate(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive,
                                            MINT32 iRate, MBOOL32 bInterlaced, MBOOL32 bMargins,
                                            const SCoefficients* poCoefficients);
    // iRate: pixel clock in MHz.
    static MBOOL32 GetGtfTimingBasedOnPixelClock(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive,
                                                 MINT32 iRate, MBOOL32 bInterlaced, MBOOL32 bMargins,
                                                 const SCoefficients* poCoefficients);

    // uiDividend / uiDivider rounded to the nearest, halves upward; 0 for a divider of 0.
    static MUINT32 RoundedDivision(MUINT32 uiDividend, MUINT32 uiDivider);
    // The integer square root of uiValue rounded to the nearest (halves upward), searched upward
    // from 1001 - uiStartValue and therefore never below 1000 - uiStartValue.
    static MUINT32 SquareRoot(MUINT32 uiValue, MUINT32 uiStartValue);
};

#endif // GTF_H
