#include "codecs/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "image_ops.h"
#include "library.h"
#include "os.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

constexpr const char* kReadWho = "WebpClass::ReadWebp()";
constexpr const char* kWriteWho = "WebpClass::WriteWebp()";
// Bytes of a chunk's payload that hold an extended or frame header.
constexpr uint32_t kFrameHeaderBytes = 32;
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kRiffHeaderBytes = 12;
// Data is handed to the incremental decoder in pieces this large, so that
// progress follows the rows it has finished.
constexpr size_t kChunkBytes = 256 * 1024;
// WebPBitstreamFeatures::format of a lossless (VP8L) picture.
constexpr int kLosslessFormat = 2;

const char* StatusWords(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK: return "no error";
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "damaged or invalid WebP data";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "a WebP feature this decoder lacks";
    case VP8_STATUS_SUSPENDED: return "the file ends before the picture is complete";
    case VP8_STATUS_USER_ABORT: return "decoding aborted";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends inside its headers";
    }
    return "unknown decoder status";
}

const char* EncodeWords(WebPEncodingError error) {
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "the picture is larger than WebP's 16383 x 16383";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the file would exceed 4 GB";
    default: return "the encoder failed";
    }
}

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Appends up to n bytes read at offset; false when they cannot be read.
bool AppendAt(FILE* f, uint64_t offset, size_t n, std::vector<uint8_t>& out) {
    const size_t at = out.size();
    out.resize(at + n);
    if (std::fseek(f, long(offset), SEEK_SET) != 0) return false;
    const size_t got = std::fread(out.data() + at, 1, n, f);
    out.resize(at + got);
    return !std::ferror(f);
}

// An open WebP file: its RIFF length (at most the file's) and the features
// its headers declare, found by walking the chunk headers so that metadata
// of any size before the picture is stepped over, not read.
struct WebpFile {
    FILE* file = nullptr;
    uint64_t length = 0;
    WebPBitstreamFeatures features{};
    ~WebpFile() {
        if (file) std::fclose(file);
    }
};

// libwebp's features of the extended header and the first picture chunk's
// frame header; an alpha chunk before the picture adds alpha, as it does
// for the whole file.
bool ScanFeatures(WebpFile& w, const char* who, const char* path) {
    std::vector<uint8_t> head;
    if (!AppendAt(w.file, 0, kRiffHeaderBytes, head)) return PostError("%s %s Read Failed", who, path);
    if (head.size() < kRiffHeaderBytes || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WEBP", 4) != 0)
        return PostError("%s %s: not a RIFF WebP file", who, path);
    std::fseek(w.file, 0, SEEK_END);
    const long fileSize = std::ftell(w.file);
    w.length = std::min<uint64_t>(uint64_t{LittleEndian32(head.data() + 4)} + 8, uint64_t(std::max(fileSize, 0L)));
    bool alphaChunk = false;
    for (uint64_t at = kRiffHeaderBytes; at + kChunkHeaderBytes <= w.length;) {
        uint8_t chunk[kChunkHeaderBytes];
        if (std::fseek(w.file, long(at), SEEK_SET) != 0 || std::fread(chunk, 1, sizeof chunk, w.file) != sizeof chunk)
            return PostError("%s %s Read Failed", who, path);
        const uint32_t size = LittleEndian32(chunk + 4);
        const bool picture = std::memcmp(chunk, "VP8 ", 4) == 0 || std::memcmp(chunk, "VP8L", 4) == 0;
        if (std::memcmp(chunk, "ANMF", 4) == 0) break;  // an animation's canvas is in the extended header
        alphaChunk = alphaChunk || std::memcmp(chunk, "ALPH", 4) == 0;
        if (picture || std::memcmp(chunk, "VP8X", 4) == 0) {
            if (!AppendAt(w.file, at, kChunkHeaderBytes + std::min(size, kFrameHeaderBytes), head))
                return PostError("%s %s Read Failed", who, path);
        }
        if (picture) break;
        at += kChunkHeaderBytes + size + (size & 1u);
    }
    const VP8StatusCode status = WebPGetFeatures(head.data(), head.size(), &w.features);
    if (status != VP8_STATUS_OK) return PostError("%s %s: %s", who, path, StatusWords(status));
    if (w.features.width <= 0 || w.features.height <= 0)
        return PostError("%s %s: invalid image size %d x %d", who, path, w.features.width, w.features.height);
    if (alphaChunk) w.features.has_alpha = 1;
    return false;
}

bool OpenWebp(const char* path, const char* who, WebpFile& w) {
    w.file = path ? std::fopen(path, "rb") : nullptr;
    if (!w.file) return PostError("%s %s Open Failed", who, path ? path : "");
    return ScanFeatures(w, who, path);
}

// A lossless picture, decoded straight into the image's rows at once: the
// incremental decoder starts lossless data again from its last checkpoint
// whenever a piece ends, which costs more than the progress is worth.
bool DecodeLossless(const std::vector<uint8_t>& data, ImgClass& img) {
    ImgStruct& s = img.ImgStruct;
    const size_t size = size_t{s.LineSize} * s.Height;
    const int stride = static_cast<int>(s.LineSize);
    const uint8_t* done = s.Samples == 4 ? WebPDecodeRGBAInto(data.data(), data.size(), s.ImgData, size, stride)
                                         : WebPDecodeRGBInto(data.data(), data.size(), s.ImgData, size, stride);
    if (!done) return PostError("%s %s: damaged or incomplete WebP data", kReadWho, s.FileName);
    ReadProgress()(static_cast<int>(s.Height), static_cast<int>(s.Height) - 1);
    return false;
}

// A lossy picture, decoded straight into the image's rows piece by piece.
bool DecodeStill(const std::vector<uint8_t>& data, ImgClass& img) {
    ImgStruct& s = img.ImgStruct;
    const WEBP_CSP_MODE mode = s.Samples == 4 ? MODE_RGBA : MODE_RGB;
    std::unique_ptr<WebPIDecoder, decltype(&WebPIDelete)> dec(
        WebPINewRGB(mode, s.ImgData, size_t{s.LineSize} * s.Height, static_cast<int>(s.LineSize)),
        WebPIDelete);
    if (!dec) return PostError("%s %s: no memory for the decoder", kReadWho, s.FileName);
    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    VP8StatusCode status = VP8_STATUS_NOT_ENOUGH_DATA;
    for (size_t at = 0; at < data.size(); at += kChunkBytes) {
        status = WebPIAppend(dec.get(), data.data() + at, std::min(kChunkBytes, data.size() - at));
        if (status != VP8_STATUS_SUSPENDED) break;
        int rows = 0;
        if (WebPIDecGetRGB(dec.get(), &rows, nullptr, nullptr, nullptr) && rows > 0) progress.Line(rows - 1);
    }
    if (status != VP8_STATUS_OK) return PostError("%s %s: %s", kReadWho, s.FileName, StatusWords(status));
    progress.Report(static_cast<int>(s.Height), static_cast<int>(s.Height) - 1);
    return false;
}

// The first frame of an animation, composed on its canvas.
bool DecodeFirstFrame(const std::vector<uint8_t>& data, ImgClass& img) {
    ImgStruct& s = img.ImgStruct;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return PostError("%s %s: libwebp version mismatch", kReadWho, s.FileName);
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> dec(WebPAnimDecoderNew(&whole, &options),
                                                                             WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!dec || !WebPAnimDecoderGetInfo(dec.get(), &info) || info.canvas_width != s.Width ||
        info.canvas_height != s.Height)
        return PostError("%s %s: damaged or invalid WebP animation", kReadWho, s.FileName);
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(dec.get(), &canvas, &timestamp) || !canvas)
        return PostError("%s %s: the first frame cannot be decoded", kReadWho, s.FileName);
    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    const size_t samples = static_cast<size_t>(s.Samples);
    for (uint32_t row = 0; row < s.Height; ++row) {
        const uint8_t* src = canvas + size_t{row} * s.Width * 4;
        uint8_t* dst = s.ImgData + size_t{row} * s.LineSize;
        for (uint32_t x = 0; x < s.Width; ++x, src += 4, dst += samples) std::memcpy(dst, src, samples);
        progress.Line(static_cast<int>(row));
    }
    return false;
}

// R,G,B(,A) rows for the encoder's import from an image of any of the four
// layouts: grey is widened into pixels; colour rows are used as they are.
struct EncoderRows {
    const uint8_t* data = nullptr;
    int stride = 0;
    std::vector<uint8_t> widened;
};

void PrepareRows(const ImgStruct& s, bool alpha, EncoderRows& rows) {
    if (s.Samples >= 3) {
        rows.data = s.ImgData;
        rows.stride = static_cast<int>(s.LineSize);
        return;
    }
    const size_t out = alpha ? 4 : 3;
    rows.widened.resize(size_t{s.Width} * s.Height * out);
    for (uint32_t y = 0; y < s.Height; ++y) {
        const uint8_t* src = s.ImgData + size_t{y} * s.LineSize;
        uint8_t* dst = rows.widened.data() + size_t{y} * s.Width * out;
        for (uint32_t x = 0; x < s.Width; ++x, src += s.Samples, dst += out) {
            dst[0] = dst[1] = dst[2] = src[0];
            if (alpha) dst[3] = src[1];
        }
    }
    rows.data = rows.widened.data();
    rows.stride = static_cast<int>(s.Width * out);
}

bool Import(WebPPicture& picture, const ImgStruct& s, const EncoderRows& rows, bool alpha) {
    const bool bgr = s.BgrOrder && s.Samples >= 3;
    if (alpha)
        return bgr ? WebPPictureImportBGRA(&picture, rows.data, rows.stride)
                   : WebPPictureImportRGBA(&picture, rows.data, rows.stride);
    return bgr ? WebPPictureImportBGR(&picture, rows.data, rows.stride)
               : WebPPictureImportRGB(&picture, rows.data, rows.stride);
}

struct Encoded {
    WebPMemoryWriter writer;
    WebPPicture picture;
    Encoded() {
        WebPMemoryWriterInit(&writer);
        WebPPictureInit(&picture);
    }
    ~Encoded() {
        WebPPictureFree(&picture);
        WebPMemoryWriterClear(&writer);
    }
};

// libwebp reports its progress in per cent, to the callback in user_data.
int EncodeHook(int percent, const WebPPicture* picture) {
    (*static_cast<const ProgressFn*>(picture->user_data))(100, std::min(percent, 99));
    return 1;
}

bool Encode(ImgClass& img, int quality, bool lossless, Encoded& out) {
    const ImgStruct& s = img.ImgStruct;
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, static_cast<float>(quality)))
        return PostError("%s %s: libwebp version mismatch", kWriteWho, s.FileName);
    if (lossless) {
        config.lossless = 1;
        config.quality = 75;  // the effort, not the fidelity
        config.exact = 1;     // colour under transparent pixels too
    }
    const bool alpha = s.Samples == 2 || s.Samples == 4;
    out.picture.width = static_cast<int>(s.Width);
    out.picture.height = static_cast<int>(s.Height);
    out.picture.use_argb = lossless ? 1 : 0;
    EncoderRows rows;
    PrepareRows(s, alpha, rows);
    if (!Import(out.picture, s, rows, alpha))
        return PostError("%s %s: %s", kWriteWho, s.FileName, EncodeWords(out.picture.error_code));
    out.picture.writer = WebPMemoryWrite;
    out.picture.custom_ptr = &out.writer;
    ProgressFn progress = WriteProgress();
    out.picture.user_data = &progress;
    out.picture.progress_hook = EncodeHook;
    if (!WebPEncode(&config, &out.picture))
        return PostError("%s %s: %s", kWriteWho, s.FileName, EncodeWords(out.picture.error_code));
    progress(100, 100);
    return false;
}

}  // namespace

bool ReadWebpHeader(const char* path, WebpHeaderInfo& info) {
    constexpr const char* who = "HdrClass::ProcHdrWEBP:";
    info = WebpHeaderInfo{};
    WebpFile w;
    if (OpenWebp(path, who, w)) return true;
    info.width = static_cast<uint32_t>(w.features.width);
    info.height = static_cast<uint32_t>(w.features.height);
    info.samples = w.features.has_alpha ? 4 : 3;
    return false;
}

bool WebpClass::ReadWebp(ImgClass* img) {
    ClearWarning();
    if (!img) return PostError("%s: no image given", kReadWho);
    ImgStruct& s = img->ImgStruct;
    WebpFile w;
    if (OpenWebp(s.FileName, kReadWho, w)) return true;
    const WebPBitstreamFeatures& features = w.features;
    if (PrepareDecodedImage(*img, static_cast<uint32_t>(features.width), static_cast<uint32_t>(features.height),
                            features.has_alpha ? 4 : 3, kReadWho))
        return true;
    // The RIFF length bounds the read: bytes after it are not the picture's.
    std::vector<uint8_t> data;
    if (!AppendAt(w.file, 0, size_t(w.length), data) || data.size() != w.length)
        return PostError("%s %s Read Failed", kReadWho, s.FileName);
    const bool failed = features.has_animation ? DecodeFirstFrame(data, *img)
                        : features.format == kLosslessFormat ? DecodeLossless(data, *img)
                                               : DecodeStill(data, *img);
    if (failed) return true;
    s.Type = IMG_TYPE_WEBP;
    return false;
}

bool WebpClass::WriteWebp(int quality, bool lossless, ImgClass* img) {
    if (!img) return PostError("%s: Image is NULL", kWriteWho);
    ImgStruct& s = img->ImgStruct;
    if (RefusesEightBitWrite(s, kWriteWho)) return true;
    if (quality < 1 || quality > 100)
        return PostError("%s %s: quality %d is not 1 to 100", kWriteWho, s.FileName, quality);
    // Refused before the encoder's copy of the pixels is made.
    if (s.Width > WEBP_MAX_DIMENSION || s.Height > WEBP_MAX_DIMENSION)
        return PostError("%s %s: %u x %u pixels is larger than WebP's %d x %d", kWriteWho, s.FileName, s.Width,
                         s.Height, WEBP_MAX_DIMENSION, WEBP_MAX_DIMENSION);
    Encoded encoded;
    if (Encode(*img, quality, lossless || quality == 100, encoded)) return true;
    FILE* f = std::fopen(s.FileName, "wb");
    if (!f) return PostError("%s %s Open Failed", kWriteWho, s.FileName);
    bool failed = std::fwrite(encoded.writer.mem, 1, encoded.writer.size, f) != encoded.writer.size;
    if (std::fclose(f) != 0 || failed) failed = PostError("%s %s Write Failed", kWriteWho, s.FileName);
    // No half-written file is left under the name.
    if (failed) os::RemoveFile(s.FileName);
    return failed;
}

}  // namespace orvix

extern "C" {

ORVIX_API bool WriteWEBP(int quality, bool lossless, ImgClass* img) {
    orvix::ClearError();
    return orvix::WebpClass().WriteWebp(quality, lossless, img);
}

}  // extern "C"
