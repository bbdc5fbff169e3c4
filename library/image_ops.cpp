#include "image_ops.h"

#include <cstring>

#include "library.h"
#include "utility.h"

namespace orvix {

bool RectInsideImage(const CRect& rect, const ImgClass& img) {
    const ImgStruct& s = img.ImgStruct;
    return !rect.IsRectEmpty() && rect.left >= 0 && rect.top >= 0 &&
           int64_t{rect.right} <= int64_t{s.Width} && int64_t{rect.bottom} <= int64_t{s.Height};
}

bool RectWithinColumns(const CRect& rect, const ImgClass& img) {
    return !rect.IsRectEmpty() && rect.left >= 0 && rect.top >= 0 &&
           int64_t{rect.right} <= int64_t{img.ImgStruct.Width};
}

bool ExceedsPixelLimit(uint64_t width, uint64_t height, const char* who, const char* path) {
    const uint64_t limit = Lib().maxPixels;
    // Compared by division: width x height may not fit 64 bits.
    if (width == 0 || height <= limit / width) return false;
    return PostError("%s: %s claims %llu x %llu pixels, more than the limit of %llu "
                     "(ORVIX_MAX_PIXELS)",
                     who, path, static_cast<unsigned long long>(width),
                     static_cast<unsigned long long>(height),
                     static_cast<unsigned long long>(limit));
}

bool AllocWithSpare(ImgClass& img, uint32_t spare) {
    ImgStruct& s = img.ImgStruct;
    const uint32_t height = s.Height;
    if (height > UINT32_MAX - spare) {
        img.FreeData();
        return true;
    }
    s.Height = height + spare;
    img.AllocData();
    s.Height = height;
    return s.ImgData == nullptr;
}

bool CopyRectangle(const CRect& rect, const ImgClass& src, ImgClass& out,
                   uint32_t spareLines, bool exactLine) {
    if (rect.IsRectEmpty()) return false;
    const ImgStruct& in = src.ImgStruct;
    ImgStruct& o = out.ImgStruct;
    const uint32_t samples = in.Samples > 0 ? static_cast<uint32_t>(in.Samples) : 1;
    o.Width = static_cast<uint32_t>(rect.Width());
    o.Height = static_cast<uint32_t>(rect.Height());
    o.Samples = in.Samples;
    o.Bits = in.Bits;
    o.LineSize = exactLine ? o.Width * samples : Utility::RoundUp4(o.Width * samples);
    if (AllocWithSpare(out, spareLines)) return true;
    if (!in.ImgData || rect.left < 0 || rect.top < 0) return false;
    const size_t bytes = size_t{o.Width} * samples;
    for (uint32_t i = 0; i < o.Height && uint64_t(rect.top) + i < in.Height; ++i) {
        std::memcpy(o.ImgData + size_t{i} * o.LineSize,
                    in.ImgData + (size_t(rect.top) + i) * in.LineSize + size_t(rect.left) * samples,
                    bytes);
    }
    return false;
}

bool CopyName(char (&field)[ORVIX_MAX_PATH], const char* name) {
    const size_t n = name ? std::strlen(name) : 0;
    if (n >= ORVIX_MAX_PATH) return false;
    if (n) std::memcpy(field, name, n);
    field[n] = '\0';
    return true;
}

}  // namespace orvix
