#include "codecs/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "image_ops.h"
#include "library.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

bool Read16(FILE* f, uint16_t& v) {
    unsigned char b[2];
    if (std::fread(b, 1, 2, f) != 2) return true;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return false;
}

bool Read32(FILE* f, uint32_t& v) {
    unsigned char b[4];
    if (std::fread(b, 1, 4, f) != 4) return true;
    v = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    return false;
}

bool Read32(FILE* f, int32_t& v) {
    uint32_t u;
    if (Read32(f, u)) return true;
    v = static_cast<int32_t>(u);
    return false;
}

void Put16(unsigned char*& p, uint32_t v) {
    *p++ = static_cast<unsigned char>(v);
    *p++ = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char*& p, uint32_t v) {
    Put16(p, v & 0xFFFFu);
    Put16(p, v >> 16);
}

struct FileCloser {
    FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

constexpr uint32_t kHeadersSize = BmpHeaders::kFileHeaderSize + BmpHeaders::kInfoHeaderSize;

// One colour's field of a pixel as an 8-bit sample: narrower fields repeat
// their bits downwards (5 bits 11111 give 255), wider ones keep their top 8.
class Field {
public:
    explicit Field(uint32_t mask)
        : mask_(mask), shift_(mask != 0 ? std::countr_zero(mask) : 0), bits_(std::popcount(mask)) {
        // An empty mask (the pixel sizes without one) gives 0.
        if (bits_ == 0 || bits_ >= 8) return;
        for (uint32_t v = 0; v < (1u << bits_); ++v) {
            uint32_t repeated = 0;
            int filled = 0;
            for (; filled < 8; filled += bits_) repeated = (repeated << bits_) | v;
            widened_[v] = static_cast<unsigned char>(repeated >> (filled - 8));
        }
    }

    unsigned char operator()(uint32_t pixel) const {
        const uint32_t v = (pixel & mask_) >> shift_;
        return bits_ >= 8 ? static_cast<unsigned char>(v >> (bits_ - 8)) : widened_[v];
    }

private:
    uint32_t mask_;
    int shift_;
    int bits_;
    std::array<unsigned char, 128> widened_{};
};

const char* MaskName(int i) {
    static const char* const names[] = {"red", "green", "blue"};
    return names[i];
}

}  // namespace

bool ReadBmpHeaders(FILE* f, BmpHeaders& h) {
    if (std::fread(h.magic, 1, 2, f) != 2) return true;
    return Read32(f, h.fileSize) || Read16(f, h.reserved1) || Read16(f, h.reserved2) ||
           Read32(f, h.pixelOffset) || Read32(f, h.headerSize) || Read32(f, h.width) ||
           Read32(f, h.height) || Read16(f, h.planes) || Read16(f, h.bitCount) ||
           Read32(f, h.compression) || Read32(f, h.imageSize) || Read32(f, h.xPelsPerMeter) ||
           Read32(f, h.yPelsPerMeter) || Read32(f, h.colorsUsed) || Read32(f, h.colorsImportant);
}

bool ReadBmpMasks(FILE* f, const BmpHeaders& h, const char* path, BmpMasks& m) {
    if (h.bitCount != 16 && h.bitCount != 32)
        return PostError("%s: bit fields in a %u-bit bitmap, which has none", path,
                         unsigned{h.bitCount});
    if (h.compression != BmpMasks::kBitFields) {
        if (h.bitCount == 16)
            m = {0x7C00, 0x03E0, 0x001F};
        else
            m = {0xFF0000, 0xFF00, 0xFF};
        return false;
    }
    // Both places are at the same file offset: right after a 40-byte header,
    // inside the longer ones (52, 56, 108 and 124 bytes). The 64-byte header
    // of OS/2 means something else by compression 3.
    constexpr uint32_t kMasksAt = BmpHeaders::kFileHeaderSize + BmpHeaders::kInfoHeaderSize;
    if (h.headerSize == BmpHeaders::kInfoHeaderSize) {
        if (h.pixelOffset < kMasksAt + 12)
            return PostError("%s: the pixels begin at %u, where the bit-field masks should be",
                             path, h.pixelOffset);
    } else if (h.headerSize < BmpHeaders::kInfoHeaderSize + 12 || h.headerSize == 64) {
        return PostError("%s: a %u-byte information header does not hold bit-field masks", path,
                         h.headerSize);
    }
    uint32_t mask[3];
    if (std::fseek(f, kMasksAt, SEEK_SET) != 0 || Read32(f, mask[0]) || Read32(f, mask[1]) ||
        Read32(f, mask[2]))
        return PostError("%s: the file ends before its bit-field masks", path);
    const uint64_t pixelMax = (uint64_t{1} << h.bitCount) - 1;
    for (int i = 0; i < 3; ++i) {
        if (mask[i] == 0) return PostError("%s: the %s bit-field mask is empty", path, MaskName(i));
        if (mask[i] > pixelMax)
            return PostError("%s: the %s bit-field mask %08X lies outside the %u-bit pixel", path,
                             MaskName(i), mask[i], unsigned{h.bitCount});
        const uint32_t field = mask[i] >> std::countr_zero(mask[i]);
        if ((field & (field + 1)) != 0)
            return PostError("%s: the %s bit-field mask %08X is not one run of bits", path,
                             MaskName(i), mask[i]);
        for (int j = 0; j < i; ++j)
            if ((mask[i] & mask[j]) != 0)
                return PostError("%s: the %s and %s bit-field masks (%08X, %08X) overlap", path,
                                 MaskName(j), MaskName(i), mask[j], mask[i]);
    }
    m = {mask[0], mask[1], mask[2]};
    return false;
}

bool BmpClass::ReadBmp(ImgClass* img) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f)
        return PostError("BmpClass::ReadBmp: %s cannot be opened (%s)", s.FileName,
                         std::strerror(errno));
    FileCloser closer{f};
    auto fail = [&s] { return PostError("BmpClass::ReadBmp(Img) failed reading %s", s.FileName); };

    BmpHeaders h;
    if (ReadBmpHeaders(f, h)) return fail();
    // Run-length data read as plain pixels would be garbage.
    if (h.compression != 0 && h.compression != BmpMasks::kBitFields)
        return PostError("HdrClass::ProcHdrBMP:\tCompressed Bitmaps are not implemented");
    const unsigned bpp = h.bitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return fail();
    BmpMasks masks;
    if ((bpp == 16 || bpp == 32 || h.compression != 0) && ReadBmpMasks(f, h, s.FileName, masks))
        return fail();

    // Every size below comes from the file: check it before using it.
    const uint64_t paletteStart = uint64_t{BmpHeaders::kFileHeaderSize} + h.headerSize;
    if (h.headerSize < BmpHeaders::kInfoHeaderSize || h.pixelOffset < paletteStart) return fail();
    if (h.width <= 0 || h.height == 0) return fail();
    const bool topDown = h.height < 0;
    const uint64_t width = static_cast<uint64_t>(h.width);
    const uint64_t height = topDown ? uint64_t{0} - static_cast<uint64_t>(int64_t{h.height})
                                    : static_cast<uint64_t>(h.height);
    const uint64_t rowBytes = (width * bpp + 7) / 8;  // pixel bytes of one file row
    const uint64_t stride = Utility::RoundUp4(rowBytes);
    const uint64_t lineSize = Utility::RoundUp4(3 * width);
    if (lineSize > 0xFFFFFFFFu || height > 0x7FFFFFFFu) return fail();
    // The last row's padding may be missing; its pixels may not.
    const int64_t fileSize = Utility::FileSize(s.FileName);
    if (fileSize < int64_t{h.pixelOffset}) return fail();
    const uint64_t available = uint64_t(fileSize) - h.pixelOffset;
    if (rowBytes > available || height - 1 > (available - rowBytes) / stride) return fail();
    if (ExceedsPixelLimit(width, height, "BmpClass::ReadBmp", s.FileName)) return true;

    // Palette: the colours-used count, or else whatever lies between the
    // headers and the pixels (at most 256 entries).
    std::vector<std::array<unsigned char, 3>> palette;  // R, G, B
    if (bpp <= 8) {
        uint64_t entries;
        if (h.colorsUsed != 0) {
            if (h.colorsUsed > 256) return fail();
            entries = h.colorsUsed;
        } else {
            entries = std::min<uint64_t>(h.pixelOffset - paletteStart, 1024) / 4;
        }
        std::vector<unsigned char> raw(entries * 4);
        if (entries != 0) {
            if (std::fseek(f, static_cast<long>(paletteStart), SEEK_SET) != 0 ||
                std::fread(raw.data(), 1, raw.size(), f) != raw.size())
                return fail();
        }
        palette.resize(entries);
        for (size_t i = 0; i < entries; ++i)
            palette[i] = {raw[4 * i + 2], raw[4 * i + 1], raw[4 * i]};
    }
    if (std::fseek(f, static_cast<long>(h.pixelOffset), SEEK_SET) != 0) return fail();

    s.Width = static_cast<uint32_t>(width);
    s.Height = static_cast<uint32_t>(height);
    s.Samples = 3;
    s.Bits = 8;
    s.LineSize = static_cast<uint32_t>(lineSize);
    if (img->AllocData() || !s.ImgData) return fail();

    const Field red(masks.red), green(masks.green), blue(masks.blue);
    std::vector<unsigned char> row(stride);
    Progress progress(ReadProgress(), static_cast<int>(height));
    for (uint64_t i = 0; i < height; ++i) {
        const uint64_t line = topDown ? i : height - 1 - i;
        unsigned char* dst = s.ImgData + line * s.LineSize;
        if (std::fread(row.data(), 1, stride, f) < rowBytes) return fail();
        switch (bpp) {
        case 24:
            for (uint64_t x = 0; x < width; ++x) {
                dst[3 * x] = row[3 * x + 2];
                dst[3 * x + 1] = row[3 * x + 1];
                dst[3 * x + 2] = row[3 * x];
            }
            break;
        case 16:
        case 32:  // little-endian pixels; bits outside the masks (alpha) are dropped
            for (uint64_t x = 0; x < width; ++x) {
                uint32_t v;
                if (bpp == 16) {
                    v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
                } else {
                    const unsigned char* p = row.data() + 4 * x;
                    v = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
                }
                dst[3 * x] = red(v);
                dst[3 * x + 1] = green(v);
                dst[3 * x + 2] = blue(v);
            }
            break;
        default:
            for (uint64_t x = 0; x < width; ++x) {
                unsigned v;
                if (bpp == 8)
                    v = row[x];
                else if (bpp == 4)
                    v = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
                else
                    v = (row[x / 8] >> (7 - x % 8)) & 0x01;
                // Indices beyond the palette stay black.
                if (v < palette.size()) std::memcpy(dst + 3 * x, palette[v].data(), 3);
            }
            break;
        }
        progress.Line(static_cast<int>(i));
    }
    s.Type = IMG_TYPE_BMP;
    s.BgrOrder = 0;
    return false;
}

bool BmpClass::WriteBmp(ImgClass* img) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    // The bitmaps written hold no transparency.
    if (s.ImgData && HasAlpha(s))
        return WriteOpaque(img, "BmpClass::WriteBmp", [&](ImgClass* flat) { return WriteBmp(flat); });
    if (s.FileName[0] == '\0') return PostError("BmpClass::WriteBmp: Image Name not specified");
    if (!s.ImgData || (s.Samples != 1 && s.Samples != 3) || s.Width == 0 || s.Height == 0 ||
        uint64_t{s.LineSize} < uint64_t{s.Width} * static_cast<uint32_t>(s.Samples))
        return PostError("BmpClass::WriteBmp: %s: no image to write", s.FileName);

    const uint64_t stride = Utility::RoundUp4(uint64_t{s.Width} * 3);
    const uint64_t fileSize = kHeadersSize + stride * s.Height;
    if (fileSize > 0xFFFFFFFFu || s.Width > 0x7FFFFFFFu || s.Height > 0x7FFFFFFFu)
        return PostError("BmpClass::WriteBmp: %s: %ux%u is too large for a bitmap", s.FileName,
                         s.Width, s.Height);

    unsigned char header[kHeadersSize];
    unsigned char* p = header;
    *p++ = 'B';
    *p++ = 'M';
    Put32(p, static_cast<uint32_t>(fileSize));
    Put16(p, 0);
    Put16(p, 0);
    Put32(p, kHeadersSize);
    Put32(p, BmpHeaders::kInfoHeaderSize);
    Put32(p, s.Width);
    Put32(p, s.Height);  // positive: bottom line first
    Put16(p, 1);         // planes
    Put16(p, 24);        // bits per pixel
    Put32(p, 0);         // compression
    Put32(p, 0);         // image size
    Put32(p, 3780);      // pixels per metre, about 96 dpi
    Put32(p, 3780);
    Put32(p, 0);  // colours used
    Put32(p, 0);  // important colours

    FILE* f = std::fopen(s.FileName, "wb");
    if (!f) return PostError("BmpClass::WriteBmp: Can't open %s for writing", s.FileName);
    bool failed = std::fwrite(header, 1, sizeof header, f) != sizeof header;

    if (!s.BgrOrder) Swap_RGB(img);  // the file wants B,G,R; the image is left so

    std::vector<unsigned char> row(stride, 0);  // padding bytes stay zero
    const bool colour = s.Samples == 3;
    Progress progress(WriteProgress(), static_cast<int>(s.Height), 0.10,
                      Progress::Rule::PastThreshold);
    for (uint32_t i = 0; i < s.Height && !failed; ++i) {
        const unsigned char* src = s.ImgData + uint64_t{s.Height - 1 - i} * s.LineSize;
        if (colour) {
            std::memcpy(row.data(), src, size_t{s.Width} * 3);
        } else {
            for (uint32_t x = 0; x < s.Width; ++x)
                row[3 * size_t{x}] = row[3 * size_t{x} + 1] = row[3 * size_t{x} + 2] = src[x];
        }
        if (std::fwrite(row.data(), 1, row.size(), f) != row.size()) failed = true;
        if (colour)
            progress.Line(static_cast<int>(i));
        else if (i != 0)
            progress.Report(static_cast<int>(s.Height), static_cast<int>(i));
    }
    if (std::fflush(f) != 0) failed = true;
    if (std::fclose(f) != 0) failed = true;
    if (failed) return PostError("BmpClass::WriteBmp: Can't write %s", s.FileName);
    return false;
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool Write_BMP(ImgClass* img) { return BmpClass().WriteBmp(img); }

}  // extern "C"
