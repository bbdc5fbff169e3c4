#include "metadata.h"

#include "text.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

namespace tolvane {

namespace {

// Exiv2 reports damage through its log, not only by throwing. While one of
// these lives, the log's warnings and errors are kept for the report
// instead of being printed.
class ExivWords {
public:
    ExivWords() {
        static std::once_flag once;
        std::call_once(once, [] {
            Exiv2::XmpParser::initialize();
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
            Exiv2::LogMsg::setHandler(&ExivWords::Collect);
        });
        current_ = this;
    }
    ~ExivWords() { current_ = nullptr; }
    ExivWords(const ExivWords&) = delete;
    ExivWords& operator=(const ExivWords&) = delete;

    // Exiv2's first complaint, on one line.
    std::string First() const { return OneLine(text_); }

private:
    static void Collect(int, const char* message) {
        if (current_ && current_->text_.empty() && message) current_->text_ = message;
    }
    static inline ExivWords* current_ = nullptr;
    std::string text_;
};

// Only JPEG and TIFF files carry what the program keeps.
Exiv2::Image::AutoPtr OpenPhoto(const std::string& path) {
    const int type = Exiv2::ImageFactory::getType(path);
    if (type != Exiv2::ImageType::jpeg && type != Exiv2::ImageType::tiff) return Exiv2::Image::AutoPtr();
    return Exiv2::ImageFactory::open(path);
}

// The tags of the first directory that describe the stored picture, not the
// photo: the copy's own writer sets them, and the profile, IPTC and XMP are
// carried on their own.
bool DescribesStorage(const Exiv2::Exifdatum& d) {
    static const std::set<std::string> kStorage = {
        "NewSubfileType", "SubfileType", "ImageWidth", "ImageLength", "BitsPerSample",
        "Compression", "PhotometricInterpretation", "FillOrder", "StripOffsets",
        "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration",
        "Predictor", "TileWidth", "TileLength", "TileOffsets", "TileByteCounts", "SubIFDs",
        "ExtraSamples", "SampleFormat", "JPEGTables", "JPEGProc", "JPEGInterchangeFormat",
        "JPEGInterchangeFormatLength", "YCbCrCoefficients", "YCbCrSubSampling",
        "YCbCrPositioning", "ReferenceBlackWhite", "ColorMap", "InterColorProfile",
        "XMLPacket", "IPTCNAA", "ImageResources", "XResolution", "YResolution", "ResolutionUnit"};
    const std::string group = d.groupName();
    // Further pages (Image2, Image3 ...), sub-images and thumbnails are
    // structures of the source file; carried, they would chain directories
    // the copy does not have.
    if (group == "Thumbnail" || group.rfind("SubImage", 0) == 0 || group.rfind("SubThumb", 0) == 0 ||
        (group.rfind("Image", 0) == 0 && group != "Image"))
        return true;
    return group == "Image" && kStorage.count(d.tagName()) != 0;
}

struct Carried {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    Exiv2::DataBuf icc;
};

// The source's metadata; throws Exiv2's error when it cannot be read.
void ReadCarried(const std::string& source, Carried& c) {
    Exiv2::Image::AutoPtr in = OpenPhoto(source);
    if (!in.get()) return;
    in->readMetadata();
    for (const Exiv2::Exifdatum& d : in->exifData())
        if (!DescribesStorage(d)) c.exif.add(d);
    c.iptc = in->iptcData();
    c.xmp = in->xmpData();
    if (in->iccProfileDefined()) {
        const Exiv2::DataBuf* icc = in->iccProfile();
        c.icc.alloc(icc->size_);
        std::copy(icc->pData_, icc->pData_ + icc->size_, c.icc.pData_);
    }
}

// Thousandths keep a resolution such as 11.811 lines per mm.
Exiv2::URational Rational(double v) {
    if (v == std::floor(v) || v >= 4e6) return {uint32_t(std::min(std::round(v), 4e9)), 1};
    return {uint32_t(std::lround(v * 1000)), 1000};
}

void SetXmpIfPresent(Exiv2::XmpData& xmp, const char* key, const std::string& value) {
    auto it = xmp.findKey(Exiv2::XmpKey(key));
    if (it != xmp.end()) it->setValue(value);
}

// The kept tags changed to say what the copy is: its orientation, its
// size and the resolution it was written with; no thumbnail of the old
// picture.
void DescribeCopy(Carried& c, const CopyFacts& f) {
    if (c.exif.empty()) return;
    c.exif["Exif.Image.Orientation"] = uint16_t(1);
    Exiv2::ExifThumb(c.exif).erase();
    c.exif["Exif.Photo.PixelXDimension"] = uint32_t(f.width);
    c.exif["Exif.Photo.PixelYDimension"] = uint32_t(f.height);
    if ((f.resUnit == 2 || f.resUnit == 3) && f.resolution > 0) {
        c.exif["Exif.Image.XResolution"] = Rational(f.resolution);
        c.exif["Exif.Image.YResolution"] = Rational(f.resolution);
        c.exif["Exif.Image.ResolutionUnit"] = uint16_t(f.resUnit);
    }
    SetXmpIfPresent(c.xmp, "Xmp.tiff.Orientation", "1");
    SetXmpIfPresent(c.xmp, "Xmp.exif.PixelXDimension", Format("%d", f.width));
    SetXmpIfPresent(c.xmp, "Xmp.exif.PixelYDimension", Format("%d", f.height));
    SetXmpIfPresent(c.xmp, "Xmp.tiff.ImageWidth", Format("%d", f.width));
    SetXmpIfPresent(c.xmp, "Xmp.tiff.ImageLength", Format("%d", f.height));
}

void WriteCarried(const std::string& output, Carried& c) {
    Exiv2::Image::AutoPtr out = OpenPhoto(output);
    if (!out.get()) throw Exiv2::Error(Exiv2::kerUnsupportedImageType, output);
    out->setExifData(c.exif);
    out->setIptcData(c.iptc);
    out->setXmpData(c.xmp);
    if (c.icc.size_ > 0)
        out->setIccProfile(c.icc, false);
    else
        out->clearIccProfile();
    out->writeMetadata();
}

}  // namespace

PhotoFacts ReadPhotoFacts(const std::string& path) {
    ExivWords words;
    PhotoFacts facts;
    try {
        Exiv2::Image::AutoPtr img = OpenPhoto(path);
        if (!img.get()) return facts;
        img->readMetadata();
        const Exiv2::ExifData& exif = img->exifData();
        const auto number = [&](const char* key, double& value) {
            auto it = exif.findKey(Exiv2::ExifKey(key));
            if (it == exif.end() || it->count() == 0) return false;
            value = it->toFloat();
            return std::isfinite(value);
        };
        double v = 0, unit = 0;
        if (number("Exif.Image.Orientation", v) && v >= 1 && v <= 8) facts.orientation = int(v);
        if (number("Exif.Image.XResolution", v) && v > 0 && number("Exif.Image.ResolutionUnit", unit) &&
            (unit == 2 || unit == 3)) {
            facts.resUnit = int(unit);
            facts.resolution = v;
        }
    } catch (const Exiv2::AnyError&) {
        // Damaged metadata: the rows are taken as stored, with no resolution.
    }
    return facts;
}

int ReadOrientation(const std::string& path) { return ReadPhotoFacts(path).orientation; }

bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

void ToUprightSize(int orientation, int& width, int& height) {
    if (SwapsSides(orientation)) std::swap(width, height);
}

UprightTurn TurnFor(int orientation) {
    switch (orientation) {
    case 2: return {ROTATE_MIRROR, false};
    case 3: return {ROTATE_180, false};
    case 4: return {ROTATE_FLIP_VERTICAL, false};
    case 5: return {ROTATE_CW90, true};   // transposed
    case 6: return {ROTATE_CW90, false};
    case 7: return {ROTATE_CCW90, true};  // transversed
    case 8: return {ROTATE_CCW90, false};
    default: return {};
    }
}

bool ReadImageUpright(bool swap, ImgClass& img, int orientation, int width, int height) {
    const UprightTurn turn = TurnFor(orientation);
    img.ImgStruct.Rotation = turn.rotation;
    img.ImgStruct.Rotated = 0;
    if (ReadImageForSize(swap, &img, width, height, nullptr)) return true;
    if (!turn.mirrorAfter) return false;
    // The library turns a record once; the mirror is the second half of one turn.
    img.ImgStruct.Rotated = 0;
    if (!Rotate_Image(&img, ROTATE_MIRROR)) return false;
    img.FreeData();
    return true;
}

namespace {
// Errors Exiv2 raises while it writes the file out, rather than before.
bool WhileWriting(const Exiv2::AnyError& e) {
    switch (e.code()) {
    case Exiv2::kerCallFailed: case Exiv2::kerFileOpenFailed: case Exiv2::kerFailedToMapFileForReadWrite:
    case Exiv2::kerFileRenameFailed: case Exiv2::kerTransferFailed: case Exiv2::kerMemoryTransferFailed:
    case Exiv2::kerImageWriteFailed: case Exiv2::kerMallocFailed:
        return true;
    default:
        return false;
    }
}
}  // namespace

std::string CarryMetadata(const std::string& source, const std::string& output,
                          const CopyFacts& facts, bool* damaged) {
    ExivWords words;
    Carried c;
    std::string note;
    try {
        ReadCarried(source, c);
        const std::string complaint = words.First();
        if (!complaint.empty()) note = "metadata partly kept: " + complaint;
    } catch (const Exiv2::AnyError& e) {
        return "metadata skipped: " + OneLine(e.what());
    }
    DescribeCopy(c, facts);
    if (c.exif.empty() && c.iptc.empty() && c.xmp.empty() && c.icc.size_ == 0) return note;
    try {
        WriteCarried(output, c);
    } catch (const Exiv2::AnyError& e) {
        note = (note.empty() ? "" : note + "; ") + "metadata not written: " + OneLine(e.what());
        if (damaged) *damaged = WhileWriting(e);
    }
    return note;
}

}  // namespace tolvane
