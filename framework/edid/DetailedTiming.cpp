#include "edid/DetailedTiming.h"

#include <cstring>

namespace
{
// A rate from the pixel clock in kHz over a count of pixels, in Hz and rounded to the nearest.
// A descriptor's clock reaches 655350 kHz, so the products are taken in 64 bits; dividing by the
// two totals one after the other truncates exactly as dividing by their product would.
MINT32 local_RoundedRate(MINT32 iPixelClock, MINT64 iPixelCount, MINT64 iLineCount = 1)
{
    return static_cast<MINT32>((static_cast<MINT64>(iPixelClock) * 10000 / iPixelCount / iLineCount + 5) / 10);
}
} // namespace

CDetailedTiming::CDetailedTiming() : m_oTiming()
{
}

void CDetailedTiming::Clear()
{
    m_oTiming = SDetailedTiming();
}

bool CDetailedTiming::operator==(const CDetailedTiming& roOther) const
{
    return memcmp(&m_oTiming, &roOther.m_oTiming, sizeof(m_oTiming)) == 0;
}

void CDetailedTiming::SetDetailed(const SDetailedRaw& roRaw)
{
    SDetailed oDetailed = SDetailed();

    oDetailed.uiPixelClock = roRaw.uiPixelClock;
    oDetailed.uiHActive = roRaw.uiHActiveLow + roRaw.uiHActiveHigh * 256u;
    oDetailed.uiHBlanking = roRaw.uiHBlankingLow + roRaw.uiHBlankingHigh * 256u;
    oDetailed.uiVActive = roRaw.uiVActiveLow + roRaw.uiVActiveHigh * 256u;
    oDetailed.uiVBlanking = roRaw.uiVBlankingLow + roRaw.uiVBlankingHigh * 256u;
    oDetailed.uiHSyncOffset = roRaw.uiHSyncOffsetLow + roRaw.uiHSyncOffsetHigh * 256u;
    oDetailed.uiHSyncWidth = roRaw.uiHSyncWidthLow + roRaw.uiHSyncWidthHigh * 256u;
    oDetailed.uiVSyncOffset = roRaw.uiVSyncOffsetLow + roRaw.uiVSyncOffsetHigh * 16u;
    oDetailed.uiVSyncWidth = roRaw.uiVSyncWidthLow + roRaw.uiVSyncWidthHigh * 16u;
    oDetailed.uiHImageSize = roRaw.uiHImageSizeLow + roRaw.uiHImageSizeHigh * 256u;
    oDetailed.uiVImageSize = roRaw.uiVImageSizeLow + roRaw.uiVImageSizeHigh * 256u;
    oDetailed.uiHBorder = roRaw.uiHBorder;
    oDetailed.uiVBorder = roRaw.uiVBorder;
    oDetailed.uiStereoMode = roRaw.uiStereoModeLow + 2u * roRaw.uiStereoModeHigh;
    oDetailed.bInterlaced = roRaw.uiInterlaced;

    oDetailed.uiSyncSignalScheme = roRaw.uiSyncSignalScheme;
    if (oDetailed.uiSyncSignalScheme == DETAILED_SYNC_SIGNAL_SCHEME_DIGITAL_SEPARATE)
    {
        oDetailed.uiHSyncPolarity = roRaw.uiSyncSignalSyncOnGreenOrHSyncPol;
        oDetailed.uiVSyncPolarity = roRaw.uiSyncSignalSerrateOrVSyncPol;
    }
    else
    {
        oDetailed.bSerration = roRaw.uiSyncSignalSerrateOrVSyncPol;
        oDetailed.bSyncOnGreen = roRaw.uiSyncSignalSyncOnGreenOrHSyncPol;
    }

    SetDetailed(oDetailed);
}

void CDetailedTiming::SetDetailed(const SDetailed& roDetailed)
{
    Clear();
    if (roDetailed.uiHActive == 0 || roDetailed.uiVActive == 0 || roDetailed.uiPixelClock == 0)
        return;

    const bool bDigitalSeparate = roDetailed.uiSyncSignalScheme == DETAILED_SYNC_SIGNAL_SCHEME_DIGITAL_SEPARATE;

    m_oTiming.iPixelClock = static_cast<MINT32>(roDetailed.uiPixelClock * 10);
    m_oTiming.bInterlaced = roDetailed.bInterlaced;
    m_oTiming.bOverscan = false;

    m_oTiming.iHorizontalActive = static_cast<MINT32>(roDetailed.uiHActive);
    m_oTiming.iHFrontPorch = static_cast<MINT32>(roDetailed.uiHSyncOffset);
    m_oTiming.iHSync = static_cast<MINT32>(roDetailed.uiHSyncWidth);
    m_oTiming.iHBackPorch =
        static_cast<MINT32>(roDetailed.uiHBlanking - roDetailed.uiHSyncWidth - roDetailed.uiHSyncOffset);
    m_oTiming.iHOverscan = static_cast<MINT32>(roDetailed.uiHBorder);
    if (bDigitalSeparate)
        m_oTiming.bHPolarityPositive = roDetailed.uiHSyncPolarity;

    // Active + sync + front porch + back porch is active + blanking (the border is not counted);
    // the active size is not 0, so neither total is.
    const MINT64 iHTotal = static_cast<MINT64>(roDetailed.uiHActive) + roDetailed.uiHBlanking;
    m_oTiming.iHRefreshRate = local_RoundedRate(m_oTiming.iPixelClock, iHTotal);

    m_oTiming.iVerticalActive = static_cast<MINT32>(roDetailed.uiVActive);
    m_oTiming.iVFrontPorch = static_cast<MINT32>(roDetailed.uiVSyncOffset);
    m_oTiming.iVSync = static_cast<MINT32>(roDetailed.uiVSyncWidth);
    m_oTiming.iVBackPorch =
        static_cast<MINT32>(roDetailed.uiVBlanking - roDetailed.uiVSyncWidth - roDetailed.uiVSyncOffset);
    m_oTiming.iVOverscan = static_cast<MINT32>(roDetailed.uiVBorder);
    if (bDigitalSeparate)
        m_oTiming.bVPolarityPositive = roDetailed.uiVSyncPolarity;

    // For an interlaced descriptor the active lines are those of one field: this is the field rate.
    const MINT64 iVTotal = static_cast<MINT64>(roDetailed.uiVActive) + roDetailed.uiVBlanking;
    m_oTiming.iVerticalRate = local_RoundedRate(m_oTiming.iPixelClock, iHTotal, iVTotal);
}
