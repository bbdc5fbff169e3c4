// Zoom and crop around a clicked point, with the process-wide crop rectangle.
#pragma once

#include <string>

#include "ORVIX_0500.h"

namespace orvix {

// Process-wide zoom state, shared by the local and the remote zoom.
struct ZoomState {
    CRect CropRect{0, 0, 0, 0};  // image pixels shown in the frame; empty: no zoom
    int imageWidth = 0;
    int imageHeight = 0;
    // Source name each zoom variant last worked on.
    std::string byNameSource;
    std::string oneImageSource;
    std::string twoImageSource;
    std::string remoteZoomSource;
    std::string remoteCropSource;
    // Header files of the images the remote zoom and crop work on.
    std::string remoteZoomHeader;
    std::string remoteCropHeader;
    // Command and result files the last command made.
    std::string commandFile;
    std::string resultFile;
    // Result texts, one per operation.
    std::string byNameResult;
    std::string oneImageResult;
    std::string twoImageResult;
    std::string remoteZoomResult;
    std::string remoteCropResult;
};

// The crop rectangle after a click at (x, y) in frame with magnification m:
// moved around the clicked image point, resized by m, kept inside the image
// of imageWidth x imageHeight. Empty when it would be under 30 pixels.
CRect CalcCropRect(int x, int y, const CRect& frame, double m, const CRect& current,
                   int imageWidth, int imageHeight);

// Nearest-neighbour sampling of crop of in into a W x H image; the last line
// stays zero. imageHeight is the height the zoom state knows. The crop is
// left as the zoom settled it, so that the rectangle reported and passed
// back does not lose a line each time it touches the bottom.
void ZoomCrop(const CRect& crop, const ImgClass& in, ImgClass& out, int W, int H, int imageHeight);

// Copies rect of in 1:1 into out.
void CropCopy(const CRect& rect, const ImgClass& in, ImgClass& out);

}  // namespace orvix
