// Small operations on images shared by the codecs and the processing code.
#pragma once

#include <cstdint>

#include "ORVIX_0500.h"

namespace orvix {

// True when rect is non-empty and lies wholly inside the image.
bool RectInsideImage(const CRect& rect, const ImgClass& img);

// True when rect is non-empty, starts inside the image and ends within its
// width. Lines below the image are allowed: rectangle copies leave them zero.
bool RectWithinColumns(const CRect& rect, const ImgClass& img);

// Makes out an image of rect's size holding those pixels of src: Samples and
// Bits from src, LineSize rounded up to 4 bytes unless exactLine, spareLines
// extra lines allocated. Lines beyond src's last line stay zero. Returns
// true when no buffer could be made; an empty rect does nothing.
bool CopyRectangle(const CRect& rect, const ImgClass& src, ImgClass& out,
                   uint32_t spareLines, bool exactLine = false);

// A colour sample v premultiplied by alpha a, both of maxima top, divided
// back as Pillow does, so that associated-alpha files read alike: truncated,
// at most top, and 0 where alpha is 0.
inline uint32_t Unpremultiplied(uint32_t v, uint32_t a, uint32_t top) {
    if (a == 0) return 0;
    if (a >= top) return v;
    const uint64_t q = uint64_t{v} * top / a;
    return static_cast<uint32_t>(q < top ? q : top);
}

// True, with words naming who and the image's file, when s is not an 8-bit
// image of 1 to 4 samples with pixels and whole lines, as the PNG and WebP
// writers need.
bool RefusesEightBitWrite(const ImgStruct& s, const char* who);

// True, with a message naming who and path, when an image of width x height
// pixels is more than a reader may allocate. Readers ask before allocating,
// after checking what the file can hold, so a small compressed file claiming
// a gigantic image costs nothing.
bool ExceedsPixelLimit(uint64_t width, uint64_t height, const char* who, const char* path);

// Allocates img's buffer with spare extra lines and sets Height back.
// Returns true when no buffer resulted.
bool AllocWithSpare(ImgClass& img, uint32_t spare);

// Copies the file name into an ImgStruct/IMAGE_HDR name field; false (and
// nothing copied) when it does not fit.
bool CopyName(char (&field)[ORVIX_MAX_PATH], const char* name);

// True for images with transparency: 2 (grey + alpha) or 4 (colour + alpha)
// samples, the alpha last and unassociated.
inline bool HasAlpha(const ImgStruct& s) { return s.Samples == 2 || s.Samples == 4; }

// Posts that who takes no image with transparency; returns true. For the
// operations that read every sample as grey or colour.
bool RefuseAlpha(const char* who, const ImgStruct& s);

// Makes out src (2 or 4 samples of 8 bits) composited over the background
// r, g, b: 1 or 3 samples, the rest of src's record kept. A grey image is
// composited over the background's luma (0.299 r + 0.587 g + 0.114 b,
// rounded). True, posted as who, when src cannot be flattened or out's
// buffer cannot be had.
bool CompositeOver(const ImgClass& src, ImgClass& out, uint8_t r, uint8_t g, uint8_t b,
                   const char* who);

// Calls write(image) for a format without transparency: an image with alpha
// is composited onto white in a copy first, so the caller's pixels and
// record stay as they are.
template <typename Write>
bool WriteOpaque(ImgClass* img, const char* who, Write write) {
    if (!img || !img->ImgStruct.ImgData || !HasAlpha(img->ImgStruct)) return write(img);
    ImgClass flat;
    if (CompositeOver(*img, flat, 255, 255, 255, who)) return true;
    return write(&flat);
}

// Posts why path is no image the library reads, for a file Get_File_Type
// gives no readable type: no name, missing, empty, a raw camera file, or a
// format named by its first bytes ("%s: not a supported image format (ASCII
// PPM)"). Returns true.
bool PostUnsupportedFile(const char* path);

}  // namespace orvix
