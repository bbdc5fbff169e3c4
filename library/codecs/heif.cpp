#include "codecs/heif.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "image_ops.h"
#include "library.h"
#include "progress.h"
#include "utility.h"

namespace orvix {

namespace {

constexpr const char* kReadWho = "HeifClass::ReadHeif()";
constexpr const char* kHeaderWho = "HdrClass::ProcHdrHEIF:";

uint32_t BigEndian32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool IsImageBrand(const unsigned char* brand) {
    static const char* const kBrands[] = {"heic", "heix", "hevc", "hevx", "mif1", "msf1", "avif", "avis"};
    for (const char* b : kBrands)
        if (std::memcmp(brand, b, 4) == 0) return true;
    return false;
}

using Context = std::unique_ptr<heif_context, decltype(&heif_context_free)>;
using Handle = std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)>;
using Picture = std::unique_ptr<heif_image, decltype(&heif_image_release)>;
using Options = std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)>;

// Opens path and takes its primary image's handle; true with libheif's
// words posted when either fails.
bool OpenPrimary(const char* path, const char* who, Context& ctx, Handle& handle) {
    // Registers the decoders; counted, and kept for the life of the process.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    (void)initialised;
    ctx.reset(heif_context_alloc());
    if (!ctx) return PostError("%s %s: no memory for the decoder", who, path);
    heif_error err = heif_context_read_from_file(ctx.get(), path, nullptr);
    if (err.code != heif_error_Ok) return PostError("%s %s: %s", who, path, err.message);
    heif_image_handle* primary = nullptr;
    err = heif_context_get_primary_image_handle(ctx.get(), &primary);
    if (err.code != heif_error_Ok) return PostError("%s %s: %s", who, path, err.message);
    handle.reset(primary);
    return false;
}

// Colour divided back by alpha, as the TIFF reader does for associated alpha.
void Unpremultiply(unsigned char* p) {
    for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(Unpremultiplied(p[c], p[3], 255));
}

bool CopyRows(const heif_image* picture, ImgClass& img, bool premultiplied) {
    ImgStruct& s = img.ImgStruct;
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(picture, heif_channel_interleaved, &stride);
    if (!plane || heif_image_get_width(picture, heif_channel_interleaved) != int(s.Width) ||
        heif_image_get_height(picture, heif_channel_interleaved) != int(s.Height) ||
        heif_image_get_bits_per_pixel_range(picture, heif_channel_interleaved) != 8)
        return PostError("%s %s: the decoder gave an unexpected picture", kReadWho, s.FileName);
    Progress progress(ReadProgress(), static_cast<int>(s.Height));
    const size_t bytes = size_t{s.Width} * size_t(s.Samples);
    for (uint32_t row = 0; row < s.Height; ++row) {
        unsigned char* dst = s.ImgData + size_t{row} * s.LineSize;
        std::memcpy(dst, plane + size_t{row} * size_t(stride), bytes);
        if (premultiplied)
            for (uint32_t x = 0; x < s.Width; ++x) Unpremultiply(dst + size_t{x} * 4);
        progress.Line(static_cast<int>(row));
    }
    return false;
}

}  // namespace

bool IsHeifSignature(const unsigned char* head, size_t n) {
    if (n < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    if (IsImageBrand(head + 8)) return true;
    // Compatible brands follow the minor version, to the box's end.
    const size_t end = std::min<size_t>(BigEndian32(head), n);
    for (size_t at = 16; at + 4 <= end; at += 4)
        if (IsImageBrand(head + at)) return true;
    return false;
}

bool ReadHeifHeader(const char* path, HeifHeaderInfo& info) {
    info = HeifHeaderInfo{};
    if (!path) return PostError("%s no file named", kHeaderWho);
    Context ctx(nullptr, heif_context_free);
    Handle handle(nullptr, heif_image_handle_release);
    if (OpenPrimary(path, kHeaderWho, ctx, handle)) return true;
    const int w = heif_image_handle_get_width(handle.get());
    const int h = heif_image_handle_get_height(handle.get());
    if (w <= 0 || h <= 0) return PostError("%s %s: invalid image size %d x %d", kHeaderWho, path, w, h);
    info.width = static_cast<uint32_t>(w);
    info.height = static_cast<uint32_t>(h);
    info.samples = heif_image_handle_has_alpha_channel(handle.get()) ? 4 : 3;
    info.bits = std::max(heif_image_handle_get_luma_bits_per_pixel(handle.get()), 0);
    return false;
}

bool HeifClass::ReadHeif(ImgClass* img) {
    ClearWarning();
    if (!img) return PostError("%s: no image given", kReadWho);
    ImgStruct& s = img->ImgStruct;
    Context ctx(nullptr, heif_context_free);
    Handle handle(nullptr, heif_image_handle_release);
    if (OpenPrimary(s.FileName, kReadWho, ctx, handle)) return true;
    const int w = heif_image_handle_get_width(handle.get());
    const int h = heif_image_handle_get_height(handle.get());
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    // The size is checked before anything is decoded.
    if (w <= 0 || h <= 0) return PostError("%s %s: invalid image size %d x %d", kReadWho, s.FileName, w, h);
    if (PrepareDecodedImage(*img, uint32_t(w), uint32_t(h), alpha ? 4 : 3, kReadWho)) return true;
    Options options(heif_decoding_options_alloc(), heif_decoding_options_free);
    if (!options) return PostError("%s %s: no memory for the decoder", kReadWho, s.FileName);
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    // libheif applies the container's rotation, mirror and crop here.
    const heif_error err = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                                             alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                             options.get());
    Picture picture(decoded, heif_image_release);
    if (err.code != heif_error_Ok || !picture)
        return PostError("%s %s: %s", kReadWho, s.FileName, err.message ? err.message : "decoding failed");
    // The decoded picture, not the handle, says whether its colour is
    // premultiplied: the decoder may already have divided it back.
    if (CopyRows(picture.get(), *img, alpha && heif_image_is_premultiplied_alpha(picture.get())))
        return true;
    s.Type = IMG_TYPE_HEIF;
    return false;
}

}  // namespace orvix
