// Orientation changes: quarter turns, half turn, vertical flip and mirror.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image_ops.h"
#include "library.h"
#include "utility.h"

namespace orvix {
namespace {

bool Mirror(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return PostError("FlipHorizontal Input is NULL");
    ImgStruct& s = img->ImgStruct;
    // Whole pixels change places, so every sample keeps its meaning (and
    // the image its colour order) whatever the samples per pixel.
    const size_t px = static_cast<size_t>(std::max(s.Samples, 1));
    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* line = s.ImgData + size_t{i} * s.LineSize;
        if (px == 1) {
            std::reverse(line, line + s.Width);
            continue;
        }
        for (size_t l = 0, r = s.Width; l + 1 < r; ++l, --r)
            std::swap_ranges(line + l * px, line + (l + 1) * px, line + (r - 1) * px);
    }
    return false;
}

bool FlipVertical(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return PostError("FlipVertical Input is NULL");
    ImgStruct& s = img->ImgStruct;
    if (s.Height < 2) return false;
    std::vector<unsigned char> spare;
    try {
        spare.resize(s.LineSize);
    } catch (const std::bad_alloc&) {
        return PostError("FlipVertical memory allocation ERROR");
    }
    for (uint32_t k = 0; k < s.Height / 2; ++k) {
        unsigned char* a = s.ImgData + size_t{k} * s.LineSize;
        unsigned char* b = s.ImgData + size_t{s.Height - 1 - k} * s.LineSize;
        std::memcpy(spare.data(), a, s.LineSize);
        std::memcpy(a, b, s.LineSize);
        std::memcpy(b, spare.data(), s.LineSize);
    }
    return false;
}

// Quarter turn: clockwise when cw, else counter-clockwise. The image is
// rebuilt with 16 spare pixels per line and two spare lines.
bool QuarterTurn(ImgClass* img, bool cw) {
    if (!img || !img->ImgStruct.ImgData)
        return PostError(cw ? "FlipHorizontal Input is NULL" : "RotateLeft Input is NULL");
    ImgStruct& s = img->ImgStruct;
    ImgClass copy;
    ImgStruct& c = copy.ImgStruct;
    std::memcpy(c.FileName, s.FileName, sizeof c.FileName);
    c.Height = s.Height;
    c.Width = s.Width;
    c.Samples = s.Samples;
    c.LineSize = s.LineSize;
    c.Bits = s.Bits;
    c.XOrigin = s.XOrigin;
    c.YOrigin = s.YOrigin;
    c.Resolution = s.Resolution;
    c.ResUnit = s.ResUnit;
    c.Planar = s.Planar;
    c.Rotated = s.Rotated;
    c.Rotation = s.Rotation;
    if (copy.AllocData()) return true;
    std::memcpy(c.ImgData, s.ImgData, size_t{c.LineSize} * c.Height);

    const uint32_t px = static_cast<uint32_t>(std::max(c.Samples, 1));
    const uint64_t lineSize = Utility::RoundUp4((uint64_t{c.Height} + 16) * px);
    if (lineSize > UINT32_MAX) {
        img->FreeData();
        return PostError(cw ? "RotateRight Memory allocation failed"
                            : "RotateLeft Memory allocation failed");
    }
    s.Height = c.Width;
    s.Width = c.Height;
    s.Bits = c.Bits;
    s.Samples = c.Samples;
    s.Planar = c.Planar;
    s.Resolution = c.Resolution;
    s.ResUnit = c.ResUnit;
    s.LineSize = static_cast<uint32_t>(lineSize);
    if (AllocWithSpare(*img, 2))
        return PostError(cw ? "RotateRight Memory allocation failed"
                            : "RotateLeft Memory allocation failed");

    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* out = s.ImgData + size_t{i} * s.LineSize;
        for (uint32_t j = 0; j < s.Width; ++j) {
            // Clockwise: new (i, j) = old (line H-1-j, column i);
            // counter-clockwise: new (i, j) = old (line j, column W-1-i).
            const uint32_t line = cw ? c.Height - 1 - j : j;
            const uint32_t col = cw ? i : c.Width - 1 - i;
            const unsigned char* from = c.ImgData + size_t{line} * c.LineSize + size_t{col} * px;
            std::memcpy(out + size_t{j} * px, from, px);
        }
    }
    return false;
}

}  // namespace
}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool Rotate_Image(ImgClass* img, int code) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    if (s.Rotated) return true;
    if (code == ROTATE_NONE) return false;
    bool failed;
    switch (code) {
    case ROTATE_CW90: failed = QuarterTurn(img, true); break;
    case ROTATE_CCW90: failed = QuarterTurn(img, false); break;
    case ROTATE_180: failed = Mirror(img) || FlipVertical(img); break;
    case ROTATE_FLIP_VERTICAL: failed = FlipVertical(img); break;
    case ROTATE_MIRROR: failed = Mirror(img); break;
    default: return true;
    }
    if (failed) return true;
    s.Rotation = code;
    s.Rotated = 1;
    return false;
}

}  // extern "C"
