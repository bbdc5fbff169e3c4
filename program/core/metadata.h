// A camera photo's orientation and metadata. The orientation turns the
// pixels upright as they are read; EXIF, IPTC, XMP and the colour profile
// follow the picture into its scaled copy, changed to describe the copy.
// This is the program's only user of Exiv2.
#pragma once

#include <ORVIX_0500.h>

#include <string>

namespace tolvane {

// The EXIF orientation of a JPEG, TIFF, PNG or WebP file, 1 to 8; 1 for
// any other file (HEIF's decoder turns its pictures itself) and for one
// whose metadata cannot be read.
int ReadOrientation(const std::string& path);

// What a photo's EXIF says of the picture as a whole: its orientation (1
// when it says none) and its resolution (unit 1, none, when it says none).
struct PhotoFacts {
    int orientation = 1;
    int resUnit = 1;  // 2 per inch, 3 per centimetre
    double resolution = 0;
};
PhotoFacts ReadPhotoFacts(const std::string& path);

// Orientations 5 to 8 are stored lying on their side.
bool SwapsSides(int orientation);
// A stored width and height made the upright picture's.
void ToUprightSize(int orientation, int& width, int& height);

// The library's rotation code that uprights an orientation, and whether a
// mirror must follow it (5 and 7 are a quarter turn and a mirror).
struct UprightTurn {
    int rotation = ROTATE_NONE;
    bool mirrorAfter = false;
};
UprightTurn TurnFor(int orientation);

// Reads img's pixels turned as orientation says; the library's
// convention: true on failure. A cached record is read again after its
// pixels were freed, so the turn is asked for on every read. With a
// target size (upright, as ReadImageForSize takes it), a JPEG is decoded
// reduced for it.
bool ReadImageUpright(bool swap, ImgClass& img, int orientation, int width = 0, int height = 0);

// What the copy's metadata has to say of the copy.
struct CopyFacts {
    int width = 0;
    int height = 0;
    int resUnit = 1;          // 1 none, 2 per inch, 3 per centimetre
    double resolution = 0;
};

// Writes source's metadata (of a JPEG, TIFF, PNG, WebP or HEIF file) into
// the JPEG, TIFF, PNG or WebP file output, whose pixels are upright. Returns "" or the words for the report: what was
// skipped, and why. damaged, when given, says whether the rewrite failed
// while writing the file (a full disk), leaving it unfit to keep.
std::string CarryMetadata(const std::string& source, const std::string& output,
                          const CopyFacts& facts, bool* damaged = nullptr);

}  // namespace tolvane
