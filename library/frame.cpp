// The exported frame: temporary folder and working-file names, file type
// detection, file queries and search.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "codecs/heif.h"
#include "codecs/targa.h"
#include "codecs/tiff.h"
#include "library.h"
#include "os.h"
#include "remote/tarn_ftp.h"
#include "utility.h"

using namespace orvix;

namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

extern "C" {

ORVIX_API const char* Get_Temp_Path(void) {
    Library& lib = Lib();
    if (lib.tempPath.empty()) {
        lib.tempPath = os::SystemTempFolder();
        if (lib.tempPath.empty()) {
            Post_Error("Can't determine TEMP path");
            lib.tempPathResult.assign(1, '.');
            return lib.tempPathResult.c_str();
        }
    }
    lib.tempPathResult = lib.tempPath;
    return lib.tempPathResult.c_str();
}

ORVIX_API void Set_Temp_Path(const char* folder) {
    std::string path = Text(folder);
    if (path.empty()) return;
    if (!os::IsSeparator(path.back())) path += os::kSeparator;
    if (path.size() >= ORVIX_MAX_PATH) {
        PostError("Set_Temp_Path: folder name longer than %d characters", ORVIX_MAX_PATH - 1);
        return;
    }
    Lib().tempPath = path;
}

ORVIX_API const char* MakeTemp_FileName(const char* file, const char* ext) {
    Library& lib = Lib();
    lib.tempNameResult = lib.utility->MakeTempName(Text(file), Text(ext));
    return lib.tempNameResult.c_str();
}

ORVIX_API void Cleanup(const char* folder) { Lib().ftp->RemoveTmpFiles(Text(folder), ""); }

ORVIX_API const char* Find_File(const char* name) {
    Library& lib = Lib();
    lib.findFileResult = lib.utility->FindFile(Text(name));
    return lib.findFileResult.c_str();
}

ORVIX_API int Get_File_Type(const char* path) {
    if (!path || !*path) return IMG_TYPE_UNKNOWN;
    if (Utility::IsRawName(path)) return IMG_TYPE_RAW;

    FILE* f = std::fopen(path, "rb");
    if (!f) return IMG_TYPE_UNKNOWN;
    unsigned char head[255] = {};
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n == 0) return IMG_TYPE_UNKNOWN;
    // A Targa file has no signature once it holds an identifier or a colour
    // map: its extension and a valid header decide then.
    const auto targaOrUnknown = [path] {
        return Utility::HasExtension(path, ".tga") && TargaClass::LooksLikeTarga(path) ? IMG_TYPE_TARGA
                                                                                    : IMG_TYPE_UNKNOWN;
    };

    // Signatures of the formats whose first byte says too little: an ISO
    // media file's first byte is that of its box size, often 0.
    if (n >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0) return IMG_TYPE_PNG;
    if (n >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return IMG_TYPE_WEBP;
    if (IsHeifSignature(head, n)) return IMG_TYPE_HEIF;

    switch (head[0]) {
    case 0:
        return n >= 2 && head[1] == 0 ? IMG_TYPE_TARGA : targaOrUnknown();
    case 'I':
    case 'M': {
        // The TIFF codec decides; a file it refuses has no type.
        TiffDescription desc;
        if (Lib().tiff->DescribeFile(path, desc)) return IMG_TYPE_UNKNOWN;
        return desc.zul ? IMG_TYPE_ZUL : IMG_TYPE_TIFF;
    }
    case 0xFF:
        return n >= 3 && head[1] == 0xD8 && head[2] == 0xFF ? IMG_TYPE_JPEG : IMG_TYPE_UNKNOWN;
    case 'P':
    case 'p':
        if (n >= 2 && head[1] == '6') return IMG_TYPE_PPM;
        if (n >= 2 && head[1] == '5') return IMG_TYPE_PGM;
        return IMG_TYPE_UNKNOWN;
    case 'B':
    case 'b':
        return n >= 2 && (head[1] == 'M' || head[1] == 'm') ? IMG_TYPE_BMP : IMG_TYPE_UNKNOWN;
    default:
        return targaOrUnknown();
    }
}

}  // extern "C"

ORVIX_API bool IsEmptyFile(const char* path) { return IsEmptyFile(path, nullptr); }

ORVIX_API bool IsEmptyFile(const char* path, int64_t* size) {
    const os::FileStatus st = os::Stat(Text(path));
    if (size) *size = st.exists ? st.size : 0;
    return !st.exists || st.size == 0;
}
