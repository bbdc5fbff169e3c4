#include "image_ops.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

bool RefusesEightBitWrite(const ImgStruct& s, const char* who) {
    if (!s.ImgData) return PostError("%s %s: the image holds no pixels", who, s.FileName);
    if (s.Samples < 1 || s.Samples > 4 || s.Bits != 8)
        return PostError("%s %s: %d samples of %d bits can't be written", who, s.FileName, s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * uint64_t(s.Samples) || s.Width == 0 || s.Height == 0)
        return PostError("%s %s: line size %u does not hold %u pixels", who, s.FileName, s.LineSize, s.Width);
    return false;
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

bool RefuseAlpha(const char* who, const ImgStruct& s) {
    return PostError("%s: images with transparency (%d samples) are not supported; flatten them first",
                     who, s.Samples);
}

namespace {

// The rounded composite of colour c at alpha a over background bg.
inline unsigned char Over(unsigned a, unsigned c, unsigned bg) {
    // (x + 127) / 255 rounds x / 255 to nearest: it never lies half way.
    return static_cast<unsigned char>((c * a + bg * (255 - a) + 127) / 255);
}

}  // namespace

bool CompositeOver(const ImgClass& src, ImgClass& out, uint8_t r, uint8_t g, uint8_t b,
                   const char* who) {
    const ImgStruct& s = src.ImgStruct;
    if (!HasAlpha(s) || s.Bits != 8 || !s.ImgData ||
        uint64_t{s.LineSize} < uint64_t{s.Width} * uint64_t(s.Samples))
        return PostError("%s: %d samples of %d bits in lines of %u bytes cannot be flattened", who,
                         s.Samples, s.Bits, s.LineSize);
    const size_t colours = size_t(s.Samples) - 1;
    out.FreeData();
    ImgStruct& o = out.ImgStruct;
    o = s;
    o.ImgData = nullptr;
    o.Samples = int32_t(colours);
    o.LineSize = Utility::RoundUp4(s.Width * uint32_t(colours));
    if (out.AllocData() || !o.ImgData)
        return PostError("%s: no memory for a flattened %u x %u image", who, s.Width, s.Height);
    const unsigned luma = (299u * r + 587u * g + 114u * b + 500u) / 1000u;
    const unsigned bg[3] = {colours == 1 ? luma : (s.BgrOrder ? b : r), g, s.BgrOrder ? r : b};
    for (uint32_t y = 0; y < s.Height; ++y) {
        const unsigned char* p = s.ImgData + size_t{y} * s.LineSize;
        unsigned char* q = o.ImgData + size_t{y} * o.LineSize;
        for (uint32_t x = 0; x < s.Width; ++x, p += colours + 1, q += colours)
            for (size_t c = 0; c < colours; ++c) q[c] = Over(p[colours], p[c], bg[c]);
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

namespace {

// Formats recognised by their first bytes, named so the user knows what the
// file is; null when the bytes say nothing.
const char* FormatOfBytes(const unsigned char* b, size_t n) {
    if (n >= 2 && (b[0] == 'P' || b[0] == 'p')) {
        switch (b[1]) {
        case '1': return "ASCII PBM";
        case '2': return "ASCII PGM";
        case '3': return "ASCII PPM";
        case '4': return "PBM";
        case '7': return "PAM";
        case 'F':
        case 'f': return "PFM";
        default: return nullptr;
        }
    }
    if (n >= 4 && std::memcmp(b, "\x89PNG", 4) == 0) return "PNG";
    if (n >= 4 && std::memcmp(b, "GIF8", 4) == 0) return "GIF";
    if (n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0) return "WebP";
    return nullptr;
}

}  // namespace

bool PostUnsupportedFile(const char* path) {
    if (!path || !*path) return PostError("no image file named");
    if (Utility::IsRawName(path))
        return PostError("%s: raw camera files are not decoded by the library", path);
    FILE* f = std::fopen(path, "rb");
    if (!f) return PostError("%s: cannot be opened (%s)", path, std::strerror(errno));
    unsigned char head[16] = {};
    const size_t n = std::fread(head, 1, sizeof head, f);
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) return PostError("%s: cannot be read", path);
    if (n == 0) return PostError("%s: empty file", path);
    if (const char* format = FormatOfBytes(head, n))
        return PostError("%s: not a supported image format (%s)", path, format);
    // The TIFF codec has posted why it refused the file.
    if (head[0] == 'I' || head[0] == 'M')
        return PostError("%s: not a TIFF file the library reads", path);
    return PostError("%s: not a supported image format", path);
}

}  // namespace orvix
