#include "CCaptureTimeCode.h"

#include <time.h>

#include <cstring>

#include "CFrameLines.h"

namespace
{
const uint8_t local_uiBlack = 16;
const uint8_t local_uiWhite = 235;
const uint8_t local_uiNeutral = 128;
// A block reads as a bit only when its mean luma is this far on the side of its level.
const unsigned local_uiBlackAtMost = 80;
const unsigned local_uiWhiteAtLeast = 171;

// The four 32-bit words of the code, top row first.
void local_Words(const CCaptureTimeCode::SValue& roValue, uint32_t (&rauiWords)[CCaptureTimeCode::s_uiRows])
{
    rauiWords[0] = static_cast<uint32_t>(roValue.uiTimeUs >> 32);
    rauiWords[1] = static_cast<uint32_t>(roValue.uiTimeUs);
    rauiWords[2] = roValue.uiFrame;
    rauiWords[3] = CCaptureTimeCode::Check(roValue);
}

bool local_Fits(unsigned uiWidth, unsigned uiHeight)
{
    return uiWidth >= CCaptureTimeCode::s_uiColumns * CCaptureTimeCode::s_uiBlock &&
           uiHeight >= CCaptureTimeCode::s_uiRows * CCaptureTimeCode::s_uiBlock;
}
} // namespace

uint64_t CCaptureTimeCode::NowUs()
{
    timespec oNow;
    clock_gettime(CLOCK_MONOTONIC, &oNow);
    return static_cast<uint64_t>(oNow.tv_sec) * 1000000u + static_cast<uint64_t>(oNow.tv_nsec) / 1000u;
}

unsigned CCaptureTimeCode::Left(unsigned uiWidth)
{
    return ((uiWidth - s_uiColumns * s_uiBlock) / 2) & ~15u;
}

uint32_t CCaptureTimeCode::Check(const SValue& roValue)
{
    const uint8_t auiBytes[12] = {
        static_cast<uint8_t>(roValue.uiTimeUs >> 56), static_cast<uint8_t>(roValue.uiTimeUs >> 48),
        static_cast<uint8_t>(roValue.uiTimeUs >> 40), static_cast<uint8_t>(roValue.uiTimeUs >> 32),
        static_cast<uint8_t>(roValue.uiTimeUs >> 24), static_cast<uint8_t>(roValue.uiTimeUs >> 16),
        static_cast<uint8_t>(roValue.uiTimeUs >> 8),  static_cast<uint8_t>(roValue.uiTimeUs),
        static_cast<uint8_t>(roValue.uiFrame >> 24),  static_cast<uint8_t>(roValue.uiFrame >> 16),
        static_cast<uint8_t>(roValue.uiFrame >> 8),   static_cast<uint8_t>(roValue.uiFrame)};
    // CRC-32 (IEEE 802.3, reflected), bit by bit: twelve bytes a picture.
    uint32_t uiCrc = 0xFFFFFFFFu;
    for (const uint8_t uiByte : auiBytes)
    {
        uiCrc ^= uiByte;
        for (int i = 0; i < 8; ++i)
            uiCrc = (uiCrc >> 1) ^ (0xEDB88320u & (0u - (uiCrc & 1u)));
    }
    return ~uiCrc;
}

void CCaptureTimeCode::Write(const CFrameLines& roLines, uint8_t* pFrame, const SValue& roValue)
{
    const CVideoFrameGeometry& roGeometry = roLines.Geometry();
    if (!local_Fits(roGeometry.m_uiWidth, roGeometry.m_uiHeight))
        return;
    uint32_t auiWords[s_uiRows];
    local_Words(roValue, auiWords);
    const bool bSemiPlanar = roGeometry.IsSemiPlanar();
    const unsigned uiCodeWidth = s_uiColumns * s_uiBlock;
    const unsigned uiLeft = Left(roGeometry.m_uiWidth);
    for (unsigned y = 0; y < s_uiRows * s_uiBlock; ++y)
    {
        const uint32_t uiWord = auiWords[y / s_uiBlock];
        uint8_t* pLine = pFrame + roLines.Luma(y) + (bSemiPlanar ? uiLeft : 2 * uiLeft);
        for (unsigned uiColumn = 0; uiColumn < s_uiColumns; ++uiColumn)
        {
            const uint8_t uiLuma = (uiWord >> (s_uiColumns - 1 - uiColumn)) & 1u ? local_uiWhite : local_uiBlack;
            if (bSemiPlanar)
            {
                memset(pLine + uiColumn * s_uiBlock, uiLuma, s_uiBlock);
                continue;
            }
            uint8_t* pPixels = pLine + 2 * uiColumn * s_uiBlock;
            for (unsigned x = 0; x < s_uiBlock; ++x)
            {
                pPixels[2 * x] = uiLuma;
                pPixels[2 * x + 1] = local_uiNeutral;
            }
        }
        if (bSemiPlanar && roLines.WritesChroma(y))
            memset(pFrame + roLines.Chroma(y) + uiLeft, local_uiNeutral, uiCodeWidth);
    }
}

bool CCaptureTimeCode::Read(const uint8_t* pLuma, unsigned uiLineBytes, unsigned uiSampleStep, unsigned uiWidth,
                            unsigned uiHeight, SValue& roValue)
{
    if (pLuma == nullptr || !local_Fits(uiWidth, uiHeight))
        return false;
    // The middle half of each block, away from the edges that filtering and chroma blur.
    const unsigned uiInner = s_uiBlock / 2;
    const unsigned uiMargin = s_uiBlock / 4;
    const uint8_t* pCode = pLuma + static_cast<uint64_t>(Left(uiWidth)) * uiSampleStep;
    uint32_t auiWords[s_uiRows] = {};
    for (unsigned uiRow = 0; uiRow < s_uiRows; ++uiRow)
        for (unsigned uiColumn = 0; uiColumn < s_uiColumns; ++uiColumn)
        {
            unsigned uiSum = 0;
            for (unsigned y = 0; y < uiInner; ++y)
            {
                const uint8_t* pLine = pCode + static_cast<uint64_t>(uiRow * s_uiBlock + uiMargin + y) * uiLineBytes;
                for (unsigned x = 0; x < uiInner; ++x)
                    uiSum += pLine[static_cast<uint64_t>(uiColumn * s_uiBlock + uiMargin + x) * uiSampleStep];
            }
            const unsigned uiMean = uiSum / (uiInner * uiInner);
            if (uiMean > local_uiBlackAtMost && uiMean < local_uiWhiteAtLeast)
                return false;
            auiWords[uiRow] = auiWords[uiRow] << 1 | (uiMean >= local_uiWhiteAtLeast ? 1u : 0u);
        }
    const SValue oValue = {static_cast<uint64_t>(auiWords[0]) << 32 | auiWords[1], auiWords[2]};
    if (Check(oValue) != auiWords[3])
        return false;
    roValue = oValue;
    return true;
}
