// Colour operations: byte order, YCC, grey, single planes, histogram, gamma
// and difference.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "image_ops.h"
#include "library.h"
#include "utility.h"

using namespace orvix;

namespace {

// Calls fn(pixel) for each pixel of every line of a colour image; the alpha
// of colour + alpha pixels follows their colour untouched.
template <typename Fn>
void ForEachColourPixel(ImgStruct& s, Fn fn) {
    const size_t px = static_cast<size_t>(s.Samples);
    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* p = s.ImgData + size_t{i} * s.LineSize;
        for (uint32_t j = 0; j < s.Width; ++j, p += px) fn(p);
    }
}

unsigned char Byte(int v) { return static_cast<unsigned char>(v & 0xFF); }

}  // namespace

extern "C" {

ORVIX_API bool Swap_RGB(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return true;
    ImgStruct& s = img->ImgStruct;
    if (s.Samples < 3) return false;
    ForEachColourPixel(s, [](unsigned char* p) { std::swap(p[0], p[2]); });
    s.BgrOrder = !s.BgrOrder;
    return false;
}

ORVIX_API bool RGBtoYCC(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return PostError("RGBtoYCC  Image is NULL");
    ImgStruct& s = img->ImgStruct;
    if (s.Samples < 3) return PostError("RGBtoYCC  Image is BW");
    ForEachColourPixel(s, [](unsigned char* p) {
        const double r = p[0] - 128.0, g = p[1] - 128.0, b = p[2] - 128.0;
        const double y = 0.299 * (r - g) + 0.114 * (b - g) + g;
        p[0] = Byte(128 + static_cast<int>(std::trunc(y)));
        p[1] = Byte(128 + static_cast<int>(std::trunc(0.564 * (b - y))));
        p[2] = Byte(128 + static_cast<int>(std::trunc(0.713 * (r - y))));
    });
    return false;
}

ORVIX_API bool YCCtoRGB(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return PostError("YCCtoRGB  Image is NULL");
    ImgStruct& s = img->ImgStruct;
    if (s.Samples < 3) return PostError("YCCtoRGB  Image is BW");
    ForEachColourPixel(s, [](unsigned char* p) {
        const int yy = p[0], cb = p[1] - 128, cr = p[2] - 128;
        const double y = yy - 128.0;
        p[0] = Byte(yy + cr);
        p[1] = Byte(128 + static_cast<int>(std::trunc(y - 0.3341 * cb - 0.7142 * cr)));
        p[2] = Byte(128 + static_cast<int>(std::trunc(y + 1.7718 * cb)));
    });
    return false;
}

ORVIX_API bool RGB_to_BW(ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData)
        return PostError("RGB_to_BW Img->ImgStruct.ImgData = NULL");
    ImgStruct& s = img->ImgStruct;
    if (s.Samples == 1 || s.Samples == 2) return false;
    const uint32_t px = static_cast<uint32_t>(s.Samples);
    if (px < 3) return true;
    // Colour + alpha becomes grey + alpha.
    const size_t out = px == 4 ? 2 : 1;
    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* line = s.ImgData + size_t{i} * s.LineSize;
        for (uint32_t j = 0; j < s.Width; ++j) {
            const unsigned char* p = line + size_t{j} * px;
            const unsigned char alpha = out == 2 ? p[3] : 0;
            line[j * out] = static_cast<unsigned char>(0.33 * p[0] + 0.5 * p[1] + 0.17 * p[2]);
            if (out == 2) line[j * out + 1] = alpha;
        }
    }
    s.Samples = static_cast<int32_t>(out);
    return false;
}

ORVIX_API bool GetSingleColor(ImgClass* in, ImgClass* out, int color) {
    if (!in) return PostError("GetSingleColor::ImgClass::In is NULL");
    if (!out) return PostError("GetSingleColor ImgClass::Out is NULL");
    if (color < 0 || color > 2) return PostError("GetSingleColor:: color out of range [0,1,2]");
    const ImgStruct& s = in->ImgStruct;
    if (!s.ImgData) return PostError("GetSingleColor:: In->ImgData = NULL");
    if (s.Samples < 3 && color != 0)
        return PostError("GetSingleColor:: Can't Get %d color out of B/W image", color);
    // The output's new buffer would release the input's pixels first.
    if (in == out) return PostError("GetSingleColor:: In and Out are the same image");
    ImgStruct& o = out->ImgStruct;
    o.Width = s.Width;
    o.Height = s.Height;
    o.Bits = s.Bits;
    o.Samples = 1;
    o.LineSize = Utility::RoundUp4(s.Width);
    if (out->AllocData() || !o.ImgData)
        return PostError("GetSingleColor:: Output memory allocation ERROR");
    const uint32_t px = static_cast<uint32_t>(s.Samples > 0 ? s.Samples : 1);
    for (uint32_t i = 0; i < s.Height; ++i) {
        const unsigned char* from = s.ImgData + size_t{i} * s.LineSize + color;
        unsigned char* to = o.ImgData + size_t{i} * o.LineSize;
        for (uint32_t j = 0; j < s.Width; ++j) to[j] = from[size_t{j} * px];
    }
    return false;
}

ORVIX_API uint32_t* R_Hist = nullptr;
ORVIX_API uint32_t* G_Hist = nullptr;
ORVIX_API uint32_t* B_Hist = nullptr;

ORVIX_API void GetHistogram(ImgClass* img, int*, int*, int*) {
    Library& lib = Lib();
    if (!lib.histograms) {
        lib.histograms = std::make_unique<std::array<std::array<uint32_t, 256>, 3>>();
        R_Hist = (*lib.histograms)[0].data();
        G_Hist = (*lib.histograms)[1].data();
        B_Hist = (*lib.histograms)[2].data();
    }
    if (!img || !img->ImgStruct.ImgData) return;
    for (auto& table : *lib.histograms) table.fill(0);
    const ImgStruct& s = img->ImgStruct;
    const uint32_t px = static_cast<uint32_t>(s.Samples > 0 ? s.Samples : 1);
    for (uint32_t i = 0; i < s.Height; ++i) {
        const unsigned char* p = s.ImgData + size_t{i} * s.LineSize;
        for (uint32_t j = 0; j < s.Width; ++j, p += px) {
            ++R_Hist[p[0]];
            // The second sample of grey + alpha is no colour.
            if (px > 2) {
                ++G_Hist[p[1]];
                ++B_Hist[p[2]];
            }
        }
    }
}

ORVIX_API void Set_Gamma(double gamma, int* table, int count) {
    if (!table || count <= 0) return;
    if (count == 1) {
        table[0] = 0;  // (i / (n - 1)) has no value for a one-entry table
        return;
    }
    const double top = count - 1;
    for (int i = 0; i < count; ++i) {
        // A gamma of 0 or below gives powers outside [0, 1]; keep the table
        // inside its range rather than converting infinities.
        const double v = top * std::pow(i / top, 1.0 / gamma) + 0.5;
        table[i] = static_cast<int>(std::isfinite(v) ? std::clamp(v, 0.0, top) : (i ? top : 0.0));
    }
}

ORVIX_API bool Image_Diff(ImgClass* a, ImgClass* b, ImgClass* out) {
    if (!a || !b || !out) return true;
    const ImgStruct& sa = a->ImgStruct;
    const ImgStruct& sb = b->ImgStruct;
    ImgStruct& so = out->ImgStruct;
    if (sa.Width != sb.Width || sa.Height != sb.Height || sa.Samples != sb.Samples ||
        !sa.ImgData || !sb.ImgData) {
        out->FreeData();
        return true;
    }
    // An output without a buffer of a's shape gets one, rather than being
    // written past its end.
    const bool fits = so.ImgData && so.LineSize == sa.LineSize && so.Height >= sa.Height;
    so.Width = sa.Width;
    so.Height = sa.Height;
    so.Samples = sa.Samples;
    so.LineSize = sa.LineSize;
    if (!fits && out->AllocData()) return true;
    const size_t bytes = size_t{sa.Width} * static_cast<size_t>(sa.Samples > 0 ? sa.Samples : 1);
    bool differ = false;
    for (uint32_t i = 0; i < sa.Height; ++i) {
        const unsigned char* pa = sa.ImgData + size_t{i} * sa.LineSize;
        const unsigned char* pb = sb.ImgData + size_t{i} * sb.LineSize;
        unsigned char* po = so.ImgData + size_t{i} * so.LineSize;
        for (size_t k = 0; k < bytes; ++k) {
            po[k] = static_cast<unsigned char>(pa[k] - pb[k]);
            differ |= pa[k] != pb[k];
        }
    }
    return differ;
}

ORVIX_API bool FlattenImage(ImgClass* img, uint8_t r, uint8_t g, uint8_t b) {
    ClearError();
    if (!img) return PostError("FlattenImage: Image is NULL");
    if (!HasAlpha(img->ImgStruct)) return false;
    ImgClass flat;
    if (CompositeOver(*img, flat, r, g, b, "FlattenImage")) return true;
    // The image takes over the flattened buffer.
    img->FreeData();
    img->ImgStruct = flat.ImgStruct;
    flat.ImgStruct.ImgData = nullptr;
    return false;
}

}  // extern "C"
