#include "CMotionPattern.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
// Well-mixed 32 bits of a 32-bit value.
uint32_t local_Hash(uint32_t uiValue)
{
    uiValue ^= uiValue >> 16;
    uiValue *= 0x7FEB352Du;
    uiValue ^= uiValue >> 15;
    uiValue *= 0x846CA68Bu;
    uiValue ^= uiValue >> 16;
    return uiValue;
}

// A value in [-1, 1] of a lattice point.
double local_Lattice(unsigned uiX, unsigned uiY, unsigned uiSeed)
{
    return local_Hash(uiX * 0x9E3779B1u ^ local_Hash(uiY + 0x68E31DA4u * uiSeed)) / 2147483647.5 - 1.0;
}

// Smooth noise in [-1, 1] over cells of uiCell pixels, repeating every uiPeriod (a multiple of
// uiCell) both ways.
double local_Noise(unsigned x, unsigned y, unsigned uiCell, unsigned uiPeriod, unsigned uiSeed)
{
    const unsigned uiCells = uiPeriod / uiCell;
    const unsigned uiX0 = x / uiCell;
    const unsigned uiY0 = y / uiCell;
    const unsigned uiX1 = (uiX0 + 1) % uiCells;
    const unsigned uiY1 = (uiY0 + 1) % uiCells;
    auto fnSmooth = [](double dT) { return dT * dT * (3 - 2 * dT); };
    const double dFx = fnSmooth((x % uiCell + 0.5) / uiCell);
    const double dFy = fnSmooth((y % uiCell + 0.5) / uiCell);
    const double dTop = local_Lattice(uiX0, uiY0, uiSeed) * (1 - dFx) + local_Lattice(uiX1, uiY0, uiSeed) * dFx;
    const double dBottom = local_Lattice(uiX0, uiY1, uiSeed) * (1 - dFx) + local_Lattice(uiX1, uiY1, uiSeed) * dFx;
    return dTop * (1 - dFy) + dBottom * dFy;
}

uint8_t local_Clip(double dValue, double dLow, double dHigh)
{
    return static_cast<uint8_t>(std::lround(std::clamp(dValue, dLow, dHigh)));
}

// Copies uiBytes bytes from pSource to pDestination, each changed by the grain's byte.
void local_CopyWithGrain(uint8_t* pDestination, const uint8_t* pSource, const uint8_t* pGrain, size_t uiBytes)
{
    size_t i = 0;
    for (; i + 8 <= uiBytes; i += 8)
    {
        uint64_t uiPixels;
        uint64_t uiGrain;
        memcpy(&uiPixels, pSource + i, 8);
        memcpy(&uiGrain, pGrain + i, 8);
        uiPixels ^= uiGrain;
        memcpy(pDestination + i, &uiPixels, 8);
    }
    for (; i < uiBytes; ++i)
        pDestination[i] = pSource[i] ^ pGrain[i];
}

// Where a window that moves by iStep a frame from uiStart is in frame uiFrame, within the period.
unsigned local_Position(unsigned uiStart, int iStep, uint64_t uiFrame, unsigned uiPeriod)
{
    const int64_t iMoved = static_cast<int64_t>(uiFrame % uiPeriod) * iStep;
    const int64_t iPeriod = uiPeriod;
    return static_cast<unsigned>(((static_cast<int64_t>(uiStart) + iMoved) % iPeriod + iPeriod) % iPeriod);
}
} // namespace

CMotionPattern::CMotionPattern() : m_bMade(false), m_aoBands(), m_uiTextureLineBytes(0), m_uiChromaOffset(0)
{
}

void CMotionPattern::Configure(const CVideoFrameGeometry& roGeometry, bool bFields)
{
    m_oLines.Configure(roGeometry, bFields);
    // Bands of whole chroma lines in every layout, moving in directions of their own.
    static const int s_aaiSteps[s_uiBands][2] = {{4, 2}, {-6, 1}, {10, -2}, {-2, -3}, {8, 3}, {-12, 1}};
    const unsigned uiHeight = roGeometry.m_uiHeight;
    for (unsigned i = 0; i < s_uiBands; ++i)
    {
        SBand& roBand = m_aoBands[i];
        roBand.uiTop = i == 0 ? 0 : m_aoBands[i - 1].uiBottom;
        roBand.uiBottom = i + 1 == s_uiBands ? uiHeight : (uiHeight * (i + 1) / s_uiBands) & ~3u;
        roBand.iStepX = s_aaiSteps[i][0];
        roBand.iStepY = s_aaiSteps[i][1];
        roBand.uiStartX = (i * 346) % s_uiPeriod & ~1u;
        roBand.uiStartY = (i * 179) % s_uiPeriod;
    }
    if (m_bMade && m_oMadeFor.m_uiWidth == roGeometry.m_uiWidth && m_oMadeFor.m_eFormat == roGeometry.m_eFormat)
        return;
    m_oMadeFor = roGeometry;
    MakeTexture();
    m_bMade = true;
}

void CMotionPattern::MakeTexture()
{
    const bool bSemiPlanar = m_oMadeFor.IsSemiPlanar();
    const unsigned uiWidth = m_oMadeFor.m_uiWidth;
    const unsigned uiLinePixels = s_uiPeriod + uiWidth;
    m_uiTextureLineBytes = bSemiPlanar ? uiLinePixels : 2 * uint64_t(uiLinePixels);
    m_uiChromaOffset = m_uiTextureLineBytes * s_uiPeriod;
    m_aucTexture.assign(m_uiChromaOffset + (bSemiPlanar ? m_uiTextureLineBytes * s_uiPeriod / 2 : 0), 0);

    // One period of luma (structure from coarse to fine, and a different value for every pixel)
    // and of chroma (slow hues, one sample of each for two pixels of a line), repeated along the
    // lines.
    std::vector<uint8_t> aucLuma(size_t(s_uiPeriod) * s_uiPeriod);
    std::vector<uint8_t> aucChroma(size_t(s_uiPeriod) * s_uiPeriod);  // Cb, Cr interleaved
    for (unsigned y = 0; y < s_uiPeriod; ++y)
        for (unsigned x = 0; x < s_uiPeriod; ++x)
        {
            const double dLuma = 126 + 45 * local_Noise(x, y, 128, s_uiPeriod, 1) +
                                 30 * local_Noise(x, y, 32, s_uiPeriod, 2) + 22 * local_Noise(x, y, 8, s_uiPeriod, 3) +
                                 18 * local_Lattice(x, y, 4);
            aucLuma[size_t(y) * s_uiPeriod + x] = local_Clip(dLuma, 16, 235);
            const unsigned uiSeed = x % 2 == 0 ? 10 : 20;
            const unsigned uiSample = 2 * (x / 2);
            const double dChroma = 128 + 55 * local_Noise(uiSample, y, 256, s_uiPeriod, uiSeed) +
                                   14 * local_Noise(uiSample, y, 16, s_uiPeriod, uiSeed + 1);
            aucChroma[size_t(y) * s_uiPeriod + x] = local_Clip(dChroma, 16, 240);
        }
    for (unsigned y = 0; y < s_uiPeriod; ++y)
    {
        const uint8_t* pLuma = aucLuma.data() + size_t(y) * s_uiPeriod;
        const uint8_t* pChromaSource = aucChroma.data() + size_t(y) * s_uiPeriod;
        uint8_t* pLine = m_aucTexture.data() + y * m_uiTextureLineBytes;
        uint8_t* pChroma =
            bSemiPlanar && y % 2 == 0 ? m_aucTexture.data() + m_uiChromaOffset + (y / 2) * m_uiTextureLineBytes : nullptr;
        for (unsigned x = 0; x < uiLinePixels; ++x)
        {
            const unsigned uiX = x % s_uiPeriod;
            if (!bSemiPlanar)
            {
                pLine[2 * x] = pLuma[uiX];
                pLine[2 * x + 1] = pChromaSource[uiX];
                continue;
            }
            pLine[x] = pLuma[uiX];
            if (pChroma != nullptr)
                pChroma[x] = pChromaSource[uiX];
        }
    }

    // The grain: the two lowest bits of each luma sample.
    const unsigned uiLineBytes = CVideoFrameGeometry::MinimumStride(uiWidth, m_oMadeFor.m_eFormat);
    m_aucGrain.assign(s_uiGrainSpan + uiLineBytes, 0);
    for (size_t i = 0; i < m_aucGrain.size(); ++i)
        if (bSemiPlanar || i % 2 == 0)
            m_aucGrain[i] = static_cast<uint8_t>(local_Hash(static_cast<uint32_t>(i) + 0x5BD1E995u) & 3u);
}

void CMotionPattern::Draw(uint64_t uiFrame, uint8_t* pBuffer) const
{
    const CVideoFrameGeometry& roGeometry = m_oLines.Geometry();
    const bool bSemiPlanar = roGeometry.IsSemiPlanar();
    const size_t uiLineBytes = CVideoFrameGeometry::MinimumStride(roGeometry.m_uiWidth, roGeometry.m_eFormat);
    const unsigned uiBytesPerPixel = bSemiPlanar ? 1 : 2;
    const uint8_t* pTexture = m_aucTexture.data();
    // Where each line's grain starts: a new place for every line of every frame, on a multiple of
    // 8 bytes, so that the grain stays on the luma bytes.
    uint64_t uiGrainState = (uiFrame + 1) * 0x9E3779B97F4A7C15ull;
    for (const SBand& roBand : m_aoBands)
    {
        const unsigned uiX = local_Position(roBand.uiStartX, roBand.iStepX, uiFrame, s_uiPeriod);
        const unsigned uiY = local_Position(roBand.uiStartY, roBand.iStepY, uiFrame, s_uiPeriod);
        for (unsigned y = roBand.uiTop; y < roBand.uiBottom; ++y)
        {
            const unsigned uiLine = (uiY + y) % s_uiPeriod;
            uiGrainState = uiGrainState * 6364136223846793005ull + 1442695040888963407ull;
            const uint8_t* pGrain = m_aucGrain.data() + ((uiGrainState >> 33) & (s_uiGrainSpan - 8));
            local_CopyWithGrain(pBuffer + m_oLines.Luma(y), pTexture + uiLine * m_uiTextureLineBytes + uiX * uiBytesPerPixel,
                                pGrain, uiLineBytes);
            if (bSemiPlanar && m_oLines.WritesChroma(y))
                memcpy(pBuffer + m_oLines.Chroma(y),
                       pTexture + m_uiChromaOffset + (uiLine / 2) * m_uiTextureLineBytes + uiX, uiLineBytes);
        }
    }
}
