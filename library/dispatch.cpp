// Reading any supported file by its type code, rectangles of files, and
// conversion between formats.
#include <cstdio>
#include <memory>

#include "codecs/bmp.h"
#include "codecs/hdr.h"
#include "codecs/heif.h"
#include "codecs/jpeg.h"
#include "codecs/png.h"
#include "codecs/pnm.h"
#include "codecs/targa.h"
#include "codecs/tiff.h"
#include "codecs/webp.h"
#include "image_ops.h"
#include "library.h"
#include "utility.h"

namespace orvix {

namespace {

// The formats read whole, with no reduced or rectangle decode, by type.
bool ReadWhole(int type, ImgClass* img) {
    switch (type) {
    case IMG_TYPE_BMP: return BmpClass().ReadBmp(img);
    case IMG_TYPE_PNG: return PngClass().ReadPng(img);
    case IMG_TYPE_WEBP: return WebpClass().ReadWebp(img);
    case IMG_TYPE_HEIF: return HeifClass().ReadHeif(img);
    default: return PostError("ReadImage: no whole-file reader for type %d", type);
    }
}

// A rectangle of a format without a rectangle reader: the whole file is
// decoded, then the rectangle copied out.
bool RectFromWhole(int type, const char* file, const CRect& rect, ImgClass* img) {
    if (!img) return PostError("Utility::GetImgRect(..) Img = NULL");
    ImgClass whole;
    if (!CopyName(whole.ImgStruct.FileName, file)) return PostError("Utility::GetImgRect: file name too long");
    if (ReadWhole(type, &whole)) return true;
    if (!RectWithinColumns(rect, whole))
        return PostError("Utility::GetImgRect: rectangle (%d,%d)-(%d,%d) lies outside the %ux%u image",
                         rect.left, rect.top, rect.right, rect.bottom, whole.ImgStruct.Width,
                         whole.ImgStruct.Height);
    if (CopyRectangle(rect, whole, *img, 3)) return PostError("Utility::GetImgRect(..) ImgData = NULL");
    return false;
}

}  // namespace

bool Utility::GetImgRect(const char* file, const CRect& rect, ImgClass* img, int tiffOption) {
    (void)tiffOption;  // the TIFF rectangle reader needs no hint
    if (!file || !FileExists(file)) return PostError("Utility::GetImgRect can't find %s", file ? file : "");
    if (FileSize(file) == 0) return PostError("%s: empty file", file);
    Library& lib = Lib();
    const int l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    switch (lib.hdr->Header().Type) {
    case IMG_TYPE_TIFF: return lib.tiff->GetTIFFImgRect(file, l, t, r, b, img);
    case IMG_TYPE_JPEG: return lib.jpg->GetJPGImgRect(file, l, t, r, b, img);
    case IMG_TYPE_PPM: return lib.ppm->GetPPMImgRect(file, l, t, r, b, img);
    case IMG_TYPE_PGM: return lib.pgm->GetPGMImgRect(file, l, t, r, b, img);
    case IMG_TYPE_BMP:
    case IMG_TYPE_PNG:
    case IMG_TYPE_WEBP:
    case IMG_TYPE_HEIF:
        return RectFromWhole(lib.hdr->Header().Type, file, rect, img);
    default:
        // Types without a rectangle reader leave the image empty.
        return false;
    }
}

namespace {

// ReadImage, with a JPEG read for a target size (none: 0 x 0).
bool ReadDispatched(bool swap, ImgClass* img, int width, int height, int* reduction) {
    ClearWarning();
    if (!img) return PostError("ReadImage: no image given");
    ImgStruct& s = img->ImgStruct;
    if (s.ImgData) return PostError("ReadImage: %s: the image already holds pixels", s.FileName);
    Library& lib = Lib();
    const size_t mark = ErrorMark();
    int type = Get_File_Type(s.FileName);
    if (type == IMG_TYPE_UNKNOWN && TargaClass::LooksLikeTarga(s.FileName)) type = IMG_TYPE_TARGA;
    bool failed = true;
    switch (type) {
    case IMG_TYPE_TIFF:
    case IMG_TYPE_ZUL:
        failed = lib.tiff->ReadTIFFtoMem(swap, img) == nullptr;
        break;
    case IMG_TYPE_JPEG:
        failed = lib.jpg->ReadJPEGtoMem(img, width, height, reduction);
        if (!failed && swap) Swap_RGB(img);
        break;
    case IMG_TYPE_PPM:
        failed = lib.ppm->ReadPPM(img);
        if (!failed && swap) Swap_RGB(img);
        break;
    case IMG_TYPE_PGM:
        failed = lib.pgm->ReadPGM(img);
        break;
    case IMG_TYPE_BMP:
        failed = BmpClass().ReadBmp(img);
        break;
    case IMG_TYPE_TARGA:
        failed = TargaClass().ReadTarga(img);
        break;
    // These formats have no reduced decode: a target size reads them whole.
    case IMG_TYPE_PNG:
    case IMG_TYPE_WEBP:
    case IMG_TYPE_HEIF:
        failed = ReadWhole(type, img);
        if (!failed && swap) Swap_RGB(img);
        break;
    default:
        // Unknown types, and raw camera files (decoded by an external
        // program, never here). A TIFF the codec refused has its words.
        return NamedSince(mark, s.FileName) || PostUnsupportedFile(s.FileName);
    }
    // A warning belongs to pixels delivered; a failed read delivers none,
    // and leaves the image free for the next read.
    if (failed || (s.Rotation != ROTATE_NONE && !s.Rotated && Rotate_Image(img, s.Rotation))) {
        ClearWarning();
        img->FreeData();
        return NameInFailure(mark, "ReadImage", s.FileName);
    }
    return false;
}

}  // namespace

}  // namespace orvix

using namespace orvix;

namespace {

// Convert_Image's quality is a JPEG or WebP quality; PNG takes zlib's
// default level.
constexpr int kConvertPngLevel = 6;

}  // namespace

extern "C" {

ORVIX_API bool ReadImage(bool swap, ImgClass* img) { return ReadDispatched(swap, img, 0, 0, nullptr); }

ORVIX_API bool ReadImageForSize(bool swap, ImgClass* img, int width, int height, int* reduction) {
    if (reduction) *reduction = 1;
    return ReadDispatched(swap, img, width, height, reduction);
}

ORVIX_API bool GetImageRectangle(const char* file, CRect rect, ImgClass* img) {
    ClearError();
    if (!Lib().utility->GetImgRect(file, rect, img, 0)) return false;
    return NameInFailure(0, "GetImageRectangle", file);
}

ORVIX_API bool Convert_Image(const char* input, const char* output, int type, int quality) {
    ClearError();
    if (!input) return PostError("Convert_Image: Input Image is NULL");
    if (!*input) return PostError("Convert_Image: Input Image not Specified");
    std::string target;
    if (!output) {
        // No output named: a bitmap beside the input.
        target = input;
        Utility::SetExtension(target, "bmp");
        type = IMG_TYPE_BMP;
    } else {
        target = output;
        if (Utility::FileExists(target))
            return PostError("Last_Error,Convert_Image: File %s Exists", output);
    }
    auto img = std::make_unique<ImgClass>();
    if (!CopyName(img->ImgStruct.FileName, input))
        return PostError("Convert_Image: input name too long");
    if (ReadImage(false, img.get())) return true;
    if (!CopyName(img->ImgStruct.FileName, target.c_str()))
        return PostError("Convert_Image: output name too long");
    // The writers' members, not the exports: those clear the text, and the
    // reader's warnings (a truncated JPEG scan) belong with the result.
    Library& lib = Lib();
    bool failed;
    switch (type) {
    case IMG_TYPE_TIFF: failed = lib.tiff->WriteTIFF(true, false, img.get()); break;
    case IMG_TYPE_JPEG: failed = lib.jpg->WriteJPEG(quality, img.get()); break;
    case IMG_TYPE_PPM: failed = lib.ppm->WritePPM(img.get()); break;
    case IMG_TYPE_PGM: failed = lib.pgm->WritePGM(img.get()); break;
    case IMG_TYPE_TARGA: failed = TargaClass().WriteTarga(img.get()); break;
    case IMG_TYPE_PNG: failed = PngClass().WritePng(kConvertPngLevel, img.get()); break;
    case IMG_TYPE_WEBP: failed = WebpClass().WriteWebp(quality, false, img.get()); break;
    default: failed = BmpClass().WriteBmp(img.get()); break;
    }
    return failed ? NameInFailure(0, "Convert_Image", target.c_str()) : false;
}

}  // extern "C"
