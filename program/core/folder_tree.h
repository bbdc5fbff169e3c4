// The folder tree's rules: the drives under "MyComputer", the sorted
// subfolders of a folder, whether a folder gets an expand button, and a
// tree item's full path. On Linux the one drive is the root "/".
#pragma once

#include <string>
#include <vector>

namespace tolvane {

inline constexpr char kTreeRoot[] = "MyComputer";
inline constexpr char kPlaceholder[] = "1";

// The drive items under the root.
std::vector<std::string> DriveList();

// The folders in path, in list-box order; hidden folders (".name") are left
// out. Empty when path cannot be listed.
std::vector<std::string> SubFolders(const std::string& path);

// True when path holds anything, so its item shows an expand button.
bool HasEntries(const std::string& path);

// The full path of an item from the texts of the items below the root down
// to it: joined with "/", a root never doubled ("/home/me"). The root item
// alone gives its own text.
std::string TreePath(const std::vector<std::string>& texts);

}  // namespace tolvane
