#include "GenUtils.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>

namespace
{
const MUINT32 local_uiFileHeaderSize = 14;
const MUINT32 local_uiInfoHeaderSize = 40;
const MUINT32 local_uiBmpSignature = 19778;  // 'B' 'M'

// The two headers of a BMP file, little-endian on disk.
struct tagBmpFileHeader
{
    MUINT32 m_uiType;
    MUINT32 m_uiSize;
    MUINT32 m_uiOffBits;
};

struct tagBmpInfoHeader
{
    MINT32 m_iWidth;
    MINT32 m_iHeight;
    MUINT32 m_uiPlanes;
    MUINT32 m_uiBitCount;
    MUINT32 m_uiSizeImage;
};

MUINT32 local_ReadLe16(const unsigned char* puiBytes)
{
    return MUINT32(puiBytes[0]) | MUINT32(puiBytes[1]) << 8;
}

MUINT32 local_ReadLe32(const unsigned char* puiBytes)
{
    return MUINT32(puiBytes[0]) | MUINT32(puiBytes[1]) << 8 | MUINT32(puiBytes[2]) << 16 | MUINT32(puiBytes[3]) << 24;
}

bool local_ReadHeaders(FILE* poFile, tagBmpFileHeader& roFileHeader, tagBmpInfoHeader& roInfoHeader)
{
    unsigned char auiFile[local_uiFileHeaderSize];
    if (fread(auiFile, 1, sizeof(auiFile), poFile) != sizeof(auiFile))
        return false;
    roFileHeader.m_uiType = local_ReadLe16(auiFile);
    roFileHeader.m_uiSize = local_ReadLe32(auiFile + 2);
    roFileHeader.m_uiOffBits = local_ReadLe32(auiFile + 10);
    if (roFileHeader.m_uiType != local_uiBmpSignature)
        return false;

    unsigned char auiInfo[local_uiInfoHeaderSize];
    if (fread(auiInfo, 1, sizeof(auiInfo), poFile) != sizeof(auiInfo))
        return false;
    roInfoHeader.m_iWidth = static_cast<MINT32>(local_ReadLe32(auiInfo + 4));
    roInfoHeader.m_iHeight = static_cast<MINT32>(local_ReadLe32(auiInfo + 8));
    roInfoHeader.m_uiPlanes = local_ReadLe16(auiInfo + 12);
    roInfoHeader.m_uiBitCount = local_ReadLe16(auiInfo + 14);
    roInfoHeader.m_uiSizeImage = local_ReadLe32(auiInfo + 20);
    return fseek(poFile, static_cast<long>(roFileHeader.m_uiOffBits), SEEK_SET) == 0;
}

// Uncompressed 24-bit, bottom-up, rows without padding, and every pixel present in the file:
// a header that claims more than the file holds is refused before anything is allocated.
bool local_IsSupported(FILE* poFile, const tagBmpFileHeader& roFileHeader, const tagBmpInfoHeader& roInfoHeader)
{
    if (roInfoHeader.m_uiBitCount != 24 || roInfoHeader.m_uiPlanes != 1 || roInfoHeader.m_iHeight < 1 ||
        roInfoHeader.m_iWidth < 1)
        return false;
    const MUINT64 uiPixelCount = MUINT64(roInfoHeader.m_iWidth) * MUINT64(roInfoHeader.m_iHeight);
    if (uiPixelCount != roInfoHeader.m_uiSizeImage / 3)
        return false;
    struct stat oStat;
    if (fstat(fileno(poFile), &oStat) != 0 || !S_ISREG(oStat.st_mode))
        return false;
    const MUINT64 uiFileSize = static_cast<MUINT64>(oStat.st_size);
    return roFileHeader.m_uiOffBits <= uiFileSize && uiPixelCount * 3 <= uiFileSize - roFileHeader.m_uiOffBits;
}

struct CFileCloser
{
    void operator()(FILE* poFile) const { fclose(poFile); }
};
} // namespace

CPixmapFile::CPixmapFile() : m_puiPixmap(nullptr), m_oSize{0, 0}
{
}

CPixmapFile::~CPixmapFile()
{
    Clear();
}

PixFmt_A8R8G8B8* CPixmapFile::Read(const char* szPath)
{
    Clear();
    std::unique_ptr<FILE, CFileCloser> poFile(fopen(szPath, "rb"));
    if (!poFile)
        return nullptr;

    tagBmpFileHeader oFileHeader;
    tagBmpInfoHeader oInfoHeader;
    if (!local_ReadHeaders(poFile.get(), oFileHeader, oInfoHeader))
        return nullptr;
    m_oSize.m_uiCx = static_cast<MUINT32>(oInfoHeader.m_iWidth);
    m_oSize.m_uiCy = static_cast<MUINT32>(oInfoHeader.m_iHeight);
    if (!local_IsSupported(poFile.get(), oFileHeader, oInfoHeader))
        return nullptr;

    const MUINT32 uiWidth = m_oSize.m_uiCx;
    const MUINT32 uiHeight = m_oSize.m_uiCy;
    m_puiPixmap = new (std::nothrow) PixFmt_A8R8G8B8[size_t(uiWidth) * uiHeight];
    const size_t uiRowBytes = size_t(uiWidth) * 3;
    std::unique_ptr<unsigned char[]> auiRow(new (std::nothrow) unsigned char[uiRowBytes]);
    if (m_puiPixmap == nullptr || !auiRow)
    {
        Clear();
        return nullptr;
    }

    // The file holds the bottom row first.
    for (MUINT32 uiRow = uiHeight; uiRow-- > 0;)
    {
        if (fread(auiRow.get(), 1, uiRowBytes, poFile.get()) != uiRowBytes)
        {
            Clear();
            return nullptr;
        }
        PixFmt_A8R8G8B8* poPixel = m_puiPixmap + size_t(uiRow) * uiWidth;
        const unsigned char* puiBytes = auiRow.get();
        for (MUINT32 uiColumn = 0; uiColumn < uiWidth; ++uiColumn, ++poPixel, puiBytes += 3)
        {
            poPixel->m_uiPixel = 0;
            poPixel->m_oPixel.m_uiB = puiBytes[0];
            poPixel->m_oPixel.m_uiG = puiBytes[1];
            poPixel->m_oPixel.m_uiR = puiBytes[2];
        }
    }
    return m_puiPixmap;
}

void CPixmapFile::Clear()
{
    delete[] m_puiPixmap;
    m_puiPixmap = nullptr;
}
