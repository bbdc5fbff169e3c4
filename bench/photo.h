// The photo-like test image the benchmarks share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "ORVIX_0500.h"

namespace bench {

constexpr uint32_t kWidth = 3000;
constexpr uint32_t kHeight = 2000;

// Smooth gradients with some noise: compresses like a photograph, neither
// flat nor random.
inline void MakePhoto(ImgClass& img, uint32_t width, uint32_t height, int samples) {
    ImgStruct& s = img.ImgStruct;
    s.Width = width;
    s.Height = height;
    s.Samples = samples;
    s.Bits = 8;
    s.LineSize = (width * samples + 3u) & ~3u;
    img.AllocData();
    std::mt19937 rng(1);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c) {
                const int v = int((x * (c + 1) / 13 + y / 7) & 255) + int(rng() % 17) - 8;
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * samples + c] =
                    static_cast<unsigned char>(std::clamp(v, 0, 255));
            }
}

// A 3000 x 2000 grey (samples 1) or colour (3) photo, made once per run.
inline ImgClass& Photo(int samples) {
    static ImgClass grey, colour;
    ImgClass& img = samples == 1 ? grey : colour;
    if (!img.ImgStruct.ImgData) MakePhoto(img, kWidth, kHeight, samples);
    return img;
}

}  // namespace bench
