// Shared by the fuzz targets: the library reads paths, so each input is
// written to a scratch file first.
#pragma once

#include <ORVIX_0500.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A scratch file of this process, with the given extension.
inline const std::string& ScratchPath(const char* ext) {
    static std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string base = (dir && *dir) ? dir : "/tmp";
        return base + "/orvix_fuzz_" + std::to_string(getpid());
    }();
    static std::string named;
    named = path + "." + ext;
    return named;
}

inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Reads the file at path into a fresh image and checks what a reader
// promises of a success: a buffer of Height lines of at least the pixels.
// A reduced read asks for a one-pixel picture, the most a JPEG is reduced.
inline void ReadAndTouch(const std::string& path, bool swap, bool reduced = false) {
    ImgClass img;
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
    const bool failed = reduced ? ReadImageForSize(swap, &img, 1, 1, nullptr) : ReadImage(swap, &img);
    if (!failed && img.ImgStruct.ImgData) {
        const ImgStruct& s = img.ImgStruct;
        if (s.LineSize < s.Width * static_cast<uint32_t>(s.Samples)) std::abort();
        // Touch the first and last byte of every line so that a buffer
        // shorter than its attributes is found.
        unsigned sum = 0;
        for (uint32_t y = 0; y < s.Height; ++y) {
            sum += s.ImgData[size_t{y} * s.LineSize];
            sum += s.ImgData[size_t{y} * s.LineSize + s.LineSize - 1];
        }
        // Keeps the reads from being optimised away.
        volatile unsigned sink = sum;
        (void)sink;
    }
}

}  // namespace fuzz
