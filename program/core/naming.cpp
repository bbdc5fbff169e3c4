#include "naming.h"

#include "platform.h"
#include "text.h"

#include <cctype>

namespace tolvane {

using platform::IsSeparator;

namespace {
// Position of the first character of the file-name part. Folder names never
// count: a folder named like a name being stepped stays as it is.
size_t NameStart(const std::string& path) {
    const size_t last = path.find_last_of(platform::kSeparator);
    return last == std::string::npos ? 0 : last + 1;
}
}  // namespace

std::string FileNamePart(const std::string& path) {
    if (path.empty()) return "";
    return path.substr(NameStart(path));
}

std::string ReplaceExtension(const std::string& path, const std::string& ext) {
    if (path.empty()) return path;
    // Only a dot of the file name counts: "/my.photos/scan" gains ".tif".
    const size_t dot = path.rfind('.');
    const size_t slash = path.find_last_of(platform::kSeparator);
    const bool inName = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (inName ? path.substr(0, dot + 1) : path + ".") + ext;
}

std::string WithFirstLetter(const std::string& path, char letter) {
    std::string named = path;
    const size_t first = NameStart(path);
    if (first < named.size()) named[first] = letter;
    return named;
}

std::string MakeUniqueName(const std::string& path) {
    if (!platform::NameTaken(path)) return path;
    std::string candidate = path;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        candidate = WithFirstLetter(path, letter);
        if (!platform::NameTaken(candidate)) break;
    }
    return candidate;
}

std::string OutputNameFor(const std::string& folder, int position, const std::string& name) {
    return Format("%sA%03d_%s", folder.c_str(), position, name.c_str());
}

const char* FormatExtension(char format) {
    switch (format) {
    case 'B': return "bmp";
    case 'J': return "jpg";
    case 'P': return "png";
    case 'W': return "webp";
    default: return "tif";
    }
}

std::string RunOutputName(const std::string& folder, int position, const std::string& name, char format) {
    return MakeUniqueName(ReplaceExtension(OutputNameFor(folder, position, name), FormatExtension(format)));
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + platform::kSeparator + name;
}

std::string WithSeparator(const std::string& folder) {
    if (folder.empty() || IsSeparator(folder.back())) return folder;
    return folder + platform::kSeparator;
}

std::string HeaderPathFor(const std::string& tempFolder, const std::string& image) {
    return ReplaceExtension(tempFolder + FileNamePart(image), "hdr");
}

bool ListBoxLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

}  // namespace tolvane
