// Zoomed and cropped images asked of the image server through command files.
#include <strings.h>

#include <cmath>
#include <cstring>

#include "codecs/hdr.h"
#include "library.h"
#include "processing/zoom.h"
#include "remote/command_file.h"
#include "remote/tarn_ftp.h"
#include "utility.h"

namespace orvix {

bool Tarn_FTP::ReadHeader(const char* header, int* width, int* height) {
    HdrClass& hdr = *Lib().hdr;
    if (hdr.ReadHeader(header)) return PostError("Tarn_FTP::ReadHeader: Failed");
    if (width) *width = hdr.Header().Width;
    if (height) *height = hdr.Header().Height;
    return false;
}

bool Tarn_FTP::SendCommandToServer() {
    const std::string command = Lib().zoom.commandFile;
    if (command.empty()) return true;
    if (!Connected()) OpenFTP();
    if (!Connected()) {
        PostError("Tarn_FTP::SendCommandToServer: No Server connection");
        CloseSession();
        return true;
    }
    switch (SendFile(command, "./Commands/" + PlainNamePart(command))) {
    case Transfer::Done:
        return false;
    case Transfer::Failed:  // already reported with the connection's words
        CloseSession();
        return true;
    default:
        PostError("Tarn_FTP::SendCommandToServer: PutFile Failed");
        CloseSession();
        return true;
    }
}

namespace {

struct RemoteOp {
    const char* who;         // message prefix
    std::string& source;     // name part of the last image
    std::string& header;     // its header file
    std::string& result;     // result buffer
};

// Finds (reading, or downloading and reading) the header of a new remote
// image and sets the zoom state's image size from it. False on failure.
bool FindRemoteHeader(const RemoteOp& op, const std::string& name, const std::string& part,
                      bool headerBesideName) {
    Library& lib = Lib();
    ZoomState& z = lib.zoom;
    z.CropRect = CRect{0, 0, z.imageWidth, z.imageHeight};
    if (std::string(Get_Temp_Path()).empty()) {
        PostError("%s: Can't determine TEMP path", op.who);
        return false;
    }
    std::string header;
    if (headerBesideName) {
        header = name;
        if (header.find(".hdr") == std::string::npos) Utility::SetExtension(header, "hdr");
    } else {
        header = MakeTemp_FileName(name.c_str(), "hdr");
        if (header.empty()) return false;  // refused, with its words
    }
    Tarn_FTP& ftp = *lib.ftp;
    int w = 0, h = 0;
    if (ftp.ReadHeader(header.c_str(), &w, &h)) {
        if (ftp.GetRemoteFile(PlainNamePart(header).c_str(), header.c_str(), 0)) return false;
        if (ftp.ReadHeader(header.c_str(), &w, &h)) return false;
    }
    z.imageWidth = w;
    z.imageHeight = h;
    op.header = header;
    op.source = part;
    return true;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Checks the crop against the image, writes and uploads the command and
// returns the result file's name part, or "".
const char* AskServer(const RemoteOp& op, int W, int H, int quality) {
    ZoomState& z = Lib().zoom;
    if (z.CropRect.IsRectEmpty()) {
        PostError("%s: CropRct is empty", op.who);
        return op.result.c_str();
    }
    if (z.CropRect.Width() >= z.imageWidth) {
        z.CropRect = CRect{};
        return op.result.c_str();
    }
    if (z.CropRect.Height() >= z.imageHeight) {
        z.CropRect = CRect{};
        PostError("%s: CropRct is larger than Image", op.who);
        return op.result.c_str();
    }
    if (GenerateRemoteCmd(op.header, z.CropRect, W, H, quality) ||
        Lib().ftp->SendCommandToServer())
        return op.result.c_str();
    op.result = ImageNamePart(z.resultFile);
    return op.result.c_str();
}

}  // namespace

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool PlaceCommand(char* path) {
    ClearError();
    Library& lib = Lib();
    lib.zoom.commandFile = path ? path : "";
    return lib.ftp->SendCommandToServer();
}

ORVIX_API char* ZoomImageRemote(int x, int y, int W, int H, CRect* rect, double m, int quality,
                                char* name) {
    ClearError();
    Library& lib = Lib();
    ZoomState& z = lib.zoom;
    const RemoteOp op{"ZommImageRemote", z.remoteZoomSource, z.remoteZoomHeader, z.remoteZoomResult};
    op.result.clear();
    if (std::fabs(m) < 1.0) {
        z.CropRect = CRect{0, 0, z.imageWidth, z.imageHeight};
        PostError("ZoomImageRemote fabs(Magnification) < 1.0");
        return op.result.data();
    }
    if (W <= 0 || H <= 0) {
        PostError("ZoomImageRemote: frame %d x %d has no area", W, H);
        return op.result.data();
    }
    lib.ftp->OpenFTP();
    const std::string source = name ? name : "";
    const std::string part = ImageNamePart(source);
    if (part.empty()) {
        PostError("ZoomImageRemote: %s names no file", source.c_str());
        return op.result.data();
    }
    if (part.size() > 127) return op.result.data();
    if (!SameIgnoringCase(part, op.source)) {
        const RemoteOp headerOp{"ZoomImageRemote", op.source, op.header, op.result};
        if (!FindRemoteHeader(headerOp, source, part, true)) return op.result.data();
        z.CropRect = CRect{};
    }
    const CRect start = rect && !rect->IsRectEmpty() ? *rect : CRect{0, 0, z.imageWidth, z.imageHeight};
    z.CropRect = CalcCropRect(x, y, CRect{0, 0, W, H}, m, start, z.imageWidth, z.imageHeight);
    return const_cast<char*>(AskServer(op, W, H, quality));
}

ORVIX_API char* GetCropImageRemote(int W, CRect* rect, char* name, int quality) {
    ClearError();
    Library& lib = Lib();
    ZoomState& z = lib.zoom;
    const RemoteOp op{"GetCropImageRemote", z.remoteCropSource, z.remoteCropHeader, z.remoteCropResult};
    op.result.clear();
    if (W <= 0) {
        PostError("GetCropImageRemote: width %d is not positive", W);
        return op.result.data();
    }
    lib.ftp->OpenFTP();
    const std::string source = name ? name : "";
    const std::string part = ImageNamePart(source);
    if (part.empty()) {
        PostError("GetCropImageRemote: %s names no file", source.c_str());
        return op.result.data();
    }
    if (part.size() > 127) return op.result.data();
    if (!SameIgnoringCase(part, op.source)) {
        if (!FindRemoteHeader(op, source, part, false)) return op.result.data();
    }
    if (z.imageWidth <= 0 || z.imageHeight <= 0) {
        PostError("GetCropImageRemote: the image has no size");
        return op.result.data();
    }
    z.CropRect = rect && !rect->IsRectEmpty() ? *rect : CRect{0, 0, z.imageWidth, z.imageHeight};
    const int H = static_cast<int>(static_cast<int64_t>(z.imageHeight) * W / z.imageWidth);
    return const_cast<char*>(AskServer(op, W, H, quality));
}

}  // extern "C"
