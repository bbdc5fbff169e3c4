// What the program reads and cleans at start-up and exit: the raw-camera
// processor file, the working files in the temporary folder, and the
// version texts.
#pragma once

#include <string>

namespace tolvane {

inline constexpr char kProgramVersion[] = "Tolvane Version: 2, 6, 7, 1";
inline constexpr char kProcessorFile[] = "DCR_Img_Processor.txt";

// "Tolvane Version: 2, 6, 7, 1   ORVIX_xxxx.dll version " + the library's.
std::string DialogTitle();

// The processor path named by the processor file at path: its first line
// that is not a "#" comment, trimmed; used as it stands when a file of that
// name exists, else searched with the library's Find_File. Empty for no
// file, an empty line or "NONE" in any case.
std::string ReadProcessorFile(const std::string& path);

// Deletes from folder the files whose name contains name, or with an empty
// name the files whose name contains one of the working-file extensions.
// Files that cannot be deleted stay. The current folder is never changed.
void DeleteWorkingFiles(const std::string& folder, const std::string& name);

// The program's own working folder below the system's temporary folder,
// for the program's life: the library's header, thumbnail and command files
// go there, so clean-up by extension never meets another program's files in
// a shared temporary folder, and concurrent runs never share a header name.
// Deleted with its files at the end.
class WorkingFolder {
public:
    WorkingFolder();
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    const std::string& Path() const { return folder_; }

private:
    std::string folder_;
    int owner_;
};

}  // namespace tolvane
