// Reading any supported file by its type code.
#include "codecs/bmp.h"
#include "codecs/pnm.h"
#include "codecs/targa.h"
#include "library.h"

using namespace orvix;

extern "C" {

ORVIX_API bool ReadImage(bool swap, ImgClass* img) {
    if (!img || img->ImgStruct.ImgData) return true;
    ImgStruct& s = img->ImgStruct;
    Library& lib = Lib();
    bool failed = true;
    switch (Get_File_Type(s.FileName)) {
    case IMG_TYPE_PPM:
        failed = lib.ppm->ReadPPM(img);
        if (!failed && swap) Swap_RGB(img);
        break;
    case IMG_TYPE_PGM:
        failed = lib.pgm->ReadPGM(img);
        break;
    case IMG_TYPE_BMP:
        // Always R,G,B, whatever swap asks.
        failed = BmpClass().ReadBmp(img);
        break;
    case IMG_TYPE_TARGA:
        failed = TargaClass().ReadTarga(img);
        break;
    default:
        // Unknown types, raw camera files (never decoded here) and formats
        // without a reader fail without a message.
        return true;
    }
    if (failed) return true;
    if (s.Rotation != ROTATE_NONE && !s.Rotated) return Rotate_Image(img, s.Rotation);
    return false;
}

}  // extern "C"
