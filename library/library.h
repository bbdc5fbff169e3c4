// Library-wide state: one object, created when the library is loaded and
// destroyed when it is unloaded. Everything the library keeps between calls
// lives here.
#pragma once

#include <array>
#include <cstdarg>
#include <memory>
#include <string>

#include "ORVIX_0500.h"
#include "processing/thumbnail.h"
#include "processing/zoom.h"

namespace orvix {

class Utility;
class HdrClass;
class JPGClass;
class PgmClass;
class PpmClass;
class Tarn_FTP;
class TIFFClass;
class CScaleImage;
class CResample;

struct Library {
    // Larger than any real photograph or scan (a 32768 x 32768 image).
    static constexpr uint64_t kDefaultMaxPixels = uint64_t{1} << 30;
    // The last-error text keeps about this many of its newest characters.
    static constexpr size_t kMaxErrorText = 64 * 1024;

    Library();
    ~Library();

    std::string lastError;
    // Words of the first warning that pixels of the last image read are
    // missing or corrupt; empty when none was.
    std::string lastWarning;
    std::string tempPath;  // empty until first needed or set
    // The most pixels a reader will allocate for one image: ORVIX_MAX_PIXELS
    // from the environment at load, else kDefaultMaxPixels.
    uint64_t maxPixels;
    ProgressFn readProgress;
    ProgressFn writeProgress;

    // The worker instances.
    std::unique_ptr<Utility> utility;
    std::unique_ptr<HdrClass> hdr;  // holds the current header
    std::unique_ptr<PgmClass> pgm;
    std::unique_ptr<PpmClass> ppm;
    std::unique_ptr<JPGClass> jpg;
    std::unique_ptr<TIFFClass> tiff;  // holds the one open TIFF handle
    std::unique_ptr<Tarn_FTP> ftp;  // the remote server client

    // The last image read whole, kept so that repeated requests on one file
    // decode it once. Made on first use.
    std::unique_ptr<ImgClass> imageCache;

    ThumbnailSettings thumbnails;
    ZoomState zoom;
    // The scaling engine with its weight tables; made on first use.
    std::unique_ptr<CScaleImage> scaler;
    // The antialiasing resampler and its choice of kernels; made on first use.
    std::unique_ptr<CResample> resampler;

    // Histogram counters behind R_Hist, G_Hist and B_Hist; made on first use.
    std::unique_ptr<std::array<std::array<uint32_t, 256>, 3>> histograms;

    // Result buffers of the exports that return texts.
    std::string findFileResult;
    std::string tempNameResult;
    std::string tempPathResult;
    IMAGE_HDR hdrNameResult{};  // Get_FileName_From_HDR
};

// The state of the loaded library.
Library& Lib();

// Last-error text helpers used inside the library.
void ClearError();
// Posts the formatted message (appends it and a newline); returns true.
bool PostError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The warning of the last image read: cleared when a pixel read starts (and
// when it fails); PostWarning keeps the first words given after that.
void ClearWarning();
void PostWarning(const char* words);

// Where the last-error text ends now, so that a caller can tell later what
// an operation posted.
size_t ErrorMark();
// Whether the words posted since mark name path.
bool NamedSince(size_t mark, const char* path);
// For an operation on path that failed: when the words posted since mark do
// not name path (libjpeg's and libtiff's rarely do), adds "who(path) failed"
// after them. Returns true.
bool NameInFailure(size_t mark, const char* who, const char* path);

// The registered progress receivers (never null).
ProgressFn ReadProgress();
ProgressFn WriteProgress();

ImgClass& ImageCache();

// The scaling engine (its weight tables are built when it is made).
CScaleImage& Scaler();

// The antialiasing resampler.
CResample& Resampler();

}  // namespace orvix
