// Helpers for codec tests that make or check files with independent tools
// (Pillow through /usr/bin/python3, netpbm, ImageMagick).
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace image_tools {

inline const char* kPython = "/usr/bin/python3";

// Runs a shell command; true when it exits with 0.
inline bool Run(const std::string& command) {
    const int rc = std::system(command.c_str());
    return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Whether Pillow can be imported by the system interpreter.
inline bool HavePillow() {
    return testing_support::HaveProgram(kPython) &&
           Run(std::string(kPython) + " -c 'import PIL' 2>/dev/null");
}

// Pixels as R,G,B triples, top line first, no padding.
struct Raster {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
};

// The pixels of an 8-bit grey or colour image as a raster (B,G,R order
// undone when the image says so).
inline Raster FromImage(const ImgClass& img) {
    const ImgStruct& s = img.ImgStruct;
    Raster r{s.Width, s.Height, {}};
    r.rgb.reserve(size_t{s.Width} * s.Height * 3);
    for (uint32_t y = 0; y < s.Height; ++y)
        for (uint32_t x = 0; x < s.Width; ++x) {
            const uint8_t* p = s.ImgData + size_t{y} * s.LineSize + size_t{x} * s.Samples;
            if (s.Samples == 1) {
                r.rgb.insert(r.rgb.end(), {p[0], p[0], p[0]});
            } else if (s.BgrOrder) {
                r.rgb.insert(r.rgb.end(), {p[2], p[1], p[0]});
            } else {
                r.rgb.insert(r.rgb.end(), {p[0], p[1], p[2]});
            }
        }
    return r;
}

inline void WritePpm(const std::string& path, const Raster& r) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << r.width << " " << r.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(r.rgb.data()), static_cast<std::streamsize>(r.rgb.size()));
}

// Reads a binary P6 file with a maximum of 255 (as netpbm writes them).
inline bool ReadPpm(const std::string& path, Raster& r) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    unsigned maxVal = 0;
    if (!(in >> magic >> r.width >> r.height >> maxVal) || magic != "P6" || maxVal != 255)
        return false;
    in.get();  // the single white-space byte before the pixels
    r.rgb.resize(size_t{r.width} * r.height * 3);
    in.read(reinterpret_cast<char*>(r.rgb.data()), static_cast<std::streamsize>(r.rgb.size()));
    return static_cast<size_t>(in.gcount()) == r.rgb.size();
}

// Runs a Pillow snippet with the given arguments in sys.argv[1:].
inline bool Pillow(const std::string& dir, const std::string& script,
                   const std::vector<std::string>& args) {
    const std::string file = dir + "/script.py";
    testing_support::WriteText(file, "import sys\nfrom PIL import Image\n" + script);
    std::string command = std::string(kPython) + " " + Quote(file);
    for (const auto& a : args) command += " " + Quote(a);
    return Run(command);
}

// Pillow's own R,G,B decoding of any file it reads.
inline bool PillowPixels(const std::string& dir, const std::string& image, Raster& r) {
    const std::string out = dir + "/pillow_view.ppm";
    return Pillow(dir, "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])", {image, out}) &&
           ReadPpm(out, r);
}

inline ::testing::AssertionResult SamePixels(const Raster& want, const Raster& got) {
    if (want.width != got.width || want.height != got.height)
        return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height
                                             << ", want " << want.width << "x" << want.height;
    for (size_t i = 0; i < want.rgb.size(); ++i)
        if (want.rgb[i] != got.rgb[i]) {
            const size_t pixel = i / 3;
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % want.width << "," << pixel / want.width << ") sample "
                   << i % 3 << " is " << int(got.rgb[i]) << ", want " << int(want.rgb[i]);
        }
    return ::testing::AssertionSuccess();
}

// A raster whose every pixel differs from its neighbours and from its
// mirror images, so that flips and swaps show.
inline Raster Pattern(uint32_t width, uint32_t height, uint32_t seed = 1) {
    Raster r{width, height, {}};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                r.rgb.push_back(testing_support::PatternSample(x, y, c, seed));
    return r;
}

}  // namespace image_tools
