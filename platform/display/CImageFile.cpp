#include "CImageFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace
{
uint32_t local_Crc32(const uint8_t* puiData, size_t uiSize, uint32_t uiCrc = 0)
{
    static uint32_t s_auiTable[256];
    static const bool s_bTable = [] {
        for (uint32_t uiByte = 0; uiByte < 256; ++uiByte)
        {
            uint32_t uiValue = uiByte;
            for (int iBit = 0; iBit < 8; ++iBit)
                uiValue = (uiValue & 1) != 0 ? 0xEDB88320u ^ (uiValue >> 1) : uiValue >> 1;
            s_auiTable[uiByte] = uiValue;
        }
        return true;
    }();
    (void)s_bTable;
    uiCrc = ~uiCrc;
    for (size_t ui = 0; ui < uiSize; ++ui)
        uiCrc = s_auiTable[(uiCrc ^ puiData[ui]) & 0xFF] ^ (uiCrc >> 8);
    return ~uiCrc;
}

void local_PutBigEndian32(std::vector<uint8_t>& raOut, uint32_t uiValue)
{
    raOut.push_back(static_cast<uint8_t>(uiValue >> 24));
    raOut.push_back(static_cast<uint8_t>(uiValue >> 16));
    raOut.push_back(static_cast<uint8_t>(uiValue >> 8));
    raOut.push_back(static_cast<uint8_t>(uiValue));
}

void local_PutChunk(std::vector<uint8_t>& raOut, const char* szType, const std::vector<uint8_t>& raData)
{
    local_PutBigEndian32(raOut, static_cast<uint32_t>(raData.size()));
    const size_t uiTypeAt = raOut.size();
    raOut.insert(raOut.end(), szType, szType + 4);
    raOut.insert(raOut.end(), raData.begin(), raData.end());
    local_PutBigEndian32(raOut, local_Crc32(&raOut[uiTypeAt], raData.size() + 4));
}

bool local_EndsWith(const std::string& roText, const char* szSuffix)
{
    const size_t uiLength = strlen(szSuffix);
    if (roText.size() < uiLength)
        return false;
    for (size_t ui = 0; ui < uiLength; ++ui)
    {
        const char cChar = roText[roText.size() - uiLength + ui];
        if ((cChar >= 'A' && cChar <= 'Z' ? cChar - 'A' + 'a' : cChar) != szSuffix[ui])
            return false;
    }
    return true;
}
} // namespace

std::vector<uint8_t> CImageFile::EncodePpm(const CRgbImage& roImage)
{
    char szHead[64];
    const int iHead = snprintf(szHead, sizeof(szHead), "P6\n%u %u\n255\n", roImage.Width(), roImage.Height());
    std::vector<uint8_t> aOut(szHead, szHead + iHead);
    aOut.insert(aOut.end(), roImage.Pixels().begin(), roImage.Pixels().end());
    return aOut;
}

std::vector<uint8_t> CImageFile::EncodePng(const CRgbImage& roImage)
{
    static const uint8_t s_auiSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> aOut(s_auiSignature, s_auiSignature + sizeof(s_auiSignature));

    std::vector<uint8_t> aHeader;
    local_PutBigEndian32(aHeader, roImage.Width());
    local_PutBigEndian32(aHeader, roImage.Height());
    const uint8_t auiRest[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter method, no interlace
    aHeader.insert(aHeader.end(), auiRest, auiRest + sizeof(auiRest));
    local_PutChunk(aOut, "IHDR", aHeader);

    // The scanlines, each led by filter type 0 (none).
    const size_t uiRowBytes = size_t(roImage.Width()) * 3;
    std::vector<uint8_t> aRaw;
    aRaw.reserve((uiRowBytes + 1) * roImage.Height());
    for (unsigned uiRow = 0; uiRow < roImage.Height(); ++uiRow)
    {
        aRaw.push_back(0);
        const auto itRow = roImage.Pixels().begin() + static_cast<std::ptrdiff_t>(uiRow * uiRowBytes);
        aRaw.insert(aRaw.end(), itRow, itRow + static_cast<std::ptrdiff_t>(uiRowBytes));
    }

    // A zlib stream of stored blocks of at most 65535 bytes, then the Adler-32 of the data.
    std::vector<uint8_t> aZlib = {0x78, 0x01};
    aZlib.reserve(aRaw.size() + aRaw.size() / 65535 * 5 + 16);
    size_t uiAt = 0;
    do
    {
        const size_t uiBlock = aRaw.size() - uiAt < 65535 ? aRaw.size() - uiAt : 65535;
        const bool bLast = uiAt + uiBlock == aRaw.size();
        aZlib.push_back(bLast ? 1 : 0);
        aZlib.push_back(static_cast<uint8_t>(uiBlock & 0xFF));
        aZlib.push_back(static_cast<uint8_t>(uiBlock >> 8));
        aZlib.push_back(static_cast<uint8_t>(~uiBlock & 0xFF));
        aZlib.push_back(static_cast<uint8_t>((~uiBlock >> 8) & 0xFF));
        aZlib.insert(aZlib.end(), aRaw.begin() + static_cast<std::ptrdiff_t>(uiAt),
                     aRaw.begin() + static_cast<std::ptrdiff_t>(uiAt + uiBlock));
        uiAt += uiBlock;
    } while (uiAt < aRaw.size());
    uint32_t uiA = 1;
    uint32_t uiB = 0;
    for (const uint8_t uiByte : aRaw)
    {
        uiA = (uiA + uiByte) % 65521;
        uiB = (uiB + uiA) % 65521;
    }
    local_PutBigEndian32(aZlib, (uiB << 16) | uiA);
    local_PutChunk(aOut, "IDAT", aZlib);
    local_PutChunk(aOut, "IEND", std::vector<uint8_t>());
    return aOut;
}

bool CImageFile::Write(const CRgbImage& roImage, const char* szPath)
{
    if (szPath == nullptr)
        return false;
    const std::vector<uint8_t> aBytes = local_EndsWith(szPath, ".png") ? EncodePng(roImage) : EncodePpm(roImage);
    std::unique_ptr<FILE, int (*)(FILE*)> hFile(fopen(szPath, "wb"), fclose);
    if (!hFile)
        return false;
    if (fwrite(aBytes.data(), 1, aBytes.size(), hFile.get()) != aBytes.size())
        return false;
    return fclose(hFile.release()) == 0;
}
