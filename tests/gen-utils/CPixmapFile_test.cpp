#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "GenUtils.h"
#include "TempDir.h"

namespace
{
// The fields of a BMP file that the reader looks at; the rest is written as a writer would.
struct CBmp
{
    int32_t m_iWidth = 8;
    int32_t m_iHeight = 2;
    uint16_t m_uiPlanes = 1;
    uint16_t m_uiBitCount = 24;
    uint32_t m_uiSizeImage = 48;
    uint32_t m_uiOffBits = 54;
    uint16_t m_uiType = 19778;
    std::string m_oPixels;  // as stored in the file, bottom row first

    std::string Bytes() const
    {
        std::string oBytes;
        auto fnPut = [&oBytes](uint32_t uiValue, int iBytes) {
            for (int i = 0; i < iBytes; ++i)
                oBytes += static_cast<char>((uiValue >> (8 * i)) & 0xFF);
        };
        fnPut(m_uiType, 2);
        fnPut(m_uiOffBits + static_cast<uint32_t>(m_oPixels.size()), 4);
        fnPut(0, 4);
        fnPut(m_uiOffBits, 4);
        fnPut(40, 4);
        fnPut(static_cast<uint32_t>(m_iWidth), 4);
        fnPut(static_cast<uint32_t>(m_iHeight), 4);
        fnPut(m_uiPlanes, 2);
        fnPut(m_uiBitCount, 2);
        fnPut(0, 4);
        fnPut(m_uiSizeImage, 4);
        fnPut(2835, 4);
        fnPut(2835, 4);
        fnPut(0, 4);
        fnPut(0, 4);
        oBytes.resize(m_uiOffBits, '\0');
        return oBytes + m_oPixels;
    }
};

// Pixel (x, y) of file row r carries B = x, G = r, R = 0x80 | y-marker.
std::string Rows(int iWidth, int iRows, int iPadding = 0)
{
    std::string oPixels;
    for (int iRow = 0; iRow < iRows; ++iRow)
    {
        for (int iColumn = 0; iColumn < iWidth; ++iColumn)
        {
            oPixels += static_cast<char>(iColumn);
            oPixels += static_cast<char>(iRow);
            oPixels += static_cast<char>(0x80 | iColumn);
        }
        oPixels.append(iPadding, '\0');
    }
    return oPixels;
}

class PixmapFile : public ::testing::Test
{
protected:
    PixFmt_A8R8G8B8* Read(const CBmp& roBmp) { return ReadBytes(roBmp.Bytes()); }
    PixFmt_A8R8G8B8* ReadBytes(const std::string& roBytes)
    {
        const auto oPath = m_oDir.Write("picture.bmp", roBytes);
        return m_oPixmap.Read(oPath.c_str());
    }

    CTempDir m_oDir;
    CPixmapFile m_oPixmap;
};
} // namespace

TEST_F(PixmapFile, ReadsBottomUpRowsIntoTopDownPixels)
{
    CBmp oBmp;
    oBmp.m_oPixels = Rows(8, 2);
    PixFmt_A8R8G8B8* poPixels = Read(oBmp);
    ASSERT_NE(nullptr, poPixels);
    EXPECT_EQ(poPixels, m_oPixmap.GetPixmap());
    EXPECT_EQ(8u, m_oPixmap.GetSize().m_uiCx);
    EXPECT_EQ(2u, m_oPixmap.GetSize().m_uiCy);
    for (unsigned uiY = 0; uiY < 2; ++uiY)
    {
        for (unsigned uiX = 0; uiX < 8; ++uiX)
        {
            const PixFmt_A8R8G8B8& roPixel = poPixels[uiY * 8 + uiX];
            EXPECT_EQ(uiX, roPixel.m_oPixel.m_uiB);
            EXPECT_EQ(1 - uiY, roPixel.m_oPixel.m_uiG);  // the file's second row is the top
            EXPECT_EQ(0x80 | uiX, roPixel.m_oPixel.m_uiR);
            EXPECT_EQ(0, roPixel.m_oPixel.m_uiA);
        }
    }
}

TEST_F(PixmapFile, PixelDataStartsWhereTheHeaderSays)
{
    CBmp oBmp;
    oBmp.m_uiOffBits = 138;  // a longer information header in front
    oBmp.m_oPixels = Rows(8, 2);
    ASSERT_NE(nullptr, Read(oBmp));
    EXPECT_EQ(7, m_oPixmap.GetPixmap()[15].m_oPixel.m_uiB);
}

TEST_F(PixmapFile, RefusesPaddedRowsTopDownAndOtherFormats)
{
    CBmp oPadded;  // 6 x 2, rows padded to 20 bytes
    oPadded.m_iWidth = 6;
    oPadded.m_uiSizeImage = 40;
    oPadded.m_oPixels = Rows(6, 2, 2);
    EXPECT_EQ(nullptr, Read(oPadded));

    CBmp oTopDown;
    oTopDown.m_iHeight = -2;
    oTopDown.m_oPixels = Rows(8, 2);
    EXPECT_EQ(nullptr, Read(oTopDown));

    for (auto fnBreak : std::vector<void (*)(CBmp&)>{
             [](CBmp& roBmp) { roBmp.m_uiBitCount = 32; }, [](CBmp& roBmp) { roBmp.m_uiPlanes = 2; },
             [](CBmp& roBmp) { roBmp.m_uiType = 0x4D42 + 1; }, [](CBmp& roBmp) { roBmp.m_iWidth = 0; },
             [](CBmp& roBmp) { roBmp.m_iWidth = -8; }, [](CBmp& roBmp) { roBmp.m_iHeight = 0; }})
    {
        CBmp oBmp;
        oBmp.m_oPixels = Rows(8, 2);
        fnBreak(oBmp);
        EXPECT_EQ(nullptr, Read(oBmp));
        EXPECT_EQ(nullptr, m_oPixmap.GetPixmap());
    }
}

TEST_F(PixmapFile, RefusesTruncatedFiles)
{
    CBmp oBmp;
    oBmp.m_oPixels = Rows(8, 2);
    const std::string oWhole = oBmp.Bytes();
    for (size_t uiLength : {size_t(0), size_t(10), size_t(14), size_t(30), size_t(54), oWhole.size() - 1})
        EXPECT_EQ(nullptr, ReadBytes(oWhole.substr(0, uiLength))) << uiLength;
    EXPECT_NE(nullptr, ReadBytes(oWhole));
}

TEST_F(PixmapFile, RefusesHeadersThatClaimMoreThanTheFileHolds)
{
    // 40000 x 35000 pixels, consistent with its declared image size, in a file of a few bytes.
    CBmp oHuge;
    oHuge.m_iWidth = 40000;
    oHuge.m_iHeight = 35000;
    oHuge.m_uiSizeImage = 4200000000u;
    oHuge.m_oPixels = Rows(8, 2);
    EXPECT_EQ(nullptr, Read(oHuge));

    // 0x55555556 x 3 wraps to 2 in 32 bits, which the declared size of 6 bytes would match.
    CBmp oWrapping;
    oWrapping.m_iWidth = 0x55555556;
    oWrapping.m_iHeight = 3;
    oWrapping.m_uiSizeImage = 6;
    oWrapping.m_oPixels = Rows(2, 1);
    EXPECT_EQ(nullptr, Read(oWrapping));

    // Pixel data said to begin past the end of the file.
    CBmp oFarOffset;
    oFarOffset.m_oPixels = Rows(8, 2);
    std::string oBytes = oFarOffset.Bytes();
    oBytes[10] = '\xFF';
    oBytes[11] = '\xFF';
    EXPECT_EQ(nullptr, ReadBytes(oBytes));
}

TEST_F(PixmapFile, MissingFileOrFolderAndRereading)
{
    EXPECT_EQ(nullptr, m_oPixmap.Read((m_oDir.Path() / "missing.bmp").c_str()));
    EXPECT_EQ(nullptr, m_oPixmap.Read(m_oDir.Path().c_str()));

    CBmp oBmp;
    oBmp.m_oPixels = Rows(8, 2);
    ASSERT_NE(nullptr, Read(oBmp));
    // A failed read drops the previous picture; a successful one replaces it.
    oBmp.m_iHeight = -2;
    EXPECT_EQ(nullptr, Read(oBmp));
    EXPECT_EQ(nullptr, m_oPixmap.GetPixmap());
    CBmp oBigger;
    oBigger.m_iWidth = 4;
    oBigger.m_iHeight = 4;
    oBigger.m_oPixels = Rows(4, 4);
    ASSERT_NE(nullptr, Read(oBigger));
    EXPECT_EQ(4u, m_oPixmap.GetSize().m_uiCx);
    m_oPixmap.Clear();
    EXPECT_EQ(nullptr, m_oPixmap.GetPixmap());
    EXPECT_EQ(4u, m_oPixmap.GetSize().m_uiCy);  // the size of the last picture stays
}
