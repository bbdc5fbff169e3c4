// JPEG/JFIF files through libjpeg: whole-image decoding, rectangles cut from
// a decoded image kept in the library's image cache, and encoding.
#pragma once

#include <cstdint>

#include "ORVIX_0500.h"

namespace orvix {

class JPGClass {
public:
    virtual ~JPGClass() = default;

    // Decodes img's FileName into img (whose buffer should be empty). Colour
    // files come back as R,G,B, grey files as one sample; Adobe CMYK/YCCK
    // files are converted to R,G,B. libjpeg's errors and warnings go to the
    // last-error text; after a fatal error the pixels already made stay with
    // img. A read that goes on past missing or corrupt data (a file cut
    // short: the rest is grey) succeeds with libjpeg's first such warning as
    // the read's warning (Get_Last_Warning).
    // With a target size (see ReadImageForSize), libjpeg decodes each 8 x 8
    // block straight to 4, 2 or 1 pixels where a reduction by 2, 4 or 8
    // divides both sides and leaves at least twice the target: a fraction
    // of the work, with the resolution divided to match. *reduction (unless
    // null) receives the one taken.
    bool ReadJPEGtoMem(ImgClass* img, int width = 0, int height = 0, int* reduction = nullptr);

    // Fills out with columns left..right-1 and rows top..bottom-1 of file,
    // decoding the file into the image cache unless the cache already holds
    // it (names compared without regard to case).
    bool GetJPGImgRect(const char* file, int left, int top, int right, int bottom,
                       ImgClass* out);

    // Encodes img into its FileName at quality (0..100, more counts as 100).
    // B,G,R pixels are put into R,G,B order first and stay so.
    bool WriteJPEG(int quality, ImgClass* img);
};

// What a JPEG file's header says, read without decoding any pixels.
struct JpegHeaderInfo {
    bool opened = false;   // the file could be opened
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;    // colour components in the file (4 for CMYK/YCCK)
    int precision = 0;     // bits per sample
    int samples = 0;       // samples per pixel ReadJPEGtoMem delivers; 0 if none
    // The JFIF density: unit 0 (an aspect ratio only), 1 dots per inch,
    // 2 dots per centimetre; without a JFIF marker unit 0 at 1 x 1.
    int densityUnit = 0;
    unsigned xDensity = 0;
    unsigned yDensity = 0;
};

// Reads path's JPEG header (no image required). Returns false on success.
// When the file cannot be opened it returns true with opened false and posts
// nothing, so the caller names the failure; libjpeg's complaints about the
// data are posted as libjpeg words them.
bool ReadJpegHeader(const char* path, JpegHeaderInfo& info);

}  // namespace orvix
