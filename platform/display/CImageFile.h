// Writes a picture to a file: PNG when the path ends in ".png", binary PPM (P6) otherwise.
#ifndef CIMAGE_FILE_H
#define CIMAGE_FILE_H

#include "CRgbImage.h"

class CImageFile
{
public:
    // False when the file cannot be written.
    static bool Write(const CRgbImage& roImage, const char* szPath);

    // The PNG file's bytes: 8-bit RGB, no interlace, the image data in stored (uncompressed)
    // deflate blocks.
    static std::vector<uint8_t> EncodePng(const CRgbImage& roImage);
    static std::vector<uint8_t> EncodePpm(const CRgbImage& roImage);
};

#endif // CIMAGE_FILE_H
