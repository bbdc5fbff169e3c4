// Where a scaler's output rows go, in order: straight into an image in
// memory, or one at a time into a TIFF file. Both scaling engines write
// through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "ORVIX_0500.h"
#include "codecs/tiff.h"

namespace orvix {

class RowSink {
public:
    virtual ~RowSink() = default;
    // Where output row `line` is to be written (width * samples bytes).
    virtual unsigned char* Row(uint32_t line) = 0;
    // Row `line` is complete; true stops the pass as failed.
    virtual bool Written(uint32_t line) = 0;
};

// Colour rows made from a B,G,R source go out in R,G,B order.
inline void SwapRow(unsigned char* row, uint32_t width) {
    for (uint32_t x = 0; x < width; ++x, row += 3) std::swap(row[0], row[2]);
}

// Rows straight into the destination's buffer.
class ImageRows final : public RowSink {
public:
    explicit ImageRows(ImgStruct& dst, bool swap = false) : dst_(dst), swap_(swap) {}
    unsigned char* Row(uint32_t line) override { return dst_.ImgData + size_t{line} * dst_.LineSize; }
    bool Written(uint32_t line) override {
        if (swap_) SwapRow(Row(line), dst_.Width);
        return false;
    }

private:
    ImgStruct& dst_;
    bool swap_;
};

// Each row made in `row` (of `width` pixels) and written to the TIFF file
// at once.
class TiffRows final : public RowSink {
public:
    TiffRows(TIFFClass& tiff, unsigned char* row, uint32_t width = 0, bool swap = false)
        : tiff_(tiff), row_(row), width_(width), swap_(swap) {}
    unsigned char* Row(uint32_t) override { return row_; }
    bool Written(uint32_t line) override {
        if (swap_) SwapRow(row_, width_);
        return tiff_.WriteScanline(row_, line);
    }

private:
    TIFFClass& tiff_;
    unsigned char* row_;
    uint32_t width_;
    bool swap_;
};

}  // namespace orvix
