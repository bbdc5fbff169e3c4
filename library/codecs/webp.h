// WebP files through libwebp: lossy, lossless and alpha pictures, and the
// first frame of an animation, read as 8-bit colour with an alpha sample
// where the file has one; 8-bit images of 1 to 4 samples written lossy or
// lossless.
#pragma once

#include <cstdint>

#include "ORVIX_0500.h"

namespace orvix {

// What a WebP file's headers say, read without decoding any pixels.
struct WebpHeaderInfo {
    uint32_t width = 0;   // the canvas, for an animation
    uint32_t height = 0;
    int samples = 0;      // samples per pixel ReadWebp delivers: 3 or 4
};

// Reads path's headers. Returns false on success, true with words.
bool ReadWebpHeader(const char* path, WebpHeaderInfo& info);

class WebpClass {
public:
    // Decodes img's FileName into img (whose buffer should be empty): R,G,B,
    // and a last, unassociated alpha sample when the file has alpha. Type 11.
    bool ReadWebp(ImgClass* img);
    // Writes img (8-bit, 1 to 4 samples) to its FileName at quality 1 to
    // 100; lossless when quality is 100 or lossless is set.
    bool WriteWebp(int quality, bool lossless, ImgClass* img);
};

}  // namespace orvix
