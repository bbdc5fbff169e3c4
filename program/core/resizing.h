// How a batch output is resized. Smooth resizing resamples every file from
// its own pixels with an antialiasing filter, at its own size; exact
// resizing is the program's original engine (cubic interpolation for TIFF,
// point sampling to one width for JPEG and BMP), kept byte for byte.
#pragma once

namespace tolvane {

// Images of 2 samples (grey) or 4 (colour) carry transparency in the last.
inline bool HasAlpha(int samples) { return samples == 2 || samples == 4; }

// Whether exact resizing scales an output format (its first letter) by
// the factor with the cubic scaler; JPEG and BMP are point-sampled to one
// width instead.
inline bool ScaledByFactor(char format) { return format == 'T' || format == 'P' || format == 'W'; }

// What the dialog asks for, read from its fields.
struct SizeRequest {
    enum class Mode { Percent, Width, Fit };
    Mode mode = Mode::Percent;
    double percent = 100.0;  // Percent
    int width = 0;           // Width: the output's width in pixels
    int fit = 0;             // Fit: the output's longer side
};

// The smooth output size of an upright width x height picture:
// trunc(side * percent / 100 + 0.5) for both sides; or the width asked for
// with the height in proportion; or the longer side exactly fit and the
// other in proportion. Every side is at least 1. False when the picture or
// the request has no size.
bool SmoothSize(const SizeRequest& request, int width, int height, int& outWidth, int& outHeight);

}  // namespace tolvane
