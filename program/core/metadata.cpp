#include "metadata.h"

#include "text.h"

#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>
#include <libheif/heif.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

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

// The files whose metadata Exiv2 reads and writes for the program. HEIF
// is read through libheif instead: Exiv2 cannot write it, and its reading
// of it is optional in its builds.
Exiv2::Image::AutoPtr OpenPhoto(const std::string& path) {
    switch (Exiv2::ImageFactory::getType(path)) {
    case Exiv2::ImageType::jpeg: case Exiv2::ImageType::tiff:
    case Exiv2::ImageType::png: case Exiv2::ImageType::webp:
        return Exiv2::ImageFactory::open(path);
    default:
        return Exiv2::Image::AutoPtr();
    }
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

// A HEIF file's primary image, as libheif parses the container (no pixels
// are decoded); null for any other file.
class HeifPrimary {
public:
    explicit HeifPrimary(const std::string& path) {
        uint8_t head[12] = {};
        std::ifstream in(path, std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return;
        if (heif_check_filetype(head, sizeof head) != heif_filetype_yes_supported) return;
        context_ = heif_context_alloc();
        heif_error e = heif_context_read_from_file(context_, path.c_str(), nullptr);
        if (e.code == heif_error_Ok) e = heif_context_get_primary_image_handle(context_, &handle_);
        if (e.code != heif_error_Ok) throw Exiv2::Error(Exiv2::kerErrorMessage, e.message);
    }
    ~HeifPrimary() {
        if (handle_) heif_image_handle_release(handle_);
        if (context_) heif_context_free(context_);
    }
    HeifPrimary(const HeifPrimary&) = delete;
    HeifPrimary& operator=(const HeifPrimary&) = delete;

    heif_image_handle* Handle() const { return handle_; }
    // The metadata blocks of one type ("Exif", "mime"), with their content types.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> Blocks(const char* type) const {
        std::vector<heif_item_id> ids(heif_image_handle_get_number_of_metadata_blocks(handle_, type));
        ids.resize(heif_image_handle_get_list_of_metadata_block_IDs(handle_, type, ids.data(), int(ids.size())));
        std::vector<std::pair<std::string, std::vector<uint8_t>>> blocks;
        for (heif_item_id id : ids) {
            std::vector<uint8_t> data(heif_image_handle_get_metadata_size(handle_, id));
            if (heif_image_handle_get_metadata(handle_, id, data.data()).code != heif_error_Ok) continue;
            const char* content = heif_image_handle_get_metadata_content_type(handle_, id);
            blocks.emplace_back(content ? content : "", std::move(data));
        }
        return blocks;
    }

private:
    heif_context* context_ = nullptr;
    heif_image_handle* handle_ = nullptr;
};

// A HEIF Exif block starts with the offset of the TIFF header after its
// first four bytes.
void DecodeHeifExif(const std::vector<uint8_t>& block, Exiv2::ExifData& exif) {
    if (block.size() < 4) return;
    const size_t skip = 4 + (size_t(block[0]) << 24 | size_t(block[1]) << 16 | size_t(block[2]) << 8 | block[3]);
    if (skip >= block.size()) return;
    Exiv2::ExifData all;
    Exiv2::ExifParser::decode(all, block.data() + skip, uint32_t(block.size() - skip));
    for (const Exiv2::Exifdatum& d : all)
        if (!DescribesStorage(d)) exif.add(d);
}

// What a HEIF file carries; false when source is no HEIF file.
bool ReadHeifCarried(const std::string& source, Carried& c) {
    HeifPrimary heif(source);
    if (!heif.Handle()) return false;
    for (const auto& [content, data] : heif.Blocks("Exif")) DecodeHeifExif(data, c.exif);
    for (const auto& [content, data] : heif.Blocks("mime"))
        if (content == "application/rdf+xml")
            Exiv2::XmpParser::decode(c.xmp, std::string(data.begin(), data.end()));
    if (const size_t n = heif_image_handle_get_raw_color_profile_size(heif.Handle())) {
        Exiv2::DataBuf icc(static_cast<long>(n));
        if (heif_image_handle_get_raw_color_profile(heif.Handle(), icc.pData_).code == heif_error_Ok) c.icc = icc;
    }
    return true;
}

// The source's metadata; throws Exiv2's error when it cannot be read.
void ReadCarried(const std::string& source, Carried& c) {
    if (ReadHeifCarried(source, c)) return;
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

// Sets or removes one chunk of a WebP file being rebuilt.
void SetWebpChunk(WebPMux* mux, const char* fourcc, const uint8_t* bytes, size_t size) {
    const WebPData data{bytes, size};
    const WebPMuxError e = size ? WebPMuxSetChunk(mux, fourcc, &data, 1) : WebPMuxDeleteChunk(mux, fourcc);
    if (e != WEBP_MUX_OK && e != WEBP_MUX_NOT_FOUND)
        throw Exiv2::Error(Exiv2::kerErrorMessage, std::string("the WebP chunk ") + fourcc + " could not be set");
}

// Exiv2 0.27 files a WebP's colour profile under a wrong chunk name, which
// decoders refuse; libwebp's muxer writes the EXIF, XMP and profile chunks
// instead. WebP has no place for IPTC.
void WriteWebpCarried(const std::string& output, const Carried& c) {
    std::ifstream in(output, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, output, "read");
    const WebPData whole{file.data(), file.size()};
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&whole, 0), WebPMuxDelete);
    if (!mux) throw Exiv2::Error(Exiv2::kerNotAnImage, "WebP");
    Exiv2::Blob exif;
    if (!c.exif.empty()) Exiv2::ExifParser::encode(exif, Exiv2::littleEndian, c.exif);
    std::string xmp;
    if (!c.xmp.empty() && Exiv2::XmpParser::encode(xmp, c.xmp) != 0)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "the XMP packet could not be made");
    SetWebpChunk(mux.get(), "EXIF", exif.data(), exif.size());
    SetWebpChunk(mux.get(), "XMP ", reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size());
    SetWebpChunk(mux.get(), "ICCP", c.icc.pData_, size_t(std::max(c.icc.size_, 0L)));
    WebPData rebuilt{nullptr, 0};
    if (WebPMuxAssemble(mux.get(), &rebuilt) != WEBP_MUX_OK)
        throw Exiv2::Error(Exiv2::kerErrorMessage, "the WebP file could not be rebuilt");
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(rebuilt.bytes), std::streamsize(rebuilt.size));
    out.close();
    WebPDataClear(&rebuilt);
    if (!out) throw Exiv2::Error(Exiv2::kerImageWriteFailed);
}

void WriteCarried(const std::string& output, Carried& c) {
    if (Exiv2::ImageFactory::getType(output) == Exiv2::ImageType::webp) return WriteWebpCarried(output, c);
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
