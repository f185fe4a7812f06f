#include "CRgbImage.h"

namespace
{
uint8_t local_Clamp(int iValue)
{
    return static_cast<uint8_t>(iValue < 0 ? 0 : (iValue > 255 ? 255 : iValue));
}
} // namespace

CRgbImage::CRgbImage(unsigned uiWidth, unsigned uiHeight)
    : m_uiWidth(uiWidth), m_uiHeight(uiHeight), m_auiPixels(size_t(uiWidth) * uiHeight * 3, 0)
{
}

void CRgbImage::PutYCbCr(unsigned uiX, unsigned uiY, int iY, int iCb, int iCr)
{
    // Full range: R = Y + 1.402 Cr', G = Y - 0.344 Cb' - 0.714 Cr', B = Y + 1.772 Cb', in 1/1024.
    const int iCbOff = iCb - 128;
    const int iCrOff = iCr - 128;
    uint8_t* puiPixel = &m_auiPixels[(size_t(uiY) * m_uiWidth + uiX) * 3];
    puiPixel[0] = local_Clamp(iY + ((1436 * iCrOff) >> 10));
    puiPixel[1] = local_Clamp(iY - ((352 * iCbOff + 731 * iCrOff) >> 10));
    puiPixel[2] = local_Clamp(iY + ((1815 * iCbOff) >> 10));
}

void CRgbImage::DrawWindow(const SWindowPixels& roWindow)
{
    if (roWindow.puiData == nullptr || roWindow.uiX >= m_uiWidth || roWindow.uiY >= m_uiHeight)
        return;
    const unsigned uiWidth = roWindow.uiWidth < m_uiWidth - roWindow.uiX ? roWindow.uiWidth : m_uiWidth - roWindow.uiX;
    const unsigned uiHeight =
        roWindow.uiHeight < m_uiHeight - roWindow.uiY ? roWindow.uiHeight : m_uiHeight - roWindow.uiY;
    for (unsigned uiRow = 0; uiRow < uiHeight; ++uiRow)
    {
        const size_t uiLine = size_t(uiRow) * roWindow.uiPitch;
        const size_t uiChromaLine = roWindow.uiChromaOffset + size_t(uiRow / 2) * roWindow.uiChromaPitch;
        for (unsigned uiColumn = 0; uiColumn < uiWidth; ++uiColumn)
        {
            const unsigned uiPair = uiColumn & ~1u;
            size_t uiLuma, uiCb, uiCr;
            if (roWindow.bSemiPlanar)
            {
                uiLuma = uiLine + uiColumn;
                uiCb = uiChromaLine + uiPair;
                uiCr = uiCb + 1;
            }
            else
            {
                uiLuma = uiLine + size_t(uiColumn) * 2;
                uiCb = uiLine + size_t(uiPair) * 2 + 1;
                uiCr = uiCb + 2;
            }
            if (uiLuma >= roWindow.uiSize || uiCb >= roWindow.uiSize || uiCr >= roWindow.uiSize)
                continue;
            PutYCbCr(roWindow.uiX + uiColumn, roWindow.uiY + uiRow, roWindow.puiData[uiLuma], roWindow.puiData[uiCb],
                     roWindow.puiData[uiCr]);
        }
    }
}
