// Turning what the user names — files, a folder, the open-file dialog's
// choice, files dropped on the dialog — into the open-file dialog's
// selection: the folder and the chosen names, or a lone path.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

// One entry of the open-file dialog's filter: its label and patterns.
struct FileFilter {
    std::string label;
    std::vector<std::string> patterns;  // "*.tif", ...
};

// The entries of a filter text "label|patterns|label|patterns||", the
// patterns separated by ";".
std::vector<FileFilter> ParseFileFilter(const std::string& filter);

// True when an entry of the dialog's filter other than "*.*" offers name.
bool ImageFilterOffers(const std::string& name);

// The selection for inputs: a folder alone stands for its files whose
// extension the filter offers; files must lie in one folder.
// Empty, with error set, when there is nothing to list.
std::vector<std::string> SelectionFor(const std::vector<std::string>& inputs, std::string& error);

}  // namespace tolvane
