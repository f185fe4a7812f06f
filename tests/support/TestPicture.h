// Reading pictures back: the platform's test pattern in a buffer (the frame number in its digits and
// whether its colour bars and ramp stand in place, wherever a scaler put them), and the display's
// last frame as the platform writes it. Shared by the tests of the video devices.
#ifndef PELLIX_TEST_PICTURE_H
#define PELLIX_TEST_PICTURE_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "CTestPattern.h"
#include "PellixTestControl.h"

struct SPatternSeen
{
    long long llCounter;  // -1 when a digit cannot be read (broken, upside down or mirrored)
    bool bInPlace;        // the eight bars in order and the ramp rising to the right
};

// roData: a uiWidth x uiHeight picture, YUV 4:2:2 packed or (bSemiPlanar) 4:2:0 semi-planar with
// lines as long as the width, showing the pattern of a uiSourceWidth x uiSourceHeight frame;
// bFields: it holds its two fields one after the other, each a picture of half the lines.
inline SPatternSeen ReadPattern(const std::string& roData, unsigned uiWidth, unsigned uiHeight, bool bSemiPlanar,
                                unsigned uiSourceWidth, unsigned uiSourceHeight, bool bFields = false)
{
    const CTestPattern::SLayout oLayout = CTestPattern::LayoutFor(uiSourceWidth, uiSourceHeight);
    const size_t uiStride = bSemiPlanar ? uiWidth : 2 * uiWidth, uiRows = bSemiPlanar ? uiHeight * 3 / 2 : uiHeight;
    if (roData.size() < uiStride * uiRows)  // not a whole picture: nothing is read past its end
        return SPatternSeen{-1, false};
    // Row r of the picture in frame order (chroma rows after the luma ones).
    const auto fnRow = [&](size_t r) {
        const bool bChroma = r >= uiHeight;
        const size_t uiLine = bChroma ? r - uiHeight : r;
        const size_t uiStored = !bFields ? r : (uiLine % 2) * uiRows / 2 + (bChroma ? uiHeight / 2 : 0) + uiLine / 2;
        return reinterpret_cast<const uint8_t*>(roData.data()) + std::min(uiStored, uiRows - 1) * uiStride;
    };
    const auto fnMapX = [&](unsigned x) { return unsigned(uint64_t(x) * uiWidth / uiSourceWidth); };
    const auto fnMapY = [&](unsigned y) { return unsigned(uint64_t(y) * uiHeight / uiSourceHeight); };
    // Y, Cb, Cr at a point of the source frame.
    const auto fnYuv = [&](unsigned uiX, unsigned uiY, int i) -> int {
        const unsigned x = fnMapX(uiX), y = fnMapY(uiY);
        if (i == 0)
            return bSemiPlanar ? fnRow(y)[x] : fnRow(y)[2 * x];
        return bSemiPlanar ? fnRow(uiHeight + y / 2)[(x & ~1u) + i - 1] : fnRow(y)[4 * (x / 2) + 2 * i - 1];
    };
    SPatternSeen oSeen{0, true};
    for (unsigned uiDigit = 0; uiDigit < CTestPattern::s_uiDigits && oSeen.llCounter >= 0; ++uiDigit)
    {
        uint8_t auiRows[CTestPattern::s_uiFontHeight] = {};
        const unsigned uiBlock = oLayout.uiBlock, uiLeft = oLayout.uiCounterLeft + 6 * uiDigit * uiBlock;
        for (unsigned uiRow = 0; uiRow < CTestPattern::s_uiFontHeight; ++uiRow)
            for (unsigned uiColumn = 0; uiColumn < CTestPattern::s_uiFontWidth; ++uiColumn)
                if (fnYuv(uiLeft + uiColumn * uiBlock + uiBlock / 2,
                          oLayout.uiCounterTop + uiRow * uiBlock + uiBlock / 2, 0) > 128)
                    auiRows[uiRow] |= 0x10 >> uiColumn;
        const auto* pGlyph = std::find_if(CTestPattern::s_aauiFont, CTestPattern::s_aauiFont + 10,
                                          [&](const uint8_t* p) { return std::equal(auiRows, auiRows + 7, p); });
        oSeen.llCounter =
            pGlyph == CTestPattern::s_aauiFont + 10 ? -1 : 10 * oSeen.llCounter + (pGlyph - CTestPattern::s_aauiFont);
    }
    // Each bar sampled in its middle, at two places across it: the moving bar covers one at most.
    static const int s_aaiBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                        {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    for (unsigned i = 0; i < 8; ++i)
    {
        const unsigned uiLeft = oLayout.auiBarLeft[i], uiBarWidth = oLayout.auiBarLeft[i + 1] - uiLeft,
                       y = oLayout.uiBarsHeight / 2;
        bool bMatch = false;
        for (unsigned x : {uiLeft + uiBarWidth / 4, uiLeft + uiBarWidth * 3 / 4})
            bMatch = bMatch || (std::abs(fnYuv(x, y, 0) - s_aaiBars[i][0]) <= 16 &&
                                std::abs(fnYuv(x, y, 1) - s_aaiBars[i][1]) <= 16 &&
                                std::abs(fnYuv(x, y, 2) - s_aaiBars[i][2]) <= 16);
        oSeen.bInPlace = oSeen.bInPlace && bMatch;
    }
    // The ramp below the bars: the darker of two samples on the left, the brighter on the right.
    const unsigned y = oLayout.uiBarsHeight + 2, W = uiSourceWidth;
    oSeen.bInPlace = oSeen.bInPlace && std::min(fnYuv(W / 16, y, 0), fnYuv(W / 8, y, 0)) + 100 <
                                           std::max(fnYuv(W * 7 / 8, y, 0), fnYuv(W * 15 / 16, y, 0));
    return oSeen;
}

// The frame the display showed last, written by the platform (binary PPM, or PNG by the name) and
// read back.
struct SSnapshot
{
    explicit SSnapshot(const std::string& roPath) : eWritten(PellixTest_WriteDisplaySnapshot(roPath.c_str()))
    {
        std::ifstream oFile(roPath, std::ios::binary);
        std::string oMagic;
        unsigned uiMax = 0;
        if (!(oFile >> oMagic >> uiWidth >> uiHeight >> uiMax) || oMagic != "P6" || uiMax != 255)
            return;
        oFile.get();
        oRgb.assign(std::istreambuf_iterator<char>(oFile), std::istreambuf_iterator<char>());
        oRgb.resize(size_t(uiWidth) * uiHeight * 3);
    }
    // The pixel at (x, y) is within iTolerance of the colour.
    bool Is(unsigned x, unsigned y, int iR, int iG, int iB, int iTolerance = 3) const
    {
        const char* pc = &oRgb[(size_t(y) * uiWidth + x) * 3];
        return std::abs(uint8_t(pc[0]) - iR) <= iTolerance && std::abs(uint8_t(pc[1]) - iG) <= iTolerance &&
               std::abs(uint8_t(pc[2]) - iB) <= iTolerance;
    }
    bool IsDark(unsigned x, unsigned y) const { return Is(x, y, 0, 0, 0, 47); }

    OMX_ERRORTYPE eWritten;
    unsigned uiWidth = 0, uiHeight = 0;
    std::string oRgb;
};

#endif // PELLIX_TEST_PICTURE_H
