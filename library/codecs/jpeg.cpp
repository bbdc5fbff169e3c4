#include "codecs/jpeg.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>
#include <jerror.h>

#include "image_ops.h"
#include "library.h"
#include "progress.h"
#include "utility.h"

// libjpeg reports a fatal error by calling error_exit, which must not return.
// Ours jumps back to the operation with longjmp. A longjmp skips destructors,
// so the frames it can cross (the one that calls setjmp and everything that
// calls into libjpeg below it) are kept free of objects that have them: the
// libjpeg work lives in the plain functions of this file, and the member
// functions only open and close files around them.

namespace orvix {

namespace {

struct JpegErrors {
    jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is ours too
    jmp_buf jump;
    // Set for a pixel decode: its data warnings become the read's warning.
    bool pixelRead = false;
    bool dataWarned = false;
};

// libjpeg's words go to the last-error text, where callers look, and never
// to the console.
void PostLibjpegMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    text[JMSG_LENGTH_MAX - 1] = '\0';
    PostError("%s", text);
}

// Warnings that some of the picture's data is missing or corrupt: libjpeg
// goes on, filling what it lost with grey or decoding damaged blocks. The
// others (unknown JFIF revision or Adobe transform, a bad ICC marker, odd
// scan parameters for a sequential file) leave the pixels as the file has
// them.
bool IsDataWarning(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
        return true;
    default:
        return false;
    }
}

// Warnings keep the operation going. The first of them, and the first data
// warning when another came before it, are posted so a caller can tell the
// user; a data warning of a pixel read is also the read's warning. Trace
// messages (level >= 0) are dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    jpeg_error_mgr* err = cinfo->err;
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(err);
    const bool data = IsDataWarning(err->msg_code);
    const bool first = err->num_warnings == 0;
    err->num_warnings++;
    if (!first && (!data || errors->dataWarned)) return;
    if (data) errors->dataWarned = true;
    char text[JMSG_LENGTH_MAX];
    (*err->format_message)(cinfo, text);
    text[JMSG_LENGTH_MAX - 1] = '\0';
    PostError("%s", text);
    if (data && errors->pixelRead) PostWarning(text);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

jpeg_error_mgr* SetupErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ErrorExit;
    errors.pub.emit_message = EmitMessage;
    errors.pub.output_message = PostLibjpegMessage;
    return &errors.pub;
}

// Samples per pixel the decoder delivers for the header just read, or 0
// when the colour layout is one it does not handle.
int DeliveredSamples(const jpeg_decompress_struct& cinfo) {
    switch (cinfo.out_color_space) {
    case JCS_GRAYSCALE:
        return 1;
    case JCS_RGB:
        return 3;
    case JCS_CMYK:
        // Adobe writes CMYK (and YCCK, which libjpeg turns into CMYK) with
        // every sample inverted and says so in its APP14 marker. Without
        // that marker the sense of the samples is unknown.
        return cinfo.saw_Adobe_marker ? 3 : 0;
    default:
        return 0;
    }
}

// Inverted CMYK (255 = no ink) to R,G,B: each colour is what its ink and the
// black ink leave of full intensity.
void InvertedCmykToRgb(const JSAMPLE* src, unsigned char* dst, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        const unsigned k = src[3];
        dst[0] = static_cast<unsigned char>((src[0] * k + 127u) / 255u);
        dst[1] = static_cast<unsigned char>((src[1] * k + 127u) / 255u);
        dst[2] = static_cast<unsigned char>((src[2] * k + 127u) / 255u);
    }
}

// Colour pixels never come out pure black: (0,0,0) becomes (1,1,1).
void LiftBlack(unsigned char* line, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, line += 3)
        if (line[0] == 0 && line[1] == 0 && line[2] == 0) line[0] = line[1] = line[2] = 1;
}

// True when the scan whose header was just read has no coded data: a marker
// (or the end of the file, for which libjpeg's source warns and supplies an
// end-of-image marker) follows at once. libjpeg would decode such a file as
// a flat grey image with only a warning.
bool ScanIsEmpty(jpeg_decompress_struct* cinfo) {
    jpeg_source_mgr* src = cinfo->src;
    if (src->bytes_in_buffer == 0 && !(*src->fill_input_buffer)(cinfo)) return false;
    if (src->bytes_in_buffer < 2 || src->next_input_byte[0] != 0xFF) return false;
    const JOCTET next = src->next_input_byte[1];
    // 0x00 is a stuffed data byte, 0xFF fill before a marker, 0xD0-0xD7
    // restart markers inside the scan.
    return next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7);
}

// The size a picture is read for (none: 0 x 0) and the reduction chosen.
struct ReadTarget {
    int width = 0;
    int height = 0;
    int reduction = 1;
};

// The reduction of a decode that still leaves at least twice the target on
// both sides of a w x h picture (sides swapped by a quarter turn); 1 when
// none does. Only one that divides both sides: libjpeg rounds a part block
// up to a whole reduced pixel, which would stretch the picture.
int ReductionFor(uint32_t w, uint32_t h, int width, int height, int rotation) {
    if ((width <= 0 && height <= 0) || w == 0 || h == 0) return 1;
    if (rotation == ROTATE_CW90 || rotation == ROTATE_CCW90) std::swap(width, height);
    if (width <= 0) width = std::max(1, int(std::trunc(double(w) * height / h + 0.5)));
    if (height <= 0) height = std::max(1, int(std::trunc(double(h) * width / w + 0.5)));
    for (uint32_t reduction : {8u, 4u, 2u}) {
        if (w % reduction != 0 || h % reduction != 0) continue;
        if (w / reduction >= 2 * uint64_t(width) && h / reduction >= 2 * uint64_t(height))
            return int(reduction);
    }
    return 1;
}

// The decoding steps after the decompressor exists. A libjpeg error leaves
// through ErrorExit's longjmp; other failures return true with a message.
bool DecodeSteps(jpeg_decompress_struct* cinfo, ImgClass* img, ReadTarget* target) {
    ImgStruct& s = img->ImgStruct;
    jpeg_read_header(cinfo, TRUE);
    if (ScanIsEmpty(cinfo)) ERREXIT(cinfo, JERR_NO_IMAGE);
    cinfo->dither_mode = JDITHER_NONE;

    const int samples = DeliveredSamples(*cinfo);
    if (samples == 0) {
        if (cinfo->out_color_space == JCS_CMYK)
            return PostError("JPGClass::ReadJPEGtoMem() %s: CMYK without an Adobe marker is "
                             "not supported", s.FileName);
        return PostError("JPGClass::ReadJPEGtoMem() %s: %d colour components are not "
                         "supported", s.FileName, cinfo->num_components);
    }
    const bool cmyk = cinfo->out_color_space == JCS_CMYK;

    // Sizes come from the file: the line size must fit its 32-bit field.
    const uint64_t lineSize = Utility::RoundUp4(uint64_t{cinfo->image_width} * uint64_t(samples));
    if (cinfo->image_width == 0 || cinfo->image_height == 0 || lineSize > UINT32_MAX ||
        cinfo->image_height > UINT32_MAX - 4u)
        return PostError("JPGClass::ReadJPEGtoMem() %s: invalid image size %u x %u", s.FileName,
                         cinfo->image_width, cinfo->image_height);
    // The whole picture's size counts: libjpeg's own buffers follow it.
    if (ExceedsPixelLimit(cinfo->image_width, cinfo->image_height, "JPGClass::ReadJPEGtoMem()",
                          s.FileName))
        return true;
    // libjpeg's DCT scaling: each 8 x 8 block is decoded straight to 8 / reduction.
    const int reduction = target->reduction = ReductionFor(cinfo->image_width, cinfo->image_height, target->width,
                                                           target->height, s.Rotated ? ROTATE_NONE : s.Rotation);
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned>(reduction);
    jpeg_calc_output_dimensions(cinfo);

    s.Width = cinfo->output_width;
    s.Height = cinfo->output_height;
    s.Samples = samples;
    s.ResUnit = cinfo->density_unit + 1;
    // A reduced picture keeps its print size; unit 0 gives only an aspect ratio.
    s.Resolution = cinfo->density_unit != 0 ? double(cinfo->X_density) / reduction : cinfo->X_density;
    s.Bits = cinfo->data_precision;
    s.LineSize = static_cast<uint32_t>(
        Utility::RoundUp4(uint64_t{cinfo->output_width} * uint64_t(samples)));
    if (AllocWithSpare(*img, 4))
        return PostError("JPGClass::ReadJPEGtoMem() %s: no memory for %u x %u pixels",
                         s.FileName, s.Width, s.Height);

    jpeg_start_decompress(cinfo);
    s.BgrOrder = 0;
    const uint32_t width = cinfo->output_width;
    const uint32_t height = cinfo->output_height < s.Height ? cinfo->output_height : s.Height;
    const JDIMENSION rowSamples = cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components);
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                 JPOOL_IMAGE, rowSamples, 1);
    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    for (uint32_t i = 0; i < height; ++i) {
        jpeg_read_scanlines(cinfo, row, 1);
        unsigned char* dst = s.ImgData + size_t{i} * s.LineSize;
        if (cmyk) {
            InvertedCmykToRgb(row[0], dst, width);
            LiftBlack(dst, width);
        } else if (samples == 3) {
            std::memcpy(dst, row[0], size_t{width} * 3);
            LiftBlack(dst, width);
        } else {
            std::memcpy(dst, row[0], size_t{width} * static_cast<size_t>(samples));
        }
        progress.Line(static_cast<int>(i));
    }
    progress.Report(static_cast<int>(s.Height), static_cast<int>(s.Height));
    s.Bits = cinfo->data_precision;
    s.Samples = samples;
    jpeg_finish_decompress(cinfo);
    return false;
}

// The jump target of a decode. Holds nothing but libjpeg's plain structs.
bool DecodeFile(FILE* file, ImgClass* img, ReadTarget* target) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrors errors;
    cinfo.err = SetupErrors(errors);
    errors.pixelRead = true;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    const bool failed = DecodeSteps(&cinfo, img, target);
    jpeg_destroy_decompress(&cinfo);
    return failed;
}

bool HeaderSteps(jpeg_decompress_struct* cinfo, const char* path, JpegHeaderInfo* info) {
    if (jpeg_read_header(cinfo, FALSE) != JPEG_HEADER_OK)
        return PostError("JPGClass: %s holds no image", path);
    info->width = cinfo->image_width;
    info->height = cinfo->image_height;
    info->components = cinfo->num_components;
    info->precision = cinfo->data_precision;
    info->samples = DeliveredSamples(*cinfo);
    info->densityUnit = cinfo->density_unit;
    info->xDensity = cinfo->X_density;
    info->yDensity = cinfo->Y_density;
    return false;
}

bool ReadHeaderFrom(FILE* file, const char* path, JpegHeaderInfo* info) {
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrors errors;
    cinfo.err = SetupErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return true;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    const bool failed = HeaderSteps(&cinfo, path, info);
    jpeg_destroy_decompress(&cinfo);
    return failed;
}

// JFIF densities are 16-bit and must not be 0.
UINT16 Density(double resolution) {
    const double d = std::trunc(resolution);
    if (!(d >= 1.0)) return 1;
    if (d > 65535.0) return 65535;
    return static_cast<UINT16>(d);
}

bool EncodeSteps(jpeg_compress_struct* cinfo, ImgClass* img, int quality) {
    ImgStruct& s = img->ImgStruct;
    cinfo->image_width = s.Width;
    cinfo->image_height = s.Height;
    if (s.Samples == 3) {
        cinfo->input_components = 3;
        cinfo->in_color_space = JCS_RGB;
    } else {
        cinfo->input_components = 1;
        cinfo->in_color_space = JCS_GRAYSCALE;
    }
    jpeg_set_defaults(cinfo);
    // Library units 1 none, 2 inch, 3 centimetre are JFIF's 0, 1 and 2.
    if (s.ResUnit >= 1 && s.ResUnit <= 3) {
        cinfo->density_unit = static_cast<UINT8>(s.ResUnit - 1);
        cinfo->X_density = cinfo->Y_density = Density(s.Resolution);
    }
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    if (s.BgrOrder && s.Samples == 3) Swap_RGB(img);

    Progress progress(WriteProgress(), static_cast<int>(s.Height), 0.1,
                      Progress::Rule::PastThreshold);
    for (uint32_t i = 0; i < s.Height; ++i) {
        JSAMPROW row = s.ImgData + size_t{i} * s.LineSize;
        jpeg_write_scanlines(cinfo, &row, 1);
        progress.Line(static_cast<int>(i + 1));
    }
    jpeg_finish_compress(cinfo);
    return false;
}

bool EncodeFile(FILE* file, ImgClass* img, int quality) {
    jpeg_compress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrors errors;
    cinfo.err = SetupErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return true;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    const bool failed = EncodeSteps(&cinfo, img, quality);
    jpeg_destroy_compress(&cinfo);
    return failed;
}

}  // namespace

bool ReadJpegHeader(const char* path, JpegHeaderInfo& info) {
    info = JpegHeaderInfo{};
    if (!path || !*path) return true;
    FILE* f = std::fopen(path, "rb");
    if (!f) return true;
    info.opened = true;
    const bool failed = ReadHeaderFrom(f, path, &info);
    std::fclose(f);
    return failed;
}

bool JPGClass::ReadJPEGtoMem(ImgClass* img, int width, int height, int* reduction) {
    ClearWarning();
    if (!img) return PostError("JPGClass::ReadJPEGtoMem: EXIT 1 Imag is NULL");
    ImgStruct& s = img->ImgStruct;
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f) return PostError("JPGClass::ReadJPEGtoMem() %s Open Failed", s.FileName);
    ReadTarget target;
    target.width = width;
    target.height = height;
    const bool failed = DecodeFile(f, img, &target);
    if (reduction) *reduction = target.reduction;
    std::fclose(f);
    if (failed) {
        ClearWarning();
        return true;
    }
    s.Type = IMG_TYPE_JPEG;
    return false;
}

bool JPGClass::GetJPGImgRect(const char* file, int left, int top, int right, int bottom,
                             ImgClass* out) {
    if (!out) return PostError("EXIT BAD:\tJPGClass::GetJPGImgRect(..) Img = NULL");
    if (!file || !*file) return PostError("EXIT BAD:\tJPGClass::GetJPGImgRect(..) No File");

    ImgClass& cache = ImageCache();
    ImgStruct& c = cache.ImgStruct;
    if (strcasecmp(c.FileName, file) != 0 || !c.ImgData) {
        cache.FreeData();
        if (!CopyName(c.FileName, file)) {
            c.FileName[0] = '\0';
            return PostError("JPGClass::GetJPGImgRect(..) file name too long");
        }
        if (ReadJPEGtoMem(&cache)) {
            cache.FreeData();
            c.FileName[0] = '\0';
            return PostError("JPGClass::GetJPGImgRect(..) ReadJPEGtoMem(..) FAILED");
        }
    }

    const CRect rect{left, top, right, bottom};
    if (!RectInsideImage(rect, cache))
        return PostError("JPGClass::GetJPGImgRect(..) rectangle (%d,%d)-(%d,%d) is empty or "
                         "lies outside the %ux%u image %s",
                         left, top, right, bottom, c.Width, c.Height, file);
    if (CopyRectangle(rect, cache, *out, 0, true))
        return PostError("JPGClass::GetJPGImgRect(..) ImgData = NULL");
    out->ImgStruct.BgrOrder = c.BgrOrder;
    return false;
}

bool JPGClass::WriteJPEG(int quality, ImgClass* img) {
    if (!img) return PostError("JPGClass::WriteJPEG: Image is NULL");
    // JPEG holds no transparency.
    if (img->ImgStruct.ImgData && HasAlpha(img->ImgStruct))
        return WriteOpaque(img, "JPGClass::WriteJPEG()",
                           [&](ImgClass* flat) { return WriteJPEG(quality, flat); });
    ImgStruct& s = img->ImgStruct;
    // Refused before the file is made: what libjpeg would read past a line
    // or mistake for 8-bit samples.
    if (!s.ImgData) return PostError("JPGClass::WriteJPEG() %s: the image holds no pixels", s.FileName);
    if ((s.Samples != 1 && s.Samples != 3) || s.Bits != 8)
        return PostError("JPGClass::WriteJPEG() %s: %d samples of %d bits can't be written",
                         s.FileName, s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * uint64_t(s.Samples))
        return PostError("JPGClass::WriteJPEG() %s: line size %u too small for %u pixels",
                         s.FileName, s.LineSize, s.Width);
    if (quality > 100) quality = 100;

    FILE* f = std::fopen(s.FileName, "wb");
    if (!f) return PostError("JPGClass::WriteJPEG() %s Open Failed", s.FileName);
    bool failed = EncodeFile(f, img, quality);
    if (std::fclose(f) != 0 && !failed)
        failed = PostError("JPGClass::WriteJPEG() %s Close Failed", s.FileName);
    if (failed) return true;
    s.Type = IMG_TYPE_JPEG;
    return false;
}

}  // namespace orvix

extern "C" {

ORVIX_API bool WriteJPEG(int quality, ImgClass* img) {
    return orvix::Lib().jpg->WriteJPEG(quality, img);
}

}  // extern "C"
