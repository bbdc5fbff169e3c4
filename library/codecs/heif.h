// HEIC and AVIF files (HEIF containers of HEVC or AV1 pictures) through
// libheif: the primary image, turned upright by the container's own
// rotation and mirror, read as 8-bit colour with an alpha sample where the
// file has one.
#pragma once

#include <cstdint>

#include "ORVIX_0500.h"

namespace orvix {

// Whether the first n bytes of a file begin an ISO media file whose type box
// names a HEIF image brand (heic, heix, hevc, hevx, mif1, msf1, avif, avis)
// as its major or a compatible brand.
bool IsHeifSignature(const unsigned char* head, size_t n);

// What a HEIF file's boxes say of its primary image, read without decoding.
struct HeifHeaderInfo {
    uint32_t width = 0;   // upright, after the container's rotation
    uint32_t height = 0;
    int samples = 0;      // samples per pixel ReadHeif delivers: 3 or 4
    int bits = 0;         // bits per luma sample in the file
};

// Reads path's boxes. Returns false on success, true with libheif's words.
bool ReadHeifHeader(const char* path, HeifHeaderInfo& info);

class HeifClass {
public:
    // Decodes the primary image of img's FileName into img (whose buffer
    // should be empty): R,G,B reduced to 8 bits, with a last, unassociated
    // alpha sample when the file has alpha. Type 12.
    bool ReadHeif(ImgClass* img);
};

}  // namespace orvix
