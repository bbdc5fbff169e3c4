#include "resizing.h"

#include <ORVIX_0500.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tolvane {

namespace {

const struct {
    const char* name;
    int code;
} kFilters[] = {
    {"lanczos3", FILTER_LANCZOS3},
    {"mitchell", FILTER_MITCHELL},
    {"catrom", FILTER_CATMULL_ROM},
    {"box", FILTER_BOX},
};

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

int FilterByName(const std::string& name) {
    for (const auto& f : kFilters)
        if (name == f.name) return f.code;
    return -1;
}

const char* FilterName(int filter) {
    for (const auto& f : kFilters)
        if (filter == f.code) return f.name;
    return "?";
}

}  // namespace tolvane
