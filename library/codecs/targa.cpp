#include "codecs/targa.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "image_ops.h"
#include "library.h"
#include "utility.h"

namespace orvix {

namespace {

struct FileCloser {
    FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A 5-bit component widened to 8 bits so that 31 becomes 255.
unsigned char Widen5(unsigned v) { return static_cast<unsigned char>((v << 3) | (v >> 2)); }

// A 15/16-bit value A RRRRR GGGGG BBBBB (stored low byte first) as R, G, B.
void Unpack555(const unsigned char* p, unsigned char* rgb) {
    const unsigned v = Get16(p);
    rgb[0] = Widen5((v >> 10) & 0x1F);
    rgb[1] = Widen5((v >> 5) & 0x1F);
    rgb[2] = Widen5(v & 0x1F);
}

// Turns the stored pixel values of one file row into R,G,B in the buffer.
class PixelDecoder {
public:
    PixelDecoder(const TargaHeader& h, std::vector<std::array<unsigned char, 3>> map)
        : h_(h), bytes_(h.pixelBits / 8u), map_(std::move(map)) {}

    // Decodes width stored values from raw into the line; false, with the
    // index in badIndex, when a colour-map index lies outside the map.
    bool Row(const unsigned char* raw, unsigned char* line, unsigned& badIndex) const {
        const unsigned width = h_.width;
        for (unsigned i = 0; i < width; ++i) {
            const unsigned x = h_.RightToLeft() ? width - 1 - i : i;
            if (!Pixel(raw + size_t{i} * bytes_, line + size_t{x} * 3, badIndex)) return false;
        }
        return true;
    }

private:
    bool Pixel(const unsigned char* p, unsigned char* rgb, unsigned& badIndex) const {
        if (h_.ColourMapped()) {
            const unsigned index = bytes_ == 1 ? p[0] : Get16(p);
            if (index < h_.mapFirst || index - h_.mapFirst >= map_.size()) {
                badIndex = index;
                return false;
            }
            std::memcpy(rgb, map_[index - h_.mapFirst].data(), 3);
            return true;
        }
        if (bytes_ == 1 || (bytes_ == 2 && h_.Grey())) {
            // Grey, possibly followed by an alpha byte.
            rgb[0] = rgb[1] = rgb[2] = p[0];
        } else if (bytes_ == 2) {
            Unpack555(p, rgb);
        } else {
            // B, G, R, and for 32 bits an alpha byte that is dropped.
            rgb[0] = p[2];
            rgb[1] = p[1];
            rgb[2] = p[0];
        }
        return true;
    }

    const TargaHeader& h_;
    const unsigned bytes_;
    const std::vector<std::array<unsigned char, 3>> map_;
};

// Fills rows of stored pixel values from run-length packets; a packet may run
// on into the next row but not past the last pixel of the image.
class RunLengthReader {
public:
    RunLengthReader(FILE* f, unsigned bytes, uint64_t pixels)
        : f_(f), bytes_(bytes), pixelsLeft_(pixels) {}

    // Returns false on a short read or a packet running past the image.
    bool Fill(unsigned char* raw, unsigned count) {
        unsigned done = 0;
        while (done < count) {
            if (packetLeft_ == 0) {
                const int p = std::fgetc(f_);
                if (p == EOF) return false;
                run_ = (p & 0x80) != 0;
                packetLeft_ = (static_cast<unsigned>(p) & 0x7F) + 1;
                if (packetLeft_ > pixelsLeft_) return false;
                pixelsLeft_ -= packetLeft_;
                if (run_ && std::fread(value_, 1, bytes_, f_) != bytes_) return false;
            }
            const unsigned n = std::min(packetLeft_, count - done);
            unsigned char* dst = raw + size_t{done} * bytes_;
            if (run_) {
                for (unsigned i = 0; i < n; ++i) std::memcpy(dst + size_t{i} * bytes_, value_, bytes_);
            } else if (std::fread(dst, bytes_, n, f_) != n) {
                return false;
            }
            done += n;
            packetLeft_ -= n;
        }
        return true;
    }

private:
    FILE* f_;
    const unsigned bytes_;
    uint64_t pixelsLeft_;
    unsigned packetLeft_ = 0;
    bool run_ = false;
    unsigned char value_[4] = {0, 0, 0, 0};
};

}  // namespace

bool TargaClass::CheckHeader(FILE* f, TargaHeader& h) {
    if (!f) return true;
    std::rewind(f);
    unsigned char b[TargaHeader::kSize];
    if (std::fread(b, 1, sizeof b, f) != sizeof b) return true;
    h.idLength = b[0];
    h.colorMapType = b[1];
    h.imageType = b[2];
    h.mapFirst = Get16(b + 3);
    h.mapLength = Get16(b + 5);
    h.mapEntryBits = b[7];
    h.xOrigin = Get16(b + 8);
    h.yOrigin = Get16(b + 10);
    h.width = Get16(b + 12);
    h.height = Get16(b + 14);
    h.pixelBits = b[16];
    h.descriptor = b[17];
    h.runLength = h.imageType >= 9;
    return CheckHeader(h);
}

bool TargaClass::CheckHeader(const TargaHeader& h) {
    if (h.colorMapType > 1) return true;
    switch (h.imageType) {
    case 1: case 2: case 3: case 9: case 10: case 11: break;
    default: return true;
    }
    switch (h.mapEntryBits) {
    case 0: case 15: case 16: case 24: case 32: break;
    default: return true;
    }
    switch (h.pixelBits) {
    case 8: case 16: case 24: case 32: break;
    default: return true;
    }
    if ((h.descriptor >> 6) == 3) return true;
    if (h.ColourMapped()) {
        if (h.colorMapType != 1 || h.mapEntryBits == 0 || h.pixelBits > 16) return true;
    } else if (h.colorMapType != 0 || h.mapEntryBits != 0) {
        return true;
    }
    return uint32_t{h.mapFirst} + h.mapLength > 65535 || uint32_t{h.xOrigin} + h.width > 65535 ||
           uint32_t{h.yOrigin} + h.height > 65535;
}

bool TargaClass::LooksLikeTarga(const char* path) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return false;
    TargaHeader header;
    const bool valid = !CheckHeader(f, header);
    std::fclose(f);
    return valid;
}

bool TargaClass::ReadTarga(ImgClass* img) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    if (s.FileName[0] == '\0') return PostError("TargaClass::ReadTarga: no file named");
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f)
        return PostError("TargaClass::ReadTarga: %s cannot be opened (%s)", s.FileName,
                         std::strerror(errno));
    FileCloser closer{f};
    auto fail = [&s] { return PostError("tgaLoad: %s - Short read within Data\n", s.FileName); };

    TargaHeader h;
    if (CheckHeader(f, h) || h.width == 0 || h.height == 0) return fail();

    if (h.idLength != 0) {
        unsigned char id[255];
        if (std::fread(id, 1, h.idLength, f) != h.idLength) {
            PostError("TargaClass::ReadTarga(..) %s - Short read within Identifier String\n",
                      s.FileName);
            return fail();
        }
    }

    // The colour map, as R,G,B; its indices start at mapFirst.
    std::vector<std::array<unsigned char, 3>> map;
    if (h.colorMapType == 1) {
        const unsigned entryBytes = (h.mapEntryBits + 7u) / 8u;
        std::vector<unsigned char> raw(size_t{h.mapLength} * entryBytes);
        if (std::fread(raw.data(), 1, raw.size(), f) != raw.size()) return fail();
        map.resize(h.mapLength);
        for (size_t i = 0; i < map.size(); ++i) {
            const unsigned char* e = raw.data() + i * entryBytes;
            if (entryBytes == 2)
                Unpack555(e, map[i].data());
            else
                map[i] = {e[2], e[1], e[0]};
        }
    }

    // The pixel data must be there before the buffer is made: all of it for
    // plain files, the fewest packets that could cover the image otherwise.
    const unsigned pixelBytes = h.pixelBits / 8u;
    const uint64_t pixels = uint64_t{h.width} * h.height;
    const uint64_t needed = h.runLength ? (pixels + 127) / 128 * (1 + pixelBytes)
                                        : pixels * pixelBytes;
    const long dataStart = std::ftell(f);
    const int64_t fileSize = Utility::FileSize(s.FileName);
    if (dataStart < 0 || fileSize < dataStart || uint64_t(fileSize - dataStart) < needed)
        return fail();
    if (ExceedsPixelLimit(h.width, h.height, "TargaClass::ReadTarga", s.FileName)) return true;

    s.Width = h.width;
    s.Height = h.height;
    s.Samples = 3;
    s.LineSize = Utility::RoundUp4(3u * s.Width);
    if (img->AllocData() || !s.ImgData) return fail();

    const PixelDecoder decoder(h, std::move(map));
    RunLengthReader packets(f, pixelBytes, pixels);
    std::vector<unsigned char> raw(size_t{h.width} * pixelBytes);
    for (uint32_t row = 0; row < s.Height; ++row) {
        if (h.runLength) {
            if (!packets.Fill(raw.data(), h.width)) return fail();
        } else if (std::fread(raw.data(), 1, raw.size(), f) != raw.size()) {
            return fail();
        }
        const uint32_t line = h.TopFirst() ? row : s.Height - 1 - row;
        unsigned badIndex = 0;
        if (!decoder.Row(raw.data(), s.ImgData + size_t{line} * s.LineSize, badIndex)) {
            if (h.mapLength == 0)
                PostError("TargaClass::ReadTarga: %s: colour index %u, but the colour map is empty",
                          s.FileName, badIndex);
            else
                PostError("TargaClass::ReadTarga: %s: colour index %u lies outside the colour map "
                          "(indices %u to %u)",
                          s.FileName, badIndex, unsigned{h.mapFirst}, h.mapFirst + h.mapLength - 1u);
            return fail();
        }
    }
    s.BgrOrder = 0;
    return false;
}

bool TargaClass::WriteTarga(ImgClass* img) {
    if (!img) return PostError("TargaClass::WriteTarga: no image given");
    ImgStruct& s = img->ImgStruct;
    if (s.FileName[0] == '\0') return PostError("TargaClass::WriteTarga: no file named");
    if (!s.ImgData) return PostError("TargaClass::WriteTarga: %s: the image holds no pixels", s.FileName);
    // The 24-bit files written hold no transparency.
    if (HasAlpha(s))
        return WriteOpaque(img, "TargaClass::WriteTarga", [&](ImgClass* flat) { return WriteTarga(flat); });
    if ((s.Samples != 1 && s.Samples != 3) || s.Width == 0 || s.Height == 0 ||
        uint64_t{s.LineSize} < uint64_t{s.Width} * static_cast<uint32_t>(s.Samples))
        return PostError("TargaClass::WriteTarga: %s: %u x %u pixels of %d samples in lines of "
                         "%u bytes are not written",
                         s.FileName, s.Width, s.Height, s.Samples, s.LineSize);
    if (s.Width > 65535 || s.Height > 65535)
        return PostError("TargaClass::WriteTarga: %s: %ux%u is too large for a Targa file",
                         s.FileName, s.Width, s.Height);

    unsigned char header[TargaHeader::kSize] = {};
    header[2] = 2;  // uncompressed true colour
    header[12] = static_cast<unsigned char>(s.Width);
    header[13] = static_cast<unsigned char>(s.Width >> 8);
    header[14] = static_cast<unsigned char>(s.Height);
    header[15] = static_cast<unsigned char>(s.Height >> 8);
    header[16] = 24;
    header[17] = 0x20;  // top line first

    FILE* f = std::fopen(s.FileName, "wb");
    if (!f)
        return PostError("TargaClass::WriteTarga: %s cannot be created (%s)", s.FileName,
                         std::strerror(errno));
    bool failed = std::fwrite(header, 1, sizeof header, f) != sizeof header;
    // The file stores B,G,R; the image itself is left as it is.
    const bool bgr = s.BgrOrder != 0;
    std::vector<unsigned char> row(size_t{s.Width} * 3);
    for (uint32_t y = 0; y < s.Height && !failed; ++y) {
        const unsigned char* src = s.ImgData + size_t{y} * s.LineSize;
        for (size_t x = 0; x < s.Width; ++x) {
            unsigned char* d = row.data() + 3 * x;
            if (s.Samples == 1) {
                d[0] = d[1] = d[2] = src[x];
            } else {
                d[0] = src[3 * x + (bgr ? 0 : 2)];
                d[1] = src[3 * x + 1];
                d[2] = src[3 * x + (bgr ? 2 : 0)];
            }
        }
        if (std::fwrite(row.data(), 1, row.size(), f) != row.size()) failed = true;
    }
    if (std::fclose(f) != 0) failed = true;
    if (failed) return PostError("TargaClass::WriteTarga: writing %s failed", s.FileName);
    return false;
}

}  // namespace orvix
