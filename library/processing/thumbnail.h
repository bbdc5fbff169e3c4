// Point sampling and thumbnails.
#pragma once

#include <string>

#include "ORVIX_0500.h"

namespace orvix {

// Process-wide thumbnail settings.
struct ThumbnailSettings {
    int width = 400;
    int quality = 0;
    bool jpegOn = true;  // switched off for good by a quality of 0
};

// The thumbnail maker driven by a header file. With an image and an empty
// thumbnail name the thumbnail is left in the image and no file is written.
bool makeLocalThn(const char* headerFile, const char* thumbnailName, ImgClass* img);

}  // namespace orvix
