// orvix: the image library's operations from the command line.
#include <ORVIX_0500.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: orvix COMMAND ARGS...\n"
    "\n"
    "  info FILE                          type, size, samples, bits and resolution\n"
    "  convert IN OUT --type T [--quality N]\n"
    "                                     write IN as T: tiff, jpeg, bmp, ppm, pgm or tga\n"
    "  scale IN OUT FACTOR [--format F] [--lzw] [--low-memory] [--quality N]\n"
    "        [--filter NAME]              resample by FACTOR with cubic interpolation,\n"
    "                                     or with --filter an antialiasing filter:\n"
    "                                     lanczos3, mitchell, catrom or box (a JPEG is\n"
    "                                     then decoded reduced where that leaves at\n"
    "                                     least twice the size); F is tiff, jpeg or bmp\n"
    "                                     (default: from OUT's extension);\n"
    "                                     --low-memory streams rows to a TIFF\n"
    "  thumb IN OUT SIZE [--quality N]    a SIZE-pixel-wide thumbnail (JPEG at quality N,\n"
    "                                     default 85; N = 0 writes TIFF)\n"
    "\n"
    "  --help                             this text\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";

const char* g_command = "orvix";

// The library's words for the failure, on one line.
std::string LibraryReason() {
    std::string text = Get_Last_Error();
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

int Fail(const std::string& what) {
    const std::string reason = LibraryReason();
    if (reason.empty())
        std::fprintf(stderr, "%s: %s\n", g_command, what.c_str());
    else
        std::fprintf(stderr, "%s: %s: %s\n", g_command, what.c_str(), reason.c_str());
    return 1;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "%s: %s\nTry 'orvix --help'.\n", g_command, problem.c_str());
    return 2;
}

// A progress bar on standard error, drawn only when that is a terminal.
struct ProgressBar {
    static inline int lastPercent = -1;
    static void Draw(int total, int done) {
        if (total <= 0) {  // a new pass begins
            lastPercent = -1;
            return;
        }
        int percent = static_cast<int>(100.0 * (done + 1) / total);
        if (percent > 100) percent = 100;
        if (percent == lastPercent) return;
        lastPercent = percent;
        const int width = 40;
        const int filled = percent * width / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled,
                     "########################################", width - filled, "", percent);
        std::fflush(stderr);
    }
    static void Finish() {
        if (lastPercent >= 0) std::fputc('\n', stderr);
        lastPercent = -1;
    }
};

struct Options {
    std::vector<std::string> positional;
    std::string type;
    std::string format;
    int quality = -1;
    bool lzw = false;
    bool lowMemory = false;
    int filter = -1;  // FILTER_*, or -1 for the cubic interpolator
};

bool ParseInt(const std::string& text, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < -1000000 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Extension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return Lower(path.substr(dot + 1));
}

// Type code of a format name, or -2 when the name is not known.
int TypeCode(const std::string& name) {
    const std::string n = Lower(name);
    if (n == "tiff" || n == "tif") return IMG_TYPE_TIFF;
    if (n == "jpeg" || n == "jpg") return IMG_TYPE_JPEG;
    if (n == "bmp") return IMG_TYPE_BMP;
    if (n == "ppm") return IMG_TYPE_PPM;
    if (n == "pgm") return IMG_TYPE_PGM;
    if (n == "tga" || n == "targa") return IMG_TYPE_TARGA;
    return -2;
}

const char* TypeName(int type) {
    switch (type) {
    case IMG_TYPE_TIFF: return "TIFF";
    case IMG_TYPE_JPEG: return "JPEG";
    case IMG_TYPE_PPM: return "PPM";
    case IMG_TYPE_PGM: return "PGM";
    case IMG_TYPE_BMP: return "BMP";
    case IMG_TYPE_ZUL: return "TIFF (planar YCC)";
    case IMG_TYPE_RAW: return "raw camera file";
    case IMG_TYPE_TARGA: return "Targa";
    default: return "unknown";
    }
}

const char* UnitName(int unit) {
    switch (unit) {
    case 2: return "pixels/inch";
    case 3: return "pixels/cm";
    default: return "(no unit)";
    }
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A header file of our own for one query, removed afterwards.
class ScratchHeader {
public:
    ScratchHeader() {
        std::string tmpl = std::string(Get_Temp_Path()) + "orvix_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        const int fd = mkstemp(buf.data());
        if (fd >= 0) {
            close(fd);
            unlink(buf.data());  // the library will not write over an existing header
            path_ = std::string(buf.data()) + ".hdr";
        }
    }
    ~ScratchHeader() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void SetName(ImgClass& img, const std::string& path) {
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
}

int Info(const Options& o) {
    if (o.positional.size() != 2) return Usage("info takes one FILE");
    const std::string& file = o.positional[1];
    if (!FileExists(file)) return Fail(file + ": no such file");
    ScratchHeader header;
    if (header.path().empty()) return Fail("cannot make a scratch file in the temporary folder");
    IMAGE_HDR h;
    if (Make_Local_Header(file.c_str(), header.path().c_str()) || Read_Hdr(header.path().c_str(), &h))
        return Fail(file + ": not a readable image");
    const int type = Get_File_Type(file.c_str());
    std::printf("file:        %s\n", file.c_str());
    std::printf("type:        %s\n", TypeName(type == IMG_TYPE_UNKNOWN ? h.Type : type));
    std::printf("size:        %d x %d pixels\n", h.Width, h.Height);
    std::printf("samples:     %d (%s)\n", h.Samples, h.Samples == 3 ? "colour" : "grey");
    std::printf("bits:        %d per sample\n", h.Bits);
    std::printf("resolution:  %.2f x %.2f %s\n", h.XRes, h.YRes, UnitName(h.ResUnit));
    std::printf("compression: %d\n", h.Compression);
    return 0;
}

int Convert(const Options& o) {
    if (o.positional.size() != 3) return Usage("convert takes IN and OUT");
    if (o.type.empty()) return Usage("convert needs --type");
    const int type = TypeCode(o.type);
    if (type < 0) return Usage("unknown --type '" + o.type + "'");
    const std::string& in = o.positional[1];
    const std::string& out = o.positional[2];
    if (!FileExists(in)) return Fail(in + ": no such file");
    const int quality = o.quality < 0 ? 85 : o.quality;
    const bool failed = Convert_Image(in.c_str(), out.c_str(), type, quality);
    ProgressBar::Finish();
    if (failed) return Fail("cannot convert " + in + " to " + out);
    return 0;
}

bool WriteAs(int type, ImgClass& img, int quality, bool lzw) {
    switch (type) {
    case IMG_TYPE_TIFF: return WriteTIFF(lzw, false, &img);
    case IMG_TYPE_JPEG: return WriteJPEG(quality, &img);
    case IMG_TYPE_BMP: return Write_BMP(&img);
    default: return true;
    }
}

// scale with an antialiasing filter: the source read for the output's size.
int Resample(const Options& o, ImgClass& src, double factor, int type) {
    const std::string& in = o.positional[1];
    const std::string& out = o.positional[2];
    IMAGE_HDR h{};
    ScratchHeader header;
    if (header.path().empty()) return Fail("cannot make a scratch file in the temporary folder");
    if (Make_Local_Header(in.c_str(), header.path().c_str()) || Read_Hdr(header.path().c_str(), &h))
        return Fail(in + ": not a readable image");
    const int width = static_cast<int>(h.Width * factor + 0.5);
    const int height = static_cast<int>(h.Height * factor + 0.5);
    if (width < 1 || height < 1) return Fail(in + " at " + o.positional[3] + " gives no image");
    if (ReadImageForSize(false, &src, width, height, nullptr)) {
        ProgressBar::Finish();
        return Fail("cannot read " + in);
    }
    bool failed;
    if (o.lowMemory) {
        failed = Low_Memory_ResampleImage(o.lzw, &src, const_cast<char*>(out.c_str()), width, height, o.filter);
    } else {
        ImgClass scaled;
        failed = ResampleImage(&src, &scaled, width, height, o.filter);
        src.FreeData();
        if (!failed) {
            SetName(scaled, out);
            failed = WriteAs(type, scaled, o.quality < 0 ? 85 : o.quality, o.lzw);
        }
    }
    ProgressBar::Finish();
    return failed ? Fail("cannot scale " + in + " into " + out) : 0;
}

int Scale(const Options& o) {
    if (o.positional.size() != 4) return Usage("scale takes IN, OUT and FACTOR");
    const std::string& in = o.positional[1];
    const std::string& out = o.positional[2];
    char* end = nullptr;
    const double factor = std::strtod(o.positional[3].c_str(), &end);
    if (*end != '\0' || !(factor > 0.0) || factor > 64.0)
        return Usage("FACTOR must be a number above 0 and at most 64");
    const std::string format = o.format.empty() ? Extension(out) : Lower(o.format);
    const int type = TypeCode(format);
    if (type != IMG_TYPE_TIFF && type != IMG_TYPE_JPEG && type != IMG_TYPE_BMP)
        return Usage("output format must be tiff, jpeg or bmp (use --format)");
    if (o.lowMemory && type != IMG_TYPE_TIFF) return Usage("--low-memory writes TIFF only");
    if (!FileExists(in)) return Fail(in + ": no such file");

    ImgClass src;
    SetName(src, in);
    Post_Error("");
    if (o.filter >= 0) return Resample(o, src, factor, type);
    if (ReadImage(false, &src)) {
        ProgressBar::Finish();
        return Fail("cannot read " + in);
    }
    if (o.lowMemory) {
        const bool failed = Low_Memory_ScaleImage(o.lzw, &src, const_cast<char*>(out.c_str()), factor, -1.0);
        ProgressBar::Finish();
        return failed ? Fail("cannot scale " + in + " into " + out) : 0;
    }
    std::unique_ptr<ImgClass> scaled;
    ImgClass* result = &src;
    if (factor != 1.0) {
        scaled = std::make_unique<ImgClass>();
        if (ScaleImage(&src, factor, -1.0, scaled.get())) {
            ProgressBar::Finish();
            return Fail("cannot scale " + in);
        }
        result = scaled.get();
    }
    SetName(*result, out);
    const int quality = o.quality < 0 ? 85 : o.quality;
    const bool failed = WriteAs(type, *result, quality, o.lzw);
    ProgressBar::Finish();
    return failed ? Fail("cannot write " + out) : 0;
}

int Thumb(const Options& o) {
    if (o.positional.size() != 4) return Usage("thumb takes IN, OUT and SIZE");
    const std::string& in = o.positional[1];
    const std::string& out = o.positional[2];
    int size = 0;
    if (!ParseInt(o.positional[3], size) || size < 1) return Usage("SIZE must be a whole number above 0");
    if (!FileExists(in)) return Fail(in + ": no such file");
    if (FileExists(out)) return Fail(out + " exists");
    ScratchHeader header;
    if (header.path().empty()) return Fail("cannot make a scratch file in the temporary folder");
    if (Make_Local_Header(in.c_str(), header.path().c_str()))
        return Fail(in + ": not a readable image");
    const int quality = o.quality < 0 ? 85 : o.quality;
    const bool failed = Make_Local_Tnl(quality, size, const_cast<char*>(header.path().c_str()),
                                       const_cast<char*>(out.c_str()));
    ProgressBar::Finish();
    return failed ? Fail("cannot make a thumbnail of " + in) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--type" || a == "--format") {
            const char* v = value();
            if (!v) return Usage(a + " needs a value");
            (a == "--type" ? o.type : o.format) = v;
        } else if (a == "--quality") {
            const char* v = value();
            if (!v || !ParseInt(v, o.quality) || o.quality < 0 || o.quality > 100)
                return Usage("--quality needs a number from 0 to 100");
        } else if (a == "--filter") {
            const char* v = value();
            if (!v || (o.filter = FilterByName(v)) < 0)
                return Usage("--filter takes lanczos3, mitchell, catrom or box");
        } else if (a == "--lzw") {
            o.lzw = true;
        } else if (a == "--low-memory") {
            o.lowMemory = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return Usage("unknown option '" + a + "'");
        } else {
            o.positional.push_back(a);
        }
    }
    if (o.positional.empty()) return Usage("no command given");
    if (isatty(STDERR_FILENO)) SetRW_Progress(ProgressBar::Draw, ProgressBar::Draw);

    const std::string& command = o.positional[0];
    if (command == "info") return Info(o);
    if (command == "convert") return Convert(o);
    if (command == "scale") return Scale(o);
    if (command == "thumb") return Thumb(o);
    return Usage("unknown command '" + command + "'");
}
