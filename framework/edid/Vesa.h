// The fixed table of 86 display timings (CQorDtmMode) and its search by size and refresh
// (CVesa). Stateless: every operation is a class-level function writing a CDetailedTiming.
#ifndef VESA_H
#define VESA_H

#include "edid/DetailedTiming.h"

class CQorDtmMode
{
public:
    // One row of the mode table: sizes in pixels and lines, rate in Hz, clock in kHz.
    struct SQorDtmTableEntry
    {
        MINT32 iHActive;
        MINT32 iVActive;
        MINT32 iVRate_Hz;
        MINT32 iPixClock_kHz;
        MINT32 iHFPorch;
        MINT32 iHSync;
        MINT32 iHBPorch;
        MINT32 iVFPorch;
        MINT32 iVSync;
        MINT32 iVBPorch;
        MINT32 flAttributs;
    };

    // Bits of flAttributs. The reduced-blanking mark is informative only.
    enum EDtmAttribute
    {
        DTM_ATTRIBUTE_INTERLACED = 0x01,
        DTM_ATTRIBUTE_OVERSCAN = 0x02,
        DTM_ATTRIBUTE_HSYNC_POSITIVE = 0x04,
        DTM_ATTRIBUTE_VSYNC_POSITIVE = 0x08,
        DTM_ATTRIBUTE_REDUCED_BLANKING = 0x80
    };

    // Row count; indices from this on are refused.
    static constexpr MUINT32 uiMaxTimingIndex = 86;

    // Row uiModeIndex as a timing; false for an index past the table.
    static MBOOL32 EnumMode(MUINT32 uiModeIndex, CDetailedTiming& roMode);
    // Sets the line rate (Hz) from the pixel clock and the totals, and the refresh too when it is
    // still 0. Nothing changes while either total is 0.
    static void ComputeAndSetRefreshRates(CDetailedTiming& roDetailedTiming);
    static int GetHorizontalTotalPixel(const CDetailedTiming& roDetailedTiming);
    // Progressive: lines per frame. Interlaced: active lines of the frame plus the blanking of
    // each field and one half-line pair.
    static int GetVerticalTotalLine(const CDetailedTiming& roDetailedTiming);

    // Where a size and rate appear twice, a search takes the earlier row.
    static const SQorDtmTableEntry s_aoDTMTimings[uiMaxTimingIndex];
};

class CVesa
{
public:
    // The iIndex-th (from 0) row whose active size and refresh equal the arguments, 0 standing
    // for any value. False, and roTiming untouched, when there is no such row.
    static MBOOL32 GetVESATiming(CDetailedTiming& roTiming, MINT32 iIndex, MINT32 iHActive, MINT32 iVActive,
                                 MINT32 iVRefreshRate);
};

#endif // VESA_H
