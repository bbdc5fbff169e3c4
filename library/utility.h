// Helpers shared by the whole library (the Utility worker).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ORVIX_0500.h"

namespace orvix {

class Utility {
public:
    virtual ~Utility() = default;

    static uint32_t RoundUp4(uint32_t n) { return (n + 3u) & ~3u; }
    static uint64_t RoundUp4(uint64_t n) { return (n + 3u) & ~uint64_t{3}; }

    // File name part of a path; a path through a "crop" folder keeps that
    // folder ("crop/x.jpg"), so that working copies of crops stay apart, as
    // long as nothing after it is empty, "." or ".." (then the last
    // component is taken). "" when the last component is empty, "." or "..".
    static std::string BaseName(const std::string& path);
    // Cuts the path at its last "." (of the file name) and appends "." + ext;
    // a name without "." gets the extension appended.
    static void SetExtension(std::string& path, const std::string& ext);
    // Whether the name's last extension is ext (".dcr"), in any case.
    static bool HasExtension(const std::string& path, const std::string& ext);
    // A raw camera file: the last extension is ".dcr" ("x.dcr.jpg" is a
    // JPEG); the file need not exist.
    static bool IsRawName(const std::string& path) { return HasExtension(path, ".dcr"); }
    static bool FileExists(const std::string& path);
    static int64_t FileSize(const std::string& path);

    // Temporary folder + BaseName(file), extension replaced by ext unless it
    // is empty. Fills the temporary folder from the system when unknown.
    // "" with a message when file names no file or ext would lead out of
    // the folder.
    std::string MakeTempName(const std::string& file, const std::string& ext);

    // Searches from the drive roots for a file whose name contains the base
    // name of name; returns its path or "".
    std::string FindFile(const std::string& name);

    // Empties the token table and splits line into it at any character of
    // delims: at most 32 tokens of at most 127 characters, runs of delimiters
    // separate once, a double-quoted run is one token without its quotes.
    void Tokenize(const std::string& line, const std::string& delims);
    // Token index of the last split, or "" when there is none.
    std::string Token(int index) const;

    static constexpr int kMaxTokens = 32;
    static constexpr size_t kMaxTokenLength = 127;

    // Deletes from folder every file whose name contains one of markers
    // (first match deletes). An empty folder means the temporary folder.
    // Returns true on failure (with a message posted).
    bool DeleteWorkingFiles(const std::string& folder,
                            const std::vector<std::string>& markers,
                            const char* who);

    // Reads rect of file into img through the reader of the current header's
    // type; tiffOption goes to the TIFF rectangle reader.
    bool GetImgRect(const char* file, const CRect& rect, ImgClass* img, int tiffOption);

    // The library's markers of working files that Cleanup deletes.
    static std::vector<std::string> WorkingFileMarkers();

    std::string lastFoundPath;

private:
    bool SearchFolder(const std::string& folder, const std::string& target,
                      int depth);
    std::vector<std::string> tokens_;
};

// Makes img an 8-bit image of width x height pixels of samples bytes each,
// lines rounded up to 4 bytes, and allocates its buffer. Returns true with
// words naming who and img's file when the pixel limit refuses the size or
// no memory is given.
bool PrepareDecodedImage(ImgClass& img, uint32_t width, uint32_t height, int samples,
                         const char* who);

}  // namespace orvix
