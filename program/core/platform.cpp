#include "platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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

bool NameTaken(const std::string& path) {
    struct stat st;
    return !path.empty() && lstat(path.c_str(), &st) == 0;
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

namespace {
// A limit file's value; 0 for "max", an unreadable file or v1's "none"
// (a number near 2^63).
uint64_t LimitIn(const std::string& file) {
    std::ifstream in(file);
    unsigned long long value = 0;
    if (!(in >> value) || value >= (1ULL << 60)) return 0;
    return value;
}

uint64_t Smaller(uint64_t a, uint64_t b) { return a == 0 ? b : b == 0 ? a : std::min(a, b); }

// The limits of the group at path and of each group above it.
uint64_t LimitUpwards(const std::string& mount, std::string path, const char* file) {
    uint64_t limit = 0;
    for (;;) {
        limit = Smaller(limit, LimitIn(mount + path + "/" + file));
        const size_t slash = path.find_last_of('/');
        if (path.empty() || slash == std::string::npos) return limit;
        path.erase(slash);
    }
}
}  // namespace

uint64_t ControlGroupLimit(const std::string& cgroupText, const std::string& root) {
    std::istringstream lines(cgroupText);
    uint64_t limit = 0;
    for (std::string line; std::getline(lines, line);) {
        // "0::/path" for v2, "N:memory:/path" (controllers listed) for v1.
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        std::string path = line.substr(b + 1);
        if (path == "/") path.clear();
        if (controllers.empty()) {
            limit = Smaller(limit, LimitUpwards(root, path, "memory.max"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            limit = Smaller(limit, LimitUpwards(root + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return limit;
}

uint64_t UsableMemory() {
    std::ifstream in("/proc/self/cgroup");
    std::stringstream text;
    text << in.rdbuf();
    return Smaller(PhysicalMemory(), ControlGroupLimit(text.str(), "/sys/fs/cgroup"));
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string SystemTempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = (dir && *dir) ? dir : "/tmp";
    if (!IsSeparator(base.back())) base += kSeparator;
    return base;
}

std::string MakePrivateTempFolder(const std::string& prefix) {
    std::string pattern = SystemTempFolder() + prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) return "";
    return pattern + kSeparator;
}

void RemoveFolder(const std::string& folder) {
    std::error_code error;
    if (!folder.empty()) std::filesystem::remove_all(folder, error);
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

// ---- Outputs ----

std::string SystemWords(int error) { return std::strerror(error); }

std::string CreateExclusive(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return SystemWords(errno);
    close(fd);
    return "";
}

std::string SyncToDisk(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return SystemWords(errno);
    const int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error ? SystemWords(error) : "";
}

int LinkWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    // File systems without the flag: a hard link never replaces either.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    unlink(from.c_str());
    return 0;
}

std::string MakeFolders(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.message();
    return IsDirectory(folder) ? "" : SystemWords(ENOTDIR);
}

int MakeOwnFolder(const std::string& path) { return mkdir(path.c_str(), 0700) == 0 ? 0 : errno; }

void RemoveEmptyFolder(const std::string& path) {
    if (!path.empty()) rmdir(path.c_str());
}

bool OwnedByMe(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && st.st_uid == geteuid();
}

// ---- Processes ----

int ProcessId() { return int(getpid()); }

bool ProcessGone(int pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "host";
    return name;
}

// ---- Interrupts ----

namespace {
std::atomic<int> g_signal{0};
int g_pipe[2] = {-1, -1};

void Record(int signal) {
    const int saved = errno;
    int expected = 0;
    g_signal.compare_exchange_strong(expected, signal);
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    }
    errno = saved;
}
}  // namespace

void CatchInterrupts() {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = Record;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // Ignored on entry (nohup, a script's background job): it stays so.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

int InterruptSignal() { return g_signal.load(); }

int InterruptDescriptor() { return g_pipe[0]; }

void DrainInterrupts() {
    char buffer[64];
    while (g_pipe[0] >= 0 && read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

void SeparateChildInterrupts() {
    for (int& fd : g_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

void EndBySignal(int signal) {
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void SendSignal(int pid, int signal) {
    if (pid > 0) kill(pid, signal);
}

std::string SignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGKILL: return "SIGKILL";
    default: return "signal " + std::to_string(signal);
    }
}

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
