// Pixel conversions and small operating-system utilities shared by the library and its hosts.
#ifndef GEN_UTILS_H
#define GEN_UTILS_H

#include <string>

#include "ZemBaseTypes.h"

// ---- Pixels -------------------------------------------------------------------------------

// One 32-bit pixel; on the little-endian target m_uiPixel reads 0xAARRGGBB.
typedef union
{
    struct
    {
        unsigned char m_uiB;
        unsigned char m_uiG;
        unsigned char m_uiR;
        unsigned char m_uiA;
    } m_oPixel;
    MUINT32 m_uiPixel;
} PixFmt_A8R8G8B8;

// One packed 4:2:2 pixel pair, bytes Y0 Cb Y1 Cr.
typedef union
{
    struct
    {
        unsigned char m_uiY0;
        unsigned char m_uiCb;
        unsigned char m_uiY1;
        unsigned char m_uiCr;
    } m_oTwoPixels;
    MUINT32 m_uiTwoPixels;
} PixFmt_YUV422;

// Two consecutive RGB pixels to one 4:2:2 pair (full-range BT.601; Cb from the first pixel, Cr
// from the second).
void ConvertRgbToYuv(const PixFmt_A8R8G8B8* poRgbSrc, PixFmt_YUV422& roYuvDst);

// Two's-complement fixed-point code of fSrc in uiNbIntBits + uiNbFracBits bits (sign included in
// the integer bits), rounded half away from zero and saturated.
unsigned ConvertFloatToFixedPoint(float fSrc, unsigned uiNbIntBits, unsigned uiNbFracBits);

// ---- Time ---------------------------------------------------------------------------------

MUINT64 GetRealTimeUsec();

// Prints "<label>: <n> usec." when it goes out of scope.
class CChrono
{
public:
    explicit CChrono(const char* szString);
    ~CChrono();

private:
    const char* m_szString;
    MUINT64 m_uiStartTime;
};

void LCpuThread_Sleep(MUINT32 uiTimeoutMilliSec);

// ---- Console ------------------------------------------------------------------------------

MBOOL32 LHIsKeyPressed(int* piKeepKeyPressed);
int LHWaitKeyPressed();

// ---- Files and the platform's devices ------------------------------------------------------

MBOOL32 IsFileValid(const char* szFilePath);
bool IsDisplayEnabled(MUINT uiDisplayIndex);
bool EnableDisplay(MUINT uiDisplayIndex, bool bEnable);
bool EnableMulticastRouting();

// The path under which a device file of the platform (/sys/..., /proc/...) is opened: the path
// itself, or the path below the folder PELLIX_PLATFORM_ROOT names when that variable is set.
std::string PlatformPath(const char* szDevicePath);

// ---- Pixmaps ------------------------------------------------------------------------------

// Reads an uncompressed, bottom-up, 24-bit BMP file into 32-bit pixels, row 0 at the top.
class CPixmapFile
{
public:
    CPixmapFile();
    ~CPixmapFile();
    CPixmapFile(const CPixmapFile&) = delete;
    CPixmapFile& operator=(const CPixmapFile&) = delete;

    PixFmt_A8R8G8B8* Read(const char* szPath);
    void Clear();

    PixFmt_A8R8G8B8* GetPixmap() const { return m_puiPixmap; }
    const tagMSIZE32& GetSize() const { return m_oSize; }

private:
    PixFmt_A8R8G8B8* m_puiPixmap;
    tagMSIZE32 m_oSize;
};

#endif // GEN_UTILS_H
