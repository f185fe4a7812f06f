#include "edid/Vesa.h"

const CQorDtmMode::SQorDtmTableEntry CQorDtmMode::s_aoDTMTimings[CQorDtmMode::uiMaxTimingIndex] = {
    // H x V, Hz, kHz, H front/sync/back, V front/sync/back, attributes
    {640, 350, 85, 31500, 32, 64, 96, 32, 3, 60, 0x04},  // 0
    {640, 400, 85, 31500, 32, 64, 96, 1, 3, 41, 0x08},  // 1
    {720, 400, 85, 35500, 36, 72, 108, 1, 3, 42, 0x08},  // 2
    {640, 480, 60, 25175, 16, 96, 48, 10, 2, 33, 0x00},  // 3
    {640, 480, 72, 31500, 24, 40, 128, 9, 3, 28, 0x00},  // 4
    {640, 480, 75, 31500, 16, 64, 120, 1, 3, 16, 0x00},  // 5
    {640, 480, 85, 36000, 56, 56, 80, 1, 3, 25, 0x00},  // 6
    {800, 600, 56, 36000, 24, 72, 128, 1, 2, 22, 0x0C},  // 7
    {800, 600, 60, 40000, 40, 128, 88, 1, 4, 23, 0x0C},  // 8
    {800, 600, 72, 50000, 56, 120, 64, 37, 6, 23, 0x0C},  // 9
    {800, 600, 75, 49500, 16, 80, 160, 1, 3, 21, 0x0C},  // 10
    {800, 600, 85, 56250, 32, 64, 152, 1, 3, 27, 0x0C},  // 11
    {800, 600, 120, 73250, 48, 32, 80, 3, 4, 29, 0x84},  // 12
    {848, 480, 60, 33750, 16, 112, 112, 6, 8, 23, 0x0C},  // 13
    {1024, 768, 43, 44900, 8, 176, 56, 0, 4, 20, 0x0D},  // 14
    {1024, 768, 60, 65000, 24, 136, 160, 3, 6, 29, 0x00},  // 15
    {1024, 768, 70, 75000, 24, 136, 144, 3, 6, 29, 0x00},  // 16
    {1024, 768, 75, 78750, 16, 96, 176, 1, 3, 28, 0x0C},  // 17
    {1024, 768, 85, 94500, 48, 96, 208, 1, 3, 36, 0x0C},  // 18
    {1024, 768, 120, 115500, 48, 32, 80, 3, 4, 38, 0x84},  // 19
    {1152, 864, 75, 108000, 64, 128, 256, 1, 3, 32, 0x0C},  // 20
    {1280, 768, 60, 68250, 48, 32, 80, 3, 7, 12, 0x84},  // 21
    {1280, 768, 60, 79500, 64, 128, 192, 3, 7, 20, 0x08},  // 22
    {1280, 768, 75, 102250, 80, 128, 208, 3, 7, 27, 0x08},  // 23
    {1280, 768, 85, 117500, 80, 136, 216, 3, 7, 31, 0x08},  // 24
    {1280, 768, 120, 140250, 48, 32, 80, 3, 7, 35, 0x84},  // 25
    {1280, 800, 60, 71000, 48, 32, 80, 3, 6, 14, 0x84},  // 26
    {1280, 800, 60, 83500, 72, 128, 200, 3, 6, 22, 0x08},  // 27
    {1280, 800, 75, 106500, 80, 128, 208, 3, 6, 29, 0x08},  // 28
    {1280, 800, 85, 122500, 80, 136, 216, 3, 6, 34, 0x08},  // 29
    {1280, 800, 120, 146250, 48, 32, 80, 3, 6, 38, 0x84},  // 30
    {1280, 960, 60, 108000, 96, 112, 312, 1, 3, 36, 0x0C},  // 31
    {1280, 960, 85, 148500, 64, 160, 224, 1, 3, 47, 0x0C},  // 32
    {1280, 960, 120, 175500, 48, 32, 80, 3, 4, 50, 0x84},  // 33
    {1280, 1024, 60, 108000, 48, 112, 248, 1, 3, 38, 0x0C},  // 34
    {1280, 1024, 75, 135000, 16, 144, 248, 1, 3, 38, 0x0C},  // 35
    {1280, 1024, 85, 157500, 64, 160, 224, 1, 3, 44, 0x0C},  // 36
    {1280, 1024, 120, 187250, 48, 32, 80, 3, 7, 50, 0x84},  // 37
    {1360, 768, 60, 85500, 64, 112, 256, 3, 6, 18, 0x0C},  // 38
    {1360, 768, 120, 148250, 48, 32, 80, 3, 5, 37, 0x84},  // 39
    {1400, 1050, 60, 101000, 48, 32, 80, 3, 4, 23, 0x84},  // 40
    {1400, 1050, 60, 121750, 88, 144, 232, 3, 4, 32, 0x08},  // 41
    {1400, 1050, 75, 156000, 104, 144, 248, 3, 4, 42, 0x08},  // 42
    {1400, 1050, 85, 179500, 104, 152, 256, 3, 4, 48, 0x08},  // 43
    {1400, 1050, 120, 208000, 48, 32, 80, 3, 4, 55, 0x84},  // 44
    {1440, 900, 60, 88750, 48, 32, 80, 3, 6, 17, 0x84},  // 45
    {1440, 900, 60, 106500, 80, 152, 232, 3, 6, 25, 0x08},  // 46
    {1440, 900, 75, 136750, 96, 152, 248, 3, 6, 33, 0x08},  // 47
    {1440, 900, 85, 157000, 104, 152, 256, 3, 6, 39, 0x08},  // 48
    {1440, 900, 120, 182750, 48, 32, 80, 3, 6, 44, 0x84},  // 49
    {1600, 1200, 60, 162000, 64, 192, 304, 1, 3, 46, 0x0C},  // 50
    {1600, 1200, 65, 175500, 64, 192, 304, 1, 3, 46, 0x0C},  // 51
    {1600, 1200, 70, 189000, 64, 192, 304, 1, 3, 46, 0x0C},  // 52
    {1600, 1200, 75, 202500, 64, 192, 304, 1, 3, 46, 0x0C},  // 53
    {1600, 1200, 85, 229500, 64, 192, 304, 1, 3, 46, 0x0C},  // 54
    {1600, 1200, 120, 268250, 48, 32, 80, 3, 4, 64, 0x84},  // 55
    {1680, 1050, 60, 119000, 48, 32, 80, 3, 6, 21, 0x84},  // 56
    {1680, 1050, 60, 146250, 104, 176, 280, 3, 6, 30, 0x08},  // 57
    {1680, 1050, 75, 187000, 120, 176, 296, 3, 6, 40, 0x08},  // 58
    {1680, 1050, 85, 214750, 128, 176, 304, 3, 6, 46, 0x08},  // 59
    {1680, 1050, 120, 245500, 48, 32, 80, 3, 6, 53, 0x84},  // 60: 245.5 MHz gives the 120 Hz of the row
    {1792, 1344, 60, 204750, 128, 200, 328, 1, 3, 46, 0x08},  // 61
    {1792, 1344, 75, 261000, 96, 216, 352, 1, 3, 69, 0x08},  // 62
    {1792, 1344, 120, 333250, 48, 32, 80, 3, 4, 72, 0x84},  // 63
    {1856, 1392, 60, 218250, 96, 224, 352, 1, 3, 43, 0x08},  // 64
    {1856, 1392, 75, 288000, 128, 224, 352, 1, 3, 104, 0x08},  // 65
    {1856, 1392, 120, 356500, 48, 32, 80, 3, 4, 75, 0x84},  // 66
    {1920, 1200, 60, 154000, 48, 32, 80, 3, 6, 26, 0x84},  // 67
    {1920, 1200, 60, 193250, 136, 200, 336, 3, 6, 36, 0x08},  // 68
    {1920, 1200, 75, 245250, 136, 208, 344, 3, 6, 46, 0x08},  // 69
    {1920, 1200, 85, 281250, 144, 208, 352, 3, 6, 53, 0x08},  // 70
    {1920, 1200, 120, 317000, 48, 32, 80, 3, 6, 62, 0x84},  // 71
    {1920, 1440, 60, 234000, 128, 208, 344, 1, 3, 56, 0x08},  // 72
    {1920, 1440, 75, 297000, 144, 224, 352, 1, 3, 56, 0x08},  // 73
    {1920, 1440, 120, 380500, 48, 32, 80, 3, 4, 78, 0x84},  // 74
    {2560, 1600, 60, 268500, 48, 32, 80, 3, 6, 37, 0x84},  // 75
    {2560, 1600, 60, 348500, 192, 280, 472, 3, 6, 49, 0x08},  // 76
    {2560, 1600, 75, 443250, 208, 280, 488, 3, 6, 63, 0x08},  // 77
    {2560, 1600, 85, 505250, 208, 280, 488, 3, 6, 73, 0x08},  // 78
    {2560, 1600, 120, 552750, 48, 32, 80, 3, 6, 85, 0x84},  // 79
    {1366, 768, 60, 85500, 70, 143, 213, 3, 3, 24, 0x0C},  // 80
    {1920, 1080, 60, 148500, 88, 44, 148, 4, 5, 36, 0x0C},  // 81
    {1280, 720, 60, 74250, 110, 40, 220, 5, 5, 20, 0x0C},  // 82
    {1366, 768, 60, 72000, 14, 56, 64, 1, 3, 28, 0x8C},  // 83
    {1600, 900, 60, 108000, 24, 80, 96, 1, 3, 96, 0x8C},  // 84
    {2048, 1152, 60, 156750, 48, 32, 80, 3, 5, 25, 0x8C},  // 85
};

int CQorDtmMode::GetHorizontalTotalPixel(const CDetailedTiming& roDetailedTiming)
{
    // Summed in 64 bits so that no record, however filled, overflows the sum.
    const MINT64 iTotal = static_cast<MINT64>(roDetailedTiming.GetHorizontalActive()) +
                          roDetailedTiming.GetHorizontalFrontPorch() + roDetailedTiming.GetHorizontalSync() +
                          roDetailedTiming.GetHorizontalBackPorch() + roDetailedTiming.GetHorizontalOverscan();
    return static_cast<int>(iTotal);
}

int CQorDtmMode::GetVerticalTotalLine(const CDetailedTiming& roDetailedTiming)
{
    const MINT64 iBlanking = static_cast<MINT64>(roDetailedTiming.GetVerticalFrontPorch()) +
                             roDetailedTiming.GetVerticalSync() + roDetailedTiming.GetVerticalBackPorch() +
                             roDetailedTiming.GetVerticalOverscan();
    const MINT64 iActive = roDetailedTiming.GetVerticalActive();
    if (roDetailedTiming.IsInterlaced())
        return static_cast<int>(iActive + 2 * iBlanking + 1);
    return static_cast<int>(iActive + iBlanking);
}

void CQorDtmMode::ComputeAndSetRefreshRates(CDetailedTiming& roDetailedTiming)
{
    const MINT64 iHTotal = GetHorizontalTotalPixel(roDetailedTiming);
    const MINT64 iVTotal = GetVerticalTotalLine(roDetailedTiming);
    if (iHTotal == 0 || iVTotal == 0)
        return;

    const MINT64 iPixHz = static_cast<MINT64>(roDetailedTiming.GetPixelClock()) * 1000;
    roDetailedTiming.SetHorizontalRate(static_cast<MINT32>(iPixHz / iHTotal));
    if (roDetailedTiming.GetVerticalRate() == 0)
        roDetailedTiming.SetVerticalRefresh(static_cast<MINT32>(iPixHz / iVTotal / iHTotal));
}

MBOOL32 CQorDtmMode::EnumMode(MUINT32 uiModeIndex, CDetailedTiming& roMode)
{
    if (uiModeIndex >= uiMaxTimingIndex)
        return false;

    const SQorDtmTableEntry& roEntry = s_aoDTMTimings[uiModeIndex];
    CDetailedTiming oTiming;
    oTiming.SetHorizontalActive(roEntry.iHActive);
    oTiming.SetVerticalActive(roEntry.iVActive);
    oTiming.SetVerticalRefresh(roEntry.iVRate_Hz);
    oTiming.SetPixelClock(roEntry.iPixClock_kHz);
    oTiming.SetHorizontalFrontPorch(roEntry.iHFPorch);
    oTiming.SetHorizontalSync(roEntry.iHSync);
    oTiming.SetHorizontalBackPorch(roEntry.iHBPorch);
    oTiming.SetVerticalFrontPorch(roEntry.iVFPorch);
    oTiming.SetVerticalSync(roEntry.iVSync);
    oTiming.SetVerticalBackPorch(roEntry.iVBPorch);
    oTiming.SetInterlaced((roEntry.flAttributs & DTM_ATTRIBUTE_INTERLACED) != 0);
    oTiming.SetHorizontalPolarityPositive((roEntry.flAttributs & DTM_ATTRIBUTE_HSYNC_POSITIVE) != 0);
    oTiming.SetVerticalPolarityPositive((roEntry.flAttributs & DTM_ATTRIBUTE_VSYNC_POSITIVE) != 0);
    oTiming.SetOverscan((roEntry.flAttributs & DTM_ATTRIBUTE_OVERSCAN) != 0);
    ComputeAndSetRefreshRates(oTiming);
    roMode = oTiming;
    return true;
}

MBOOL32 CVesa::GetVESATiming(CDetailedTiming& roTiming, MINT32 iIndex, MINT32 iHActive, MINT32 iVActive,
                             MINT32 iVRefreshRate)
{
    MINT32 iMatch = 0;
    for (MUINT32 uiRow = 0; uiRow < CQorDtmMode::uiMaxTimingIndex; uiRow++)
    {
        // The row is compared in place; only the row taken is built into a timing.
        const CQorDtmMode::SQorDtmTableEntry& roEntry = CQorDtmMode::s_aoDTMTimings[uiRow];
        if ((iHActive != 0 && iHActive != roEntry.iHActive) || (iVActive != 0 && iVActive != roEntry.iVActive) ||
            (iVRefreshRate != 0 && iVRefreshRate != roEntry.iVRate_Hz))
            continue;
        if (iMatch == iIndex)
            return CQorDtmMode::EnumMode(uiRow, roTiming);
        iMatch++;
    }
    return false;
}
