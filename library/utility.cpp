#include "utility.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "image_ops.h"
#include "library.h"
#include "os.h"

namespace orvix {

namespace {

size_t LastSeparator(const std::string& path) {
    for (size_t i = path.size(); i-- > 0;)
        if (os::IsSeparator(path[i])) return i;
    return std::string::npos;
}

// Position of the first "/crop/" in path.
size_t FindCropFolder(const std::string& path) {
    for (size_t i = 0; i + 6 <= path.size(); ++i) {
        if (os::IsSeparator(path[i]) && path.compare(i + 1, 4, "crop") == 0 &&
            os::IsSeparator(path[i + 5]))
            return i;
    }
    return std::string::npos;
}

// True when every component of text names something of its own: none is
// empty, "." or "..", so that text appended to a folder stays below it.
bool AllPlainComponents(const std::string& text) {
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !os::IsSeparator(text[i])) continue;
        const std::string_view part(text.data() + start, i - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = i + 1;
    }
    return true;
}

bool HasSeparator(const std::string& text) {
    for (const char c : text)
        if (os::IsSeparator(c)) return true;
    return false;
}

// Folders of the root that hold no user files and can be endless.
bool IsSystemFolder(const std::string& path) {
    return path == "/proc" || path == "/sys" || path == "/dev";
}

constexpr int kMaxSearchDepth = 256;

}  // namespace

std::string Utility::BaseName(const std::string& path) {
    if (path.empty()) return {};
    std::string base;
    const size_t crop = FindCropFolder(path);
    // What follows the crop folder is kept only when it cannot climb out of
    // it; otherwise the name falls back to its last component.
    if (crop != std::string::npos && AllPlainComponents(path.substr(crop + 6))) {
        base = path.substr(crop + 1);
    } else {
        const size_t sep = LastSeparator(path);
        base = sep == std::string::npos ? path : path.substr(sep + 1);
    }
    if (!base.empty() && base[0] == '*') base.erase(0, 1);
    // "." and ".." name a folder, not a file in it.
    if (base == "." || base == "..") return {};
    return base;
}

bool Utility::HasExtension(const std::string& path, const std::string& ext) {
    const size_t slash = path.rfind(os::kSeparator);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    if (path.size() - dot != ext.size()) return false;
    for (size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[dot + i])) != std::tolower(static_cast<unsigned char>(ext[i])))
            return false;
    return true;
}

void Utility::SetExtension(std::string& path, const std::string& ext) {
    const size_t sep = LastSeparator(path);
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep))
        path.erase(dot);
    path += '.';
    path += ext;
}

bool Utility::FileExists(const std::string& path) { return os::Stat(path).exists; }

int64_t Utility::FileSize(const std::string& path) { return os::Stat(path).size; }

std::string Utility::MakeTempName(const std::string& file, const std::string& ext) {
    std::string& folder = Lib().tempPath;
    if (folder.empty()) folder = os::SystemTempFolder();
    std::string base = BaseName(file);
    // Without a file name the result would be the folder itself.
    if (base.empty()) {
        PostError("MakeTemp_FileName: %s names no file", file.c_str());
        return {};
    }
    if (!ext.empty()) {
        SetExtension(base, ext);
        // An extension with a separator, or one that turns the name into
        // "..", would lead elsewhere.
        if (HasSeparator(ext) || !AllPlainComponents(base)) {
            PostError("MakeTemp_FileName: %s is no extension", ext.c_str());
            return {};
        }
    }
    return folder + base;
}

std::string Utility::FindFile(const std::string& name) {
    const std::string target = BaseName(name);
    if (target.empty()) return {};
    // Linux has a single root; the walk stays on real folders.
    const std::string root = "/";
    std::string found;
    os::ListFolder(root, [&](const os::DirEntry& e) {
        const std::string path = root + e.name;
        if (e.isSymlink) return true;
        if (e.isDirectory) {
            if (IsSystemFolder(path)) return true;
            if (SearchFolder(path, target, 1)) {
                found = lastFoundPath;
                return false;
            }
        } else if (e.name.find(target) != std::string::npos) {
            found = lastFoundPath = path;
            return false;
        }
        return true;
    });
    return found;
}

bool Utility::SearchFolder(const std::string& folder, const std::string& target,
                           int depth) {
    if (depth > kMaxSearchDepth) return false;
    bool hit = false;
    os::ListFolder(folder, [&](const os::DirEntry& e) {
        if (e.isSymlink) return true;
        const std::string path = folder + os::kSeparator + e.name;
        if (e.isDirectory) {
            if (SearchFolder(path, target, depth + 1)) {
                hit = true;
                return false;
            }
        } else if (e.name.find(target) != std::string::npos) {
            // The entry's own path: a file whose name merely contains the
            // target is not at folder + target.
            lastFoundPath = path;
            hit = true;
            return false;
        }
        return true;
    });
    return hit;
}

void Utility::Tokenize(const std::string& line, const std::string& delims) {
    tokens_.clear();
    auto isDelim = [&](char c) { return delims.find(c) != std::string::npos; };
    size_t i = 0;
    while (i < line.size() && static_cast<int>(tokens_.size()) < kMaxTokens) {
        while (i < line.size() && isDelim(line[i])) ++i;
        if (i >= line.size()) break;
        std::string token;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            const size_t end = close == std::string::npos ? line.size() : close;
            token = line.substr(i + 1, end - i - 1);
            i = close == std::string::npos ? line.size() : close + 1;
        } else {
            const size_t start = i;
            while (i < line.size() && !isDelim(line[i])) ++i;
            token = line.substr(start, i - start);
        }
        if (token.size() > kMaxTokenLength) token.resize(kMaxTokenLength);
        tokens_.push_back(std::move(token));
    }
}

std::string Utility::Token(int index) const {
    if (index < 0 || index >= static_cast<int>(tokens_.size())) return {};
    return tokens_[static_cast<size_t>(index)];
}

std::vector<std::string> Utility::WorkingFileMarkers() {
    // Made on each call: the clean-up at unload runs after static objects
    // may already be gone.
    return {".str", ".cmd", ".hd1", ".sc0", ".sc1", ".map", ".xmp"};
}

bool Utility::DeleteWorkingFiles(const std::string& folderIn,
                                 const std::vector<std::string>& markers,
                                 const char* who) {
    std::string folder = folderIn;
    if (folder.empty()) {
        if (Lib().tempPath.empty()) Lib().tempPath = os::SystemTempFolder();
        folder = Lib().tempPath;
        if (folder.empty()) return PostError("%s:Can't determine TEMP path", who);
    }
    if (!os::IsSeparator(folder.back())) folder += os::kSeparator;
    std::vector<std::string> doomed;
    const bool listed = os::ListFolder(folder, [&](const os::DirEntry& e) {
        if (e.isDirectory) return true;
        for (const std::string& marker : markers) {
            if (!marker.empty() && e.name.find(marker) != std::string::npos) {
                doomed.push_back(folder + e.name);
                break;
            }
        }
        return true;
    });
    if (!listed) return PostError("%s: Cannot open Local Tmp directory", who);
    for (const std::string& path : doomed) os::RemoveFile(path);
    return false;
}

bool PrepareDecodedImage(ImgClass& img, uint32_t width, uint32_t height, int samples,
                         const char* who) {
    ImgStruct& s = img.ImgStruct;
    if (width == 0 || height == 0)
        return PostError("%s %s: invalid image size %u x %u", who, s.FileName, width, height);
    if (ExceedsPixelLimit(width, height, who, s.FileName)) return true;
    const uint64_t lineSize = Utility::RoundUp4(uint64_t{width} * uint64_t(samples));
    if (lineSize > UINT32_MAX)
        return PostError("%s %s: lines of %u pixels are too long", who, s.FileName, width);
    s.Width = width;
    s.Height = height;
    s.Samples = samples;
    s.Bits = 8;
    s.BgrOrder = 0;
    s.LineSize = static_cast<uint32_t>(lineSize);
    if (AllocWithSpare(img, 0))
        return PostError("%s %s: no memory for %u x %u pixels", who, s.FileName, width, height);
    return false;
}

}  // namespace orvix
