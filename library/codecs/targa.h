// TARGA files: a reader for colour-mapped, true-colour and grey images, plain
// or run-length encoded, and a writer of uncompressed 24-bit files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ORVIX_0500.h"

namespace orvix {

// The 18-byte TARGA header, decoded.
struct TargaHeader {
    static constexpr uint32_t kSize = 18;

    uint8_t idLength = 0;
    uint8_t colorMapType = 0;  // 0 none, 1 present
    uint8_t imageType = 0;     // 1 mapped, 2 true colour, 3 grey; 9-11 run-length
    uint16_t mapFirst = 0;     // first colour-map index
    uint16_t mapLength = 0;
    uint8_t mapEntryBits = 0;  // 0, 15, 16, 24 or 32
    uint16_t xOrigin = 0;
    uint16_t yOrigin = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t pixelBits = 0;   // 8, 16, 24 or 32
    uint8_t descriptor = 0;  // bits 0-3 attribute bits, 4 right-to-left,
                             // 5 top line first, 6-7 interleave
    bool runLength = false;  // image types 9, 10 and 11

    bool RightToLeft() const { return (descriptor & 0x10) != 0; }
    bool TopFirst() const { return (descriptor & 0x20) != 0; }
    bool ColourMapped() const { return imageType == 1 || imageType == 9; }
    bool Grey() const { return imageType == 3 || imageType == 11; }
};

class TargaClass {
public:
    // Rewinds f, reads the 18 header bytes into h and applies the validity
    // rules. Returns false when the header is valid.
    static bool CheckHeader(FILE* f, TargaHeader& h);
    // The validity rules alone, on a decoded header; false when valid.
    static bool CheckHeader(const TargaHeader& h);
    // A Targa file has no signature of its own when its identifier field is
    // not empty or it carries a colour map: true when path opens and its
    // header is valid.
    static bool LooksLikeTarga(const char* path);

    // Reads img's FileName into img: Samples 3 in R,G,B order, first buffer
    // line = top of the image. Bits and Type are left as they were.
    bool ReadTarga(ImgClass* img);
    // Writes img (grey or colour) to its FileName as an uncompressed 24-bit
    // file stored top line first.
    bool WriteTarga(ImgClass* img);
};

}  // namespace orvix
