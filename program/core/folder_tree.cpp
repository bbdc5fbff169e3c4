#include "folder_tree.h"

#include "naming.h"
#include "platform.h"

#include <algorithm>

namespace tolvane {

std::vector<std::string> DriveList() { return {"/"}; }

std::vector<std::string> SubFolders(const std::string& path) {
    std::vector<std::string> folders;
    for (const std::string& name : platform::ListFolder(path))
        if (name[0] != '.' && platform::IsDirectory(WithSeparator(path) + name)) folders.push_back(name);
    std::stable_sort(folders.begin(), folders.end(), ListBoxLess);
    return folders;
}

bool HasEntries(const std::string& path) { return !platform::ListFolder(path).empty(); }

std::string TreePath(const std::vector<std::string>& texts) {
    if (texts.empty()) return kTreeRoot;
    std::string path;
    for (const std::string& text : texts) path = path.empty() ? text : WithSeparator(path) + text;
    return path;
}

}  // namespace tolvane
