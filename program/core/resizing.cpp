#include "resizing.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

// trunc(v + 0.5), at least 1; 0 when v is no number or beyond an int.
int Side(double v) {
    const double rounded = std::trunc(v + 0.5);
    if (!(rounded < 2147483647.0)) return 0;
    return std::max(1, int(rounded));
}

}  // namespace

bool SmoothSize(const SizeRequest& request, int width, int height, int& outWidth, int& outHeight) {
    outWidth = outHeight = 0;
    if (width <= 0 || height <= 0) return false;
    switch (request.mode) {
    case SizeRequest::Mode::Percent:
        if (!(request.percent > 0)) return false;
        outWidth = Side(width * request.percent / 100.0);
        outHeight = Side(height * request.percent / 100.0);
        break;
    case SizeRequest::Mode::Width:
        if (request.width <= 0) return false;
        outWidth = request.width;
        outHeight = Side(double(height) * request.width / width);
        break;
    case SizeRequest::Mode::Fit:
        if (request.fit <= 0) return false;
        if (width >= height) {
            outWidth = request.fit;
            outHeight = Side(double(height) * request.fit / width);
        } else {
            outHeight = request.fit;
            outWidth = Side(double(width) * request.fit / height);
        }
        break;
    }
    return outWidth > 0 && outHeight > 0;
}

}  // namespace tolvane
