#include "library.h"

#include <cstdio>
#include <cstdlib>

#include "codecs/hdr.h"
#include "codecs/jpeg.h"
#include "codecs/pnm.h"
#include "codecs/tiff.h"
#include "processing/resample.h"
#include "processing/scale.h"
#include "remote/tarn_ftp.h"
#include "utility.h"

namespace orvix {

namespace {

void NoProgress(int, int) {}

Library* g_library = nullptr;

// A positive whole number from ORVIX_MAX_PIXELS; anything else leaves the default.
uint64_t MaxPixelsFromEnvironment() {
    const char* text = std::getenv("ORVIX_MAX_PIXELS");
    if (!text || !*text) return Library::kDefaultMaxPixels;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*end != '\0' || value == 0 || text[0] == '-') return Library::kDefaultMaxPixels;
    return value;
}

// The library's whole state is created when the shared object is loaded and
// destroyed when it is unloaded (the static archive the tests use behaves
// the same at program start and exit).
__attribute__((constructor)) void LoadLibraryState() {
    if (!g_library) g_library = new Library();
}

__attribute__((destructor)) void UnloadLibraryState() {
    delete g_library;
    g_library = nullptr;
}

}  // namespace

Library::Library()
    : maxPixels(MaxPixelsFromEnvironment()),
      readProgress(NoProgress),
      writeProgress(NoProgress),
      utility(std::make_unique<Utility>()),
      hdr(std::make_unique<HdrClass>()),
      pgm(std::make_unique<PgmClass>()),
      ppm(std::make_unique<PpmClass>()),
      jpg(std::make_unique<JPGClass>()),
      tiff(std::make_unique<TIFFClass>()),
      ftp(std::make_unique<Tarn_FTP>()) {}

Library::~Library() {
    // The remote session ends with the library, and its working files go.
    if (ftp) {
        Close_Inet();
        ftp->RemoveTmpFiles("", "");
    }
    R_Hist = G_Hist = B_Hist = nullptr;
}

Library& Lib() {
    // A call from another library's load-time initialiser may come before
    // ours has run.
    if (!g_library) g_library = new Library();
    return *g_library;
}

void ClearError() { Lib().lastError.clear(); }

bool PostError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (n > 0) {
        message.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(message.data(), message.size(), format, args);
        message.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return Post_Error(message.c_str());
}

void ClearWarning() { Lib().lastWarning.clear(); }

void PostWarning(const char* words) {
    std::string& warning = Lib().lastWarning;
    if (warning.empty() && words) warning = words;
}

size_t ErrorMark() { return Lib().lastError.size(); }

bool NamedSince(size_t mark, const char* path) {
    const std::string& text = Lib().lastError;
    if (!path || !*path) return false;
    // The text may have been cut from the front since mark; then all of it
    // is looked at.
    return text.find(path, mark <= text.size() ? mark : 0) != std::string::npos;
}

bool NameInFailure(size_t mark, const char* who, const char* path) {
    if (!NamedSince(mark, path)) PostError("%s(%s) failed", who, path ? path : "");
    return true;
}

ProgressFn ReadProgress() { return Lib().readProgress; }
ProgressFn WriteProgress() { return Lib().writeProgress; }

ImgClass& ImageCache() {
    Library& lib = Lib();
    if (!lib.imageCache) lib.imageCache = std::make_unique<ImgClass>();
    return *lib.imageCache;
}

CScaleImage& Scaler() {
    Library& lib = Lib();
    if (!lib.scaler) lib.scaler = std::make_unique<CScaleImage>();
    return *lib.scaler;
}

CResample& Resampler() {
    Library& lib = Lib();
    if (!lib.resampler) lib.resampler = std::make_unique<CResample>();
    return *lib.resampler;
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API int nORVIX_0500 = 0;

ORVIX_API bool Post_Error(const char* message) {
    std::string& text = Lib().lastError;
    if (!message || !*message) {
        text.clear();
        return true;
    }
    text += message;
    text += '\n';
    // Callers clear the text only now and then, and a damaged file can make
    // a codec report a fault for every row: past twice the bound the oldest
    // whole messages go, keeping the newest kMaxErrorText characters or so.
    if (text.size() > 2 * Library::kMaxErrorText) {
        const size_t from = text.size() - Library::kMaxErrorText;
        const size_t line = text.find('\n', from);
        text.erase(0, line == std::string::npos ? from : line + 1);
    }
    return true;
}

ORVIX_API const char* Get_Last_Error(void) { return Lib().lastError.c_str(); }

ORVIX_API const char* Get_Last_Warning(void) { return Lib().lastWarning.c_str(); }
ORVIX_API uint64_t Get_Max_Pixels(void) { return Lib().maxPixels; }

ORVIX_API const char* GetDll_Version(void) { return "2. 4. 7. 5"; }

ORVIX_API int fnORVIX_0500(void) { return 42; }

ORVIX_API void SetRW_Progress(ProgressFn read, ProgressFn write) {
    Lib().readProgress = read ? read : NoProgress;
    Lib().writeProgress = write ? write : NoProgress;
}

}  // extern "C"
