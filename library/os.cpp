#include "os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace orvix::os {

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer pixel buffers come from the checked heap, so that a
// write past a buffer's end is reported instead of landing in the mapping's
// unused tail.
unsigned char* PageAlloc(uint64_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX) return nullptr;
    return static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(bytes)));
}
void PageFree(unsigned char* block) { std::free(block); }
#else
// Each block starts with a small header that remembers the mapping's start
// and length, which the system needs back when the block is released.
static constexpr uint64_t kBlockHeader = 64;
// Blocks from this size on are laid out on huge-page boundaries.
static constexpr size_t kHugeFrom = size_t{4} << 20;
static constexpr size_t kHugePage = size_t{2} << 20;

struct BlockHeader {
    void* base;
    size_t length;
};

unsigned char* PageAlloc(uint64_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - kBlockHeader - 2 * kHugePage) return nullptr;
    size_t length = static_cast<size_t>(bytes + kBlockHeader);
    const bool huge = length >= kHugeFrom;
    // Large pixel buffers are written whole right away; huge pages spare the
    // thousands of page faults that otherwise cost more than the pixel work.
    // The kernel backs only whole, aligned 2 MiB spans with them, and the
    // system places a mapping at a page boundary that differs from process
    // to process: so the block is aligned and rounded to whole huge pages,
    // else up to 1023 of its pages fault one by one (measured at 20-40 us
    // each on a virtual machine, 15-30 ms for a 288 MB output).
    if (huge) length = (length + kHugePage - 1) & ~(kHugePage - 1);
    const size_t reserve = huge ? length + kHugePage : length;
    void* p = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    unsigned char* base = static_cast<unsigned char*>(p);
    if (huge) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(base);
        unsigned char* aligned = base + (((at + kHugePage - 1) & ~uintptr_t(kHugePage - 1)) - at);
        // The unaligned head and the tail past the block go back at once.
        if (aligned > base) munmap(base, static_cast<size_t>(aligned - base));
        const size_t tail = reserve - length - static_cast<size_t>(aligned - base);
        if (tail) munmap(aligned + length, tail);
        base = aligned;
        madvise(base, length, MADV_HUGEPAGE);
    }
    *reinterpret_cast<BlockHeader*>(base) = {base, length};
    return base + kBlockHeader;
}
void PageFree(unsigned char* block) {
    if (!block) return;
    const BlockHeader header = *reinterpret_cast<const BlockHeader*>(block - kBlockHeader);
    munmap(header.base, header.length);
}
#endif

std::string SystemTempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    if (!IsSeparator(folder.back())) folder += kSeparator;
    return folder;
}

FileStatus Stat(const std::string& path) {
    FileStatus status;
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return status;
    status.exists = true;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.size = static_cast<int64_t>(st.st_size);
    return status;
}

bool ListFolder(const std::string& folder,
                const std::function<bool(const DirEntry&)>& visit) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    std::string base = folder;
    if (!base.empty() && !IsSeparator(base.back())) base += kSeparator;
    while (struct dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        // The entry's kind usually comes with the listing; ask the file
        // system only when it does not, so that walking large trees stays
        // cheap.
        if (e->d_type != DT_UNKNOWN) {
            entry.isSymlink = e->d_type == DT_LNK;
            entry.isDirectory = e->d_type == DT_DIR;
        } else {
            struct stat st;
            if (lstat((base + name).c_str(), &st) == 0) {
                entry.isSymlink = S_ISLNK(st.st_mode);
                entry.isDirectory = S_ISDIR(st.st_mode);
            }
        }
        if (!visit(entry)) break;
    }
    closedir(dir);
    return true;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::FILE* CreateNewFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "wb");
    if (!f) close(fd);
    return f;
}

void SleepMilliseconds(int ms) {
    struct timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

int64_t SecondsSince1970() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace orvix::os
