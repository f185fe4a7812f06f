#include "CNv12Pattern.h"

#include <cstring>

namespace
{
const uint8_t local_ucBlack = 16;
const uint8_t local_ucWhite = 235;
const uint8_t local_ucNeutral = 128;
// Spread of the noise band around mid grey.
const unsigned local_uiNoiseSpread = 48;
} // namespace

CNv12Pattern::CNv12Pattern(unsigned uiWidth, unsigned uiHeight)
    : m_uiWidth(uiWidth),
      m_uiHeight(uiHeight),
      m_uiCounterRows(uiHeight >= 256 ? 32 : uiHeight / 8),
      m_uiNoiseRows(uiHeight / 4)
{
    // Bars: diagonal stripes in luma, slowly turning hues in chroma (interleaved Cb, Cr).
    const unsigned uiRowBytes = uiWidth + s_uiBarPeriod;
    m_aucBars.resize(2 * s_uiBarRows * uiRowBytes);
    for (unsigned y = 0; y < s_uiBarRows; ++y)
    {
        uint8_t* pLuma = &m_aucBars[y * uiRowBytes];
        uint8_t* pChroma = &m_aucBars[(s_uiBarRows + y) * uiRowBytes];
        for (unsigned x = 0; x < uiRowBytes; ++x)
        {
            const unsigned uiPhase = (x + y) % s_uiBarPeriod;
            pLuma[x] = static_cast<uint8_t>(uiPhase < s_uiBarPeriod / 2 ? 48 + uiPhase * 2 : 200 - (uiPhase - 64));
            pChroma[x] = static_cast<uint8_t>((x % 2 == 0 ? 96 : 160) + (uiPhase / 8));
        }
    }
    // Noise from a fixed xorshift sequence, so that every run sees the same frames.
    m_aucNoise.resize(static_cast<size_t>(uiWidth) * (m_uiNoiseRows + 1) * 4);
    uint32_t uiState = 0x9E3779B9u;
    for (uint8_t& rucValue : m_aucNoise)
    {
        uiState ^= uiState << 13;
        uiState ^= uiState >> 17;
        uiState ^= uiState << 5;
        rucValue = static_cast<uint8_t>(128 - local_uiNoiseSpread / 2 + uiState % local_uiNoiseSpread);
    }
}

size_t CNv12Pattern::FrameBytes(unsigned uiStride) const
{
    const size_t uiLuma = static_cast<size_t>(uiStride) * m_uiHeight;
    return uiLuma + uiLuma / 2;
}

void CNv12Pattern::Render(uint64_t uiFrame, uint8_t* pFrame, unsigned uiStride) const
{
    RenderPlane(uiFrame, pFrame, uiStride, m_uiHeight, false);
    RenderPlane(uiFrame, pFrame + static_cast<size_t>(uiStride) * m_uiHeight, uiStride, m_uiHeight / 2, true);
}

void CNv12Pattern::RenderPlane(uint64_t uiFrame, uint8_t* pPlane, unsigned uiStride, unsigned uiRows,
                               bool bChroma) const
{
    const unsigned uiScale = bChroma ? 2 : 1;
    const unsigned uiCounterRows = m_uiCounterRows / uiScale;
    const unsigned uiNoiseStart = uiRows - m_uiNoiseRows / uiScale;
    const unsigned uiRowBytes = m_uiWidth + s_uiBarPeriod;
    const uint8_t* pBars = &m_aucBars[bChroma ? s_uiBarRows * uiRowBytes : 0];
    // Bars move sideways by whole pixels (whole CbCr pairs in chroma).
    const unsigned uiShift = static_cast<unsigned>((uiFrame * s_uiSpeed) % s_uiBarPeriod) & ~1u;
    // The noise band starts at a new place of the table every frame.
    const size_t uiBand = static_cast<size_t>(m_uiWidth) * (uiRows - uiNoiseStart);
    const size_t uiNoiseBase = static_cast<size_t>((uiFrame * 2654435761u) % (m_aucNoise.size() - uiBand));

    for (unsigned y = 0; y < uiRows; ++y)
    {
        uint8_t* pRow = pPlane + static_cast<size_t>(y) * uiStride;
        if (y < uiCounterRows)
        {
            if (bChroma)
            {
                memset(pRow, local_ucNeutral, m_uiWidth);
                continue;
            }
            const unsigned uiBlock = m_uiWidth / s_uiCounterBits;
            for (unsigned uiBit = 0; uiBit < s_uiCounterBits; ++uiBit)
            {
                const bool bSet = ((uiFrame >> (s_uiCounterBits - 1 - uiBit)) & 1) != 0;
                memset(pRow + uiBit * uiBlock, bSet ? local_ucWhite : local_ucBlack, uiBlock);
            }
            memset(pRow + s_uiCounterBits * uiBlock, local_ucBlack, m_uiWidth - s_uiCounterBits * uiBlock);
        }
        else if (y < uiNoiseStart)
        {
            memcpy(pRow, pBars + (y % s_uiBarRows) * uiRowBytes + uiShift, m_uiWidth);
        }
        else
        {
            memcpy(pRow, &m_aucNoise[uiNoiseBase + static_cast<size_t>(y - uiNoiseStart) * m_uiWidth], m_uiWidth);
        }
    }
}

uint64_t CNv12Pattern::ReadCounter(const uint8_t* pLuma, unsigned uiStride, unsigned uiWidth)
{
    // The middle of each block, half way down the counter.
    const unsigned uiBlock = uiWidth / s_uiCounterBits;
    const uint8_t* pRow = pLuma + static_cast<size_t>(uiStride) * 8;
    uint64_t uiCounter = 0;
    for (unsigned uiBit = 0; uiBit < s_uiCounterBits; ++uiBit)
        uiCounter = (uiCounter << 1) | (pRow[uiBit * uiBlock + uiBlock / 2] >= local_ucNeutral ? 1 : 0);
    return uiCounter;
}
