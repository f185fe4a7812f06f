#include "CAnnexBStream.h"

namespace
{
// Length of the start code at p (3 or 4 bytes), 0 when there is none.
size_t local_StartCode(const uint8_t* p, size_t uiLeft)
{
    if (uiLeft >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1)
        return 3;
    if (uiLeft >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1)
        return 4;
    return 0;
}
} // namespace

bool CAnnexBStream::Split(const uint8_t* pData, size_t uiSize, std::vector<SNalUnit>& raoUnits)
{
    raoUnits.clear();
    size_t uiCode = local_StartCode(pData, uiSize);
    if (uiCode == 0)
        return false;
    size_t uiPos = 0;
    while (uiCode != 0)
    {
        const size_t uiStart = uiPos + uiCode;
        size_t uiNext = uiStart;
        size_t uiNextCode = 0;
        while (uiNext < uiSize && (uiNextCode = local_StartCode(pData + uiNext, uiSize - uiNext)) == 0)
            ++uiNext;
        if (uiStart < uiSize)
            raoUnits.push_back(SNalUnit{static_cast<unsigned>(pData[uiStart] & 0x1F), pData + uiStart, uiNext - uiStart});
        uiPos = uiNext;
        uiCode = uiNextCode;
    }
    return true;
}

unsigned CAnnexBStream::FirstMbInSlice(const SNalUnit& roSlice)
{
    // Exp-Golomb ue(v) right after the NAL header (no emulation prevention can occur in it
    // before the first 1 bit within the first bytes of a sane value).
    size_t uiBit = 8;
    const size_t uiBits = roSlice.uiSize * 8;
    unsigned uiZeros = 0;
    while (uiBit < uiBits && ((roSlice.pHeader[uiBit / 8] >> (7 - uiBit % 8)) & 1) == 0)
    {
        ++uiZeros;
        ++uiBit;
    }
    ++uiBit;
    unsigned uiValue = 0;
    for (unsigned i = 0; i < uiZeros && uiBit < uiBits; ++i, ++uiBit)
        uiValue = (uiValue << 1) | ((roSlice.pHeader[uiBit / 8] >> (7 - uiBit % 8)) & 1);
    return (1u << uiZeros) - 1 + uiValue;
}
