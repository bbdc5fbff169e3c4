// Path and output-name rules of the batch run: the file-name part of a
// path, extension replacement, the A..Z unique names and the header path.
#pragma once

#include <string>

namespace tolvane {

// Empty for an empty path; otherwise the text after the last separator.
std::string FileNamePart(const std::string& path);

// Everything after the last "." is replaced by ext; nothing for an empty path.
std::string ReplaceExtension(const std::string& path, const std::string& ext);

// path with the first letter of its file-name part made letter.
std::string WithFirstLetter(const std::string& path, char letter);

// path when nothing is there (a dangling link counts as something);
// otherwise the first letter of its file-name part stepped from "A" to "Z"
// until the name is free. After "Z" the last candidate is returned although
// it is taken: callers must check.
std::string MakeUniqueName(const std::string& path);

// folder (ending with a separator) + "A" + position as "%03d" + "_" + name.
std::string OutputNameFor(const std::string& folder, int position, const std::string& name);

// The extension of an output format, by the first letter of its name
// ('T'IFF, 'J'PEG, 'B'MP, 'P'NG, 'W'ebP); TIFF's for any other letter.
const char* FormatExtension(char format);

// The name the file at position is written under in format (a letter as
// FormatExtension takes): OutputNameFor with the format's extension, its first letter
// stepped while the name is taken. The dialog shows this same name.
std::string RunOutputName(const std::string& folder, int position, const std::string& name, char format);

// folder + separator + name, the way the dialog forms its source paths.
std::string JoinPath(const std::string& folder, const std::string& name);

// folder with a separator at its end (an empty folder stays empty).
std::string WithSeparator(const std::string& folder);

// The working header file of an image: temporary folder + the file-name part
// with the extension "hdr".
std::string HeaderPathFor(const std::string& tempFolder, const std::string& image);

// The list box's order: case-insensitive.
bool ListBoxLess(const std::string& a, const std::string& b);

}  // namespace tolvane
