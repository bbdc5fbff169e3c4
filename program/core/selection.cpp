#include "selection.h"

#include "naming.h"
#include "platform.h"
#include "scale_dialog.h"

#include <ORVIX_0500.h>

#include <algorithm>

namespace tolvane {

namespace {
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// A pattern "*.ext" offers the names ending with ".ext" exactly.
bool Offers(const std::string& pattern, const std::string& name) {
    if (pattern.size() < 2 || pattern[0] != '*') return false;
    const std::string tail = pattern.substr(1);
    return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> ListFolderImages(const std::string& input, std::string& error) {
    const std::string folder = platform::AbsolutePath(input);
    std::vector<std::string> names;
    for (const std::string& name : platform::ListFolder(folder)) {
        const std::string path = JoinPath(folder, name);
        // Names alone decide what is listed: a file is not opened here, so a
        // damaged or half-copied one still takes its place and fails there.
        if (name[0] != '.' && ImageFilterOffers(name) && platform::IsRegularFile(path)) names.push_back(name);
    }
    if (names.empty()) {
        error = "no image files in " + input;
        return {};
    }
    std::sort(names.begin(), names.end());  // a fixed order for names the list holds equal
    if (names.size() == 1) return {JoinPath(folder, names[0])};
    names.insert(names.begin(), folder);
    return names;
}
}  // namespace

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
    std::vector<FileFilter> entries;
    const std::vector<std::string> parts = Split(filter, '|');
    for (size_t k = 0; k + 1 < parts.size() && !parts[k].empty(); k += 2)
        entries.push_back({parts[k], Split(parts[k + 1], ';')});
    return entries;
}

bool ImageFilterOffers(const std::string& name) {
    static const std::vector<FileFilter> filters = ParseFileFilter(ScaleDialogModel::kFileFilter);
    for (const FileFilter& f : filters)
        for (const std::string& p : f.patterns)
            if (p != "*.*" && Offers(p, name)) return true;
    return false;
}

std::vector<std::string> SelectionFor(const std::vector<std::string>& inputs, std::string& error) {
    if (inputs.size() == 1 && platform::IsDirectory(inputs[0])) return ListFolderImages(inputs[0], error);
    std::vector<std::string> selection;
    std::string folder;
    for (const std::string& input : inputs) {
        if (!platform::IsRegularFile(input)) {
            error = "no such file: " + input;
            return {};
        }
        const std::string path = platform::AbsolutePath(input);
        const std::string name = FileNamePart(path);
        const std::string dir = path.substr(0, path.size() - name.size() - 1);
        if (selection.empty()) {
            folder = dir;
        } else if (dir != folder) {
            error = "the files must lie in one folder: " + input;
            return {};
        }
        selection.push_back(name);
    }
    if (selection.empty()) {
        error = "name the files or a folder";
        return {};
    }
    if (selection.size() == 1) return {JoinPath(folder, selection[0])};
    selection.insert(selection.begin(), folder);
    return selection;
}

}  // namespace tolvane
