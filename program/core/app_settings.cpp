#include "app_settings.h"

#include "naming.h"
#include "output_file.h"
#include "platform.h"

#include <ORVIX_0500.h>

#include <cctype>
#include <cstdio>

namespace tolvane {

namespace {
const char* const kWorkingExtensions[] = {".str", ".cmd", ".hdr", ".hd1", ".sc0",
                                          ".sc1", ".tnl", ".map", ".xmp", ".tn0"};

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The first line that is not a comment, as fgets reads lines of at most
// 1023 characters; "" when the file ends first.
std::string FirstSettingLine(std::FILE* f) {
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        if (line[0] != '#') return line;
    }
    return "";
}
}  // namespace

std::string DialogTitle() {
    return std::string(kProgramVersion) + "   ORVIX_xxxx.dll version " + GetDll_Version();
}

std::string ReadProcessorFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return "";
    const std::string line = Trim(FirstSettingLine(f));
    std::fclose(f);
    if (line.empty()) return "";
    if (platform::FileExists(line)) return line;
    if (Upper(line) == "NONE") return "";
    return Find_File(line.c_str());
}

void DeleteWorkingFiles(const std::string& folder, const std::string& name) {
    if (folder.empty()) return;
    const std::string base = WithSeparator(folder);
    for (const std::string& entry : platform::ListFolder(folder)) {
        bool match = false;
        if (!name.empty()) {
            match = entry.find(name) != std::string::npos;
        } else {
            for (const char* ext : kWorkingExtensions)
                if (entry.find(ext) != std::string::npos) match = true;
        }
        if (match) platform::RemoveFile(base + entry);
    }
}

namespace {
constexpr char kWorkingPrefix[] = "tolvane-";

// A killed run's working folder goes when the next run starts.
std::string FreshWorkingFolder() {
    RemoveLeftovers(platform::SystemTempFolder(), kWorkingPrefix);
    return platform::MakePrivateTempFolder(OwnerTag(kWorkingPrefix));
}
}  // namespace

WorkingFolder::WorkingFolder() : folder_(FreshWorkingFolder()), owner_(platform::ProcessId()) {
    if (!folder_.empty()) Set_Temp_Path(folder_.c_str());
}

WorkingFolder::~WorkingFolder() {
    // A worker process shares the folder; only its maker removes it.
    if (platform::ProcessId() != owner_) return;
    DeleteWorkingFiles(folder_, "");
    platform::RemoveFolder(folder_);
}

}  // namespace tolvane
