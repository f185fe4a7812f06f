#include "CTestPattern.h"

#include <algorithm>
#include <cstring>

namespace
{
// Limited-range BT.601 values.
const uint8_t local_aauiBars[8][3] = {
    {235, 128, 128},  // white
    {210, 16, 146},   // yellow
    {170, 166, 16},   // cyan
    {145, 54, 34},    // green
    {106, 202, 222},  // magenta
    {81, 90, 240},    // red
    {41, 240, 110},   // blue
    {16, 128, 128},   // black
};
const uint8_t local_auiBlack[3] = {16, 128, 128};
const uint8_t local_auiWhite[3] = {235, 128, 128};
const uint8_t local_auiOrange[3] = {146, 53, 193};

unsigned local_Down4(unsigned uiValue)
{
    return uiValue & ~3u;
}
} // namespace

const uint8_t CTestPattern::s_aauiFont[10][CTestPattern::s_uiFontHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
};

CTestPattern::SLayout CTestPattern::LayoutFor(unsigned uiWidth, unsigned uiHeight)
{
    SLayout oLayout;
    oLayout.uiBarsHeight = local_Down4(uiHeight * 2 / 3);
    for (unsigned i = 0; i < 8; ++i)
        oLayout.auiBarLeft[i] = local_Down4(uiWidth * i / 8);
    oLayout.auiBarLeft[8] = uiWidth;
    oLayout.uiBlock = std::max(4u, local_Down4(uiHeight / 90));
    const unsigned uiCounterWidth = (6 * s_uiDigits - 1) * oLayout.uiBlock;
    const unsigned uiCounterHeight = s_uiFontHeight * oLayout.uiBlock;
    oLayout.uiCounterLeft = local_Down4(uiWidth > uiCounterWidth ? (uiWidth - uiCounterWidth) / 2 : 0);
    const unsigned uiRampHeight = uiHeight - oLayout.uiBarsHeight;
    oLayout.uiCounterTop =
        local_Down4(oLayout.uiBarsHeight + (uiRampHeight > uiCounterHeight ? (uiRampHeight - uiCounterHeight) / 2 : 0));
    oLayout.uiBoxMargin = oLayout.uiBlock;
    oLayout.uiMovingWidth = std::max(8u, local_Down4(uiWidth / 48));
    oLayout.uiMovingStep = std::max(4u, local_Down4(uiWidth / 240));
    return oLayout;
}

unsigned CTestPattern::MovingBarLeft(const SLayout& roLayout, unsigned uiWidth, uint64_t uiFrame)
{
    const unsigned uiRange = uiWidth > roLayout.uiMovingWidth ? uiWidth - roLayout.uiMovingWidth : 1;
    return static_cast<unsigned>((uiFrame * roLayout.uiMovingStep) % uiRange) & ~1u;
}

CTestPattern::CTestPattern() : m_oLayout(), m_uiGeneration(0), m_aoBuffers(), m_uiNextSlot(0)
{
}

void CTestPattern::Configure(const CVideoFrameGeometry& roGeometry, bool bFields)
{
    m_oLines.Configure(roGeometry, bFields);
    m_oLayout = LayoutFor(roGeometry.m_uiWidth, roGeometry.m_uiHeight);
    ++m_uiGeneration;
    const OMX_U32 uiHeight = roGeometry.m_uiHeight;

    // The still part.
    m_aucBackground.assign(m_oLines.FrameBytes(), 0);
    uint8_t* pBackground = m_aucBackground.data();
    for (unsigned i = 0; i < 8; ++i)
    {
        const SColour oColour = {local_aauiBars[i][0], local_aauiBars[i][1], local_aauiBars[i][2]};
        FillRect(pBackground, m_oLayout.auiBarLeft[i], 0, m_oLayout.auiBarLeft[i + 1] - m_oLayout.auiBarLeft[i],
                 m_oLayout.uiBarsHeight, oColour);
    }
    const OMX_U32 uiWidth = roGeometry.m_uiWidth;
    for (unsigned x = 0; x < uiWidth; x += 4)
    {
        const SColour oGrey = {static_cast<uint8_t>(16 + 219 * x / std::max<OMX_U32>(1, uiWidth - 1)), 128, 128};
        FillRect(pBackground, x, m_oLayout.uiBarsHeight, static_cast<unsigned>(std::min<OMX_U32>(4, uiWidth - x)),
                 uiHeight - m_oLayout.uiBarsHeight, oGrey);
    }
}

void CTestPattern::FillRect(uint8_t* pFrame, unsigned uiLeft, unsigned uiTop, unsigned uiWidth, unsigned uiHeight,
                            const SColour& roColour) const
{
    // Clipped to the frame: small frames get what fits of the counter and the moving bar.
    const CVideoFrameGeometry& roGeometry = m_oLines.Geometry();
    if (uiLeft >= roGeometry.m_uiWidth || uiTop >= roGeometry.m_uiHeight)
        return;
    const unsigned uiBottom =
        static_cast<unsigned>(std::min<uint64_t>(static_cast<uint64_t>(uiTop) + uiHeight, roGeometry.m_uiHeight));
    uiWidth = std::min<unsigned>(uiWidth, roGeometry.m_uiWidth - uiLeft);
    const uint32_t uiPair = static_cast<uint32_t>(roColour.uiY) | static_cast<uint32_t>(roColour.uiCb) << 8 |
                            static_cast<uint32_t>(roColour.uiY) << 16 | static_cast<uint32_t>(roColour.uiCr) << 24;
    const uint16_t uiChroma = static_cast<uint16_t>(roColour.uiCb | roColour.uiCr << 8);
    for (unsigned y = uiTop; y < uiBottom; ++y)
    {
        if (!roGeometry.IsSemiPlanar())
        {
            uint8_t* pLine = pFrame + m_oLines.Luma(y) + 2 * uiLeft;
            for (unsigned x = 0; x + 1 < uiWidth; x += 2)
                memcpy(pLine + 2 * x, &uiPair, 4);
            continue;
        }
        memset(pFrame + m_oLines.Luma(y) + uiLeft, roColour.uiY, uiWidth);
        if (m_oLines.WritesChroma(y))
        {
            uint8_t* pChroma = pFrame + m_oLines.Chroma(y) + uiLeft;
            for (unsigned x = 0; x + 1 < uiWidth; x += 2)
                memcpy(pChroma + x, &uiChroma, 2);
        }
    }
}

void CTestPattern::RestoreRect(uint8_t* pFrame, unsigned uiLeft, unsigned uiWidth) const
{
    const uint8_t* pBackground = m_aucBackground.data();
    const CVideoFrameGeometry& roGeometry = m_oLines.Geometry();
    const bool bSemiPlanar = roGeometry.IsSemiPlanar();
    if (uiLeft >= roGeometry.m_uiWidth)
        return;
    uiWidth = std::min<unsigned>(uiWidth, roGeometry.m_uiWidth - uiLeft);
    const unsigned uiBytes = bSemiPlanar ? uiWidth : 2 * uiWidth;
    const unsigned uiStart = bSemiPlanar ? uiLeft : 2 * uiLeft;
    for (unsigned y = 0; y < roGeometry.m_uiHeight; ++y)
    {
        memcpy(pFrame + m_oLines.Luma(y) + uiStart, pBackground + m_oLines.Luma(y) + uiStart, uiBytes);
        if (bSemiPlanar && m_oLines.WritesChroma(y))
            memcpy(pFrame + m_oLines.Chroma(y) + uiStart, pBackground + m_oLines.Chroma(y) + uiStart, uiBytes);
    }
}

void CTestPattern::DrawCounter(uint8_t* pFrame, uint64_t uiFrame) const
{
    const SColour oBlack = {local_auiBlack[0], local_auiBlack[1], local_auiBlack[2]};
    const SColour oWhite = {local_auiWhite[0], local_auiWhite[1], local_auiWhite[2]};
    const unsigned uiBlock = m_oLayout.uiBlock;
    const unsigned uiMargin = m_oLayout.uiBoxMargin;
    FillRect(pFrame, m_oLayout.uiCounterLeft - std::min(uiMargin, m_oLayout.uiCounterLeft),
             m_oLayout.uiCounterTop - std::min(uiMargin, m_oLayout.uiCounterTop),
             (6 * s_uiDigits - 1) * uiBlock + 2 * uiMargin,
             s_uiFontHeight * uiBlock + 2 * uiMargin, oBlack);
    uint64_t uiRest = uiFrame;
    for (unsigned i = s_uiDigits; i-- > 0;)
    {
        const uint8_t* puiGlyph = s_aauiFont[uiRest % 10];
        uiRest /= 10;
        const unsigned uiDigitLeft = m_oLayout.uiCounterLeft + 6 * i * uiBlock;
        for (unsigned uiRow = 0; uiRow < s_uiFontHeight; ++uiRow)
            for (unsigned uiColumn = 0; uiColumn < s_uiFontWidth; ++uiColumn)
                if (puiGlyph[uiRow] & (0x10 >> uiColumn))
                    FillRect(pFrame, uiDigitLeft + uiColumn * uiBlock, m_oLayout.uiCounterTop + uiRow * uiBlock,
                             uiBlock, uiBlock, oWhite);
    }
}

CTestPattern::SBufferState& CTestPattern::StateOf(const uint8_t* pBuffer)
{
    for (SBufferState& roState : m_aoBuffers)
        if (roState.pBuffer == pBuffer)
            return roState;
    // A buffer not seen yet takes the oldest slot; it holds nothing of ours.
    SBufferState& roState = m_aoBuffers[m_uiNextSlot];
    m_uiNextSlot = (m_uiNextSlot + 1) % s_uiKnownBuffers;
    roState.pBuffer = pBuffer;
    roState.uiGeneration = 0;
    return roState;
}

void CTestPattern::Draw(uint64_t uiFrame, uint8_t* pBuffer)
{
    SBufferState& roState = StateOf(pBuffer);
    if (roState.uiGeneration != m_uiGeneration)
    {
        memcpy(pBuffer, m_aucBackground.data(), m_aucBackground.size());
        roState.uiGeneration = m_uiGeneration;
    }
    else
        RestoreRect(pBuffer, roState.uiMovingLeft, m_oLayout.uiMovingWidth);
    const SColour oOrange = {local_auiOrange[0], local_auiOrange[1], local_auiOrange[2]};
    roState.uiMovingLeft = MovingBarLeft(m_oLayout, m_oLines.Geometry().m_uiWidth, uiFrame);
    FillRect(pBuffer, roState.uiMovingLeft, 0, m_oLayout.uiMovingWidth, m_oLines.Geometry().m_uiHeight, oOrange);
    DrawCounter(pBuffer, uiFrame);
}
