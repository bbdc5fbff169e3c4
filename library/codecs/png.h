// PNG files through libpng: every bit depth, colour type and interlace read
// as 8-bit grey or colour, with an alpha sample where the file has
// transparency; 8-bit images of 1 to 4 samples written with their
// resolution.
#pragma once

#include <cstdint>

#include "ORVIX_0500.h"

namespace orvix {

// What a PNG file's header chunks say, read without decoding any pixels.
struct PngHeaderInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    int bits = 0;     // bit depth in the file
    int samples = 0;  // samples per pixel ReadPng delivers
    // From pHYs: unit 2 (per inch) when the file gives pixels per metre,
    // else 1 (none) with no resolution.
    int resUnit = 1;
    double xRes = 0;
    double yRes = 0;
};

// Reads path's header chunks (up to the first image data). Returns false on
// success; libpng's complaints are posted in its words.
bool ReadPngHeader(const char* path, PngHeaderInfo& info);

class PngClass {
public:
    // Decodes img's FileName into img (whose buffer should be empty): 16-bit
    // samples rounded to 8, palettes expanded to R,G,B, transparency (alpha
    // or tRNS) kept as a last, unassociated alpha sample. Type 10.
    bool ReadPng(ImgClass* img);
    // Writes img (8-bit, 1 to 4 samples: grey, grey + alpha, colour, colour
    // + alpha) to its FileName with zlib level 0 to 9, and pHYs from its
    // resolution when it has a unit.
    bool WritePng(int level, ImgClass* img);
};

}  // namespace orvix
