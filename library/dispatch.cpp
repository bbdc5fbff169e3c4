// Reading any supported file by its type code, rectangles of files, and
// conversion between formats.
#include <cstdio>
#include <memory>

#include "codecs/bmp.h"
#include "codecs/hdr.h"
#include "codecs/jpeg.h"
#include "codecs/pnm.h"
#include "codecs/targa.h"
#include "codecs/tiff.h"
#include "image_ops.h"
#include "library.h"
#include "utility.h"

namespace orvix {

namespace {

// A Targa file has no signature of its own when its identifier field is not
// empty or it carries a colour map; its header is checked instead.
bool LooksLikeTarga(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    TargaHeader header;
    const bool valid = !TargaClass::CheckHeader(f, header);
    std::fclose(f);
    return valid;
}

}  // namespace

bool Utility::GetImgRect(const char* file, const CRect& rect, ImgClass* img, int tiffOption) {
    (void)tiffOption;  // the TIFF rectangle reader needs no hint
    if (!file || !FileExists(file)) return PostError("Utility::GetImgRect can't find %s", file ? file : "");
    Library& lib = Lib();
    const int l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    switch (lib.hdr->Header().Type) {
    case IMG_TYPE_TIFF: return lib.tiff->GetTIFFImgRect(file, l, t, r, b, img);
    case IMG_TYPE_JPEG: return lib.jpg->GetJPGImgRect(file, l, t, r, b, img);
    case IMG_TYPE_PPM: return lib.ppm->GetPPMImgRect(file, l, t, r, b, img);
    case IMG_TYPE_PGM: return lib.pgm->GetPGMImgRect(file, l, t, r, b, img);
    case IMG_TYPE_BMP: {
        if (!img) return PostError("Utility::GetImgRect(..) Img = NULL");
        ImgClass whole;
        if (!CopyName(whole.ImgStruct.FileName, file))
            return PostError("Utility::GetImgRect: file name too long");
        if (BmpClass().ReadBmp(&whole)) return true;
        if (!RectWithinColumns(rect, whole))
            return PostError("Utility::GetImgRect: rectangle (%d,%d)-(%d,%d) lies outside the %ux%u image",
                             l, t, r, b, whole.ImgStruct.Width, whole.ImgStruct.Height);
        if (CopyRectangle(rect, whole, *img, 3)) return PostError("Utility::GetImgRect(..) ImgData = NULL");
        return false;
    }
    default:
        // Types without a rectangle reader leave the image empty.
        return false;
    }
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool ReadImage(bool swap, ImgClass* img) {
    if (!img || img->ImgStruct.ImgData) return true;
    ImgStruct& s = img->ImgStruct;
    Library& lib = Lib();
    int type = Get_File_Type(s.FileName);
    if (type == IMG_TYPE_UNKNOWN && LooksLikeTarga(s.FileName)) type = IMG_TYPE_TARGA;
    bool failed = true;
    switch (type) {
    case IMG_TYPE_TIFF:
    case IMG_TYPE_ZUL:
        failed = lib.tiff->ReadTIFFtoMem(swap, img) == nullptr;
        break;
    case IMG_TYPE_JPEG:
        failed = lib.jpg->ReadJPEGtoMem(img);
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
    default:
        // Unknown types and raw camera files (decoded by an external
        // program, never here) fail without a message.
        return true;
    }
    if (failed) return true;
    if (s.Rotation != ROTATE_NONE && !s.Rotated) return Rotate_Image(img, s.Rotation);
    return false;
}

ORVIX_API bool GetImageRectangle(const char* file, CRect rect, ImgClass* img) {
    ClearError();
    return Lib().utility->GetImgRect(file, rect, img, 0);
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
    switch (type) {
    case IMG_TYPE_TIFF: return WriteTIFF(true, false, img.get());
    case IMG_TYPE_JPEG: return WriteJPEG(quality, img.get());
    case IMG_TYPE_PPM: return Write_8BitPPM(img.get());
    case IMG_TYPE_PGM: return Write_8BitPGM(img.get());
    case IMG_TYPE_TARGA: return TargaClass().WriteTarga(img.get());
    default: return Write_BMP(img.get());
    }
}

}  // extern "C"
