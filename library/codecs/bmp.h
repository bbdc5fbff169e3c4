// Windows bitmaps: a reader for uncompressed 1-, 4-, 8-, 16-, 24- and
// 32-bit files and for 16- and 32-bit bit-field files, and a writer of
// uncompressed 24-bit files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ORVIX_0500.h"

namespace orvix {

// The 14-byte file header and the 40-byte information header of a bitmap,
// as stored (little-endian) at the start of the file.
struct BmpHeaders {
    static constexpr uint32_t kFileHeaderSize = 14;
    static constexpr uint32_t kInfoHeaderSize = 40;

    // File header.
    uint8_t magic[2] = {0, 0};  // "BM"
    uint32_t fileSize = 0;
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
    uint32_t pixelOffset = 0;  // from the start of the file
    // Information header.
    uint32_t headerSize = 0;  // 40, or more for the later header versions
    int32_t width = 0;
    int32_t height = 0;  // positive: bottom line first; negative: top line first
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // 0: uncompressed; 3: bit fields
    uint32_t imageSize = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
    uint32_t colorsImportant = 0;
};

// Reads both headers from the current position of f (normally its start),
// field by field. Returns true when the file ends before the 54 bytes.
bool ReadBmpHeaders(FILE* f, BmpHeaders& h);

// Where red, green and blue lie in a 16- or 32-bit pixel (read as a
// little-endian number).
struct BmpMasks {
    static constexpr uint32_t kBitFields = 3;  // the compression that gives them

    uint32_t red = 0;
    uint32_t green = 0;
    uint32_t blue = 0;
};

// The masks of a 16- or 32-bit bitmap whose headers h were read from f: for
// bit fields those of the file, which follow a 40-byte information header
// and lie at its offset 40 in the longer ones; for uncompressed files 5-5-5
// and 8-8-8. Returns true, with words naming path, when the file does not
// hold them or they are empty, overlap, have gaps or lie outside the pixel.
bool ReadBmpMasks(FILE* f, const BmpHeaders& h, const char* path, BmpMasks& m);

class BmpClass {
public:
    // Reads img's FileName into img: colour (Samples 3, Bits 8) in R,G,B
    // order, first buffer line = top of the image, Type 4.
    bool ReadBmp(ImgClass* img);
    // Writes img to its FileName as an uncompressed 24-bit bitmap. A colour
    // image in R,G,B order is swapped to B,G,R for writing and left so.
    bool WriteBmp(ImgClass* img);
};

}  // namespace orvix
