// Outputs are created, never replaced. Each is written under a temporary
// name of its own in the destination and linked under its final name only
// once complete, without replacing anything there: two runs into one folder
// or a planted link can never cost a file, and no half-written file ever
// carries a final name.
#pragma once

#include <string>

namespace tolvane {

// Leading the temporary name of an output being written.
inline constexpr char kPartialPrefix[] = ".tolvane-partial-";

// prefix + host + "-" + pid + "-": what names this process's own files, so
// that a later run can tell a dead process's leftovers from a live one's.
std::string OwnerTag(const std::string& prefix);

// Removes the entries of folder that carry prefix's owner tag of this host,
// belong to this user and whose process is gone. Returns how many went.
int RemoveLeftovers(const std::string& folder, const std::string& prefix);

class PendingOutput {
public:
    PendingOutput() = default;
    ~PendingOutput() { Discard(); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Makes the empty temporary file in a private folder beside finalName.
    // "" or the system's words.
    std::string Create(const std::string& finalName);
    // Where the writers write; empty when there is nothing pending.
    const std::string& Path() const { return path_; }
    // Flushes the file to the disk and links it under finalName, or, when
    // that is taken, under the first free name with the first letter of its
    // file-name part stepped from "A" to "Z"; finalName becomes the name
    // used. False with words when it cannot be, the file then removed.
    bool Commit(std::string& finalName, std::string& words);
    // Removes the temporary file, if any.
    void Discard();

private:
    std::string folder_;  // the process's own folder holding it
    std::string path_;
};

}  // namespace tolvane
