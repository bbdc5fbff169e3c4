// The program's operating-system layer: file status, folder listing,
// starting a helper program, memory size and the terminal. Every platform
// call of the program goes through here, so a port replaces this pair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::platform {

// The separator the program writes into the paths it makes.
inline constexpr char kSeparator = '/';

// Paths from the user may use either separator.
inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
bool RemoveFile(const std::string& path);

// The names in folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);

// Starts program with the argument vector argv (argv[0] included) in the
// inherited environment and waits for it. Returns its exit status, or -1
// when it could not be started or did not end normally.
int RunAndWait(const std::string& program, const std::vector<std::string>& argv);

// Physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemory();

// The absolute form of path, resolved against the current folder.
std::string AbsolutePath(const std::string& path);

// A new private folder below the system's temporary folder, ending with the
// separator; empty on failure. RemoveFolder deletes it with its files.
std::string MakePrivateTempFolder(const std::string& prefix);
void RemoveFolder(const std::string& folder);

bool IsTerminal(int fd);

// Loads a shared library by its file name (it stays loaded while held);
// null when it cannot be loaded. ReleaseLibrary lets it go.
void* LoadLibraryByName(const char* name);
void ReleaseLibrary(void* handle);

// The user's pictures folder ($HOME/Pictures), else the home folder.
std::string PicturesFolder();

}  // namespace tolvane::platform
