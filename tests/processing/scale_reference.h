// A plain reference for the cubic scaler, shared by the tests of the
// in-memory and the row-streaming scaler.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <ORVIX_0500.h>

// A plain evaluation of the scaling steps: weights from the expanded
// polynomials at x = q/511 as exact fractions over 6 * 511^3, every sample
// compared and truncated as an exact fraction, rows kept whole.
namespace ref {

constexpr int64_t kA = 511;
constexpr int64_t kD = 6 * kA * kA * kA;

struct Weights {
    int64_t w[512][4];
    Weights() {
        for (int64_t q = 0; q < 512; ++q) {
            const int64_t q2 = q * q, q3 = q2 * q, a2 = kA * kA;
            w[q][0] = 3 * q2 * kA - q3 - 2 * q * a2;            // x^2/2 - x^3/6 - x/3
            w[q][1] = 3 * q3 - 6 * q2 * kA - 3 * q * a2 + kD;   // x^3/2 - x^2 - x/2 + 1
            w[q][2] = 3 * q2 * kA - 3 * q3 + 6 * q * a2;        // x^2/2 - x^3/2 + x
            w[q][3] = q3 - q * a2;                              // (x^3 - x)/6
        }
        w[511][0] = 0;
    }
};
inline const Weights& Table() {
    static const Weights table;
    return table;
}

inline int Quantise(double f) {
    int q = static_cast<int>(f * 511 + 0.5);
    return q < 0 ? 0 : (q > 511 ? 511 : q);
}

inline unsigned char Sample(int q, int s0, int s1, int s2, int s3, double floor = 1.0) {
    const int64_t* w = Table().w[q];
    const int64_t v = w[0] * s0 + w[1] * s1 + w[2] * s2 + w[3] * s3;  // value * kD
    if (v > 255 * kD) return 255;
    if (2 * v < static_cast<int64_t>(2 * floor) * kD) return 0;
    return static_cast<unsigned char>(v / kD);
}

inline std::vector<unsigned char> Line(const unsigned char* p, int n, int samples, double f) {
    std::vector<unsigned char> out;
    const double step = 1.0 / f;
    double t = 0.0;
    for (int i = 0; i < n; ++i) {
        const int i0 = std::max(i - 1, 0), i2 = std::min(i + 1, n - 1), i3 = std::min(i + 2, n - 1);
        while (t < 1.0) {
            const int q = Quantise(t);
            for (int c = 0; c < samples; ++c)
                out.push_back(Sample(q, p[i0 * samples + c], p[i * samples + c],
                                     p[i2 * samples + c], p[i3 * samples + c]));
            t += step;
        }
        t -= 1.0;
    }
    return out;
}

struct Image {
    uint32_t width = 0, height = 0;
    int samples = 1;
    std::vector<unsigned char> px;  // rows of width * samples
};

// verticalFloor: values below it become 0 in the vertical step (the
// row-streaming scaler uses 1.5, the in-memory one 1.0).
inline Image Scale(const ImgClass& src, double xf, double yf, double verticalFloor = 1.0) {
    const ImgStruct& s = src.ImgStruct;
    if (yf < 0) yf = xf;
    Image d;
    d.width = static_cast<uint32_t>(s.Width * xf + 0.5);
    d.height = static_cast<uint32_t>(s.Height * yf + 0.5);
    d.samples = s.Samples;
    const size_t row = size_t{d.width} * s.Samples;
    d.px.assign(row * d.height, 0);
    auto scaled = [&](uint32_t j) {
        j = std::min(j, s.Height - 1);
        std::vector<unsigned char> l =
            Line(s.ImgData + size_t{j} * s.LineSize, static_cast<int>(s.Width), s.Samples, xf);
        l.resize(std::max(l.size(), row), 0);
        return l;
    };
    std::vector<unsigned char> ring[4] = {scaled(0), scaled(0), scaled(1), scaled(2)};
    const double step = 1.0 / yf;
    double t = 0.0;
    uint32_t line = 0;
    for (uint32_t j = 0; j < s.Height; ++j) {
        while (t < 1.0) {
            const int q = Quantise(t);
            for (size_t i = 0; i < row; ++i)
                d.px[line * row + i] =
                    Sample(q, ring[0][i], ring[1][i], ring[2][i], ring[3][i], verticalFloor);
            if (++line >= d.height) return d;
            t += step;
        }
        ring[0] = ring[1];
        ring[1] = ring[2];
        ring[2] = ring[3];
        ring[3] = scaled(j + 3);
        t -= 1.0;
    }
    return d;
}

}  // namespace ref
