#include "codecs/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "library.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

constexpr const char* kReadWho = "WebpClass::ReadWebp()";
constexpr const char* kWriteWho = "WebpClass::WriteWebp()";
// The headers, and for a simple file the frame header, lie in the first
// bytes; an animation's canvas is in its extended header.
constexpr size_t kHeaderBytes = 4096;
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

// At most limit bytes of the file; false when it cannot be read.
bool ReadFileBytes(const char* path, size_t limit, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    out.clear();
    uint8_t buffer[65536];
    size_t n = 0;
    // Appended by copy: a ranged insert makes debug builds export a
    // standard-library symbol from the shared library.
    while (out.size() < limit && (n = std::fread(buffer, 1, std::min(sizeof buffer, limit - out.size()), f)) > 0) {
        const size_t at = out.size();
        out.resize(at + n);
        std::memcpy(out.data() + at, buffer, n);
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool Features(const std::vector<uint8_t>& data, const char* who, const char* path,
              WebPBitstreamFeatures& features) {
    const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
    if (status != VP8_STATUS_OK) return PostError("%s %s: %s", who, path, StatusWords(status));
    if (features.width <= 0 || features.height <= 0)
        return PostError("%s %s: invalid image size %d x %d", who, path, features.width, features.height);
    return false;
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
    if (!WebPAnimDecoderOptionsInit(&options)) return PostError("%s: libwebp version mismatch", kReadWho);
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

ProgressFn g_encodeProgress = nullptr;

// libwebp reports its progress in per cent.
int EncodeHook(int percent, const WebPPicture*) {
    g_encodeProgress(100, std::min(percent, 99));
    return 1;
}

bool Encode(ImgClass& img, int quality, bool lossless, Encoded& out) {
    const ImgStruct& s = img.ImgStruct;
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, static_cast<float>(quality)))
        return PostError("%s: libwebp version mismatch", kWriteWho);
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
    g_encodeProgress = WriteProgress();
    out.picture.progress_hook = EncodeHook;
    if (!WebPEncode(&config, &out.picture))
        return PostError("%s %s: %s", kWriteWho, s.FileName, EncodeWords(out.picture.error_code));
    g_encodeProgress(100, 100);
    return false;
}

}  // namespace

bool ReadWebpHeader(const char* path, WebpHeaderInfo& info) {
    constexpr const char* who = "HdrClass::ProcHdrWEBP:";
    info = WebpHeaderInfo{};
    std::vector<uint8_t> head;
    if (!path || !ReadFileBytes(path, kHeaderBytes, head))
        return PostError("%s %s Read Open Failed", who, path ? path : "");
    WebPBitstreamFeatures features;
    if (Features(head, who, path, features)) return true;
    info.width = static_cast<uint32_t>(features.width);
    info.height = static_cast<uint32_t>(features.height);
    info.samples = features.has_alpha ? 4 : 3;
    info.lossless = features.format == kLosslessFormat;
    info.animated = features.has_animation != 0;
    return false;
}

bool WebpClass::ReadWebp(ImgClass* img) {
    ClearWarning();
    if (!img) return PostError("%s: no image given", kReadWho);
    ImgStruct& s = img->ImgStruct;
    std::vector<uint8_t> data;
    // A RIFF file cannot hold more than 4 GB.
    if (!ReadFileBytes(s.FileName, UINT32_MAX, data)) return PostError("%s %s Open Failed", kReadWho, s.FileName);
    WebPBitstreamFeatures features;
    if (Features(data, kReadWho, s.FileName, features)) return true;
    if (PrepareDecodedImage(*img, static_cast<uint32_t>(features.width), static_cast<uint32_t>(features.height),
                            features.has_alpha ? 4 : 3, kReadWho))
        return true;
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
    if (!s.ImgData) return PostError("%s %s: the image holds no pixels", kWriteWho, s.FileName);
    if (s.Samples < 1 || s.Samples > 4 || s.Bits != 8)
        return PostError("%s %s: %d samples of %d bits can't be written", kWriteWho, s.FileName,
                         s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * uint64_t(s.Samples) || s.Width == 0 || s.Height == 0)
        return PostError("%s %s: line size %u does not hold %u pixels", kWriteWho, s.FileName,
                         s.LineSize, s.Width);
    if (quality < 1 || quality > 100)
        return PostError("%s %s: quality %d is not 1 to 100", kWriteWho, s.FileName, quality);
    Encoded encoded;
    if (Encode(*img, quality, lossless || quality == 100, encoded)) return true;
    FILE* f = std::fopen(s.FileName, "wb");
    if (!f) return PostError("%s %s Open Failed", kWriteWho, s.FileName);
    bool failed = std::fwrite(encoded.writer.mem, 1, encoded.writer.size, f) != encoded.writer.size;
    if (std::fclose(f) != 0 || failed) failed = PostError("%s %s Write Failed", kWriteWho, s.FileName);
    return failed;
}

}  // namespace orvix

extern "C" {

ORVIX_API bool WriteWEBP(int quality, bool lossless, ImgClass* img) {
    orvix::ClearError();
    return orvix::WebpClass().WriteWebp(quality, lossless, img);
}

}  // extern "C"
