// The library's operating-system layer: every call into the platform goes
// through here, so that a port replaces this file pair and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace orvix::os {

// The separator the library writes into paths it makes.
inline constexpr char kSeparator = '/';

// '/' alone separates path components; a backslash is an ordinary character
// of a file name.
inline bool IsSeparator(char c) { return c == kSeparator; }

// Zero-filled, read-write memory straight from the system. Null on refusal.
unsigned char* PageAlloc(uint64_t bytes);
void PageFree(unsigned char* block);

// The system's temporary folder, ending with the separator; empty when the
// system cannot name one.
std::string SystemTempFolder();

struct FileStatus {
    bool exists = false;
    bool isDirectory = false;
    int64_t size = 0;
};
FileStatus Stat(const std::string& path);

struct DirEntry {
    std::string name;
    bool isDirectory = false;
    bool isSymlink = false;
};
// Calls visit for each entry but "." and ".."; visit returns false to stop.
// Returns false when the folder cannot be listed.
bool ListFolder(const std::string& folder,
                const std::function<bool(const DirEntry&)>& visit);

bool RemoveFile(const std::string& path);
// Replaces to with from in one step (same file system).
bool RenameFile(const std::string& from, const std::string& to);
// Creates path for binary writing only when nothing exists there yet; null
// otherwise. The file gets the usual permissions (0666 less the umask).
std::FILE* CreateNewFile(const std::string& path);
void SleepMilliseconds(int ms);
int64_t SecondsSince1970();

}  // namespace orvix::os
