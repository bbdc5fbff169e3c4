#include "codecs/tiff.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <strings.h>

#include "image_ops.h"
#include "library.h"
#include "os.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

constexpr uint16_t kPhotometricZUL = 15;
// A strip or tile row held decoded, or one tile, may not exceed this.
constexpr uint64_t kMaxBandBytes = uint64_t{1} << 31;
// libtiff's write buffer: written out to the file each time it fills.
constexpr tmsize_t kWriteBufferBytes = tmsize_t{1} << 20;

// libtiff's errors belong in the last-error text, where callers look. The
// handle's owner also keeps the last of them (user is its LibtiffWords), to
// name a strip or tile that a read goes on without.
int PostTiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, ap);
    // Some codecs start their words with the module's name already.
    const size_t n = module ? std::strlen(module) : 0;
    std::string words = text;
    if (n > 0 && !(words.compare(0, n, module) == 0 && words[n] == ':'))
        words = std::string(module) + ": " + words;
    // zlib may leave its reason empty: "ZLib error: ".
    while (!words.empty() && (words.back() == ' ' || words.back() == ':')) words.pop_back();
    PostError("%s", words.c_str());
    if (user) static_cast<LibtiffWords*>(user)->error = std::move(words);
    return 1;
}

// libtiff's warnings while a directory is read (unknown tags, byte counts it
// recomputes) are not failures and are dropped. Those that come while pixels
// are decoded (a JPEG strip cut short, run-length data that overruns its row)
// say the data is damaged: the first of them is kept.
int KeepTiffWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* words = static_cast<LibtiffWords*>(user);
    if (!words || !words->decoding || !words->warning.empty()) return 1;
    char text[1024];
    std::vsnprintf(text, sizeof text, fmt, ap);
    words->warning = module && *module ? std::string(module) + ": " + text : std::string(text);
    return 1;
}

// The handlers are given per handle, so libtiff's process-wide handlers
// (which another user of libtiff in the process may rely on) stay untouched.
TIFF* OpenWithHandlers(const char* name, const char* mode, LibtiffWords* words) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, PostTiffError, words);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, KeepTiffWarning, words);
    TIFF* tif = TIFFOpenExt(name, mode, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

// Sample index of a row of packed samples of the given depth.
inline uint32_t SampleAt(const unsigned char* row, uint64_t index, int bits) {
    switch (bits) {
    case 8:
        return row[index];
    case 16: {
        uint16_t v;
        std::memcpy(&v, row + 2 * index, 2);
        return v;
    }
    default: {  // 1, 2 or 4 bits, most significant first
        const uint64_t bit = index * static_cast<uint64_t>(bits);
        const int shift = 8 - bits - static_cast<int>(bit & 7);
        return (row[bit >> 3] >> shift) & ((1u << bits) - 1u);
    }
    }
}

inline unsigned char From16(uint32_t v) {
    return static_cast<unsigned char>(static_cast<int>(v / 257.0 + 0.5));
}

// One row of libtiff's RGBA raster (w pixels of 4 bytes at from) as grey or
// R,G,B samples, followed by alpha for 2 or 4 outSamples, at to, the rest of
// its lineSize bytes cleared. to may lie at from: no sample is written
// before it is read. unpremultiply divides the colour by alpha.
void RgbaRowToSamples(const unsigned char* from, unsigned char* to, uint32_t w, int outSamples,
                      bool unpremultiply, size_t lineSize) {
    for (uint32_t j = 0; j < w; ++j) {
        uint32_t px;
        std::memcpy(&px, from + 4 * size_t{j}, 4);
        const uint32_t a = unpremultiply ? TIFFGetA(px) : 255u;
        auto sample = [a](uint32_t v) { return static_cast<unsigned char>(Unpremultiplied(v, a, 255)); };
        unsigned char* out = to + size_t{j} * static_cast<size_t>(outSamples);
        out[0] = sample(TIFFGetR(px));
        if (outSamples >= 3) {
            out[1] = sample(TIFFGetG(px));
            out[2] = sample(TIFFGetB(px));
        }
        if (outSamples == 2 || outSamples == 4)
            out[outSamples - 1] = static_cast<unsigned char>(TIFFGetA(px));
    }
    const size_t used = size_t{w} * static_cast<size_t>(outSamples);
    std::memset(to + used, 0, lineSize - used);
}

bool IsGreyDepth(int bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16; }

bool ValidRect(int left, int top, int right, int bottom, uint32_t width, uint32_t height) {
    return left >= 0 && top >= 0 && right > left && bottom > top &&
           int64_t{right} <= int64_t{width} && int64_t{bottom} <= int64_t{height};
}

}  // namespace

TIFFClass::TIFFClass() = default;

TIFFClass::~TIFFClass() { CloseTiff(); }

void TIFFClass::ReleaseBuffers() {
    std::vector<unsigned char>().swap(m_line);
    std::vector<unsigned char>().swap(m_tile);
    for (Band& b : m_bands) {
        std::vector<unsigned char>().swap(b.data);
        b.index = UINT32_MAX;
    }
}

bool TIFFClass::CloseTiff() {
    bool failed = false;
    if (m_tif) {
        if (m_writing && !TIFFFlush(m_tif)) {
            PostError("TIFFClass: writing %s failed", m_name.c_str());
            failed = true;
        }
        TIFFClose(m_tif);
        m_tif = nullptr;
    }
    m_writing = false;
    m_damage = Damage();
    m_words.decoding = false;
    ReleaseBuffers();
    return failed;
}

// ---- Opening ----------------------------------------------------------------

TIFF* TIFFClass::OpenTiffFile(const char* name) {
    CloseTiff();
    m_desc = TiffDescription();
    for (auto& m : m_map) m.clear();
    m_decode = Decode::Other;
    m_name = name ? name : "";
    if (m_name.empty()) {
        PostError("TIFFClass::OpenTiffFile(%s) TIFFOpen(..) failed", m_name.c_str());
        return nullptr;
    }
    TIFF* tif = OpenWithHandlers(name, "rb", &m_words);
    if (!tif) {
        PostError("TIFFClass::OpenTiffFile(%s) TIFFOpen(..) failed", name);
        return nullptr;
    }

    TiffDescription& d = m_desc;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.imageWidth);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.storedLength);
    // The layout fields take the values libtiff decodes with when absent.
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &d.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &d.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &d.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &d.planarConfig);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &d.photometric);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &d.resolutionUnit);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &d.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &d.yResolution);
    d.imageLength = d.storedLength;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraTypes &&
        extraCount <= d.samplesPerPixel) {
        for (uint16_t i = 0; i < extraCount; ++i) {
            if (extraTypes[i] != EXTRASAMPLE_ASSOCALPHA && extraTypes[i] != EXTRASAMPLE_UNASSALPHA)
                continue;
            d.alphaSample = d.samplesPerPixel - extraCount + i;
            d.associatedAlpha = extraTypes[i] == EXTRASAMPLE_ASSOCALPHA;
            break;
        }
    }

    if (d.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t* maps[3] = {nullptr, nullptr, nullptr};
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &maps[0], &maps[1], &maps[2])) {
            PostError("TIFFClass::OpenTiffFile(%s) TIFFGetField(tif, TIFFTAG_COLORMAP, ..) failed",
                      name);
            TIFFClose(tif);
            return nullptr;
        }
        // libtiff holds 2^BitsPerSample entries per channel.
        const size_t n = d.bitsPerSample <= 16 ? size_t{1} << d.bitsPerSample : 0;
        bool wide = false;
        for (int c = 0; c < 3; ++c) {
            m_map[c].assign(maps[c], maps[c] + n);
            for (uint16_t v : m_map[c]) wide = wide || v >= 256;
        }
        // Most writers store 16-bit entries; a few store 8-bit ones.
        if (wide)
            for (auto& m : m_map)
                for (uint16_t& v : m) v = static_cast<uint16_t>(uint32_t{v} * 255u / 65535u);
    }

    if (d.photometric == kPhotometricZUL) d.zul = true;
    char* text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text &&
        strcasecmp(text, "ABCD") == 0) {
        d.zul = true;
        d.imageLength = d.storedLength / 3;
    }

    // The two fax codings and old-style JPEG are refused.
    if (d.compression == COMPRESSION_CCITTFAX3 || d.compression == COMPRESSION_CCITTFAX4 ||
        d.compression == COMPRESSION_OJPEG) {
        PostError("TIFFClass::OpenTiffFile(%s) illegal compression type", name);
        TIFFClose(tif);
        return nullptr;
    }

    // libtiff converts JPEG-compressed YCbCr to R,G,B when asked.
    if (d.compression == COMPRESSION_JPEG && d.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);

    d.tiled = TIFFIsTiled(tif) != 0;
    d.scanlineSize = static_cast<uint64_t>(TIFFScanlineSize64(tif));
    m_rowsPerStrip = 0;
    m_tileWidth = m_tileLength = 0;
    if (d.tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &m_tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &m_tileLength);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &m_rowsPerStrip);
        m_rowsPerStrip = std::clamp<uint32_t>(m_rowsPerStrip, 1, std::max<uint32_t>(d.storedLength, 1));
    }

    m_tif = tif;
    m_writing = false;
    m_decode = Classify();
    const bool separate = d.planarConfig == PLANARCONFIG_SEPARATE;
    m_planes = separate && m_decode == Decode::Colour ? 3 : 1;
    // Alpha, delivered or dividing premultiplied samples, is a plane of its
    // own in separate planes.
    if (separate && AlphaFollows())
        m_planes = static_cast<uint16_t>(d.alphaSample + 1);
    d.samples = OutputSamples();
    return tif;
}

bool TIFFClass::DescribeFile(const char* name, TiffDescription& out) {
    TIFFClass probe;
    if (!probe.OpenTiffFile(name)) return true;
    out = probe.m_desc;
    return false;
}

TIFFClass::Decode TIFFClass::Classify() const {
    const TiffDescription& d = m_desc;
    const int bits = d.bitsPerSample;
    switch (d.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return d.samplesPerPixel >= 1 && IsGreyDepth(bits) ? Decode::Grey : Decode::Other;
    case PHOTOMETRIC_PALETTE:
        return d.samplesPerPixel == 1 && bits <= 8 && IsGreyDepth(bits) ? Decode::Palette
                                                                        : Decode::Other;
    case PHOTOMETRIC_YCBCR:
        if (d.compression != COMPRESSION_JPEG) return Decode::Other;
        [[fallthrough]];  // delivered as R,G,B by libtiff
    case PHOTOMETRIC_RGB:
    case kPhotometricZUL:
        return d.samplesPerPixel >= 3 && (bits == 8 || bits == 16) ? Decode::Colour
                                                                   : Decode::Other;
    default:
        return Decode::Other;
    }
}

bool TIFFClass::AlphaFollows() const {
    const TiffDescription& d = m_desc;
    // Separate planes are decoded into at most m_bands.size() bands.
    if (d.planarConfig == PLANARCONFIG_SEPARATE && d.alphaSample >= static_cast<int>(m_bands.size()))
        return false;
    return (m_decode == Decode::Grey && d.alphaSample >= 1) ||
           (m_decode == Decode::Colour && d.alphaSample >= 3);
}

bool TIFFClass::UnpremultipliesLine() const { return m_desc.associatedAlpha && AlphaFollows(); }

int TIFFClass::OutputSamples() const {
    if (m_desc.zul && m_desc.samplesPerPixel == 1) return 3;
    switch (m_decode) {
    case Decode::Grey:
        return AlphaFollows() ? 2 : 1;
    case Decode::Colour:
        return AlphaFollows() ? 4 : 3;
    case Decode::Palette:
        return 3;
    default:
        return m_desc.photometric == PHOTOMETRIC_MINISWHITE ||
                       m_desc.photometric == PHOTOMETRIC_MINISBLACK
                   ? 1
                   : 3;
    }
}

// Sizes come from the file: check them before anything is allocated.
bool TIFFClass::CheckDeclaredSize(const char* who) {
    const TiffDescription& d = m_desc;
    if (d.imageWidth == 0 || d.imageLength == 0 || d.scanlineSize == 0)
        return PostError("%s(%s) holds no pixels (%u x %u)", who, m_name.c_str(), d.imageWidth,
                         d.imageLength);
    const uint64_t planes = d.planarConfig == PLANARCONFIG_SEPARATE ? d.samplesPerPixel : 1;
    if (planes == 0 || d.scanlineSize > UINT64_MAX / planes / d.storedLength)
        return PostError("%s(%s) declares an impossible size", who, m_name.c_str());
    // Uncompressed rows take their full size in the file. One cut short is
    // read as far as it goes; one that cannot hold a single row holds none.
    if (d.compression == COMPRESSION_NONE) {
        const os::FileStatus st = os::Stat(m_name);
        if (d.scanlineSize * planes > static_cast<uint64_t>(std::max<int64_t>(st.size, 0)))
            return PostError("%s(%s) declares %u x %u pixels, more than the file holds", who,
                             m_name.c_str(), d.imageWidth, d.storedLength);
    }
    return false;
}

bool TIFFClass::PrepareLineBuffer() {
    const uint64_t bytes = m_desc.scanlineSize * m_planes + 8;
    if (m_line.size() >= bytes) return false;
    try {
        m_line.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::exception&) {
        return PostError("TIFFClass(%s) no memory for a %llu-byte line", m_name.c_str(),
                         static_cast<unsigned long long>(bytes));
    }
    return false;
}

// ---- Rows ---------------------------------------------------------------------

bool TIFFClass::FetchRow(uint32_t row, uint16_t plane, unsigned char* dst) {
    const TiffDescription& d = m_desc;
    if (!d.tiled && (d.planarConfig != PLANARCONFIG_SEPARATE || d.samplesPerPixel == 1)) {
        if (!m_damage.tolerated) return TIFFReadScanline(m_tif, dst, row, 0) < 0;
        // The rest of a lost strip is not asked for: libtiff would fail and
        // complain once for every row of it.
        const uint32_t strip = TIFFComputeStrip(m_tif, row, 0);
        if (strip != m_damage.lostStrip) {
            if (PieceInFile(strip)) {
                m_words.error.clear();
                if (TIFFReadScanline(m_tif, dst, row, 0) >= 0) {
                    ++m_damage.read;
                    if (!m_words.warning.empty()) PostWarning(m_words.warning.c_str());
                    return false;
                }
            }
            NoteLoss("strip", strip);
            m_damage.lostStrip = strip;
        }
        std::memset(dst, 0, static_cast<size_t>(d.scanlineSize));
        return false;
    }
    // Tiles, and strips of separate planes (which the scanline interface
    // would restart for every plane of every row), go a band at a time.
    if (plane >= m_bands.size()) return PostError("TIFFClass(%s) plane %u", m_name.c_str(), plane);
    const uint32_t bandHeight = d.tiled ? m_tileLength : m_rowsPerStrip;
    if (bandHeight == 0) return PostError("TIFFClass(%s) has no tile length", m_name.c_str());
    const uint32_t band = row / bandHeight;
    if (m_bands[plane].index != band && LoadBand(band, plane)) return true;
    const uint64_t offset = uint64_t{row - band * bandHeight} * d.scanlineSize;
    std::memcpy(dst, m_bands[plane].data.data() + offset, static_cast<size_t>(d.scanlineSize));
    return false;
}

bool TIFFClass::LoadBand(uint32_t band, uint16_t plane) {
    const TiffDescription& d = m_desc;
    const uint32_t bandHeight = d.tiled ? m_tileLength : m_rowsPerStrip;
    const uint32_t first = band * bandHeight;
    // Buffers hold the rows the image has, whatever height its tiles claim:
    // a file of a few rows may declare tiles of millions.
    const uint32_t rows = std::min(bandHeight, d.storedLength - first);
    const uint64_t bytes = uint64_t{rows} * d.scanlineSize;
    Band& b = m_bands[plane];
    b.index = UINT32_MAX;
    if (bytes > kMaxBandBytes)
        return PostError("TIFFClass(%s) strips or tiles of %llu bytes are too large", m_name.c_str(),
                         static_cast<unsigned long long>(bytes));
    try {
        if (b.data.size() < bytes) b.data.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::exception&) {
        return PostError("TIFFClass(%s) no memory for a band of rows", m_name.c_str());
    }
    if (!d.tiled) {
        const uint32_t strip = TIFFComputeStrip(m_tif, first, plane);
        if (ReadPiece(strip, b.data.data(), uint64_t{rows} * d.scanlineSize)) return true;
        b.index = band;
        return false;
    }
    const uint64_t tileBytes = static_cast<uint64_t>(TIFFTileSize64(m_tif));
    const uint64_t tileRow = static_cast<uint64_t>(TIFFTileRowSize64(m_tif));
    const uint64_t pixelBits = uint64_t{d.bitsPerSample} *
                               (d.planarConfig == PLANARCONFIG_SEPARATE ? 1 : d.samplesPerPixel);
    // Only the tile's first rows lie in the image; only they are decoded.
    const uint64_t used = tileRow * rows;
    if (tileBytes == 0 || tileRow == 0 || used > kMaxBandBytes || m_tileWidth == 0 ||
        (uint64_t{m_tileWidth} * pixelBits) % 8 != 0 || used > tileBytes)
        return PostError("TIFFClass(%s) unusable tile size %u x %u", m_name.c_str(), m_tileWidth,
                         m_tileLength);
    if (ExceedsPixelLimit(m_tileWidth, rows, "TIFFClass", m_name.c_str())) return true;
    try {
        if (m_tile.size() < used) m_tile.assign(static_cast<size_t>(used), 0);
    } catch (const std::exception&) {
        return PostError("TIFFClass(%s) no memory for a tile", m_name.c_str());
    }
    for (uint32_t x = 0; x < d.imageWidth; x += m_tileWidth) {
        const uint32_t tile = TIFFComputeTile(m_tif, x, first, 0, plane);
        if (ReadPiece(tile, m_tile.data(), used)) return true;
        const uint64_t offset = uint64_t{x} * pixelBits / 8;
        if (offset >= d.scanlineSize) break;
        const size_t length = static_cast<size_t>(std::min(tileRow, d.scanlineSize - offset));
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(b.data.data() + r * d.scanlineSize + offset, m_tile.data() + r * tileRow,
                        length);
        if (x > UINT32_MAX - m_tileWidth) break;
    }
    b.index = band;
    return false;
}

bool TIFFClass::ReadPiece(uint32_t piece, void* dst, uint64_t bytes) {
    const auto read = [&] {
        const tmsize_t size = static_cast<tmsize_t>(bytes);
        return m_desc.tiled ? TIFFReadEncodedTile(m_tif, piece, dst, size)
                            : TIFFReadEncodedStrip(m_tif, piece, dst, size);
    };
    if (!m_damage.tolerated) return read() < 0;
    if (PieceInFile(piece)) {
        m_words.error.clear();
        if (read() >= 0) {
            ++m_damage.read;
            if (!m_words.warning.empty()) PostWarning(m_words.warning.c_str());
            return false;
        }
    }
    NoteLoss(m_desc.tiled ? "tile" : "strip", piece);
    std::memset(dst, 0, static_cast<size_t>(bytes));
    return false;
}

// Strips and tiles without bytes, or placed past the end of the file (one
// cut short), are known lost without asking libtiff.
bool TIFFClass::PieceInFile(uint32_t piece) const {
    const uint64_t offset = TIFFGetStrileOffset(m_tif, piece);
    // The first 8 bytes are the file's header.
    return TIFFGetStrileByteCount(m_tif, piece) > 0 && offset >= 8 && offset < m_damage.fileSize;
}

// The first loss of a read is its warning, in libtiff's words when libtiff
// was asked.
void TIFFClass::NoteLoss(const char* kind, uint32_t piece) {
    ++m_damage.lost;
    if (!Lib().lastWarning.empty()) return;
    if (!m_words.warning.empty()) {
        PostWarning(m_words.warning.c_str());
    } else if (!m_words.error.empty()) {
        PostWarning(m_words.error.c_str());
    } else {
        char words[96];
        std::snprintf(words, sizeof words, "%s %u is missing from the file", kind, piece);
        PostError("TIFFClass(%s) %s", m_name.c_str(), words);
        PostWarning(words);
    }
}

// Ends a whole-image read that went on past lost strips or tiles: true, with
// a message, when none at all could be read.
bool TIFFClass::FinishTolerantRead() {
    const Damage damage = m_damage;
    m_damage.tolerated = false;
    m_words.decoding = false;
    if (!m_words.warning.empty()) PostWarning(m_words.warning.c_str());
    if (damage.lost > 0 && damage.read == 0)
        return PostError("TIFFClass::ReadTIFFtoMem(%s) no strip or tile could be read", m_name.c_str());
    return false;
}

bool TIFFClass::GetLine(ImgClass* img, uint32_t fileRow, uint32_t imageRow, uint32_t x0,
                        uint32_t x1) {
    if (!m_tif || m_writing) return PostError("TIFFClass::GetLine() no file open for reading");
    if (!img || !img->ImgStruct.ImgData) return PostError("TIFFClass::GetLine() Img is NULL");
    const TiffDescription& d = m_desc;
    ImgStruct& s = img->ImgStruct;
    if (m_decode == Decode::Other)
        return PostError("TIFFClass::GetLine(%s) cannot convert %u-bit samples of photometric %u",
                         m_name.c_str(), d.bitsPerSample, d.photometric);
    // An image of one sample more than the colour model takes the alpha too.
    const int colours = m_decode == Decode::Grey ? 1 : 3;
    const bool withAlpha = AlphaFollows() && s.Samples == colours + 1;
    const int outSamples = withAlpha ? colours + 1 : colours;
    if (x0 >= x1 || x1 > d.imageWidth || fileRow >= d.storedLength || imageRow >= s.Height ||
        uint64_t{x1 - x0} * outSamples > s.LineSize)
        return PostError("TIFFClass::GetLine(%s) row %u, columns %u to %u do not fit", m_name.c_str(),
                         fileRow, x0, x1);
    if (PrepareLineBuffer()) return true;

    const int bits = d.bitsPerSample;
    const bool separate = d.planarConfig == PLANARCONFIG_SEPARATE;
    const uint64_t stride = separate ? 1 : d.samplesPerPixel;
    const uint32_t n = x1 - x0;
    unsigned char* out = s.ImgData + uint64_t{imageRow} * s.LineSize;
    unsigned char* src = m_line.data();
    for (uint16_t p = 0; p < m_planes; ++p)
        if (FetchRow(fileRow, p, src + p * d.scanlineSize)) return true;

    // Premultiplied samples are divided by the alpha of their pixel, found
    // in each pixel or in a plane of its own.
    const unsigned char* alphaRow = nullptr;
    uint64_t alphaFirst = 0, alphaStep = 0;
    const bool unpremultiply = UnpremultipliesLine();
    if (unpremultiply || withAlpha) {
        const uint64_t a = static_cast<uint64_t>(d.alphaSample);
        if (!separate) {
            alphaRow = src;
            alphaFirst = uint64_t{x0} * stride + a;
            alphaStep = stride;
        } else if (a < m_planes) {
            alphaRow = src + a * d.scanlineSize;
            alphaFirst = x0;
            alphaStep = 1;
        }
    }
    const uint32_t top = bits == 16 ? 65535u : (1u << bits) - 1u;
    auto alpha = [&](uint32_t k) {
        return alphaRow ? SampleAt(alphaRow, alphaFirst + k * alphaStep, bits) : top;
    };
    auto toByte = [&](uint32_t v) {
        if (bits == 16) return From16(v);
        return static_cast<unsigned char>(bits == 8 ? v : v * 255u / top);
    };
    const size_t step = static_cast<size_t>(outSamples);

    switch (m_decode) {
    case Decode::Grey: {
        const bool white = d.photometric == PHOTOMETRIC_MINISWHITE;
        if (bits == 8 && stride == 1 && !alphaRow) {
            if (white)
                for (uint32_t k = 0; k < n; ++k) out[k] = static_cast<unsigned char>(255 - src[x0 + k]);
            else
                std::memcpy(out, src + x0, n);
            break;
        }
        for (uint32_t k = 0; k < n; ++k) {
            uint32_t v = SampleAt(src, (uint64_t{x0} + k) * stride, bits);
            if (unpremultiply) v = Unpremultiplied(v, alpha(k), top);
            const unsigned char g = toByte(v);
            out[k * step] = white ? static_cast<unsigned char>(255 - g) : g;
            if (withAlpha) out[k * step + 1] = toByte(alpha(k));
        }
        break;
    }
    case Decode::Colour: {
        if (bits == 8 && !separate && stride == step && !unpremultiply) {
            std::memcpy(out, src + size_t{x0} * step, size_t{n} * step);
            break;
        }
        const unsigned char* planes[3] = {src, src, src};
        uint64_t first = (uint64_t{x0}) * stride, pixelStep = stride;
        if (separate) {
            planes[1] = src + d.scanlineSize;
            planes[2] = src + 2 * d.scanlineSize;
            first = x0;
        }
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t a = alphaRow ? alpha(k) : top;
            for (int c = 0; c < 3; ++c) {
                const uint64_t at = first + k * pixelStep + (separate ? 0 : uint64_t(c));
                uint32_t v = SampleAt(planes[c], at, bits);
                if (unpremultiply) v = Unpremultiplied(v, a, top);
                out[k * step + size_t(c)] = toByte(v);
            }
            if (withAlpha) out[k * step + 3] = toByte(a);
        }
        break;
    }
    case Decode::Palette:
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t i = SampleAt(src, (uint64_t{x0} + k) * stride, bits);
            for (int c = 0; c < 3; ++c)
                out[3 * size_t{k} + c] =
                    i < m_map[c].size() ? static_cast<unsigned char>(m_map[c][i] & 0xFF) : 0;
        }
        break;
    case Decode::Other:
        break;
    }
    return false;
}

bool TIFFClass::SkipLine(uint32_t fileRow) {
    if (!m_tif || m_writing) return PostError("TIFFClass::SkipLine() no file open for reading");
    if (fileRow >= m_desc.storedLength || PrepareLineBuffer()) return true;
    for (uint16_t p = 0; p < m_planes; ++p)
        if (FetchRow(fileRow, p, m_line.data() + p * m_desc.scanlineSize)) return true;
    return false;
}

// ---- Whole images ---------------------------------------------------------------

unsigned char* TIFFClass::ReadTIFFtoMem(bool bgr, ImgClass* img) {
    ClearWarning();
    if (!img) return nullptr;
    ImgStruct& s = img->ImgStruct;
    if (!s.FileName[0]) {
        PostError("TIFFClass::ReadTIFFtoMem: no file named");
        return nullptr;
    }
    if (!OpenTiffFile(s.FileName)) {
        img->FreeData();
        return nullptr;
    }
    unsigned char* pixels = ReadOpenFile(img);
    s.Type = IMG_TYPE_TIFF;
    CloseTiff();
    if (!pixels) {
        ClearWarning();
        img->FreeData();
        return nullptr;
    }
    if (s.Samples >= 3) {
        if (m_desc.photometric == kPhotometricZUL) YCCtoRGB(img);
        if (bgr) Swap_RGB(img);
    }
    return s.ImgData;
}

unsigned char* TIFFClass::ReadOpenFile(ImgClass* img) {
    ImgStruct& s = img->ImgStruct;
    const TiffDescription& d = m_desc;
    if (CheckDeclaredSize("TIFFClass::ReadTIFFtoMem") ||
        ExceedsPixelLimit(d.imageWidth, d.imageLength, "TIFFClass::ReadTIFFtoMem",
                          m_name.c_str()))
        return nullptr;
    s.Width = d.imageWidth;
    s.Height = d.imageLength;
    s.ResUnit = d.resolutionUnit;
    s.Resolution = d.xResolution;
    s.Samples = d.samples;
    s.Bits = d.bitsPerSample;

    m_damage = Damage();
    m_damage.tolerated = true;
    m_damage.fileSize = static_cast<uint64_t>(std::max<int64_t>(os::Stat(m_name).size, 0));
    m_words.decoding = true;
    m_words.warning.clear();

    if (d.zul && d.samplesPerPixel == 1) return ReadPlanarZUL(img);

    bool rgba = m_decode == Decode::Other;
    if (!rgba && d.bitsPerSample > 8 && d.samples >= 3) {
        // Deep colour goes through libtiff's RGBA interface where it can.
        char message[1024];
        rgba = TIFFRGBAImageOK(m_tif, message) != 0;
    }
    if (rgba) return ReadRGBA(img);

    const uint64_t lineSize = Utility::RoundUp4(uint64_t{d.imageWidth} * s.Samples);
    if (lineSize > UINT32_MAX) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) is too wide (%u pixels)", m_name.c_str(), s.Width);
        return nullptr;
    }
    if (PrepareLineBuffer()) return nullptr;
    s.LineSize = static_cast<uint32_t>(lineSize);
    if (AllocWithSpare(*img, 3)) {
        PostError("ReadTIFFtoMem: Memory allocation error");
        return nullptr;
    }
    const int total = static_cast<int>(std::min<uint32_t>(s.Height, INT32_MAX));
    Progress progress(ReadProgress(), total);
    progress.Start();
    for (uint32_t i = 0; i < s.Height; ++i) {
        if (GetLine(img, i, i, 0, s.Width)) {
            PostError("TIFFClass::ReadTIFFtoMem(%s) row %u could not be read", m_name.c_str(), i);
            img->FreeData();
            return nullptr;
        }
        progress.Line(static_cast<int>(std::min<uint32_t>(i, INT32_MAX)));
    }
    if (FinishTolerantRead()) {
        img->FreeData();
        return nullptr;
    }
    progress.Report(total, total);
    s.Bits = 8;  // every delivered sample is a byte, whatever the file held
    s.BgrOrder = 0;
    return s.ImgData;
}

// Rows 0..H-1 of the file hold sample 0 of every pixel, rows H..2H-1 sample
// 1 and rows 2H..3H-1 sample 2.
unsigned char* TIFFClass::ReadPlanarZUL(ImgClass* img) {
    ImgStruct& s = img->ImgStruct;
    const TiffDescription& d = m_desc;
    const uint32_t h = d.imageLength;
    if (d.bitsPerSample != 8) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) planar layout with %u-bit samples", m_name.c_str(),
                  d.bitsPerSample);
        return nullptr;
    }
    if (uint64_t{h} * 3 > d.storedLength) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) holds %u rows, fewer than the planar layout needs",
                  m_name.c_str(), d.storedLength);
        return nullptr;
    }
    const uint64_t lineSize = Utility::RoundUp4(uint64_t{d.imageWidth} * 3);
    if (lineSize > UINT32_MAX) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) is too wide (%u pixels)", m_name.c_str(), s.Width);
        return nullptr;
    }
    if (PrepareLineBuffer()) return nullptr;
    s.Samples = 3;
    s.LineSize = static_cast<uint32_t>(lineSize);
    if (AllocWithSpare(*img, 3)) {
        PostError("ReadTIFFtoMem: Memory allocation error");
        return nullptr;
    }
    const uint32_t rows = 3 * h;
    const int total = static_cast<int>(std::min<uint32_t>(rows, INT32_MAX));
    Progress progress(ReadProgress(), total, 0.01, Progress::Rule::PastThreshold);
    unsigned char* line = m_line.data();
    for (uint32_t row = 0; row < rows; ++row) {
        if (FetchRow(row, 0, line)) {
            img->FreeData();
            return nullptr;
        }
        const uint32_t p = row / h;
        unsigned char* out = s.ImgData + uint64_t{row % h} * s.LineSize + p;
        for (uint32_t x = 0; x < s.Width; ++x) out[3 * size_t{x}] = line[x];
        progress.Line(static_cast<int>(std::min<uint32_t>(row + 1, INT32_MAX)));
    }
    if (FinishTolerantRead()) {
        img->FreeData();
        return nullptr;
    }
    Swap_RGB(img);
    YCCtoRGB(img);
    s.BgrOrder = 0;
    s.Bits = 8;
    return s.ImgData;
}

// libtiff's RGBA interface decodes what the line reader does not: deep
// colour, CMYK, CIE Lab, subsampled YCbCr. The 4-byte raster is read into the
// image's own buffer and compacted in place.
unsigned char* TIFFClass::ReadRGBA(ImgClass* img) {
    ImgStruct& s = img->ImgStruct;
    char message[1024] = {};
    if (!TIFFRGBAImageOK(m_tif, message)) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) cannot read %u-bit samples of photometric %u: %s",
                  m_name.c_str(), m_desc.bitsPerSample, m_desc.photometric, message);
        return nullptr;
    }
    const uint32_t w = s.Width, h = s.Height;
    const int outSamples = s.Samples;
    const uint64_t rasterLine = uint64_t{w} * 4;
    if (rasterLine > UINT32_MAX) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) is too wide (%u pixels)", m_name.c_str(), w);
        return nullptr;
    }
    // A file of several strips or rows of tiles is read a band at a time, so
    // that one that cannot be read leaves only its own rows blank.
    const uint32_t bandHeight = m_desc.tiled ? m_tileLength : m_rowsPerStrip;
    if (bandHeight > 0 && bandHeight < h) return ReadRGBABands(img, bandHeight);
    s.LineSize = static_cast<uint32_t>(rasterLine);
    if (AllocWithSpare(*img, 3)) {
        PostError("ReadTIFFtoMem: Memory allocation error");
        return nullptr;
    }
    const int total = static_cast<int>(std::min<uint32_t>(h, INT32_MAX));
    ReadProgress()(total, total / 2);
    // One band holds the whole picture: losing it leaves nothing to read.
    // libtiff's warnings (damage it decoded past) are kept.
    if (!TIFFReadRGBAImage(m_tif, w, h, reinterpret_cast<uint32_t*>(s.ImgData), 1)) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) TIFFReadRGBAImage(..) failed", m_name.c_str());
        img->FreeData();
        return nullptr;
    }
    FinishTolerantRead();

    // Compact each row in place: the new rows are never longer than the old.
    const uint32_t lineSize = Utility::RoundUp4(w * static_cast<uint32_t>(outSamples));
    // libtiff hands R,G,B files with alpha over premultiplied (unassociated
    // alpha it multiplies in itself); the colour is divided back.
    const bool unpremultiply = m_desc.alphaSample >= 3 && m_desc.photometric == PHOTOMETRIC_RGB;
    Progress compact(ReadProgress(), total);
    for (uint32_t i = 0; i < h; ++i) {
        RgbaRowToSamples(s.ImgData + uint64_t{i} * rasterLine, s.ImgData + uint64_t{i} * lineSize, w,
                         outSamples, unpremultiply, lineSize);
        compact.Line(static_cast<int>(std::min<uint32_t>(i, INT32_MAX)));
    }
    compact.Report(total, total);
    // What lies past the compacted rows is raster left-over: clear it, as
    // fresh buffers are.
    std::memset(s.ImgData + uint64_t{h} * lineSize, 0,
                static_cast<size_t>((uint64_t{h} + 3) * rasterLine - uint64_t{h} * lineSize));
    s.LineSize = lineSize;

    // libtiff delivers the raster bottom row first.
    Progress flip(ReadProgress(), total / 2, 0.05);
    for (uint32_t i = 0; i < h / 2; ++i) {
        unsigned char* a = s.ImgData + uint64_t{i} * lineSize;
        unsigned char* b = s.ImgData + uint64_t{h - 1 - i} * lineSize;
        std::swap_ranges(a, a + lineSize, b);
        flip.Line(static_cast<int>(i));
    }
    flip.Report(total / 2, total / 2);
    s.Bits = 8;
    s.BgrOrder = 0;
    return s.ImgData;
}

unsigned char* TIFFClass::ReadRGBABands(ImgClass* img, uint32_t bandHeight) {
    ImgStruct& s = img->ImgStruct;
    const uint32_t w = s.Width, h = s.Height;
    const int outSamples = s.Samples;
    const uint32_t lineSize = Utility::RoundUp4(w * static_cast<uint32_t>(outSamples));
    if (uint64_t{bandHeight} * w * 4 > kMaxBandBytes) {
        PostError("TIFFClass(%s) strips or tiles of %u rows are too large", m_name.c_str(), bandHeight);
        return nullptr;
    }
    std::vector<uint32_t> raster;
    try {
        raster.resize(size_t{bandHeight} * w);
    } catch (const std::exception&) {
        PostError("TIFFClass(%s) no memory for a band of rows", m_name.c_str());
        return nullptr;
    }
    s.LineSize = lineSize;
    if (AllocWithSpare(*img, 3)) {
        PostError("ReadTIFFtoMem: Memory allocation error");
        return nullptr;
    }
    char message[1024] = {};
    TIFFRGBAImage rgba;
    if (!TIFFRGBAImageBegin(&rgba, m_tif, 1, message)) {
        PostError("TIFFClass::ReadTIFFtoMem(%s) %s", m_name.c_str(), message);
        img->FreeData();
        return nullptr;
    }
    // Asked for top row first, libtiff turns each band of a file stored
    // bottom row first upside down: its rows then belong that far up from
    // the bottom of the picture.
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const uint16_t o = rgba.orientation;
    const bool upsideDown = o == ORIENTATION_BOTLEFT || o == ORIENTATION_BOTRIGHT ||
                            o == ORIENTATION_LEFTBOT || o == ORIENTATION_RIGHTBOT;
    // As in ReadRGBA: libtiff premultiplies the colour of R,G,B with alpha.
    const bool unpremultiply = m_desc.alphaSample >= 3 && m_desc.photometric == PHOTOMETRIC_RGB;
    const int total = static_cast<int>(std::min<uint32_t>(h, INT32_MAX));
    Progress progress(ReadProgress(), total);
    progress.Start();
    for (uint32_t first = 0; first < h; first += bandHeight) {
        const uint32_t rows = std::min(bandHeight, h - first);
        std::fill(raster.begin(), raster.end(), 0u);
        rgba.row_offset = static_cast<int>(first);
        rgba.col_offset = 0;
        m_words.error.clear();
        if (TIFFRGBAImageGet(&rgba, raster.data(), w, rows))
            ++m_damage.read;
        else if (m_desc.tiled)
            NoteLoss("tile", TIFFComputeTile(m_tif, 0, first, 0, 0));
        else
            NoteLoss("strip", TIFFComputeStrip(m_tif, first, 0));
        for (uint32_t j = 0; j < rows; ++j) {
            const uint32_t y = upsideDown ? h - first - rows + j : first + j;
            RgbaRowToSamples(reinterpret_cast<const unsigned char*>(raster.data() + size_t{j} * w),
                             s.ImgData + uint64_t{y} * lineSize, w, outSamples, unpremultiply, lineSize);
        }
        progress.Line(static_cast<int>(std::min<uint32_t>(first + rows - 1, INT32_MAX)));
        if (first > UINT32_MAX - bandHeight) break;
    }
    TIFFRGBAImageEnd(&rgba);
    if (FinishTolerantRead()) {
        img->FreeData();
        return nullptr;
    }
    progress.Report(total, total);
    s.Bits = 8;
    s.BgrOrder = 0;
    return s.ImgData;
}

// ---- Rectangles -------------------------------------------------------------------

bool TIFFClass::GetTIFFImgRect(const char* name, int left, int top, int right, int bottom,
                               ImgClass* img) {
    if (name && !*name) return PostError("TIFFClass::GetTIFFImgRect() No file");
    if (!img) return PostError("TIFFClass::GetTIFFImgRect() Img is NULL");
    const std::string file = name ? name : img->ImgStruct.FileName;
    if (file.empty()) return PostError("TIFFClass::GetTIFFImgRect() No file");
    std::string rectName = file;
    Utility::SetExtension(rectName, "rct");
    if (rectName.size() >= ORVIX_MAX_PATH)
        return PostError("TIFFClass::GetTIFFImgRect() file name too long: %s", file.c_str());

    if (!OpenTiffFile(file.c_str()))
        return PostError("TIFFClass::GetTIFFImgRect() OpenTiffFile(%s) failed", file.c_str());
    const TiffDescription& d = m_desc;
    ImgStruct& s = img->ImgStruct;
    // As the whole image: grey or colour, and the alpha that follows it.
    const int samples = (m_decode == Decode::Grey ? 1 : 3) + (AlphaFollows() ? 1 : 0);
    bool failed = true;
    if (d.compression == 10) {
        PostError("TIFFClass::GetTIFFImgRect(..) %s is compressed", file.c_str());
    } else if (!ValidRect(left, top, right, bottom, d.imageWidth, d.imageLength)) {
        PostError("TIFFClass::GetTIFFImgRect(..) rectangle (%d,%d)-(%d,%d) is empty or outside "
                  "the %u x %u image %s",
                  left, top, right, bottom, d.imageWidth, d.imageLength, file.c_str());
    } else if (d.compression != COMPRESSION_NONE && d.compression != COMPRESSION_LZW &&
               d.compression != COMPRESSION_PACKBITS) {
        PostError("TIFFClass::GetTIFFImgRect(..) %s is not LZW compressed", file.c_str());
    } else if (m_decode == Decode::Other) {
        PostError("TIFFClass::GetTIFFImgRect(..) %s: cannot convert %u-bit samples of "
                  "photometric %u",
                  file.c_str(), d.bitsPerSample, d.photometric);
    } else if (uint64_t(right - left) * uint64_t(samples) > UINT32_MAX) {
        PostError("TIFFClass::GetTIFFImgRect(..) rectangle of %s too wide", file.c_str());
    } else if (!ExceedsPixelLimit(uint64_t(right - left), uint64_t(bottom - top),
                                  "TIFFClass::GetTIFFImgRect(..)", file.c_str()) &&
               !CheckDeclaredSize("TIFFClass::GetTIFFImgRect") && !PrepareLineBuffer()) {
        s.BgrOrder = 0;
        s.Samples = samples;
        s.Width = static_cast<uint32_t>(right - left);
        s.Height = static_cast<uint32_t>(bottom - top);
        s.LineSize = s.Width * static_cast<uint32_t>(s.Samples);  // not rounded
        s.Bits = 8;
        if (AllocWithSpare(*img, 1)) {
            PostError("TIFFClass::GetTIFFImgRect(..) Img->ImgData= NULL");
        } else {
            failed = false;
            // Compressed strips decode in order only: rows of the rectangle's
            // first strip that lie above it are decoded and dropped.
            const bool sequential = d.compression != COMPRESSION_NONE && !d.tiled &&
                                    m_planes == 1 && d.planarConfig != PLANARCONFIG_SEPARATE;
            if (sequential) {
                const uint32_t from = static_cast<uint32_t>(top) / m_rowsPerStrip * m_rowsPerStrip;
                for (uint32_t r = from; r < static_cast<uint32_t>(top) && !failed; ++r)
                    if (FetchRow(r, 0, m_line.data())) {
                        PostError("GetTIFFImgRect: TIFFReadScanline Error");
                        failed = true;
                    }
            }
            for (uint32_t k = 0; k < s.Height && !failed; ++k)
                if (GetLine(img, static_cast<uint32_t>(top) + k, k, static_cast<uint32_t>(left),
                            static_cast<uint32_t>(right))) {
                    PostError("TIFFClass::GetTIFFImgRect(..) GetLine(..) Error");
                    failed = true;
                }
            if (failed) img->FreeData();
        }
    }
    CloseTiff();
    if (!failed) CopyName(s.FileName, rectName.c_str());
    return failed;
}

// ---- Writing ------------------------------------------------------------------------

TIFF* TIFFClass::Open_Write_Tiff(bool lzw, ImgClass* img) {
    CloseTiff();
    if (!img) return nullptr;
    ImgStruct& s = img->ImgStruct;
    const bool planarForm = s.Planar && s.Samples == 3;
    if (HasAlpha(s) && (s.Bits != 8 || s.Planar)) {
        PostError("TIFFClass::Open_Write_Tiff(%s) images with transparency (%d samples) are written "
                  "with 8-bit samples and not in planar form",
                  s.FileName, s.Samples);
        return nullptr;
    }
    if (s.Width == 0 || s.Height == 0 || s.Samples < 1 || s.Samples > 4 ||
        (s.Bits != 1 && s.Bits != 8 && s.Bits != 16) || (planarForm && s.Bits != 8) ||
        (s.Planar && uint64_t{s.Height} * s.Samples > UINT32_MAX)) {
        PostError("TIFFClass::Open_Write_Tiff(%s) cannot write %u x %u pixels of %d x %d bits%s",
                  s.FileName, s.Width, s.Height, s.Samples, s.Bits, s.Planar ? " in planar form" : "");
        return nullptr;
    }
    TIFF* tif = OpenWithHandlers(s.FileName, "wb", nullptr);
    if (!tif) return nullptr;

    const uint32_t length = s.Planar ? s.Height * static_cast<uint32_t>(s.Samples) : s.Height;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, length);
    if (s.Planar) TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.Planar ? 1 : s.Samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 s.Planar ? PHOTOMETRIC_MINISBLACK
                          : (s.Samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    if (HasAlpha(s)) {
        // The library's alpha is unassociated: the colour is stored as it is.
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    // Only a colour image gets the planar form; a grey one marked "ABCD"
    // would read back as a third of its height in false colour.
    if (planarForm) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "ABCD");
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.Bits);
    if (s.Samples == 1 && s.Bits == 1) {
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
    }
    if (!lzw)
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    else if (s.Bits != 1)
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, length);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.Height);
    if (s.ResUnit < 1 || s.ResUnit > 3) s.ResUnit = 1;
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, s.ResUnit);
    const double res = s.Resolution != 0.0 ? s.Resolution : 100.0;
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, res);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, res);
    // The image is one strip; left to itself libtiff would gather the whole
    // strip in memory before writing any of it. A bounded buffer is written
    // out each time it fills.
    if (!TIFFWriteBufferSetup(tif, nullptr, kWriteBufferBytes)) {
        PostError("TIFFClass::Open_Write_Tiff(%s) no memory for the write buffer", s.FileName);
        TIFFClose(tif);
        return nullptr;
    }

    m_tif = tif;
    m_writing = true;
    m_name = s.FileName;
    m_desc = TiffDescription();
    m_desc.imageWidth = s.Width;
    m_desc.imageLength = m_desc.storedLength = length;
    m_desc.scanlineSize = static_cast<uint64_t>(TIFFScanlineSize64(tif));
    try {
        m_line.assign(static_cast<size_t>(m_desc.scanlineSize) + 8, 0);
    } catch (const std::exception&) {
        PostError("TIFFClass::Open_Write_Tiff(%s) no memory for a line", s.FileName);
        CloseTiff();
        return nullptr;
    }
    return tif;
}

bool TIFFClass::WriteScanline(const unsigned char* row, uint32_t fileRow) {
    if (!m_tif || !m_writing) return PostError("TIFFClass::WriteScanline() no file open for writing");
    if (!row) return PostError("TIFFClass::WriteScanline() row is NULL");
    // libtiff may byte-swap the row it is given; it gets a copy.
    std::memcpy(m_line.data(), row, static_cast<size_t>(m_desc.scanlineSize));
    return TIFFWriteScanline(m_tif, m_line.data(), fileRow, 0) < 0;
}

bool TIFFClass::WriteTIFF(bool lzw, bool bgr, ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return true;
    ImgStruct& s = img->ImgStruct;
    const bool planarForm = s.Planar && s.Samples == 3;
    // The rows are read from the caller's buffer: they must lie inside it.
    const uint64_t samples = static_cast<uint64_t>(std::max(s.Samples, 0));
    const uint64_t rowBytes = (uint64_t{s.Width} * samples * std::max(s.Bits, 0) + 7) / 8;
    if (s.XOrigin < 0 || s.YOrigin != 0 || samples == 0 ||
        uint64_t(s.XOrigin) * samples + rowBytes > s.LineSize)
        return PostError("TIFFClass::WriteTIFF(%s) the %u x %u pixels at (%d,%d) do not fit lines "
                         "of %u bytes",
                         s.FileName, s.Width, s.Height, s.XOrigin, s.YOrigin, s.LineSize);
    if (!Open_Write_Tiff(lzw, img)) return true;

    const unsigned char* base =
        s.ImgData + uint64_t(s.YOrigin) * s.LineSize + uint64_t(s.XOrigin) * s.Samples;
    const uint32_t h = s.Height, w = s.Width;
    bool failed = false;
    if (planarForm) {
        // Each row is converted in a one-row image, so the caller's pixels
        // are never touched (an in-place YCC round trip would alter them).
        ImgClass rowImg;
        ImgStruct& r = rowImg.ImgStruct;
        r.Width = w;
        r.Height = 1;
        r.Samples = 3;
        r.LineSize = Utility::RoundUp4(w * 3);
        if (rowImg.AllocData()) {
            CloseTiff();
            return PostError("TIFFClass::WriteTIFF(%s) Memory allocation error", s.FileName);
        }
        const int total = static_cast<int>(std::min<uint64_t>(uint64_t{h} * 3, INT32_MAX));
        Progress progress(WriteProgress(), total, 0.1, Progress::Rule::PastThreshold);
        progress.Start();
        for (uint32_t p = 0; p < 3 && !failed; ++p) {
            for (uint32_t i = 0; i < h && !failed; ++i) {
                std::memcpy(r.ImgData, base + uint64_t{i} * s.LineSize, size_t{w} * 3);
                if (bgr) Swap_RGB(&rowImg);
                RGBtoYCC(&rowImg);
                unsigned char* line = m_line.data();
                for (uint32_t x = 0; x < w; ++x) line[x] = r.ImgData[3 * size_t{x} + p];
                failed = TIFFWriteScanline(m_tif, line, p * h + i, 0) < 0;
                progress.Line(static_cast<int>(std::min<uint64_t>(uint64_t{p} * h + i, INT32_MAX)));
            }
        }
    } else {
        // A grey image asked for the planar form stays plain; the YCC
        // conversion refuses it with its own message.
        if (s.Planar) RGBtoYCC(img);
        const int total = static_cast<int>(std::min<uint32_t>(h, INT32_MAX));
        Progress progress(WriteProgress(), total, 0.1, Progress::Rule::PastThreshold);
        const size_t bytes = static_cast<size_t>(m_desc.scanlineSize);
        const size_t sampleBytes = s.Bits > 8 ? 2 : 1;
        for (uint32_t i = 0; i < h && !failed; ++i) {
            unsigned char* line = m_line.data();
            std::memcpy(line, base + uint64_t{i} * s.LineSize, bytes);
            if (bgr && s.Samples >= 3 && s.Bits >= 8)
                for (uint32_t x = 0; x < w; ++x) {
                    unsigned char* px = line + size_t{x} * size_t(s.Samples) * sampleBytes;
                    std::swap_ranges(px, px + sampleBytes, px + 2 * sampleBytes);
                }
            failed = TIFFWriteScanline(m_tif, line, i, 0) < 0;
            progress.Line(static_cast<int>(std::min<uint32_t>(i, INT32_MAX)));
        }
    }
    if (failed) PostError("TIFFClass::WriteTIFF(%s) writing the rows failed", s.FileName);
    if (CloseTiff()) failed = true;
    s.Type = IMG_TYPE_TIFF;
    return failed;
}

bool TIFFClass::WriteZUL_TIFF(bool lzw, bool bgr, ImgClass* img) {
    if (!img || !img->ImgStruct.ImgData) return true;
    img->ImgStruct.Planar = 1;
    return WriteTIFF(lzw, bgr, img);
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool WriteTIFF(bool lzw, bool bgr, ImgClass* img) {
    ClearError();
    return Lib().tiff->WriteTIFF(lzw, bgr, img);
}

ORVIX_API bool WriteZUL_TIFF(bool lzw, bool bgr, ImgClass* img) {
    ClearError();
    return Lib().tiff->WriteZUL_TIFF(lzw, bgr, img);
}

}  // extern "C"
