#include "remote/command_file.h"

#include <algorithm>
#include <cstdio>

#include "codecs/hdr.h"
#include "library.h"
#include "os.h"
#include "processing/zoom.h"
#include "remote/tarn_ftp.h"
#include "utility.h"

namespace orvix {

namespace {

enum class Order { Local, Remote };

bool WriteCommand(const std::string& path, const std::string& fileLine, const CRect& crop,
                  int W, int H, int quality, const std::string& resultFile, Order order) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return true;
    const int q = std::clamp(quality, 0, 100);
    std::fprintf(f, "FILE: %s\n", fileLine.c_str());
    if (order == Order::Remote) std::fprintf(f, "SCL_IMG: 1\n");
    std::fprintf(f, "CROP: %d,%d,%d,%d\n", crop.left, crop.top, crop.Width(), crop.Height());
    if (order == Order::Local) std::fprintf(f, "SCL_IMG: 1\n");
    std::fprintf(f, "FRAME: %d,%d ;W H\n", W, H);
    std::fprintf(f, "STRM: %s\n", PlainNamePart(resultFile).c_str());
    std::fprintf(f, "RCT: %d,%d,%d,%d,%d\n", crop.left, crop.top, crop.Width(), crop.Height(), q);
    const bool failed = std::ferror(f) != 0;
    return std::fclose(f) != 0 || failed;
}

std::string ResultName(const std::string& commandFile) {
    std::string result = commandFile;
    Utility::SetExtension(result, "str");
    return result;
}

std::string HexTime() {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%0x", static_cast<unsigned>(os::SecondsSince1970()));
    return hex;
}

}  // namespace

std::string PlainNamePart(const std::string& path) {
    const size_t cut = path.find_last_of("/*");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ImageNamePart(const std::string& path) { return Utility::BaseName(path); }

bool GenerateLocalCmd(const CRect& crop, int W, int H, int quality) {
    Library& lib = Lib();
    const Tarn_FTP& ftp = *lib.ftp;
    const std::string command = std::string(Get_Temp_Path()) + ftp.Plate() + "_" +
                                std::string(ftp.User()) + "_" + HexTime() + "_Plom.cmd";
    const std::string result = ResultName(command);
    if (WriteCommand(command, lib.hdr->Header().FileName, crop, W, H, quality, result, Order::Local))
        return PostError("Tarn_FTP::GenerateLocalCmd: ComFile = NULL");
    lib.zoom.commandFile = command;
    lib.zoom.resultFile = result;
    return false;
}

bool GenerateRemoteCmd(const std::string& headerFile, const CRect& crop, int W, int H,
                       int quality) {
    Library& lib = Lib();
    const Tarn_FTP& ftp = *lib.ftp;
    const std::string name =
        std::string(ftp.Plate()) + "_" + ftp.User() + "_" + HexTime() + "a_Plom.cmd";
    const std::string command = MakeTemp_FileName(name.c_str(), "cmd");
    const std::string result = ResultName(command);
    if (WriteCommand(command, ImageNamePart(headerFile), crop, W, H, quality, result, Order::Remote))
        return true;
    lib.zoom.commandFile = command;
    lib.zoom.resultFile = result;
    return false;
}

}  // namespace orvix
