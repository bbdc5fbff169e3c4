#include "output_file.h"

#include "naming.h"
#include "platform.h"
#include "text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tolvane {

std::string OwnerTag(const std::string& prefix) {
    return prefix + platform::HostName() + "-" + std::to_string(platform::ProcessId()) + "-";
}

int RemoveLeftovers(const std::string& folder, const std::string& prefix) {
    const std::string ours = prefix + platform::HostName() + "-";
    const std::string base = WithSeparator(folder.empty() ? "." : folder);
    int removed = 0;
    for (const std::string& name : platform::ListFolder(base)) {
        if (name.compare(0, ours.size(), ours) != 0) continue;
        // The tag ends "-PID-" and what follows holds no "-": a host named
        // "vm-12" is then never read as host "vm" with process 12.
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + ours.size(), &end, 10);
        if (end == name.c_str() + ours.size() || *end != '-' || std::strchr(end + 1, '-')) continue;
        if (!platform::ProcessGone(int(pid)) || !platform::OwnedByMe(base + name)) continue;
        if (platform::IsDirectory(base + name))
            platform::RemoveFolder(base + name);
        else
            platform::RemoveFile(base + name);
        ++removed;
    }
    return removed;
}

// The file is made in a folder of this process's own (mode 0700) beside
// its final name: the writers open it by name, and no other account can put
// a link in its place there.
std::string PendingOutput::Create(const std::string& finalName) {
    Discard();
    static int counter = 0;
    const size_t slash = finalName.find_last_of(platform::kSeparator);
    const std::string folder = slash == std::string::npos ? "" : finalName.substr(0, slash + 1);
    const std::string name = finalName.substr(folder.size());
    for (int tries = 0; tries < 100; ++tries) {
        const std::string own = folder + OwnerTag(kPartialPrefix) + std::to_string(++counter);
        const int error = platform::MakeOwnFolder(own);
        // Only a name left by an earlier process of the same id is worth a new try.
        if (error == EEXIST) continue;
        if (error != 0) return platform::SystemWords(error);
        const std::string path = own + platform::kSeparator + name;
        const std::string words = platform::CreateExclusive(path);
        if (!words.empty()) {
            platform::RemoveEmptyFolder(own);
            return words;
        }
        folder_ = own;
        path_ = path;
        return "";
    }
    return "no free temporary name";
}

bool PendingOutput::Commit(std::string& finalName, std::string& words) {
    words = platform::SyncToDisk(path_);
    if (!words.empty()) {
        Discard();
        return false;
    }
    std::string candidate = finalName;
    for (char letter = 'A';; ++letter) {
        const int error = platform::LinkWithoutReplacing(path_, candidate);
        if (error == 0) {
            platform::RemoveEmptyFolder(folder_);
            path_.clear();
            folder_.clear();
            finalName = candidate;
            return true;
        }
        if (error != EEXIST) {
            words = platform::SystemWords(error);
            break;
        }
        if (letter > 'Z') {
            words = "no free output name";
            break;
        }
        candidate = WithFirstLetter(finalName, letter);
    }
    Discard();
    return false;
}

void PendingOutput::Discard() {
    if (!path_.empty()) platform::RemoveFile(path_);
    if (!folder_.empty()) platform::RemoveEmptyFolder(folder_);
    path_.clear();
    folder_.clear();
}

}  // namespace tolvane
