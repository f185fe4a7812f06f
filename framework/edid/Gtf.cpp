#include "edid/Gtf.h"

// Units inside the formulas: periods in 0.01 us, vertical rates in 0.1 Hz, the ideal duty cycle
// in 0.01 %. All arithmetic is unsigned 32-bit with round-half-up divisions.

namespace
{
const MUINT32 local_uiCellGranularity = 8;    // pixels
const MUINT32 local_uiVSyncLines = 3;         // lines
const MUINT32 local_uiHSyncPerMille = 80;     // 8 % of the line
const MUINT32 local_uiMinVSyncBackPorch = 550; // us
const MUINT32 local_uiCPrime = 30;            // blanking offset, %
const MUINT32 local_uiMPrime = 300;           // gradient, %/kHz

MUINT32 local_RD(MUINT32 uiDividend, MUINT32 uiDivider)
{
    return CGtf::RoundedDivision(uiDividend, uiDivider);
}

// The horizontal figures that the consistency check needs.
struct SGtfHorizontal
{
    MUINT32 uiTotal;
    MUINT32 uiBackPorch;
    MUINT32 uiSyncStart;
};

// The vertical figures; the total is also kept ten-fold for the rate formulas.
struct SGtfVertical
{
    MUINT32 uiSyncBackPorch;
    MUINT32 uiTotal10;
    MUINT32 uiTotal;
    MUINT32 uiSyncStart;
};

// Clears the record and sets the active size; returns the width rounded to whole cells.
MUINT32 local_Start(CDetailedTiming& roTiming, MUINT32 uiHActive, MUINT32 uiVActive)
{
    roTiming.Clear();
    roTiming.SetHorizontalActive(static_cast<MINT32>(uiHActive));
    roTiming.SetVerticalActive(static_cast<MINT32>(uiVActive));
    return local_RD(uiHActive, local_uiCellGranularity) * local_uiCellGranularity;
}

// Blanking from the ideal duty cycle, sync at 8 % of the line, back porch half the blanking.
SGtfHorizontal local_SetHorizontal(CDetailedTiming& roTiming, MUINT32 uiHActive, MUINT32 uiHPixels,
                                   MUINT32 uiDutyCycle)
{
    SGtfHorizontal oH;
    const MUINT32 uiCell2 = 2 * local_uiCellGranularity;
    const MUINT32 uiBlank = local_RD(uiHPixels * uiDutyCycle, (10000 - uiDutyCycle) * uiCell2) * uiCell2;
    oH.uiTotal = uiHPixels + uiBlank;
    oH.uiBackPorch = local_RD(uiBlank / 2, local_uiCellGranularity) * local_uiCellGranularity;
    const MUINT32 uiSync = local_RD(oH.uiTotal * local_uiHSyncPerMille, 1000) & ~(local_uiCellGranularity - 1);
    oH.uiSyncStart = oH.uiTotal - (oH.uiBackPorch + uiSync);

    roTiming.SetHorizontalFrontPorch(static_cast<MINT32>(oH.uiSyncStart - uiHActive));
    roTiming.SetHorizontalSync(static_cast<MINT32>(uiSync));
    roTiming.SetHorizontalBackPorch(static_cast<MINT32>(oH.uiBackPorch));
    return oH;
}

// One line of front porch, three of sync, the rest of the minimum sync-plus-back-porch time.
SGtfVertical local_SetVertical(CDetailedTiming& roTiming, MUINT32 uiVActive, MUINT32 uiSyncBackPorch)
{
    SGtfVertical oV;
    oV.uiSyncBackPorch = uiSyncBackPorch;
    oV.uiTotal10 = (uiVActive + uiSyncBackPorch + 1) * 10;
    oV.uiTotal = local_RD(oV.uiTotal10, 10);
    oV.uiSyncStart = oV.uiTotal - uiSyncBackPorch;

    roTiming.SetVerticalFrontPorch(static_cast<MINT32>(oV.uiSyncStart - uiVActive));
    roTiming.SetVerticalSync(static_cast<MINT32>(local_uiVSyncLines));
    roTiming.SetVerticalBackPorch(static_cast<MINT32>(uiSyncBackPorch - local_uiVSyncLines));
    roTiming.SetVerticalPolarityPositive(true);
    return oV;
}

MBOOL32 local_IsConsistent(const SGtfHorizontal& roH, const SGtfVertical& roV, MUINT32 uiHActive, MUINT32 uiVActive)
{
    if (roH.uiSyncStart >= roH.uiTotal - roH.uiBackPorch)
        return false;
    if (roV.uiSyncStart >= roV.uiTotal - (roV.uiSyncBackPorch - local_uiVSyncLines))
        return false;
    return uiHActive <= roH.uiSyncStart && uiVActive <= roV.uiSyncStart;
}

// The ideal duty cycle for a line period: C' - M' x period.
MUINT32 local_DutyCycle(MUINT32 uiHPeriod)
{
    return local_uiCPrime * 100 - local_RD(uiHPeriod * local_uiMPrime * 10, 10000);
}

// Floor of the square root, bit by bit.
MUINT32 local_FloorSquareRoot(MUINT32 uiValue)
{
    MUINT32 uiRoot = 0;
    MUINT32 uiBit = 1u << 30;
    while (uiBit > uiValue)
        uiBit >>= 2;
    while (uiBit != 0)
    {
        if (uiValue >= uiRoot + uiBit)
        {
            uiValue -= uiRoot + uiBit;
            uiRoot = (uiRoot >> 1) + uiBit;
        }
        else
        {
            uiRoot >>= 1;
        }
        uiBit >>= 2;
    }
    return uiRoot;
}
} // namespace

MUINT32 CGtf::RoundedDivision(MUINT32 uiDividend, MUINT32 uiDivider)
{
    if (uiDivider == 0)
        return 0;
    const MUINT32 uiQuotient = uiDividend / uiDivider;
    const MUINT32 uiRemainder = uiDividend % uiDivider;
    // Twice the remainder at least the divider: a half or more (an odd divider has no half).
    return uiRemainder >= uiDivider - uiRemainder ? uiQuotient + 1 : uiQuotient;
}

MUINT32 CGtf::SquareRoot(MUINT32 uiValue, MUINT32 uiStartValue)
{
    // The first root not below the start whose square reaches the value. Squares are taken in
    // 64 bits, so that values above 65535^2 cannot wrap around.
    const MUINT64 uiX = uiValue;
    MUINT64 uiRoot = static_cast<MUINT32>(1001u - uiStartValue);
    if (uiRoot * uiRoot < uiX)
    {
        uiRoot = local_FloorSquareRoot(uiValue);
        if (uiRoot * uiRoot < uiX)
            uiRoot++;
    }
    const MUINT64 uiAbove = uiRoot * uiRoot;
    if (uiAbove == uiX)
        return static_cast<MUINT32>(uiRoot);
    // uiRoot is at least 1 here. A value below the square under the start keeps the start.
    const MUINT64 uiBelow = (uiRoot - 1) * (uiRoot - 1);
    if (uiX < uiBelow)
        return static_cast<MUINT32>(uiRoot);
    return static_cast<MUINT32>(uiAbove - uiX > uiX - uiBelow ? uiRoot - 1 : uiRoot);
}

MBOOL32 CGtf::GetGtfTiming(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive, MINT32 iRateInHz,
                           MBOOL32 bInterlaced, MBOOL32 bMargins, const SCoefficients* poCoefficients)
{
    if (iRateInHz <= 0)
        return false;
    if (iRateInHz < 1000)
        return GetGtfTimingBasedOnVRate(roTiming, iHActive, iVActive, iRateInHz, bInterlaced, bMargins,
                                        poCoefficients);
    if (iRateInHz < 100000)
        return GetGtfTimingBasedOnHRate(roTiming, iHActive, iVActive, iRateInHz / 1000, bInterlaced, bMargins,
                                        poCoefficients);
    return GetGtfTimingBasedOnPixelClock(roTiming, iHActive, iVActive, iRateInHz / 1000000, bInterlaced, bMargins,
                                         poCoefficients);
}

MBOOL32 CGtf::GetGtfTimingBasedOnVRate(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive, MINT32 iRate,
                                       MBOOL32 /*bInterlaced*/, MBOOL32 /*bMargins*/,
                                       const SCoefficients* /*poCoefficients*/)
{
    const MUINT32 uiHActive = static_cast<MUINT32>(iHActive);
    const MUINT32 uiVActive = static_cast<MUINT32>(iVActive);
    const MUINT32 uiRate = static_cast<MUINT32>(iRate);
    const MUINT32 uiHPixels = local_Start(roTiming, uiHActive, uiVActive);

    // Line period estimated from the field period less the minimum sync-plus-back-porch time.
    const MUINT32 uiHPeriodEst =
        local_RD(local_RD(1000000000, uiRate) - local_uiMinVSyncBackPorch * 1000, (uiVActive + 1) * 10);
    const SGtfVertical oV = local_SetVertical(roTiming, uiVActive, local_RD(local_uiMinVSyncBackPorch * 100, uiHPeriodEst));
    const MUINT32 uiVFieldRateEst = local_RD(1000000000, local_RD(uiHPeriodEst * oV.uiTotal10, 10));
    const MUINT32 uiHPeriod = local_RD(uiVFieldRateEst * uiHPeriodEst, uiRate * 10);
    const MUINT32 uiVFreq = local_RD(1000000000, local_RD(uiHPeriod * oV.uiTotal10, 10));

    const SGtfHorizontal oH = local_SetHorizontal(roTiming, uiHActive, uiHPixels, local_DutyCycle(uiHPeriod));
    roTiming.SetVerticalRefresh(local_RD(uiVFreq, 10));
    roTiming.SetHorizontalRate(static_cast<MINT32>(local_RD(100000000, uiHPeriod)));
    roTiming.SetPixelClock(static_cast<MINT32>(local_RD(oH.uiTotal * 100000, uiHPeriod)));
    return local_IsConsistent(oH, oV, uiHActive, uiVActive);
}

MBOOL32 CGtf::GetGtfTimingBasedOnHRate(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive, MINT32 iRate,
                                       MBOOL32 /*bInterlaced*/, MBOOL32 /*bMargins*/,
                                       const SCoefficients* /*poCoefficients*/)
{
    const MUINT32 uiHActive = static_cast<MUINT32>(iHActive);
    const MUINT32 uiVActive = static_cast<MUINT32>(iVActive);
    const MUINT32 uiLineRate = static_cast<MUINT32>(iRate);  // kHz
    const MUINT32 uiHPixels = local_Start(roTiming, uiHActive, uiVActive);

    const SGtfVertical oV = local_SetVertical(roTiming, uiVActive, local_RD(uiLineRate * local_uiMinVSyncBackPorch, 1000));
    const MUINT32 uiVFreq = local_RD(uiLineRate * 100000, oV.uiTotal10);
    const MUINT32 uiDutyCycle = local_uiCPrime * 100 - local_RD(local_uiMPrime * 100, uiLineRate);

    const SGtfHorizontal oH = local_SetHorizontal(roTiming, uiHActive, uiHPixels, uiDutyCycle);
    roTiming.SetVerticalRefresh(local_RD(uiVFreq, 10));
    roTiming.SetHorizontalRate(iRate);
    roTiming.SetPixelClock(static_cast<MINT32>(local_RD(oH.uiTotal * 100000, local_RD(100000, uiLineRate))));
    return local_IsConsistent(oH, oV, uiHActive, uiVActive);
}

MBOOL32 CGtf::GetGtfTimingBasedOnPixelClock(CDetailedTiming& roTiming, MINT32 iHActive, MINT32 iVActive, MINT32 iRate,
                                            MBOOL32 /*bInterlaced*/, MBOOL32 /*bMargins*/,
                                            const SCoefficients* /*poCoefficients*/)
{
    const MUINT32 uiHActive = static_cast<MUINT32>(iHActive);
    const MUINT32 uiVActive = static_cast<MUINT32>(iVActive);
    const MUINT32 uiClock = static_cast<MUINT32>(iRate) * 1000;  // kHz
    const MUINT32 uiHPixels = local_Start(roTiming, uiHActive, uiVActive);

    // Ideal line period from the quadratic of the GTF for a given pixel clock.
    const MUINT32 uiRoot = SquareRoot(local_RD(uiHPixels * 120000, uiClock) * 100 + 490000, 300);
    const MUINT32 uiIdealHPeriod = local_RD(uiRoot * 50000 - 35000000, 3000);

    const SGtfHorizontal oH = local_SetHorizontal(roTiming, uiHActive, uiHPixels, local_DutyCycle(uiIdealHPeriod));
    const MUINT32 uiHFreq = local_RD(uiClock, oH.uiTotal);  // kHz
    const SGtfVertical oV = local_SetVertical(roTiming, uiVActive, local_RD(uiHFreq * local_uiMinVSyncBackPorch, 1000));
    const MUINT32 uiVFreq = local_RD(uiHFreq * 100000, oV.uiTotal10);

    roTiming.SetVerticalRefresh(local_RD(uiVFreq, 10));
    roTiming.SetPixelClock(static_cast<MINT32>(uiClock));
    // The line rate in Hz, as the other sources of a timing give it.
    roTiming.SetHorizontalRate(static_cast<MINT32>(
        oH.uiTotal == 0 ? 0 : (static_cast<MUINT64>(uiClock) * 1000 + oH.uiTotal / 2) / oH.uiTotal));
    return local_IsConsistent(oH, oV, uiHActive, uiVActive);
}
