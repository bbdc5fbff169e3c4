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

// "/" alone separates path components; "\\" is part of a name.
inline bool IsSeparator(char c) { return c == kSeparator; }

bool FileExists(const std::string& path);
// Whether anything at all is at path, a dangling symbolic link included.
bool NameTaken(const std::string& path);
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
// The memory this process may use: physical memory, or less when its
// control group (v2 or v1) is limited; 0 when nothing says.
uint64_t UsableMemory();
// The smallest memory limit on the way from a control group to the root:
// cgroupText is what /proc/self/cgroup holds, root where the groups are
// mounted (/sys/fs/cgroup). 0 when none is set.
uint64_t ControlGroupLimit(const std::string& cgroupText, const std::string& root);

// The absolute form of path, resolved against the current folder.
std::string AbsolutePath(const std::string& path);

// TMPDIR, else /tmp, ending with the separator.
std::string SystemTempFolder();

// A new private folder below the system's temporary folder, ending with the
// separator; empty on failure. RemoveFolder deletes it with its files.
std::string MakePrivateTempFolder(const std::string& prefix);
void RemoveFolder(const std::string& folder);

bool IsTerminal(int fd);

// ---- Outputs: created, never replaced ----
// The system's words for an error number ("No space left on device").
std::string SystemWords(int error);
// Makes an empty file at path only when nothing is there, never through a
// symbolic link. "" or the system's words.
std::string CreateExclusive(const std::string& path);
// Writes path's data through to the disk. "" or the system's words.
std::string SyncToDisk(const std::string& path);
// Gives the file at from the name to, never replacing what is at to.
// 0, or the error number (EEXIST when to is taken).
int LinkWithoutReplacing(const std::string& from, const std::string& to);
// Makes folder and the folders above it that are missing. "" or the
// system's words.
std::string MakeFolders(const std::string& folder);
// Makes a folder only this user may enter. 0, or the error number.
int MakeOwnFolder(const std::string& path);
// Removes a folder that is empty.
void RemoveEmptyFolder(const std::string& path);
// Whether path is this user's own (not followed when a symbolic link).
bool OwnedByMe(const std::string& path);

// ---- Processes ----
int ProcessId();
// True only when the system says no process has that id.
bool ProcessGone(int pid);
// This machine's name; "host" when the system does not say.
std::string HostName();

// ---- Interrupts ----
// From here on SIGINT, SIGTERM and SIGHUP only record themselves: the run
// stops between library calls, cleans up, and ends the way the signal asks.
// A signal ignored on entry (nohup) stays ignored.
void CatchInterrupts();
// The signal that asked to stop, or 0.
int InterruptSignal();
// Readable once a signal has been caught, for an event loop to wait on.
int InterruptDescriptor();
// Empties that descriptor, so a loop waits again.
void DrainInterrupts();
// In a new child process: a signal pipe of its own, and the end of the
// child when its parent ends.
void SeparateChildInterrupts();
// Ends the process as the signal would have, had it not been caught.
[[noreturn]] void EndBySignal(int signal);
void SendSignal(int pid, int signal);
// "SIGINT" and the like.
std::string SignalName(int signal);

// Loads a shared library by its file name (it stays loaded while held);
// null when it cannot be loaded. ReleaseLibrary lets it go.
void* LoadLibraryByName(const char* name);
void ReleaseLibrary(void* handle);

// The user's pictures folder ($HOME/Pictures), else the home folder.
std::string PicturesFolder();

}  // namespace tolvane::platform
