#include "codecs/pnm.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_ops.h"
#include "library.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

// Header lines are read as fgets does with a 255-byte buffer: at most 254
// characters, the line end kept.
bool ReadHeaderLine(FILE* f, std::string& line) {
    char buf[255];
    if (!std::fgets(buf, sizeof buf, f)) return false;
    line = buf;
    return true;
}

bool IsComment(const std::string& line) { return !line.empty() && line[0] == '#'; }
bool StartsWithSpace(const std::string& line) {
    return !line.empty() && std::isspace(static_cast<unsigned char>(line[0]));
}

// Reads the header lines after the magic line and posts the reader's
// message when the size is missing. Returns false after posting.
bool ReadDimensionsAndMax(FILE* f, const char* who, const char* path, bool skipBlank,
                          PnmHeader& h) {
    switch (ReadPnmHeader(f, skipBlank, h)) {
    case PnmHeaderResult::NoWidth:
        PostError("%s: Can't determine Image Width of %s", who, path);
        return false;
    case PnmHeaderResult::NoHeight:
        PostError("%s: Can't determine Image Height of %s", who, path);
        return false;
    case PnmHeaderResult::Ok:
        break;
    }
    // A maximum of 0 (or none at all) gives every sample no meaning.
    if (h.maxVal < 1) {
        PostError("%s: %s declares a maximum value of %ld", who, path, h.maxVal);
        return false;
    }
    return true;
}

// Checks the declared size before anything is allocated: positive
// dimensions, a line size that fits 32 bits, and pixel data the file can hold.
bool CheckDeclaredSize(const PnmHeader& h, int samples, int bytesPerSample,
                       int64_t bytesAvailable, const char* who, const char* path) {
    if (h.width <= 0 || h.height <= 0 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF) {
        PostError("%s: %s has an invalid size %ld x %ld", who, path, h.width, h.height);
        return false;
    }
    const uint64_t lineBytes = uint64_t(h.width) * samples * bytesPerSample;
    const uint64_t dataBytes = lineBytes * uint64_t(h.height);
    if (Utility::RoundUp4(lineBytes) > 0xFFFFFFF0u ||
        dataBytes > uint64_t(bytesAvailable < 0 ? 0 : bytesAvailable)) {
        PostError("%s: %s declares %ld x %ld pixels, more than the file holds", who, path,
                  h.width, h.height);
        return false;
    }
    return !ExceedsPixelLimit(uint64_t(h.width), uint64_t(h.height), who, path);
}

// Writes the image with the file's samples per pixel: a grey image written
// as a pixel map repeats each sample three times, a colour image written as
// a grey map is converted with the grey formula, so that the file always
// holds what its header declares.
bool WritePnm(ImgClass* img, const char* magic, uint32_t fileSamples) {
    if (!img || !img->ImgStruct.ImgData) return true;
    ImgStruct& s = img->ImgStruct;
    // Grey and pixel maps hold no transparency.
    if (HasAlpha(s))
        return WriteOpaque(img, "WritePnm", [&](ImgClass* flat) { return WritePnm(flat, magic, fileSamples); });
    const uint32_t samples = static_cast<uint32_t>(s.Samples > 0 ? s.Samples : 1);
    if (samples != 1 && samples != 3)
        return PostError("%s writer: images of %u samples are not written", magic, samples);
    FILE* f = std::fopen(s.FileName, "wb");
    if (!f)
        return PostError("%s writer: %s cannot be created (%s)", magic, s.FileName,
                         std::strerror(errno));
    std::fprintf(f, "%s\n%u %u\n%d\n", magic, s.Width, s.Height, 255);
    Progress progress(WriteProgress(), static_cast<int>(s.Height));
    progress.Start();
    const size_t lineBytes = size_t{s.Width} * fileSamples;
    std::vector<unsigned char> converted(samples == fileSamples ? 0 : lineBytes);
    bool failed = false;
    for (uint32_t i = 0; i < s.Height; ++i) {
        const unsigned char* line = s.ImgData + size_t{i} * s.LineSize;
        if (!converted.empty()) {
            for (uint32_t j = 0; j < s.Width; ++j) {
                if (fileSamples == 3) {
                    converted[3 * j] = converted[3 * j + 1] = converted[3 * j + 2] = line[j];
                } else {
                    const unsigned char* p = line + 3 * size_t{j};
                    converted[j] = static_cast<unsigned char>(0.33 * p[0] + 0.5 * p[1] + 0.17 * p[2]);
                }
            }
            line = converted.data();
        }
        if (std::fwrite(line, 1, lineBytes, f) != lineBytes) failed = true;
        progress.Line(static_cast<int>(i));
    }
    if (std::fclose(f) != 0) failed = true;
    if (failed) return PostError("%s writer: writing %s failed", magic, s.FileName);
    return false;
}

bool CopyRectFromFile(const char* who, const char* file, int left, int top, int right,
                      int bottom, ImgClass* out) {
    if (!out) return PostError("%s Img = NULL", who);
    if (!file || !*file) return PostError("%s No File", who);
    ImgClass whole;
    if (!CopyName(whole.ImgStruct.FileName, file))
        return PostError("%s file name longer than %d characters", who, ORVIX_MAX_PATH - 1);
    if (ReadImage(false, &whole)) return PostError("%s ReadImage(..) FAILED", who);
    const CRect rect{left, top, right, bottom};
    if (!RectWithinColumns(rect, whole))
        return PostError("%s rectangle (%d,%d)-(%d,%d) lies outside the %ux%u image", who, left,
                         top, right, bottom, whole.ImgStruct.Width, whole.ImgStruct.Height);
    if (CopyRectangle(rect, whole, *out, 2)) return PostError("%s ImgData = NULL", who);
    return false;
}

}  // namespace

bool ReadPnmMagic(FILE* f, char kind) {
    std::string magic;
    return ReadHeaderLine(f, magic) && magic.size() >= 2 && (magic[0] == 'P' || magic[0] == 'p') &&
           magic[1] == kind;
}

PnmHeaderResult ReadPnmHeader(FILE* f, bool skipBlank, PnmHeader& h) {
    std::string line;
    bool got = false;
    while (ReadHeaderLine(f, line)) {
        if (IsComment(line) || (skipBlank && StartsWithSpace(line))) continue;
        got = true;
        break;
    }
    Utility& util = *Lib().utility;
    util.Tokenize(got ? line : std::string(), " ");
    const std::string w = util.Token(0);
    if (w.empty()) return PnmHeaderResult::NoWidth;
    h.width = std::atol(w.c_str());
    const std::string ht = util.Token(1);
    if (ht.empty()) return PnmHeaderResult::NoHeight;
    h.height = std::atol(ht.c_str());
    h.maxVal = 0;
    while (ReadHeaderLine(f, line)) {
        if (IsComment(line)) continue;
        h.maxVal = std::atoll(line.c_str());
        break;
    }
    return PnmHeaderResult::Ok;
}

bool PgmClass::ReadPGM(ImgClass* img) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    const int64_t fileSize = Utility::FileSize(s.FileName);
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f)
        return PostError("PgmClass::ReadPGM: %s cannot be opened (%s)", s.FileName,
                         std::strerror(errno));
    struct Closer { FILE* f; ~Closer() { std::fclose(f); } } closer{f};

    std::string magic;
    if (ReadHeaderLine(f, magic) && (magic[0] == 'P' || magic[0] == 'p') &&
        (magic.size() < 2 || magic[1] != '5'))
        return PostError("ReadPGM wrong Header!! Should be P5");

    PnmHeader h;
    if (!ReadDimensionsAndMax(f, "PgmClass::ReadPGM", s.FileName, true, h)) return true;
    const int b = h.maxVal >= 256 ? 2 : 1;
    const int64_t headerEnd = std::ftell(f);
    if (!CheckDeclaredSize(h, 1, b, fileSize - headerEnd, "PgmClass::ReadPGM", s.FileName))
        return true;

    s.Width = static_cast<uint32_t>(h.width);
    s.Height = static_cast<uint32_t>(h.height);
    s.Samples = 1;
    s.Bits = 8;
    const size_t lineBytes = size_t{s.Width} * b;
    // The pixels are the last bytes of the file, whatever the header's length.
    std::fseek(f, static_cast<long>(fileSize - int64_t(lineBytes) * s.Height), SEEK_SET);
    s.LineSize = Utility::RoundUp4(static_cast<uint32_t>(lineBytes));
    if (AllocWithSpare(*img, 2))
        return PostError("PgmClass::ReadPGM: no memory for the %u x %u pixels of %s", s.Width,
                         s.Height, s.FileName);

    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    progress.Start();
    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* line = s.ImgData + size_t{i} * s.LineSize;
        if (std::fread(line, 1, lineBytes, f) != lineBytes)
            return PostError("PgmClass::ReadPGM: %s ends within line %u", s.FileName, i);
        if (b == 2) {
            for (uint32_t j = 0; j < s.Width; ++j) {
                const unsigned v = line[2 * j] | (unsigned(line[2 * j + 1]) << 8);
                line[j] = static_cast<unsigned char>(v / 257);
            }
        }
        progress.Line(static_cast<int>(i));
    }
    s.Type = IMG_TYPE_PGM;
    s.BgrOrder = 0;
    return false;
}

bool PpmClass::ReadPPM(ImgClass* img) {
    if (!img) return true;
    ImgStruct& s = img->ImgStruct;
    FILE* f = std::fopen(s.FileName, "rb");
    if (!f)
        return PostError("PpmClass::ReadPPM: %s cannot be opened (%s)", s.FileName,
                         std::strerror(errno));
    struct Closer { FILE* f; ~Closer() { std::fclose(f); } } closer{f};

    std::string magic;
    if (ReadHeaderLine(f, magic) && (magic[0] == 'P' || magic[0] == 'p') &&
        (magic.size() < 2 || magic[1] != '6'))
        return PostError("ReadPPM wrong Header!! Should be P6");

    PnmHeader h;
    if (!ReadDimensionsAndMax(f, "PpmClass::ReadPPM", s.FileName, false, h)) return true;
    const int b = h.maxVal > 255 ? 2 : 1;
    const int64_t headerEnd = std::ftell(f);
    if (!CheckDeclaredSize(h, 3, b, Utility::FileSize(s.FileName) - headerEnd,
                           "PpmClass::ReadPPM", s.FileName))
        return true;

    s.Width = static_cast<uint32_t>(h.width);
    s.Height = static_cast<uint32_t>(h.height);
    s.Samples = 3;
    s.Bits = 8;
    const size_t lineBytes = size_t{s.Width} * 3 * b;
    s.LineSize = Utility::RoundUp4(static_cast<uint32_t>(lineBytes));
    if (AllocWithSpare(*img, 2))
        return PostError("PpmClass::ReadPPM: no memory for the %u x %u pixels of %s", s.Width,
                         s.Height, s.FileName);

    // Kept in 64 bits: a maximum beyond 32 bits must not wrap to 0 and divide by it.
    const uint64_t maxVal = static_cast<uint64_t>(h.maxVal);
    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    progress.Start();
    for (uint32_t i = 0; i < s.Height; ++i) {
        unsigned char* line = s.ImgData + size_t{i} * s.LineSize;
        (void)std::fread(line, 1, lineBytes, f);  // the size check above covers the data
        if (b == 2) {
            for (uint32_t j = 0; j < 3 * s.Width; ++j) {
                const unsigned v = line[2 * j] | (unsigned(line[2 * j + 1]) << 8);
                line[j] = static_cast<unsigned char>((v & maxVal) * 255 / maxVal);
            }
        }
        progress.Line(static_cast<int>(i));
    }
    s.Type = IMG_TYPE_PPM;
    s.BgrOrder = 0;
    return false;
}

bool PgmClass::WritePGM(ImgClass* img) { return WritePnm(img, "P5", 1); }

bool PpmClass::WritePPM(ImgClass* img) {
    if (img && img->ImgStruct.BgrOrder) Swap_RGB(img);
    return WritePnm(img, "P6", 3);
}

bool PgmClass::GetPGMImgRect(const char* file, int left, int top, int right, int bottom,
                             ImgClass* out) {
    return CopyRectFromFile("PgmClass::GetPGMImgRect(..)", file, left, top, right, bottom, out);
}

bool PpmClass::GetPPMImgRect(const char* file, int left, int top, int right, int bottom,
                             ImgClass* out) {
    return CopyRectFromFile("PpmClass::GetPPMImgRect(..)", file, left, top, right, bottom, out);
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool Write_8BitPGM(ImgClass* img) { return Lib().pgm->WritePGM(img); }
ORVIX_API bool Write_8BitPPM(ImgClass* img) { return Lib().ppm->WritePPM(img); }

}  // extern "C"
