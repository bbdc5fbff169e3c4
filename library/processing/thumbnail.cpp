#include "processing/thumbnail.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "codecs/hdr.h"
#include "codecs/jpeg.h"
#include "codecs/tiff.h"
#include "image_ops.h"
#include "library.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// Writes a made thumbnail: JPEG at quality when it is 1 to 100, else TIFF.
// The codecs' members, not the exports, which would clear the text.
bool WriteThumbnail(ImgClass& thumb, int quality, bool lzw) {
    if (quality >= 1 && quality <= 100) return Lib().jpg->WriteJPEG(quality, &thumb);
    return Lib().tiff->WriteTIFF(lzw, false, &thumb);
}

}  // namespace

bool makeLocalThn(const char* headerFileIn, const char* thumbnailName, ImgClass* img) {
    std::string headerFile = Text(headerFileIn);
    while (!headerFile.empty() && (headerFile.back() == '\r' || headerFile.back() == '\n'))
        headerFile.pop_back();
    Library& lib = Lib();
    HdrClass& hdr = *lib.hdr;

    std::string working = headerFile;
    Utility::SetExtension(working, "tnl");
    bool intoImage = false;
    if (Utility::FileExists(headerFile)) {
        if (hdr.ReadHeader(headerFile.c_str()))
            return PostError("makeLocalThn: Open failed on %s", working.c_str());
        if (thumbnailName) {
            if (*thumbnailName) working = thumbnailName;
            // An image with no thumbnail name asks for the thumbnail in memory.
            else if (img) intoImage = true;
        }
    }
    const IMAGE_HDR& h = hdr.Header();
    if (h.Type < 0) return PostError("makeLocalThn: Wrong extention - %s\n", headerFile.c_str());

    ImgClass& cache = ImageCache();
    const bool cached = std::strcmp(cache.ImgStruct.FileName, h.FileName) == 0 &&
                        cache.ImgStruct.ImgData != nullptr;
    if (!cached) {
        cache.FreeData();
        CopyName(cache.ImgStruct.FileName, h.FileName);
    }
    const int width = lib.thumbnails.width;

    if (h.Type == IMG_TYPE_TIFF) {
        if (intoImage) return lib.tiff->TiffmakeLocalThn(width, h.FileName, img);
        // The writer's failure is the thumbnail's failure.
        return lib.tiff->TiffmakeLocalThnFile(width, h.FileName, working.c_str());
    }

    if (!cached && ReadImage(false, &cache)) {
        // A partial decode is no image; the next request decodes again.
        cache.FreeData();
        cache.ImgStruct.FileName[0] = '\0';
        return PostError("ReadImage failed on %s\n", h.FileName);
    }
    ImgClass made;
    ImgClass& thumb = intoImage ? *img : made;
    thumb.FreeData();
    thumb.ImgStruct.Type = cache.ImgStruct.Type;
    SubsampleLocalImage(&cache, &thumb, width, -1);
    if (!thumb.ImgStruct.ImgData) return PostError("Make_Local_Tnl::SubsampleLocalImage failed");
    if (!CopyName(thumb.ImgStruct.FileName, intoImage ? "" : working.c_str()))
        return PostError("makeLocalThn: thumbnail name too long");
    thumb.ImgStruct.Samples = cache.ImgStruct.Samples;
    thumb.ImgStruct.Bits = cache.ImgStruct.Bits;
    thumb.ImgStruct.XOrigin = thumb.ImgStruct.YOrigin = 0;
    if (intoImage) return false;
    if (lib.thumbnails.jpegOn) return lib.jpg->WriteJPEG(lib.thumbnails.quality, &thumb);
    return lib.tiff->WriteTIFF(true, false, &thumb);
}

namespace {

// Reads the rows of the open TIFF that a thumbnail of thumbWidth pixels
// needs into work: only the selected rows are converted, in file order.
// False with a message (when who is given) on failure.
bool ReadSelectedRows(TIFFClass& tiff, int thumbWidth, ImgClass& work, const char* who) {
    const TiffDescription& d = tiff.Description();
    const double x = static_cast<double>(d.imageWidth) / thumbWidth;
    uint32_t n = static_cast<uint32_t>(std::trunc(d.imageLength / x));
    ImgStruct& w = work.ImgStruct;
    w.Width = d.imageWidth;
    w.Height = n;
    w.Samples = d.samples;
    const uint64_t lineSize = Utility::RoundUp4(uint64_t(d.imageWidth) * static_cast<uint64_t>(d.samples));
    if (n == 0 || lineSize > UINT32_MAX) {
        if (who) PostError("%s: no rows to sample", who);
        return false;
    }
    w.LineSize = static_cast<uint32_t>(lineSize);
    if (AllocWithSpare(work, 2)) {
        if (who) PostError("%s: no memory for %u rows", who, n);
        return false;
    }
    Progress progress(ReadProgress(), static_cast<int>(n));
    if (d.compression == 1) {
        // Stored rows can be read in any order: take row trunc(x * i).
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t row = static_cast<uint32_t>(x * i);
            if (row >= d.imageLength) {
                w.Height = i;
                break;
            }
            if (tiff.GetLine(&work, row, i, 0, d.imageWidth)) {
                if (who) PostError("TIFFClass::TiffmakeLocalThn GetLine failed");
                return false;
            }
            progress.Line(static_cast<int>(i));
        }
    } else {
        // Compressed rows decode in order, each once: work row k comes from
        // the first file row whose target is k; the rows between are decoded
        // and dropped, unconverted.
        int64_t previous = -1;
        for (uint32_t r = 0; r < d.imageLength; ++r) {
            const int64_t target = static_cast<int64_t>(r / x);
            if (target >= n) break;
            const bool wanted = target != previous;
            if (wanted ? tiff.GetLine(&work, r, static_cast<uint32_t>(target), 0, d.imageWidth)
                       : tiff.SkipLine(r)) {
                if (who) PostError("TIFFClass::TiffmakeLocalThn GetLine failed");
                return false;
            }
            if (!wanted) continue;
            previous = target;
            progress.Line(static_cast<int>(target));
        }
    }
    return w.Height > 0;
}

// The whole image, for files the row reader cannot serve (enlargements,
// colour models it does not convert).
bool ReadWhole(TIFFClass& tiff, const char* file, ImgClass& work) {
    if (!CopyName(work.ImgStruct.FileName, file)) return false;
    return tiff.ReadTIFFtoMem(false, &work) != nullptr;
}

// Fills work with the rows a thumbnail of width pixels needs. rows becomes
// the height to sample work to: its own height when only the needed rows
// were read, -1 (keep the aspect) when the whole image was.
bool SampleSource(TIFFClass& tiff, int width, const char* file, ImgClass& work, const char* who,
                  int& rows) {
    rows = -1;
    TiffDescription d;
    if (tiff.DescribeFile(file, d)) {
        if (who) PostError("%s(%s)(..) FAILED OpenTiffFile(%s) failed", who, file, file);
        return false;
    }
    const double x = static_cast<double>(d.imageWidth) / width;
    const bool enlarging = d.imageLength < std::trunc(d.imageLength / x);
    if (enlarging || d.zul || d.photometric > 3 || d.samples == 0) return ReadWhole(tiff, file, work);
    if (!tiff.OpenTiffFile(file)) {
        if (who) PostError("%s(%s)(..) FAILED OpenTiffFile(%s) failed", who, file, file);
        return false;
    }
    const bool ok = ReadSelectedRows(tiff, width, work, who);
    tiff.CloseTiff();
    rows = static_cast<int>(work.ImgStruct.Height);
    return ok;
}

}  // namespace

bool TIFFClass::TiffmakeLocalThn(int size, const char* file, ImgClass* thumb) {
    const char* who = "TIFFClass::TiffmakeLocalThn";
    if (!thumb) return PostError("TIFFClass::TiffmakeLocalThn Thn is NULL");
    if (size < 1) return PostError("Make_Local_Tnl: Size <= 0\n");
    Lib().thumbnails.width = size;
    ImgClass work;
    int rows = -1;
    if (!SampleSource(*this, size, file, work, who, rows)) return true;
    thumb->FreeData();
    SubsampleLocalImage(&work, thumb, size, rows);
    thumb->ImgStruct.BgrOrder = 0;
    if (!thumb->ImgStruct.ImgData) return PostError("Make_Local_Tnl::SubsampleLocalImage failed");
    return false;
}

bool TIFFClass::TiffmakeLocalThnFile(int size, const char* file, const char* thumbName) {
    if (size < 1) return PostError("Make_Local_Tnl: Size <= 0\n");
    ImgClass work;
    int rows = -1;
    if (!SampleSource(*this, size, file, work, "TIFFClass::TiffmakeLocalThn", rows)) return true;
    ImgClass out;
    SubsampleLocalImage(&work, &out, size, rows);
    if (!out.ImgStruct.ImgData)
        return PostError("Make_Local_Tnl::SubsampleLocalImage failed on %s", file);
    std::string name = thumbName && *thumbName ? thumbName : file;
    if (!(thumbName && *thumbName)) Utility::SetExtension(name, "tnl");
    if (!CopyName(out.ImgStruct.FileName, name.c_str()))
        return PostError("TIFFClass::TiffmakeLocalThn: thumbnail name too long: %s", name.c_str());
    const int quality = Lib().thumbnails.quality;
    if (quality != 0) return WriteJPEG(quality, &out);
    return WriteTIFF(false, false, &out);
}

}  // namespace orvix

using namespace orvix;

extern "C" ORVIX_API bool SubsampleLocalImage(ImgClass* src, ImgClass* dst, int width, int height) {
    if (!src || !dst || !src->ImgStruct.ImgData || width <= 0) return false;
    const ImgStruct& s = src->ImgStruct;
    if (s.Width == 0 || s.Height == 0) return false;
    const double xStep = static_cast<double>(s.Width) / width;
    const double yStep = height > 0 ? static_cast<double>(s.Height) / height : xStep;
    const double rows = std::trunc(s.Height / yStep);
    if (!(rows >= 1.0) || rows > 0x7FFFFFFF) return false;

    ImgStruct& d = dst->ImgStruct;
    const uint32_t samples = s.Samples > 0 ? static_cast<uint32_t>(s.Samples) : 1;
    const uint64_t lineSize = Utility::RoundUp4(uint64_t(width) * samples);
    if (lineSize > UINT32_MAX) return false;
    d.Width = static_cast<uint32_t>(width);
    d.Height = static_cast<uint32_t>(rows);
    d.Samples = static_cast<int32_t>(samples);
    d.LineSize = static_cast<uint32_t>(lineSize);
    d.BgrOrder = s.BgrOrder;
    if (AllocWithSpare(*dst, 10)) return false;

    // Whole pixels, alpha included.
    const size_t copy = samples;
    const size_t srcPx = samples;
    for (uint32_t y = 0; y < d.Height; ++y) {
        const uint32_t sy = std::min(static_cast<uint32_t>(y * yStep), s.Height - 1);
        const unsigned char* from = s.ImgData + size_t{sy} * s.LineSize;
        unsigned char* to = d.ImgData + size_t{y} * d.LineSize;
        for (uint32_t x = 0; x < d.Width; ++x) {
            const uint32_t sx = std::min(static_cast<uint32_t>(x * xStep), s.Width - 1);
            std::memcpy(to + size_t{x} * srcPx, from + size_t{sx} * srcPx, copy);
        }
    }
    return false;
}

namespace {

// The five-argument form without clearing the text.
bool ThumbnailOfImage(int quality, int size, char* headerFile, char* thumbnailFile, ImgClass* img) {
    Library& lib = Lib();
    lib.thumbnails.width = size;
    if (!thumbnailFile || !*thumbnailFile) {
        if (!img) return PostError("Make_Local_Tnl: neither a thumbnail name nor an image given");
        if (!img->ImgStruct.ImgData) return makeLocalThn(headerFile, "", img);
    }
    if (thumbnailFile && Utility::FileExists(thumbnailFile)) return false;
    if (size < 1) return PostError("Make_Local_Tnl: Size <= 0\n");
    ImgClass thumb;
    SubsampleLocalImage(img, &thumb, size, -1);
    if (!thumb.ImgStruct.ImgData) return PostError("Make_Local_Tnl::SubsampleLocalImage failed");
    if (!CopyName(thumb.ImgStruct.FileName, thumbnailFile ? thumbnailFile : ""))
        return PostError("Make_Local_Tnl: thumbnail name too long");
    return WriteThumbnail(thumb, quality, false);
}

// The four-argument form without clearing the text.
bool ThumbnailOfHeader(int quality, int size, char* headerFile, char* thumbnailFile) {
    Library& lib = Lib();
    bool madeFromCache = false;
    ImgClass& cache = ImageCache();
    if (cache.ImgStruct.ImgData &&
        std::strcmp(lib.hdr->Header().FileName, cache.ImgStruct.FileName) == 0) {
        if (ThumbnailOfImage(quality, size, headerFile, thumbnailFile, &cache)) return true;
        madeFromCache = true;
    }
    lib.thumbnails.width = size;
    if (size <= 0) return PostError("Make_Local_Tnl: Size <= 0\n");
    lib.thumbnails.quality = quality;
    if (quality == 0) lib.thumbnails.jpegOn = false;
    // The thumbnail made from the cached image is the one asked for; making
    // it again from the file would only repeat the work.
    if (madeFromCache) return false;
    return makeLocalThn(headerFile, thumbnailFile, nullptr);
}

// The words of a failed thumbnail name the file asked about: the header
// file, or the thumbnail when no header file was named.
bool ThumbnailFailed(const char* headerFile, const char* thumbnailFile) {
    const char* file = headerFile && *headerFile ? headerFile : thumbnailFile;
    // The image file the header names counts as named too.
    const char* image = Lib().hdr->Header().FileName;
    if (*image && Lib().lastError.find(image) != std::string::npos) return true;
    return NameInFailure(0, "Make_Local_Tnl", file);
}

}  // namespace

ORVIX_API bool Make_Local_Tnl(int quality, int size, char* headerFile, char* thumbnailFile,
                              ImgClass* img) {
    ClearError();
    if (!ThumbnailOfImage(quality, size, headerFile, thumbnailFile, img)) return false;
    return ThumbnailFailed(headerFile, thumbnailFile);
}

ORVIX_API bool Make_Local_Tnl(int quality, int size, char* headerFile, char* thumbnailFile) {
    ClearError();
    if (!ThumbnailOfHeader(quality, size, headerFile, thumbnailFile)) return false;
    return ThumbnailFailed(headerFile, thumbnailFile);
}
