#include "processing/scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codecs/hdr.h"
#include "library.h"
#include "processing/scale_reference.h"
#include "support/test_support.h"

using namespace testing_support;
using orvix::CScaleImage;

namespace {

// Runs each test body with each set of inner loops the machine runs.
class ScaleKernels : public ::testing::TestWithParam<CScaleImage::Kernels> {
protected:
    void SetUp() override {
        if (orvix::Scaler().UseKernels(GetParam()) != GetParam())
            GTEST_SKIP() << "the machine does not run these kernels";
    }
    void TearDown() override { orvix::Scaler().UseKernels(CScaleImage::Kernels::Best); }
};

void Fill(ImgClass& img, uint32_t w, uint32_t h, int samples, uint8_t value) {
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    for (uint32_t y = 0; y < h; ++y) std::memset(s.ImgData + size_t{y} * s.LineSize, value, size_t{w} * samples);
}

void RandomImage(ImgClass& img, uint32_t w, uint32_t h, int samples, std::mt19937& rng) {
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    std::uniform_int_distribution<int> byte(0, 255), mode(0, 3);
    const int m = mode(rng);
    for (uint32_t y = 0; y < h; ++y)
        for (size_t i = 0; i < size_t{w} * samples; ++i) {
            // Noise, hard edges between extremes, and smooth ramps: the
            // cubic overshoots (clipping) and lands near integers.
            int v = byte(rng);
            if (m == 1) v = v < 128 ? 0 : 255;
            if (m == 2) v = static_cast<int>((i / samples) * 7 + y * 3) & 255;
            s.ImgData[size_t{y} * s.LineSize + i] = static_cast<uint8_t>(v);
        }
}

// Compares a scaled image with the reference, byte for byte.
void ExpectMatchesReference(const ImgClass& src, double xf, double yf, const std::string& what) {
    ImgClass dst;
    ASSERT_FALSE(ScaleImage(const_cast<ImgClass*>(&src), xf, yf, &dst)) << what << Get_Last_Error();
    const ref::Image want = ref::Scale(src, xf, yf);
    const ImgStruct& d = dst.ImgStruct;
    ASSERT_EQ(d.Width, want.width) << what;
    ASSERT_EQ(d.Height, want.height) << what;
    ASSERT_EQ(d.LineSize, (want.width * want.samples + 3u) & ~3u) << what;
    const size_t row = size_t{want.width} * want.samples;
    for (uint32_t y = 0; y < want.height; ++y) {
        const unsigned char* got = d.ImgData + size_t{y} * d.LineSize;
        for (size_t i = 0; i < row; ++i)
            ASSERT_EQ(int(got[i]), int(want.px[y * row + i]))
                << what << " row " << y << " byte " << i;
        for (size_t i = row; i < d.LineSize; ++i) ASSERT_EQ(got[i], 0) << what << " padding";
    }
}

const double kFlatFactors[] = {2.0, 1.7, 0.3, 3.14159, 0.05, 0.5, 0.25, 1.1, 7.3, 0.77, 1.0001, 5.5};

}  // namespace

// ---- Line interpolation --------------------------------------------------------------

TEST_P(ScaleKernels, LineWorkedValues) {
    unsigned char in[4] = {0, 100, 200, 255};
    unsigned char out[16] = {};
    ASSERT_EQ(ScaleLineClr(true, 0, 4, 2.0, in, out), 8);
    const unsigned char twice[8] = {0, 43, 100, 152, 200, 233, 255, 255};
    EXPECT_EQ(0, std::memcmp(out, twice, 8));
    ASSERT_EQ(ScaleLineClr(true, 0, 4, 0.5, in, out), 2);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 200);
    // As colour pixels each channel is scaled alike and keeps its place.
    unsigned char rgb[12], rgbOut[48];
    for (int i = 0; i < 4; ++i) rgb[3 * i] = in[i], rgb[3 * i + 1] = in[3 - i], rgb[3 * i + 2] = 77;
    ASSERT_EQ(ScaleLineClr(false, 0, 4, 2.0, rgb, rgbOut), 8);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(rgbOut[3 * k], twice[k]);
        EXPECT_EQ(rgbOut[3 * k + 2], 77);
    }
}

TEST_P(ScaleKernels, LineOutputCountFollowsAccumulation) {
    // 2 pixels by 1.5: the positions 0, 2/3, 4/3 and 2 - 2e-16 make four
    // outputs where 2 * 1.5 = 3 would be expected.
    unsigned char in[6] = {10, 20, 30, 40, 50, 60}, out[64];
    EXPECT_EQ(ScaleLineClr(true, 0, 2, 1.5, in, out), 4);
    EXPECT_EQ(ScaleLineClr(false, 0, 2, 1.5, in, out), 4);
    EXPECT_EQ(ScaleLineClr(true, 0, 3, 0.5, in, out), 2);
    EXPECT_EQ(ScaleLineClr(true, 0, 1, 6.0, in, out), 7);
    // Nothing to do, or no sensible factor: no output and no endless loop.
    EXPECT_EQ(ScaleLineClr(true, 0, 0, 2.0, in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, -5, 2.0, in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, 4, -2.0, in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, 4, 0.0, in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, 4, std::nan(""), in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, 4, double(INFINITY), in, out), 0);
    EXPECT_EQ(ScaleLineClr(true, 0, 4, 2.0, nullptr, out), 0);
}

TEST_P(ScaleKernels, LinesMatchReference) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> logFactor(std::log(0.05), std::log(8.0));
    std::uniform_int_distribution<int> length(1, 300);
    for (int round = 0; round < 300; ++round) {
        const bool bw = round % 2 == 0;
        const int samples = bw ? 1 : 3;
        const int n = round < 20 ? round + 1 : length(rng);
        const double f = std::exp(logFactor(rng));
        std::vector<unsigned char> in(size_t(n) * samples);
        for (auto& b : in) b = static_cast<unsigned char>(rng() & 0xFF);
        const std::vector<unsigned char> want = ref::Line(in.data(), n, samples, f);
        // A guard byte after the expected output must stay untouched.
        std::vector<unsigned char> out(want.size() + 1, 0xA5);
        const int got = ScaleLineClr(bw, 0, n, f, in.data(), out.data());
        ASSERT_EQ(size_t(got) * samples, want.size()) << n << " by " << f;
        ASSERT_EQ(0, std::memcmp(out.data(), want.data(), want.size())) << n << " by " << f;
        ASSERT_EQ(out.back(), 0xA5) << n << " by " << f;
    }
}

TEST_P(ScaleKernels, LongLineIsPlannedInPieces) {
    // Upscaling a long line crosses the planner's chunk size many times.
    std::mt19937 rng(3);
    std::vector<unsigned char> in(3 * 5000);
    for (auto& b : in) b = static_cast<unsigned char>(rng() & 0xFF);
    const std::vector<unsigned char> want = ref::Line(in.data(), 5000, 3, 3.3);
    std::vector<unsigned char> out(want.size());
    ASSERT_EQ(size_t(ScaleLineClr(false, 0, 5000, 3.3, in.data(), out.data())) * 3, want.size());
    EXPECT_EQ(out, want);
}

// ---- Whole images -----------------------------------------------------------------------

TEST_P(ScaleKernels, ImagesMatchReference) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> logFactor(std::log(0.05), std::log(8.0));
    std::uniform_int_distribution<uint32_t> side(1, 90);
    for (int round = 0; round < 120; ++round) {
        const int samples = round % 2 ? 3 : 1;
        uint32_t w = side(rng), h = side(rng);
        if (round % 10 == 3) w = 1;   // one pixel wide
        if (round % 10 == 7) h = 1;   // one row high
        double xf = std::exp(logFactor(rng));
        double yf = round % 3 == 0 ? -1.0 : std::exp(logFactor(rng));
        if (round % 17 == 5) xf = 1.0;
        // Keep both sides at least 1 after scaling.
        if (w * xf < 0.5) xf = 1.0 / w;
        if (h * (yf < 0 ? xf : yf) < 0.5) yf = 1.0 / h;
        if (xf == 1.0 && (yf < 0 ? xf : yf) == 1.0) yf = 2.0;
        ImgClass src;
        RandomImage(src, w, h, samples, rng);
        ExpectMatchesReference(src, xf, yf,
                               std::to_string(w) + "x" + std::to_string(h) + "x" +
                                   std::to_string(samples) + " by " + std::to_string(xf) + "," +
                                   std::to_string(yf));
    }
}

TEST_P(ScaleKernels, WideImagesMatchReference) {
    // Rows long enough for every vector block size and its tails.
    std::mt19937 rng(5);
    for (const int samples : {1, 3}) {
        for (const double f : {0.25, 0.5, 0.9, 1.7, 2.0, 2.5}) {
            ImgClass src;
            RandomImage(src, 203, 9, samples, rng);
            ExpectMatchesReference(src, f, -1.0, std::to_string(samples) + " by " + std::to_string(f));
        }
    }
}

TEST_P(ScaleKernels, FlatAreasStayFlat) {
    for (const int samples : {1, 3}) {
        for (const uint8_t value : {uint8_t(255), uint8_t(128), uint8_t(1), uint8_t(0), uint8_t(254)}) {
            ImgClass src;
            Fill(src, 37, 23, samples, value);
            for (const double f : kFlatFactors) {
                ImgClass dst;
                ASSERT_FALSE(ScaleImage(&src, f, f == 1.0001 ? 0.6 : -1.0, &dst));
                const ImgStruct& d = dst.ImgStruct;
                for (uint32_t y = 0; y < d.Height; ++y)
                    for (uint32_t x = 0; x < d.Width; ++x)
                        for (int c = 0; c < samples; ++c)
                            ASSERT_EQ(At(dst, x, y, c), value)
                                << int(value) << " by " << f << " at " << x << "," << y;
            }
        }
    }
}

TEST_P(ScaleKernels, LowFloorRows) {
    // The vertical step with the 1.5 floor the low-memory scaler uses:
    // values from 1.0 up to 1.5 become 0, the rest as with the 1.0 floor.
    std::mt19937 rng(9);
    const size_t n = 301;
    std::vector<unsigned char> rows[4], out(n), low(n);
    for (auto& r : rows) {
        r.resize(n);
        for (auto& b : r) b = static_cast<unsigned char>(rng() % 4);  // mostly tiny values
    }
    rows[1][0] = 1;  // with q = 0 the value is exactly 1: 0 at the 1.5 floor
    const unsigned char* p[4] = {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()};
    int lowered = 0;
    for (int q = 0; q < 512; q += 7) {
        orvix::Scaler().InterpolateRows(p, q, n, out.data(), CScaleImage::Floor::One);
        orvix::Scaler().InterpolateRows(p, q, n, low.data(), CScaleImage::Floor::OneAndHalf);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[i], ref::Sample(q, p[0][i], p[1][i], p[2][i], p[3][i])) << q << " " << i;
            ASSERT_EQ(low[i], ref::Sample(q, p[0][i], p[1][i], p[2][i], p[3][i], 1.5)) << q << " " << i;
            lowered += out[i] != low[i];
        }
    }
    EXPECT_GT(lowered, 0);  // the data reaches the band between the floors
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScaleKernels,
                         ::testing::Values(CScaleImage::Kernels::Portable, CScaleImage::Kernels::Avx2,
                                           CScaleImage::Kernels::Avx512),
                         [](const auto& info) {
                             switch (info.param) {
                             case CScaleImage::Kernels::Avx2: return std::string("Avx2");
                             case CScaleImage::Kernels::Avx512: return std::string("Avx512");
                             default: return std::string("Portable");
                             }
                         });

TEST(Scale, WeightsAreExactLagrangeBasis) {
    const CScaleImage& engine = orvix::Scaler();
    for (int q = 0; q < 512; ++q) {
        const int32_t* w = engine.Weights(q);
        EXPECT_EQ(int64_t{w[0]} + w[1] + w[2] + w[3], CScaleImage::kDenominator) << q;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(w[i], ref::Table().w[q][i]) << q << " tap " << i;
    }
    EXPECT_EQ(engine.Weights(0)[1], CScaleImage::kDenominator);
    EXPECT_EQ(engine.Weights(511)[2], CScaleImage::kDenominator);
    EXPECT_EQ(CScaleImage::Quantise(0.0), 0);
    EXPECT_EQ(CScaleImage::Quantise(0.999999), 511);
    EXPECT_EQ(CScaleImage::Quantise(0.5), 256);
}

TEST(Scale, OutputSizes) {
    ImgClass src, dst;
    MakeImage(src, 301, 200, 1);
    ASSERT_FALSE(ScaleImage(&src, 0.5, -1.0, &dst));
    EXPECT_EQ(dst.ImgStruct.Width, 151u);  // 150.5 rounds up
    EXPECT_EQ(dst.ImgStruct.Height, 100u);
    EXPECT_EQ(dst.ImgStruct.LineSize, 152u);
    ASSERT_FALSE(ScaleImage(&src, 0.25, -1.0, &dst));
    EXPECT_EQ(dst.ImgStruct.Width, 75u);
    EXPECT_EQ(dst.ImgStruct.Height, 50u);
    ASSERT_FALSE(ScaleImage(&src, 2.0, 0.1, &dst));
    EXPECT_EQ(dst.ImgStruct.Width, 602u);
    EXPECT_EQ(dst.ImgStruct.Height, 20u);
    // The row limit ends the pass: the normal end leaves this text.
    EXPECT_STREQ(Get_Last_Error(), "CScaleImage ERROR writing TIFF line 19\n");

    // 2 pixels by 1.5 makes 4 line outputs but the image is 3 wide.
    ImgClass two;
    MakeImage(two, 2, 2, 3);
    two.ImgStruct.Resolution = 72.0;
    two.ImgStruct.ResUnit = 3;
    ASSERT_FALSE(ScaleImage(&two, 1.5, -1.0, &dst));
    EXPECT_EQ(dst.ImgStruct.Width, 3u);
    EXPECT_EQ(dst.ImgStruct.Height, 3u);
    EXPECT_EQ(dst.ImgStruct.LineSize, 12u);
    EXPECT_EQ(dst.ImgStruct.Samples, 3);
    EXPECT_EQ(dst.ImgStruct.Resolution, 72.0);
    EXPECT_EQ(dst.ImgStruct.ResUnit, 3);
}

TEST(Scale, EdgesRepeat) {
    // One pixel wide: every row constant; one row high: every column constant.
    ImgClass column, row, dst;
    MakeImage(column, 1, 6, 1);
    ASSERT_FALSE(ScaleImage(&column, 3.0, 1.0, &dst));
    ASSERT_EQ(dst.ImgStruct.Width, 3u);
    for (uint32_t y = 0; y < dst.ImgStruct.Height; ++y) {
        EXPECT_EQ(At(dst, 0, y), At(column, 0, y));
        EXPECT_EQ(At(dst, 1, y), At(dst, 0, y));
        EXPECT_EQ(At(dst, 2, y), At(dst, 0, y));
    }
    MakeImage(row, 5, 1, 3);
    ASSERT_FALSE(ScaleImage(&row, 1.0, 2.5, &dst));
    ASSERT_EQ(dst.ImgStruct.Height, 3u);  // trunc(2.5 + 0.5)
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(At(dst, x, y, c), At(row, x, 0, c));

    // The last pixel and the last row take part, repeated beyond the edge:
    // position 3.5 of 0, 0, 0, 200 has the taps 0, 200, 200, 200.
    ImgClass corner;
    Fill(corner, 4, 4, 1, 0);
    for (uint32_t i = 0; i < 4; ++i) {
        corner.ImgStruct.ImgData[i * corner.ImgStruct.LineSize + 3] = 200;
        corner.ImgStruct.ImgData[3 * corner.ImgStruct.LineSize + i] = 200;
    }
    ASSERT_FALSE(ScaleImage(&corner, 2.0, -1.0, &dst));
    const int half = CScaleImage::Quantise(0.5);
    const int edge = ref::Sample(half, 0, 200, 200, 200);
    EXPECT_EQ(edge, 212);  // 200 * 1.0625
    EXPECT_EQ(At(dst, 6, 0), 200);
    EXPECT_EQ(At(dst, 7, 0), edge);
    EXPECT_EQ(At(dst, 0, 7), edge);
    EXPECT_EQ(At(dst, 7, 7), ref::Sample(half, edge, 200, 200, 200));
}

TEST(Scale, FactorOneOnOneAxisKeepsIt) {
    ImgClass src, dst;
    MakeImage(src, 40, 9, 3);
    ASSERT_FALSE(ScaleImage(&src, 1.0, 1.37, &dst));
    // Rows whose position falls on a source row are that row unchanged.
    ASSERT_EQ(dst.ImgStruct.Width, 40u);
    for (uint32_t x = 0; x < 40; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(At(dst, x, 0, c), At(src, x, 0, c));
    // A vertical factor of 1.0: each row is its source row scaled as a line.
    ASSERT_FALSE(ScaleImage(&src, 2.2, 1.0, &dst));
    ASSERT_EQ(dst.ImgStruct.Height, 9u);
    ASSERT_EQ(dst.ImgStruct.Width, 88u);
    for (uint32_t y = 0; y < 9; ++y) {
        std::vector<unsigned char> line(3 * 100);
        const int n = ScaleLineClr(false, 0, 40, 2.2, src.ImgStruct.ImgData + y * src.ImgStruct.LineSize,
                                   line.data());
        ASSERT_GE(n, 88);
        EXPECT_EQ(0, std::memcmp(dst.ImgStruct.ImgData + y * dst.ImgStruct.LineSize, line.data(), 88 * 3));
    }
}

TEST(Scale, BothFactorsOneDoNothing) {
    ImgClass src, dst;
    MakeImage(src, 8, 8, 1);
    EXPECT_TRUE(ScaleImage(&src, 1.0, -1.0, &dst));  // dst holds no pixels
    EXPECT_STREQ(Get_Last_Error(), "Scale is 1.0 No Action\n");
    EXPECT_EQ(dst.ImgStruct.ImgData, nullptr);
    MakeImage(dst, 3, 3, 1, 9);
    unsigned char* before = dst.ImgStruct.ImgData;
    EXPECT_FALSE(ScaleImage(&src, 1.0, 1.0, &dst));
    EXPECT_EQ(dst.ImgStruct.ImgData, before);
    EXPECT_EQ(dst.ImgStruct.Width, 3u);
}

TEST(Scale, ColourOrderRestored) {
    ImgClass src, dst, rgb, want;
    MakeImage(rgb, 33, 17, 3, 4);
    ASSERT_FALSE(ScaleImage(&rgb, 1.6, -1.0, &want));
    MakeImage(src, 33, 17, 3, 4);
    Swap_RGB(&src);  // now B,G,R with BgrOrder set
    ASSERT_EQ(src.ImgStruct.BgrOrder, 1);
    std::vector<unsigned char> original(src.ImgStruct.ImgData,
                                        src.ImgStruct.ImgData + src.ImgStruct.LineSize * 17);
    ASSERT_FALSE(ScaleImage(&src, 1.6, -1.0, &dst));
    EXPECT_EQ(src.ImgStruct.BgrOrder, 1);
    EXPECT_EQ(0, std::memcmp(src.ImgStruct.ImgData, original.data(), original.size()));
    EXPECT_EQ(dst.ImgStruct.BgrOrder, 0);
    ASSERT_EQ(dst.ImgStruct.LineSize * dst.ImgStruct.Height, want.ImgStruct.LineSize * want.ImgStruct.Height);
    EXPECT_EQ(0, std::memcmp(dst.ImgStruct.ImgData, want.ImgStruct.ImgData,
                             size_t{dst.ImgStruct.LineSize} * dst.ImgStruct.Height));
    // Also on a failing exit.
    EXPECT_TRUE(ScaleImage(&src, 1e-9, -1.0, &dst));
    EXPECT_EQ(src.ImgStruct.BgrOrder, 1);
    EXPECT_EQ(0, std::memcmp(src.ImgStruct.ImgData, original.data(), original.size()));
}

TEST(Scale, ProgressRows) {
    SetRW_Progress(nullptr, ProgressLog::Record);
    for (const uint32_t height : {250u, 50u}) {
        ProgressLog::calls.clear();
        ImgClass src, dst;
        MakeImage(src, 4, height, 1);
        ASSERT_FALSE(ScaleImage(&src, 2.0, 1.0, &dst));
        // One output row per source row: the pass ends at the last row's
        // output, before that row's report.
        std::vector<std::pair<int, int>> want = {{0, 0}};
        const uint32_t every = height / 100 ? height / 100 : 1;
        for (uint32_t j = 0; j + 1 < height; j += every) want.emplace_back(int(height), int(j));
        EXPECT_EQ(ProgressLog::calls, want) << height;
    }
    SetRW_Progress(nullptr, nullptr);
}

TEST(Scale, Refusals) {
    ImgClass src, dst;
    EXPECT_TRUE(ScaleImage(nullptr, 2.0, -1.0, &dst));
    MakeImage(src, 5, 4, 1);
    EXPECT_TRUE(ScaleImage(&src, 2.0, -1.0, nullptr));
    EXPECT_TRUE(ScaleImage(&src, 2.0, -1.0, &src));
    EXPECT_EQ(src.ImgStruct.Width, 5u);
    ASSERT_NE(src.ImgStruct.ImgData, nullptr);

    // Factors giving no pixels or not numbers at all.
    for (const double f : {0.0, -2.0, 0.05, std::nan(""), double(INFINITY), 1e300}) {
        EXPECT_TRUE(ScaleImage(&src, f, 1.5, &dst)) << f;
        EXPECT_EQ(dst.ImgStruct.ImgData, nullptr) << f;
        EXPECT_STRNE(Get_Last_Error(), "") << f;
    }

    ImgClass wide;
    MakeImage(wide, 4, 4, 4);
    EXPECT_TRUE(ScaleImage(&wide, 2.0, -1.0, &dst));
    EXPECT_NE(std::string(Get_Last_Error()).find("transparency"), std::string::npos);
    MakeImage(wide, 4, 4, 1);
    wide.ImgStruct.Bits = 16;
    EXPECT_TRUE(ScaleImage(&wide, 2.0, -1.0, &dst));

    // Zero width: the source's buffer is there but describes no pixel.
    ImgClass empty;
    MakeImage(empty, 4, 4, 1);
    empty.ImgStruct.Width = 0;
    EXPECT_TRUE(ScaleImage(&empty, 2.0, -1.0, &dst));
    EXPECT_STREQ(Get_Last_Error(), "0010\tScaleImage(..) 0 4 Err exit\n\n");

    // A line size too small for the width would read past the rows.
    ImgClass bad;
    MakeImage(bad, 8, 4, 3);
    bad.ImgStruct.LineSize = 8;
    EXPECT_TRUE(ScaleImage(&bad, 2.0, -1.0, &dst));
}

TEST(Scale, LoadsSourceFromCurrentHeader) {
    TempDir dir;
    const std::string path = dir.File("grey.pgm");
    std::vector<uint8_t> pgm = {'P', '5', '\n', '3', ' ', '2', '\n', '2', '5', '5', '\n'};
    for (uint8_t v : {10, 20, 30, 40, 50, 60}) pgm.push_back(v);
    WriteBytes(path, pgm);
    IMAGE_HDR& hdr = orvix::Lib().hdr->Header();
    const IMAGE_HDR saved = hdr;
    ASSERT_LT(path.size(), sizeof hdr.FileName);
    std::strcpy(hdr.FileName, path.c_str());

    ImgClass src, dst;
    SetName(src, "own-name.tif");
    ASSERT_FALSE(ScaleImage(&src, 2.0, -1.0, &dst)) << Get_Last_Error();
    EXPECT_STREQ(src.ImgStruct.FileName, "own-name.tif");
    ASSERT_NE(src.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(src.ImgStruct.Width, 3u);
    EXPECT_EQ(dst.ImgStruct.Width, 6u);
    EXPECT_EQ(dst.ImgStruct.Height, 4u);
    EXPECT_EQ(At(dst, 0, 0), 10);
    EXPECT_EQ(At(dst, 0, 2), 40);

    // An unreadable file fails and leaves the image as it was.
    ImgClass missing, out;
    SetName(missing, "keep.tif");
    std::strcpy(hdr.FileName, dir.File("absent.pgm").c_str());
    EXPECT_TRUE(ScaleImage(&missing, 2.0, -1.0, &out));
    EXPECT_STREQ(missing.ImgStruct.FileName, "keep.tif");
    EXPECT_EQ(missing.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    hdr = saved;
}

TEST(Scale, ReplacesDestinationBuffer) {
    ImgClass src, dst;
    MakeImage(src, 10, 10, 1);
    MakeImage(dst, 200, 200, 3, 2);
    dst.ImgStruct.BgrOrder = 1;
    ASSERT_FALSE(ScaleImage(&src, 0.5, -1.0, &dst));
    EXPECT_EQ(dst.ImgStruct.Width, 5u);
    EXPECT_EQ(dst.ImgStruct.Samples, 1);
    EXPECT_EQ(dst.ImgStruct.LineSize, 8u);
    // The destination's colour-order flag is left as the caller had it.
    EXPECT_EQ(dst.ImgStruct.BgrOrder, 1);
}
