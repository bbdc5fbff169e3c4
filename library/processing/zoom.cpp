#include "processing/zoom.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codecs/hdr.h"
#include "codecs/jpeg.h"
#include "codecs/tiff.h"
#include "image_ops.h"
#include "library.h"
#include "os.h"
#include "remote/command_file.h"
#include "utility.h"

namespace orvix {

namespace {

constexpr int kMinCropSide = 30;

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Whole image when the caller's rectangle is missing or empty.
CRect StartRect(const CRect* rect, int iw, int ih) {
    if (rect && !rect->IsRectEmpty()) return *rect;
    return CRect{0, 0, iw, ih};
}

const char* Finish(std::string& buffer, const std::string& result) {
    buffer = result;
    return buffer.c_str();
}

// Moves and resizes the crop; empty with a message when it must not be used.
bool SettleCrop(ZoomState& z, int x, int y, int W, int H, double m, const CRect* rect) {
    z.CropRect = StartRect(rect, z.imageWidth, z.imageHeight);
    z.CropRect = CalcCropRect(x, y, CRect{0, 0, W, H}, m, z.CropRect, z.imageWidth, z.imageHeight);
    if (z.CropRect.IsRectEmpty()) {
        PostError("ZoomImage_Local: CropRct is empty");
        return false;
    }
    if (z.CropRect.Width() > z.imageWidth) {
        z.CropRect = CRect{};
        PostError("ZoomImage_Local: Crop.Width > Width");
        return false;
    }
    if (z.CropRect.Height() > z.imageHeight) {
        z.CropRect = CRect{};
        PostError("ZoomImage_Local: Crop.Height > Height");
        return false;
    }
    return true;
}

// Checks shared by every variant before anything changes. False with a
// message when the call cannot go on.
bool CheckZoomRequest(ZoomState& z, int W, int H, double m) {
    if (std::fabs(m) < 1.0) {
        z.CropRect = CRect{};
        PostError("ZoomImage_Local: Magnification < 1.0 CropRect was reset");
        return false;
    }
    // A frame without area has no pixels to map clicks or output onto.
    if (W <= 0 || H <= 0) {
        PostError("ZoomImage_Local: frame %d x %d has no area", W, H);
        return false;
    }
    if (std::string(Get_Temp_Path()).empty()) {
        PostError("ZoomImage_Local: Can't determine TEMP path");
        return false;
    }
    return true;
}

// A zoom goes on while the new crop, magnified once more, still fits the
// image; zooming out also goes on while the rectangle it started from was
// smaller than the image, so that the last step out to the whole image is
// made rather than refused.
bool SomethingLeftToZoom(const ZoomState& z, const CRect& start, double m) {
    const double am = std::fabs(m);
    const CRect& c = z.CropRect;
    if (z.imageWidth >= c.Width() * am || z.imageHeight >= c.Height() * am) return true;
    return m < 0 && (start.Width() < z.imageWidth || start.Height() < z.imageHeight);
}

// Writes the command file, names the result and writes it (unless the
// caller keeps the pixels); returns the result name or "".
std::string Deliver(ImgClass& out, int W, int H, int quality, bool writeFile) {
    ZoomState& z = Lib().zoom;
    if (GenerateLocalCmd(z.CropRect, W, H, quality)) {
        PostError("ZoomImageLocal:pTarn_FTP->GenerateLocalCmd(..) returned true");
        return {};
    }
    const std::string result = z.resultFile;
    CopyName(out.ImgStruct.FileName, result.c_str());
    if (writeFile) {
        // The name is returned even when the write fails; the writer's words
        // stay in the last-error text.
        if (quality > 0)
            Lib().jpg->WriteJPEG(quality, &out);
        else
            Lib().tiff->WriteTIFF(true, false, &out);
    }
    os::RemoveFile(z.commandFile);
    return result;
}

std::string ZoomOneImage(int x, int y, int W, int H, CRect* rect, double m, int quality,
                         ImgClass* in) {
    Library& lib = Lib();
    ZoomState& z = lib.zoom;
    if (!CheckZoomRequest(z, W, H, m)) return {};
    if (!in) {
        PostError("ZoomImage_Local: InImg is NULL");
        return {};
    }
    const std::string source = in->ImgStruct.FileName;
    if (source.empty()) {
        PostError("ZoomImage_Local: InImg is empty");
        return {};
    }
    if (!SameNameIgnoringCase(source, z.oneImageSource)) {
        z.CropRect = CRect{};
        z.oneImageSource = source;
    }
    const IMAGE_HDR& h = lib.hdr->Header();
    z.imageWidth = h.Width;
    z.imageHeight = h.Height;
    const CRect start = StartRect(rect, z.imageWidth, z.imageHeight);
    if (!SettleCrop(z, x, y, W, H, m, rect)) return {};
    if (!SomethingLeftToZoom(z, start, m)) return {};
    ImgClass out;
    ZoomCrop(z.CropRect, *in, out, W, H, z.imageHeight);
    if (!out.ImgStruct.ImgData) return {};
    return Deliver(out, W, H, quality, true);
}

}  // namespace

CRect CalcCropRect(int x, int y, const CRect& frame, double m, const CRect& c, int iw, int ih) {
    if (std::fabs(m) < 1.0) {
        PostError("Tarn_FTP::CalcCropRect: (fabs) Zoom <= 1.0");
        return CRect{};
    }
    const double fw = frame.right - frame.left;
    const double fh = frame.bottom - frame.top;
    if (fw <= 0 || fh <= 0) return CRect{};
    const int cw = c.right - c.left;
    const int ch = c.bottom - c.top;
    const int cx = c.left + static_cast<int>(std::trunc(cw / fw * (x - frame.left)));
    const int cy = c.top + static_cast<int>(std::trunc(ch / fh * (y - frame.top)));
    const double f = m > 1.0 ? 1.0 / m : std::fabs(m);
    const int nw = std::min(static_cast<int>(std::trunc(cw * f)), iw);
    const int nh = std::min(static_cast<int>(std::trunc(ch * f)), ih);
    CRect r{cx - nw / 2, cy - nh / 2, cx + nw / 2, cy + nh / 2};
    if (r.left < 0) {
        r.left = 0;
        r.right = nw;
    }
    if (r.right > iw) {
        r.right = iw;
        r.left = iw - nw;
    }
    if (r.top < 0) {
        r.top = 0;
        r.bottom = nh;
    }
    if (r.bottom > ih) {
        r.bottom = ih;
        r.top = ih - nh;
    }
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    if (r.right - r.left < kMinCropSide || r.bottom - r.top < kMinCropSide) return CRect{};
    return r;
}

void ZoomCrop(const CRect& crop, const ImgClass& in, ImgClass& out, int W, int H, int imageHeight) {
    const ImgStruct& s = in.ImgStruct;
    if (!s.ImgData || crop.IsRectEmpty() || W <= 0 || H <= 0) return;
    const double xs = static_cast<double>(crop.Width()) / W;
    const double ys = static_cast<double>(crop.Height()) / H;
    ImgStruct& o = out.ImgStruct;
    const uint32_t samples = s.Samples > 0 ? static_cast<uint32_t>(s.Samples) : 1;
    o.Width = static_cast<uint32_t>(W);
    o.Height = static_cast<uint32_t>(H);
    o.Samples = s.Samples;
    o.Bits = s.Bits;
    o.BgrOrder = s.BgrOrder;
    o.LineSize = Utility::RoundUp4((static_cast<uint32_t>(W) + 8) * samples);
    if (AllocWithSpare(out, 8)) return;
    for (int i = 0; i < H - 1; ++i) {
        if (crop.top + i * ys >= imageHeight) break;
        const int64_t line = crop.top + static_cast<int64_t>(i * ys);
        if (line < 0 || line >= int64_t{s.Height}) break;
        const unsigned char* from = s.ImgData + size_t(line) * s.LineSize;
        unsigned char* to = o.ImgData + size_t(i) * o.LineSize;
        for (int j = 0; j < W; ++j) {
            // The column stays inside the source even when the zoom state's
            // image is wider than the pixels at hand.
            int64_t col = crop.left + static_cast<int64_t>(j * xs);
            col = std::clamp<int64_t>(col, 0, int64_t{s.Width} - 1);
            const unsigned char* p = from + size_t(col) * samples;
            unsigned char* q = to + size_t(j) * samples;
            std::memcpy(q, p, samples);
        }
    }
}

void CropCopy(const CRect& rect, const ImgClass& in, ImgClass& out) {
    if (rect.IsRectEmpty()) return;
    CopyRectangle(rect, in, out, 3);
}

}  // namespace orvix

using namespace orvix;

ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               ImgClass* in) {
    ClearError();
    ZoomState& z = Lib().zoom;
    return const_cast<char*>(Finish(z.oneImageResult, ZoomOneImage(x, y, W, H, rect, m, quality, in)));
}

ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               ImgClass* in, ImgClass* out) {
    ClearError();
    ZoomState& z = Lib().zoom;
    std::string& result = z.twoImageResult;
    result.clear();
    if (!CheckZoomRequest(z, W, H, m)) return result.data();
    if (!in || !out) return result.data();
    const std::string source = in->ImgStruct.FileName;
    if (source.empty()) {
        PostError("ZoomImage_Local: InImg is empty");
        return result.data();
    }
    if (!SameNameIgnoringCase(source, z.twoImageSource)) {
        z.CropRect = CRect{};
        z.twoImageSource = source;
    }
    z.imageWidth = static_cast<int>(in->ImgStruct.Width);
    z.imageHeight = static_cast<int>(in->ImgStruct.Height);
    const CRect start = StartRect(rect, z.imageWidth, z.imageHeight);
    if (!SettleCrop(z, x, y, W, H, m, rect)) return result.data();
    if (!SomethingLeftToZoom(z, start, m)) return result.data();
    out->ImgStruct.BgrOrder = in->ImgStruct.BgrOrder;
    ZoomCrop(z.CropRect, *in, *out, W, H, z.imageHeight);
    if (!out->ImgStruct.ImgData) return result.data();
    return const_cast<char*>(Finish(result, Deliver(*out, W, H, quality, false)));
}

ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               char* name) {
    ClearError();
    Library& lib = Lib();
    ZoomState& z = lib.zoom;
    std::string& result = z.byNameResult;
    result.clear();
    if (!CheckZoomRequest(z, W, H, m)) return result.data();
    const std::string source = name ? name : "";
    if (source.empty()) {
        PostError("ZoomImage_Local: InImg is empty");
        return result.data();
    }
    ImgClass& cache = ImageCache();
    const IMAGE_HDR& h = lib.hdr->Header();
    if (!SameNameIgnoringCase(source, z.byNameSource)) {
        z.CropRect = CRect{};
        if (std::strcmp(h.FileName, z.byNameSource.c_str()) != 0) {
            // A new image: decode it once into the cache; later zooms sample
            // the cached pixels.
            if (std::strcmp(cache.ImgStruct.FileName, h.FileName) != 0 || !cache.ImgStruct.ImgData) {
                cache.FreeData();
                CopyName(cache.ImgStruct.FileName, h.FileName);
                if (ReadImage(false, &cache)) {
                    cache.FreeData();
                    cache.ImgStruct.FileName[0] = '\0';
                }
            }
            if (cache.ImgStruct.ImgData) z.byNameSource = cache.ImgStruct.FileName;
        }
    }
    if (cache.ImgStruct.ImgData && SameNameIgnoringCase(cache.ImgStruct.FileName, z.byNameSource))
        return const_cast<char*>(Finish(result, ZoomOneImage(x, y, W, H, rect, m, quality, &cache)));

    // The image is not held in memory: read only the crop from the file.
    z.imageWidth = h.Width;
    z.imageHeight = h.Height;
    if (!SettleCrop(z, x, y, W, H, m, rect)) return result.data();
    ImgClass piece;
    if (lib.utility->GetImgRect(h.FileName, z.CropRect, &piece, H)) return result.data();
    ImgClass out;
    SubsampleLocalImage(&piece, &out, W, H);
    if (!out.ImgStruct.ImgData) return result.data();
    return const_cast<char*>(Finish(result, Deliver(out, W, H, quality, true)));
}

extern "C" {

ORVIX_API bool GetCropRect(CRect* out) {
    const CRect& crop = Lib().zoom.CropRect;
    if (out) *out = crop;
    return crop.IsRectEmpty();
}

ORVIX_API bool Reset_TarnDb(void) {
    Lib().zoom.CropRect = CRect{0, 0, 0, 0};
    ClearError();
    return false;
}

ORVIX_API bool GetCropImage(int width, CRect* rect, char* name, ImgClass* out) {
    ClearError();
    Library& lib = Lib();
    if (!rect || !out || !name) return PostError("GetCropImage: no rectangle, image or name");
    if (lib.hdr->MakeHeader(name)) return PostError("Unrecognized Image type");
    const IMAGE_HDR& h = lib.hdr->Header();
    ImgClass& cache = ImageCache();
    if (std::strcmp(cache.ImgStruct.FileName, h.FileName) != 0 || !cache.ImgStruct.ImgData) {
        cache.FreeData();
        CopyName(cache.ImgStruct.FileName, h.FileName);
        if (ReadImage(false, &cache)) {
            cache.FreeData();
            cache.ImgStruct.FileName[0] = '\0';
            return true;
        }
    }
    if (!RectInsideImage(*rect, cache))
        return PostError("GetCropImage: rectangle (%d,%d)-(%d,%d) lies outside the %ux%u image",
                         rect->left, rect->top, rect->right, rect->bottom, cache.ImgStruct.Width,
                         cache.ImgStruct.Height);
    if (width == rect->Width()) {
        CropCopy(*rect, cache, *out);
    } else {
        ImgClass piece;
        CropCopy(*rect, cache, piece);
        SubsampleLocalImage(&piece, out, width, -1);
    }
    return false;
}

}  // extern "C"
