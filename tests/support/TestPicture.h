// Reading the test pattern back from a picture in a buffer: its colour bars, its ramp and the
// frame number in its digits, wherever a scaler put them; and writing a picture as a PPM image
// for a person to look at. Shared by the capture, deinterlacer and wrapper tests.
#ifndef PELLIX_TEST_PICTURE_H
#define PELLIX_TEST_PICTURE_H

#include <OMX_IVCommon.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CTestPattern.h"

// One picture: YUV 4:2:2 packed or 4:2:0 semi-planar, lines uiStride bytes apart.
struct STestPicture
{
    const uint8_t* pData;
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiStride;
    OMX_COLOR_FORMATTYPE eFormat;

    bool IsSemiPlanar() const { return eFormat == OMX_COLOR_FormatYUV420SemiPlanar; }
    uint8_t Y(unsigned x, unsigned y) const
    {
        return IsSemiPlanar() ? pData[size_t(y) * uiStride + x] : pData[size_t(y) * uiStride + 2 * x];
    }
    uint8_t Cb(unsigned x, unsigned y) const
    {
        return IsSemiPlanar() ? pData[size_t(uiHeight + y / 2) * uiStride + (x & ~1u)]
                              : pData[size_t(y) * uiStride + 4 * (x / 2) + 1];
    }
    uint8_t Cr(unsigned x, unsigned y) const
    {
        return IsSemiPlanar() ? pData[size_t(uiHeight + y / 2) * uiStride + (x & ~1u) + 1]
                              : pData[size_t(y) * uiStride + 4 * (x / 2) + 3];
    }
};

// Reads a picture that shows the pattern of a uiSourceWidth x uiSourceHeight frame scaled to
// the picture's size.
class CPatternReader
{
public:
    CPatternReader(const STestPicture& roPicture, unsigned uiSourceWidth, unsigned uiSourceHeight)
        : m_roPicture(roPicture),
          m_uiSourceWidth(uiSourceWidth),
          m_uiSourceHeight(uiSourceHeight),
          m_oLayout(CTestPattern::LayoutFor(uiSourceWidth, uiSourceHeight))
    {
    }

    // The frame number in the digits, or -1 when a digit cannot be read (the picture is broken,
    // upside down or mirrored).
    long long Counter() const
    {
        long long llValue = 0;
        for (unsigned uiDigit = 0; uiDigit < CTestPattern::s_uiDigits; ++uiDigit)
        {
            const int iDigit = ReadDigit(uiDigit);
            if (iDigit < 0)
                return -1;
            llValue = 10 * llValue + iDigit;
        }
        return llValue;
    }

    // The eight bars in order, sampled in their middle: each within the tolerance of its colour.
    bool BarsInOrder() const
    {
        static const int s_aaiBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                            {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
        for (unsigned i = 0; i < 8; ++i)
        {
            // The moving bar may cover one of two samples across the bar, never both.
            const unsigned uiLeft = m_oLayout.auiBarLeft[i];
            const unsigned uiWidth = m_oLayout.auiBarLeft[i + 1] - uiLeft;
            const unsigned y = MapY(m_oLayout.uiBarsHeight / 2);
            bool bMatch = false;
            for (unsigned uiX : {uiLeft + uiWidth / 4, uiLeft + uiWidth * 3 / 4})
            {
                const unsigned x = MapX(uiX);
                bMatch = bMatch || (Near(m_roPicture.Y(x, y), s_aaiBars[i][0]) &&
                                    Near(m_roPicture.Cb(x, y), s_aaiBars[i][1]) &&
                                    Near(m_roPicture.Cr(x, y), s_aaiBars[i][2]));
            }
            if (!bMatch)
                return false;
        }
        return true;
    }

    // The ramp below the bars grows from left to right. Of two samples on each side the moving
    // bar covers one at most: the darker one on the left and the brighter on the right count.
    bool RampRisesToTheRight() const
    {
        const unsigned y = MapY(m_oLayout.uiBarsHeight + 2);
        const unsigned W = m_uiSourceWidth;
        const int iLeft = std::min(m_roPicture.Y(MapX(W / 16), y), m_roPicture.Y(MapX(W / 8), y));
        const int iRight = std::max(m_roPicture.Y(MapX(W * 7 / 8), y), m_roPicture.Y(MapX(W * 15 / 16), y));
        return iLeft + 100 < iRight;
    }

private:
    static bool Near(int iValue, int iExpected) { return std::abs(iValue - iExpected) <= 16; }
    unsigned MapX(unsigned uiX) const
    {
        return static_cast<unsigned>(uint64_t(uiX) * m_roPicture.uiWidth / m_uiSourceWidth);
    }
    unsigned MapY(unsigned uiY) const
    {
        return static_cast<unsigned>(uint64_t(uiY) * m_roPicture.uiHeight / m_uiSourceHeight);
    }

    int ReadDigit(unsigned uiDigit) const
    {
        const unsigned uiBlock = m_oLayout.uiBlock;
        const unsigned uiLeft = m_oLayout.uiCounterLeft + 6 * uiDigit * uiBlock;
        uint8_t auiRows[CTestPattern::s_uiFontHeight] = {};
        for (unsigned uiRow = 0; uiRow < CTestPattern::s_uiFontHeight; ++uiRow)
            for (unsigned uiColumn = 0; uiColumn < CTestPattern::s_uiFontWidth; ++uiColumn)
            {
                const unsigned x = MapX(uiLeft + uiColumn * uiBlock + uiBlock / 2);
                const unsigned y = MapY(m_oLayout.uiCounterTop + uiRow * uiBlock + uiBlock / 2);
                if (m_roPicture.Y(x, y) > 128)
                    auiRows[uiRow] |= 0x10 >> uiColumn;
            }
        for (int iDigit = 0; iDigit < 10; ++iDigit)
            if (std::equal(auiRows, auiRows + CTestPattern::s_uiFontHeight, CTestPattern::s_aauiFont[iDigit]))
                return iDigit;
        return -1;
    }

    const STestPicture& m_roPicture;
    unsigned m_uiSourceWidth;
    unsigned m_uiSourceHeight;
    CTestPattern::SLayout m_oLayout;
};

// Writes the picture as a binary PPM (BT.601, limited range), creating the folder.
inline bool WritePpm(const std::filesystem::path& roPath, const STestPicture& roPicture)
{
    std::error_code oError;
    std::filesystem::create_directories(roPath.parent_path(), oError);
    FILE* poFile = fopen(roPath.c_str(), "wb");
    if (poFile == nullptr)
        return false;
    fprintf(poFile, "P6\n%u %u\n255\n", roPicture.uiWidth, roPicture.uiHeight);
    std::vector<uint8_t> aucLine(3 * size_t(roPicture.uiWidth));
    const auto fnClip = [](double dValue) { return static_cast<uint8_t>(std::clamp(dValue + 0.5, 0.0, 255.0)); };
    for (unsigned y = 0; y < roPicture.uiHeight; ++y)
    {
        for (unsigned x = 0; x < roPicture.uiWidth; ++x)
        {
            const double dY = 1.164 * (roPicture.Y(x, y) - 16);
            const double dCb = roPicture.Cb(x, y) - 128.0;
            const double dCr = roPicture.Cr(x, y) - 128.0;
            aucLine[3 * x] = fnClip(dY + 1.596 * dCr);
            aucLine[3 * x + 1] = fnClip(dY - 0.392 * dCb - 0.813 * dCr);
            aucLine[3 * x + 2] = fnClip(dY + 2.017 * dCb);
        }
        fwrite(aucLine.data(), 1, aucLine.size(), poFile);
    }
    return fclose(poFile) == 0;
}

#endif // PELLIX_TEST_PICTURE_H
