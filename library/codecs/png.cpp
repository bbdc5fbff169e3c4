#include "codecs/png.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "image_ops.h"
#include "library.h"
#include "os.h"
#include "progress.h"
#include "utility.h"

// libpng reports a fatal error through its error function, which must not
// return: ours posts the words and jumps back with longjmp. A longjmp skips
// destructors, so the frames it can cross (the one that calls setjmp and the
// libpng work below it) hold only plain data: the member functions open and
// close the files around them.

namespace orvix {

namespace {

constexpr const char* kReadWho = "PngClass::ReadPng()";
constexpr const char* kWriteWho = "PngClass::WritePng()";
constexpr double kMetresPerInch = 0.0254;

// libpng's own size limit is lifted: the library's pixel limit decides.
constexpr png_uint_32 kNoSideLimit = 0x7fffffff;

struct PngErrors {
    jmp_buf jump;
    const char* who;
    const char* path;
    char warning[160];  // the last warning, often the reason for the error after it
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    PngErrors* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    if (errors->warning[0])
        PostError("%s %s: %s (%s)", errors->who, errors->path, message, errors->warning);
    else
        PostError("%s %s: %s", errors->who, errors->path, message);
    std::longjmp(errors->jump, 1);
}

// Warnings (an odd colour profile, a damaged ancillary chunk) leave the
// pixels as the file has them; the last is kept for an error that follows.
void OnWarning(png_structp png, png_const_charp message) {
    PngErrors* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    std::snprintf(errors->warning, sizeof errors->warning, "%s", message);
}

// Samples per pixel after expansion: tRNS becomes an alpha sample.
int DeliveredSamples(png_structp png, png_infop info) {
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    switch (png_get_color_type(png, info)) {
    case PNG_COLOR_TYPE_GRAY: return trns ? 2 : 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_PALETTE:
    case PNG_COLOR_TYPE_RGB: return trns ? 4 : 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
    }
}

// pHYs in pixels per metre as dots per inch: the whole number a writer
// would have stored as this count when there is one (300 dpi is stored as
// 11811 per metre), else the exact quotient.
double DotsPerInch(png_uint_32 perMetre) {
    const double dpi = perMetre * kMetresPerInch;
    const double whole = std::round(dpi);
    return std::lround(whole / kMetresPerInch) == long(perMetre) ? whole : dpi;
}

// Fills resolution fields from pHYs; false when the file has none in metres.
bool Resolution(png_structp png, png_infop info, double& x, double& y) {
    png_uint_32 px = 0, py = 0;
    int unit = 0;
    if (!png_get_pHYs(png, info, &px, &py, &unit) || unit != PNG_RESOLUTION_METER || px == 0 || py == 0)
        return false;
    x = DotsPerInch(px);
    y = DotsPerInch(py);
    return true;
}

bool HeaderSteps(png_structp png, png_infop info, PngHeaderInfo* out) {
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    out->bits = png_get_bit_depth(png, info);
    out->samples = DeliveredSamples(png, info);
    if (Resolution(png, info, out->xRes, out->yRes)) out->resUnit = 2;
    return false;
}

bool DecodeSteps(png_structp png, png_infop info, ImgClass* img) {
    ImgStruct& s = img->ImgStruct;
    png_read_info(png, info);
    const int samples = DeliveredSamples(png, info);
    png_set_expand(png);    // palette to R,G,B, grey below 8 bits to 8, tRNS to alpha
    png_set_scale_16(png);  // rounded, as the TIFF reader reduces 16 bits
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (png_get_channels(png, info) != samples || png_get_bit_depth(png, info) != 8)
        return PostError("%s %s: unexpected sample layout", kReadWho, s.FileName);
    if (PrepareDecodedImage(*img, width, height, samples, kReadWho)) return true;
    if (png_get_rowbytes(png, info) > s.LineSize)
        return PostError("%s %s: unexpected line size", kReadWho, s.FileName);
    double x = 0, y = 0;
    if (Resolution(png, info, x, y)) {
        s.ResUnit = 2;
        s.Resolution = x;
    }
    // Interlaced files are read pass by pass into the same rows; progress
    // runs once over the lines through all passes.
    Progress progress(ReadProgress(), static_cast<int>(height));
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 row = 0; row < height; ++row) {
            png_read_row(png, s.ImgData + size_t{row} * s.LineSize, nullptr);
            progress.Line(static_cast<int>((uint64_t(pass) * height + row) / uint64_t(passes)));
        }
    }
    // The rest of the file (its end chunk) is not needed for the pixels.
    return false;
}

// The steps run with a read struct whose errors land in this frame: the
// setjmp is here, and only plain data lives between it and libpng.
using ReadSteps = bool (*)(png_structp png, png_infop info, void* out);

bool RunReader(FILE* file, const char* who, const char* path, ReadSteps steps, void* out) {
    PngErrors errors{};
    errors.who = who;
    errors.path = path;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, OnError, OnWarning);
    if (!png) return PostError("%s %s: no memory for the decoder", who, path);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return PostError("%s %s: no memory for the decoder", who, path);
    }
    if (setjmp(errors.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    png_set_user_limits(png, kNoSideLimit, kNoSideLimit);
    png_init_io(png, file);
    const bool failed = steps(png, info, out);
    png_destroy_read_struct(&png, &info, nullptr);
    return failed;
}

bool DecodeFile(FILE* file, ImgClass* img) {
    return RunReader(file, kReadWho, img->ImgStruct.FileName, [](png_structp png, png_infop info, void* out) {
        return DecodeSteps(png, info, static_cast<ImgClass*>(out));
    }, img);
}

bool HeaderFromFile(FILE* file, const char* path, PngHeaderInfo* out) {
    return RunReader(file, "HdrClass::ProcHdrPNG:", path, [](png_structp png, png_infop info, void* header) {
        return HeaderSteps(png, info, static_cast<PngHeaderInfo*>(header));
    }, out);
}

int ColourType(int samples) {
    switch (samples) {
    case 1: return PNG_COLOR_TYPE_GRAY;
    case 2: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 3: return PNG_COLOR_TYPE_RGB;
    default: return PNG_COLOR_TYPE_RGB_ALPHA;
    }
}

// Pixels per metre for a resolution in the library's units; 0 for none.
png_uint_32 PerMetre(int unit, double resolution) {
    if (!(resolution >= 1.0) || resolution > 1e7) return 0;
    if (unit == 2) return static_cast<png_uint_32>(std::lround(resolution / kMetresPerInch));
    if (unit == 3) return static_cast<png_uint_32>(std::lround(resolution * 100.0));
    return 0;
}

bool EncodeSteps(png_structp png, png_infop info, ImgClass* img, int level) {
    ImgStruct& s = img->ImgStruct;
    png_set_IHDR(png, info, s.Width, s.Height, 8, ColourType(s.Samples), PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    if (const png_uint_32 ppm = PerMetre(s.ResUnit, s.Resolution))
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (s.BgrOrder && s.Samples >= 3) png_set_bgr(png);
    Progress progress(WriteProgress(), static_cast<int>(s.Height));
    for (uint32_t row = 0; row < s.Height; ++row) {
        png_write_row(png, s.ImgData + size_t{row} * s.LineSize);
        progress.Line(static_cast<int>(row));
    }
    png_write_end(png, nullptr);
    return false;
}

bool EncodeFile(FILE* file, ImgClass* img, int level) {
    PngErrors errors{};
    errors.who = kWriteWho;
    errors.path = img->ImgStruct.FileName;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, OnError, OnWarning);
    if (!png) return PostError("%s %s: no memory for the encoder", kWriteWho, errors.path);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return PostError("%s %s: no memory for the encoder", kWriteWho, errors.path);
    }
    if (setjmp(errors.jump)) {
        png_destroy_write_struct(&png, &info);
        return true;
    }
    png_set_user_limits(png, kNoSideLimit, kNoSideLimit);
    png_init_io(png, file);
    const bool failed = EncodeSteps(png, info, img, level);
    png_destroy_write_struct(&png, &info);
    return failed;
}

}  // namespace

bool ReadPngHeader(const char* path, PngHeaderInfo& info) {
    info = PngHeaderInfo{};
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return PostError("HdrClass::ProcHdrPNG: %s Read Open Failed", path ? path : "");
    const bool failed = HeaderFromFile(f, path, &info);
    std::fclose(f);
    return failed;
}

bool PngClass::ReadPng(ImgClass* img) {
    ClearWarning();
    if (!img) return PostError("%s: no image given", kReadWho);
    ImgStruct& s = img->ImgStruct;
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f) return PostError("%s %s Open Failed", kReadWho, s.FileName);
    const bool failed = DecodeFile(f, img);
    std::fclose(f);
    if (failed) return true;
    s.Type = IMG_TYPE_PNG;
    return false;
}

bool PngClass::WritePng(int level, ImgClass* img) {
    if (!img) return PostError("%s: Image is NULL", kWriteWho);
    ImgStruct& s = img->ImgStruct;
    if (RefusesEightBitWrite(s, kWriteWho)) return true;
    if (level < 0 || level > 9)
        return PostError("%s %s: compression level %d is not 0 to 9", kWriteWho, s.FileName, level);
    FILE* f = std::fopen(s.FileName, "wb");
    if (!f) return PostError("%s %s Open Failed", kWriteWho, s.FileName);
    bool failed = EncodeFile(f, img, level);
    if (std::fclose(f) != 0 && !failed) failed = PostError("%s %s Close Failed", kWriteWho, s.FileName);
    // No half-written file is left under the name.
    if (failed) os::RemoveFile(s.FileName);
    return failed;
}

}  // namespace orvix

extern "C" {

ORVIX_API bool WritePNG(int level, ImgClass* img) {
    orvix::ClearError();
    return orvix::PngClass().WritePng(level, img);
}

}  // extern "C"
