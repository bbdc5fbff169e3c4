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

// Posts why path is no image the library reads, for a file Get_File_Type
// gives no readable type: no name, missing, empty, a raw camera file, or a
// format named by its first bytes ("%s: not a supported image format (ASCII
// PPM)"). Returns true.
bool PostUnsupportedFile(const char* path);

}  // namespace orvix
