#include "platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace tolvane::platform {

namespace {
bool StatPath(const std::string& path, struct stat& st) {
    return !path.empty() && stat(path.c_str(), &st) == 0;
}
}  // namespace

bool FileExists(const std::string& path) {
    struct stat st;
    return StatPath(path, st);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool RemoveFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

int RunAndWait(const std::string& program, const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint64_t PhysicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string MakePrivateTempFolder(const std::string& prefix) {
    const char* dir = std::getenv("TMPDIR");
    std::string base = (dir && *dir) ? dir : "/tmp";
    if (!IsSeparator(base.back())) base += kSeparator;
    std::string pattern = base + prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) return "";
    return pattern + kSeparator;
}

void RemoveFolder(const std::string& folder) {
    std::error_code error;
    if (!folder.empty()) std::filesystem::remove_all(folder, error);
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

void* LoadLibraryByName(const char* name) { return dlopen(name, RTLD_NOW); }

void ReleaseLibrary(void* handle) {
    if (handle) dlclose(handle);
}

std::string PicturesFolder() {
    const char* home = std::getenv("HOME");
    const std::string base = (home && *home) ? home : "/";
    const std::string pictures = base + (IsSeparator(base.back()) ? "" : "/") + "Pictures";
    return IsDirectory(pictures) ? pictures : base;
}

}  // namespace tolvane::platform
