// Command files that ask the image server for zoomed or cropped images.
#pragma once

#include <string>

#include "ORVIX_0500.h"

namespace orvix {

// File name part after the last '/' or '*'.
std::string PlainNamePart(const std::string& path);
// File name part of an image path: "crop/..." kept for paths through a crop
// folder, a leading '*' dropped.
std::string ImageNamePart(const std::string& path);

// Writes the local command file (in the temporary folder) for crop, frame
// W x H and quality; remembers the command and result file names in the zoom
// state. True on failure, with a message.
bool GenerateLocalCmd(const CRect& crop, int W, int H, int quality);

// Writes the remote command file naming headerFile's image; true on failure
// (no message).
bool GenerateRemoteCmd(const std::string& headerFile, const CRect& crop, int W, int H,
                       int quality);

}  // namespace orvix
