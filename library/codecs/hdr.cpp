#include "codecs/hdr.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codecs/bmp.h"
#include "codecs/heif.h"
#include "codecs/jpeg.h"
#include "codecs/png.h"
#include "codecs/pnm.h"
#include "codecs/targa.h"
#include "codecs/tiff.h"
#include "codecs/webp.h"
#include "image_ops.h"
#include "library.h"
#include "remote/tarn_ftp.h"
#include "utility.h"

namespace orvix {

namespace {

// Lines after the first are read with this many characters at most; longer
// ones are read on as further lines.
constexpr int kHeaderLineChars = 125;

enum class Field { Type, Width, Height, Bits, Photo, Compression, LineSize, ResUnit, XRes, YRes, Samples };

struct Keyword {
    char text[32];
    Field field;
    int type;  // for Field::Type
};

// Matched in order; the first keyword found anywhere in a line decides.
constexpr Keyword kKeywords[] = {
    {"TIFF", Field::Type, IMG_TYPE_TIFF},   {"JPEG", Field::Type, IMG_TYPE_JPEG},
    {"PPM", Field::Type, IMG_TYPE_PPM},     {"PGM", Field::Type, IMG_TYPE_PGM},
    {"BMP", Field::Type, IMG_TYPE_BMP},     {"ZUL", Field::Type, IMG_TYPE_ZUL},
    {"TARGA", Field::Type, IMG_TYPE_TARGA}, {"PNG", Field::Type, IMG_TYPE_PNG},
    {"WEBP", Field::Type, IMG_TYPE_WEBP},   {"HEIF", Field::Type, IMG_TYPE_HEIF},
    {"WIDTH", Field::Width, 0},
    {"HEIGHT", Field::Height, 0},           {"BITS", Field::Bits, 0},
    {"PHOTO", Field::Photo, 0},             {"COMPR", Field::Compression, 0},
    {"LINE", Field::LineSize, 0},           {"RES_INCH", Field::ResUnit, 0},
    {"RES_CM", Field::ResUnit, 0},          {"RES_NONE", Field::ResUnit, 0},
    {"X_RES", Field::XRes, 0},              {"Y_RES", Field::YRes, 0},
    {"SAMPLES", Field::Samples, 0},
};

void StripLineEnd(char* s) {
    size_t n = std::strlen(s);
    while (n > 0 && (s[n - 1] == '\n' || s[n - 1] == '\r')) s[--n] = '\0';
}

const char* TypeLine(int type) {
    switch (type) {
    case IMG_TYPE_TIFF: return "TIFF";
    case IMG_TYPE_JPEG: return "JPEG";
    case IMG_TYPE_PPM: return "PPM";
    case IMG_TYPE_PGM: return "PGM";
    case IMG_TYPE_BMP: return "BMP";
    case IMG_TYPE_TARGA: return "TARGA";
    case IMG_TYPE_PNG: return "PNG";
    case IMG_TYPE_WEBP: return "WEBP";
    case IMG_TYPE_HEIF: return "HEIF";
    default: return "???";
    }
}

}  // namespace

HdrClass::HdrClass() { Clear(); }

void HdrClass::Clear() { std::memset(&m_Hdr, 0, sizeof m_Hdr); }

bool HdrClass::ReadHeader(const char* pathIn) {
    Clear();
    if (!pathIn || !*pathIn) return PostError("HdrClass::ReadHeader(..) InputFile is empty");
    std::string path = pathIn;
    Utility::SetExtension(path, "hdr");
    if (!Utility::FileExists(path)) return true;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return PostError("HdrClass::ReadHeader %s Open failed\n", path.c_str());

    // The first line is the image path, which may be as long as any path.
    if (std::fgets(m_Hdr.FileName, sizeof m_Hdr.FileName, f)) StripLineEnd(m_Hdr.FileName);

    int photometric = 0;
    int samples = 0;  // only images with alpha have a samples line
    char line[kHeaderLineChars + 1];
    while (std::fgets(line, sizeof line, f)) {
        for (const Keyword& k : kKeywords) {
            if (!std::strstr(line, k.text)) continue;
            switch (k.field) {
            case Field::Type: m_Hdr.Type = k.type; break;
            case Field::Width: m_Hdr.Width = std::atoi(line); break;
            case Field::Height: m_Hdr.Height = std::atoi(line); break;
            case Field::Bits: m_Hdr.Bits = static_cast<int16_t>(std::atoi(line)); break;
            case Field::Photo: photometric = std::atoi(line); break;
            case Field::Compression: m_Hdr.Compression = static_cast<int16_t>(std::atoi(line)); break;
            case Field::LineSize: m_Hdr.LineSize = std::atoi(line); break;
            case Field::ResUnit: m_Hdr.ResUnit = static_cast<int16_t>(std::atoi(line)); break;
            case Field::XRes: m_Hdr.XRes = static_cast<float>(std::atof(line)); break;
            case Field::YRes: m_Hdr.YRes = static_cast<float>(std::atof(line)); break;
            case Field::Samples: samples = std::atoi(line); break;
            }
            break;
        }
    }
    std::fclose(f);
    m_Hdr.Samples = (photometric == 2 || photometric == 3) ? 3 : 1;
    if (samples == 2 || samples == 4) m_Hdr.Samples = static_cast<int16_t>(samples);
    return false;
}

bool HdrClass::WriteHeader(const char* pathIn) {
    std::string target;
    if (pathIn && *pathIn) {
        target = pathIn;
    } else {
        target = m_Hdr.FileName;
        Utility::SetExtension(target, "hdr");
    }
    FILE* f = std::fopen(target.c_str(), "wb");
    if (!f) return PostError("HdrClass::WriteHeader: %s write open failed\n", target.c_str());
    const int lineSize = m_Hdr.LineSize != 0
                             ? m_Hdr.LineSize
                             : static_cast<int>(Utility::RoundUp4(
                                   static_cast<uint32_t>(m_Hdr.Samples) * static_cast<uint32_t>(m_Hdr.Width)));
    std::fprintf(f, "%s\n", m_Hdr.FileName);
    std::fprintf(f, "%s\n", TypeLine(m_Hdr.Type));
    std::fprintf(f, "%d\t;WIDTH\n", m_Hdr.Width);
    std::fprintf(f, "%d\t;HEIGHT\n", m_Hdr.Height);
    std::fprintf(f, "%d\t;BITS\n", m_Hdr.Bits);
    std::fprintf(f, "%s\t;PHOTOMETRIC\n", m_Hdr.Samples >= 3 ? "2" : "1");
    std::fprintf(f, "%d\t;COMPRESSION\n", m_Hdr.Compression);
    std::fprintf(f, "%d\t;LINESIZE\n", lineSize);
    if (m_Hdr.ResUnit == 2)
        std::fprintf(f, "%d\t;RES_INCH\n", 2);
    else if (m_Hdr.ResUnit == 3)
        std::fprintf(f, "%d\t;RES_CM\n", 3);
    else
        std::fprintf(f, "%d\t;RES_NONE\n", 1);
    std::fprintf(f, "%f\t;X_RES\n", static_cast<double>(m_Hdr.XRes));
    std::fprintf(f, "%f\t;Y_RES\n", static_cast<double>(m_Hdr.YRes));
    // An alpha sample has no photometric of its own: a twelfth line says so,
    // which readers of the eleven lines skip.
    if (m_Hdr.Samples == 2 || m_Hdr.Samples == 4) std::fprintf(f, "%d\t;SAMPLES\n", m_Hdr.Samples);
    const bool failed = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || failed)
        return PostError("HdrClass::WriteHeader: %s write failed\n", target.c_str());
    return false;
}

bool HdrClass::MakeHeader(const char* imagePath) {
    Clear();
    if (!imagePath) return PostError("HdrClass::MakeHeader: no image named");
    if (!CopyName(m_Hdr.FileName, imagePath))
        return PostError("HdrClass::MakeHeader: path longer than %d characters", ORVIX_MAX_PATH - 1);
    const size_t n = std::strlen(imagePath);
    if (std::strstr(imagePath, ".hdr") && n > 0 && imagePath[n - 1] == 'r') {
        if (!ReadHeader(imagePath)) return false;
        Clear();
        CopyName(m_Hdr.FileName, imagePath);
    }
    const size_t mark = ErrorMark();
    int type = Get_File_Type(imagePath);
    // A Targa file whose identifier field is not empty has no first-byte
    // signature; only its header tells. A TIFF the codec refused has its
    // words.
    if (type == IMG_TYPE_UNKNOWN) {
        if (!TargaClass::LooksLikeTarga(imagePath))
            return NamedSince(mark, imagePath) || PostUnsupportedFile(imagePath);
        type = IMG_TYPE_TARGA;
    }
    switch (type) {
    case IMG_TYPE_TIFF: return ProcHdrTiff(imagePath);
    case IMG_TYPE_JPEG: return ProcHdrJpg(imagePath);
    case IMG_TYPE_PPM: return ProcHdrPPM(imagePath);
    case IMG_TYPE_PGM: return ProcHdrPGM(imagePath);
    case IMG_TYPE_BMP: return ProcHdrBMP(imagePath);
    case IMG_TYPE_ZUL: return ProcHdrZUL(imagePath);
    case IMG_TYPE_TARGA: return ProcHdrTARGA(imagePath);
    case IMG_TYPE_PNG: return ProcHdrPNG(imagePath);
    case IMG_TYPE_WEBP: return ProcHdrWEBP(imagePath);
    case IMG_TYPE_HEIF: return ProcHdrHEIF(imagePath);
    default: return PostUnsupportedFile(imagePath);
    }
}

// Both portable-map makers: the same header grammar, skipping comment lines
// and lines that begin with white space before the dimensions.
static bool MakePnmHeader(IMAGE_HDR& h, const char* path, char kind, const char* who,
                          const char* what) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return PostError("HdrClass::%s: Open on %s Failed\n", who, path);
    PnmHeader pnm;
    const bool ok = ReadPnmMagic(f, kind) && ReadPnmHeader(f, true, pnm) == PnmHeaderResult::Ok &&
                    pnm.width > 0 && pnm.height > 0 && pnm.width <= 0x7FFFFFFF &&
                    pnm.height <= 0x7FFFFFFF;
    std::fclose(f);
    if (!ok) return PostError("HdrClass::%s: %s is Not a %s File\n", who, path, what);
    if (pnm.maxVal < 1)
        return PostError("HdrClass::%s: %s declares a maximum value of %ld", who, path, pnm.maxVal);
    CopyName(h.FileName, path);
    h.Type = kind == '6' ? IMG_TYPE_PPM : IMG_TYPE_PGM;
    h.Width = static_cast<int32_t>(pnm.width);
    h.Height = static_cast<int32_t>(pnm.height);
    h.Samples = kind == '6' ? 3 : 1;
    h.MaxVal = static_cast<int32_t>(std::min<long>(pnm.maxVal, INT32_MAX));
    h.Bits = pnm.maxVal > 255 ? 16 : 8;
    h.Compression = 1;
    return false;
}

// Both TIFF makers: the file's own tags through the codec's open, which is
// also what tells the planar variant apart.
static bool DescribeTiff(const char* path, TiffDescription& d) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return PostError("HdrClass::ProcHdrTiff: %s Read Open Failed\n", path);
    unsigned char head[2] = {0, 0};
    const size_t n = std::fread(head, 1, 2, f);
    std::fclose(f);
    if (n < 2 || (head[1] != 'I' && head[1] != 'M')) return true;
    if (Lib().tiff->DescribeFile(path, d))
        return PostError("HdrClass::ProcHdrTiff: %s Read Open Failed\n", path);
    return false;
}

bool HdrClass::ProcHdrTiff(const char* path) {
    TiffDescription d;
    if (DescribeTiff(path, d)) return true;
    m_Hdr.Type = IMG_TYPE_TIFF;
    m_Hdr.Width = static_cast<int32_t>(d.imageWidth);
    m_Hdr.Height = static_cast<int32_t>(d.storedLength);
    m_Hdr.Bits = static_cast<int16_t>(d.bitsPerSample & 0xFF);
    m_Hdr.Compression = static_cast<int16_t>(d.compression & 0xFF);
    // The samples the reader delivers: palette, CMYK and other colour
    // models are read as colour.
    m_Hdr.Samples = static_cast<int16_t>(d.samples > 0 ? d.samples
                                         : ((d.photometric & 0xFF) == 2 || (d.photometric & 0xFF) == 3) ? 3 : 1);
    m_Hdr.LineSize = static_cast<int32_t>(std::min<uint64_t>(d.scanlineSize, INT32_MAX));
    m_Hdr.ResUnit = static_cast<int16_t>(d.resolutionUnit);
    m_Hdr.XRes = d.xResolution;
    m_Hdr.YRes = d.yResolution;
    return false;
}

bool HdrClass::ProcHdrZUL(const char* path) {
    if (ProcHdrTiff(path)) return true;
    m_Hdr.Type = IMG_TYPE_ZUL;
    m_Hdr.Samples = 3;
    m_Hdr.Height /= 3;  // the three planes are stacked
    m_Hdr.LineSize = static_cast<int32_t>(
        std::min<uint64_t>(Utility::RoundUp4(uint64_t(m_Hdr.Width) * 3), INT32_MAX));
    return false;
}

bool HdrClass::ProcHdrJpg(const char* path) {
    JpegHeaderInfo info;
    if (ReadJpegHeader(path, info))
        return PostError("HdrClass::ProcHdrJpg: %s Read Open Failed\n", path);
    m_Hdr.Type = IMG_TYPE_JPEG;
    m_Hdr.Width = static_cast<int32_t>(info.width);
    m_Hdr.Height = static_cast<int32_t>(info.height);
    // The samples the reader delivers: CMYK files are read as colour.
    m_Hdr.Samples = static_cast<int16_t>(info.samples > 0 ? info.samples : info.components);
    m_Hdr.Bits = static_cast<int16_t>(info.precision);
    m_Hdr.Compression = 1;
    m_Hdr.LineSize = static_cast<int32_t>(
        Utility::RoundUp4(uint64_t(info.width) * static_cast<uint64_t>(m_Hdr.Samples)));
    // The unit as the reader gives it (JFIF unit + 1). Unit 0, an unknown
    // unit or a zero density is no resolution at all.
    m_Hdr.ResUnit = 1;
    m_Hdr.XRes = m_Hdr.YRes = 0.0f;
    if ((info.densityUnit == 1 || info.densityUnit == 2) && info.xDensity > 0 && info.yDensity > 0) {
        m_Hdr.ResUnit = static_cast<int16_t>(info.densityUnit + 1);
        m_Hdr.XRes = static_cast<float>(info.xDensity);
        m_Hdr.YRes = static_cast<float>(info.yDensity);
    }
    return false;
}

bool HdrClass::ProcHdrBMP(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return PostError("HdrClass::ProcHdrBMP: %s Open for Read Failed\n", path);
    BmpHeaders b;
    const bool shortFile = ReadBmpHeaders(f, b);
    // Bit fields the reader would refuse get no header either.
    BmpMasks masks;
    const bool badMasks = !shortFile && b.compression == BmpMasks::kBitFields &&
                          ReadBmpMasks(f, b, path, masks);
    std::fclose(f);
    if (shortFile) return PostError("HdrClass::ProcHdrBMP: %s Open for Read Failed\n", path);
    m_Hdr.Type = IMG_TYPE_BMP;
    m_Hdr.Width = b.width;
    // Bitmaps stored top line first give their height negative.
    m_Hdr.Height = b.height == INT32_MIN ? 0 : std::abs(b.height);
    m_Hdr.LineSize = m_Hdr.Height == 0 ? 0 : static_cast<int32_t>(b.imageSize / uint32_t(m_Hdr.Height));
    m_Hdr.Compression = static_cast<int16_t>(b.compression & 0xFFFF);
    if (b.compression != 0 && b.compression != BmpMasks::kBitFields)
        return PostError("HdrClass::ProcHdrBMP:\tCompressed Bitmaps are not implemented");
    if (badMasks) return PostError("HdrClass::ProcHdrBMP: %s has unusable bit fields", path);
    switch (b.bitCount) {
    case 1:
    case 4:
        m_Hdr.Bits = static_cast<int16_t>(b.bitCount);
        m_Hdr.Samples = 1;
        break;
    case 8:
    case 16:
    case 24:
    case 32:
        m_Hdr.Bits = 8;
        m_Hdr.Samples = 3;
        break;
    default:
        break;
    }
    return false;
}

bool HdrClass::ProcHdrTARGA(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return PostError("HdrClass::ProcHdrTARGA: %s Open for Read Failed\n", path);
    TargaHeader t;
    const bool invalid = TargaClass::CheckHeader(f, t);
    std::fclose(f);
    // Run-length files (types 9 to 11) have the same header fields.
    if (invalid) return PostError("HdrClass::ProcHdrTARGA: %s is not a valid Targa file", path);
    CopyName(m_Hdr.FileName, path);
    m_Hdr.Type = IMG_TYPE_TARGA;
    m_Hdr.Width = t.width;
    m_Hdr.Height = t.height;
    m_Hdr.Compression = 0;
    // The format stores no resolution.
    m_Hdr.ResUnit = 1;
    m_Hdr.XRes = m_Hdr.YRes = 0.0f;
    m_Hdr.Bits = t.pixelBits;
    // Grey files (with or without an alpha byte) are grey; colour-mapped
    // ones are colour whatever the size of their indices.
    m_Hdr.Samples = t.Grey() ? 1 : 3;
    return false;
}

// The makers of the formats read through a library's header query: the
// size and samples the reader delivers, lines rounded up to 4 bytes.
void HdrClass::SetDecodedShape(int type, uint32_t width, uint32_t height, int samples, int bits) {
    m_Hdr.Type = type;
    m_Hdr.Width = static_cast<int32_t>(std::min<uint32_t>(width, INT32_MAX));
    m_Hdr.Height = static_cast<int32_t>(std::min<uint32_t>(height, INT32_MAX));
    m_Hdr.Samples = static_cast<int16_t>(samples);
    m_Hdr.Bits = static_cast<int16_t>(bits);
    m_Hdr.Compression = 1;
    m_Hdr.LineSize = static_cast<int32_t>(
        std::min<uint64_t>(Utility::RoundUp4(uint64_t{width} * uint64_t(samples)), INT32_MAX));
    // No resolution unless the maker finds one.
    m_Hdr.ResUnit = 1;
    m_Hdr.XRes = m_Hdr.YRes = 0.0f;
}

bool HdrClass::ProcHdrPNG(const char* path) {
    PngHeaderInfo info;
    if (ReadPngHeader(path, info)) return true;
    SetDecodedShape(IMG_TYPE_PNG, info.width, info.height, info.samples, info.bits);
    if (info.resUnit != 1) {
        m_Hdr.ResUnit = static_cast<int16_t>(info.resUnit);
        m_Hdr.XRes = static_cast<float>(info.xRes);
        m_Hdr.YRes = static_cast<float>(info.yRes);
    }
    return false;
}

bool HdrClass::ProcHdrWEBP(const char* path) {
    WebpHeaderInfo info;
    if (ReadWebpHeader(path, info)) return true;
    SetDecodedShape(IMG_TYPE_WEBP, info.width, info.height, info.samples, 8);
    return false;
}

bool HdrClass::ProcHdrHEIF(const char* path) {
    HeifHeaderInfo info;
    if (ReadHeifHeader(path, info)) return true;
    SetDecodedShape(IMG_TYPE_HEIF, info.width, info.height, info.samples, info.bits);
    return false;
}

bool HdrClass::ProcHdrPPM(const char* path) {
    return MakePnmHeader(m_Hdr, path, '6', "ProcHdrPPM", "PPM");
}

bool HdrClass::ProcHdrPGM(const char* path) {
    return MakePnmHeader(m_Hdr, path, '5', "ProcHdrPGM", "PGM");
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool Make_Local_Header(const char* image, const char* header) {
    ClearError();
    Library& lib = Lib();
    if (!header || !*header) {
        std::string name = MakeTemp_FileName(image, "");
        // No temporary name (it has said why): never a ".hdr" of the current folder.
        if (name.empty()) return true;
        Utility::SetExtension(name, "hdr");
        if (Utility::FileExists(name)) return false;
    }
    HdrClass& hdr = *lib.hdr;
    if (hdr.MakeHeader(image)) return NameInFailure(0, "Make_Local_Header", image);
    IMAGE_HDR& h = hdr.Header();
    // A maker that found no resolution says so with unit 1 and gets none;
    // the others get 300 for what they did not fill in.
    if (h.ResUnit != 1) {
        if (h.XRes < 1.0f) h.XRes = 300.0f;
        if (h.YRes < 1.0f) h.YRes = 300.0f;
    }
    if (!header || !*header) return hdr.WriteHeader(nullptr);
    // An existing header file is never overwritten.
    if (Utility::FileExists(header)) return false;
    return hdr.WriteHeader(header);
}

ORVIX_API bool Read_Hdr(const char* header, IMAGE_HDR* record) {
    if (!record) return true;
    HdrClass& hdr = *Lib().hdr;
    if (hdr.ReadHeader(header)) return true;
    std::memcpy(record, &hdr.Header(), sizeof *record);
    return false;
}

ORVIX_API bool Get_Image_Dimension(const char* header, int* width, int* height) {
    ClearError();
    int w = 0, h = 0;
    const bool failed = Lib().ftp->ReadHeader(header, &w, &h);
    if (failed) {
        Post_Error("\nGet_Image_Dimension::ReadHeader( HdrFile, &X, &Y) returned true");
        w = h = 0;
    }
    if (width) *width = w;
    if (height) *height = h;
    return failed;
}

ORVIX_API bool Get_Image_Res(const char*, double* x, double* y, int* unit) {
    const IMAGE_HDR& h = Lib().hdr->Header();
    if (x) *x = h.XRes;
    if (y) *y = h.YRes;
    if (unit) *unit = h.ResUnit;
    return false;
}

ORVIX_API double Get_Aspect(const char* header) {
    IMAGE_HDR record;
    std::memset(&record, 0, sizeof record);
    Read_Hdr(header, &record);
    ClearError();
    if (record.Height == 0) {
        Post_Error("Get_Aspect Height =  0");
        return 0.0;
    }
    return static_cast<double>(record.Width) / record.Height;
}

ORVIX_API const char* Get_FileName_From_HDR(const char* header) {
    IMAGE_HDR& record = Lib().hdrNameResult;
    std::memset(&record, 0, sizeof record);
    if (!header || !*header) return record.FileName;
    if (Read_Hdr(header, &record)) std::memset(&record, 0, sizeof record);
    return record.FileName;
}

}  // extern "C"
