// ORVIX_0500: reads, describes, scales, crops, converts and writes raster
// images. This is the one header a client includes.
//
// Conventions every export follows:
//  - functions returning bool return false on success and true on failure;
//  - a failure leaves its words in the last-error text (Get_Last_Error);
//  - texts returned by the library live in library buffers that the next call
//    of the same function overwrites;
//  - the library keeps process-wide state and takes no locks: call it from one
//    thread at a time.
#ifndef ORVIX_0500_H
#define ORVIX_0500_H

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#  if defined(ORVIX_0500_EXPORTS)
#    define ORVIX_API __declspec(dllexport)
#  else
#    define ORVIX_API __declspec(dllimport)
#  endif
#else
#  define ORVIX_API __attribute__((visibility("default")))
#endif

// Longest path, terminator included, the library's path fields hold.
#define ORVIX_MAX_PATH 4096

// Image type codes: Get_File_Type, ImgStruct.Type, IMAGE_HDR.Type and the
// output type of Convert_Image share this numbering.
enum : int {
    IMG_TYPE_UNKNOWN = -1,
    IMG_TYPE_TIFF = 0,
    IMG_TYPE_JPEG = 1,
    IMG_TYPE_PPM = 2,
    IMG_TYPE_PGM = 3,
    IMG_TYPE_BMP = 4,
    IMG_TYPE_ZUL = 5,  // planar YCC variant of TIFF
    IMG_TYPE_RAW = 8,  // raw camera file (".DCR"), never decoded here
    IMG_TYPE_TARGA = 9,
    IMG_TYPE_PNG = 10,
    IMG_TYPE_WEBP = 11,
    IMG_TYPE_HEIF = 12,  // HEIC and AVIF: HEIF containers of HEVC or AV1
};

// Rotation codes for ImgStruct.Rotation and Rotate_Image.
enum : int {
    ROTATE_NONE = 0,
    ROTATE_CW90 = 1,
    ROTATE_CCW90 = 2,
    ROTATE_180 = 3,
    ROTATE_FLIP_VERTICAL = 4,
    ROTATE_MIRROR = 5,
};

// Filters of ResampleImage and Low_Memory_ResampleImage, with the reach a
// of each: an output takes the source samples within a x f of its centre,
// where f is the reduction (1 when enlarging).
enum : int {
    FILTER_LANCZOS3 = 0,     // sinc windowed by sinc, a = 3; the default
    FILTER_MITCHELL = 1,     // Mitchell-Netravali cubic, B = C = 1/3, a = 2
    FILTER_CATMULL_ROM = 2,  // Catmull-Rom cubic (B = 0, C = 1/2), a = 2
    FILTER_BOX = 3,          // the mean of the pixels centred in the output's span
                             // (an area average for whole factors), a = 1/2
};

// The filters' names in FILTER_* order, as tools take them on their
// command lines.
inline constexpr const char* kFilterNames[] = {"lanczos3", "mitchell", "catrom", "box"};
// The FILTER_* code of a filter's name; -1 for any other name.
inline int FilterByName(const char* name) {
    for (int code = 0; code < 4; ++code)
        if (name && std::strcmp(name, kFilterNames[code]) == 0) return code;
    return -1;
}
// The name of a FILTER_* code; "?" for any other code.
inline const char* FilterName(int code) { return code >= 0 && code < 4 ? kFilterNames[code] : "?"; }

// Progress receiver: total lines of the pass and the line just handled.
// A call with (0, 0) announces a new pass.
typedef void (*ProgressFn)(int total, int done);

// Rectangle in pixels; right and bottom are exclusive.
struct CRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
};

struct ImgStruct {
    char FileName[ORVIX_MAX_PATH];  // file read from, or to be written
    unsigned char* ImgData;         // Height lines of LineSize bytes, top line first
    uint32_t LineSize;
    uint32_t Width;
    uint32_t Height;
    int32_t Samples;  // 1 grey, 2 grey + alpha, 3 colour, 4 colour + alpha (alpha
                      // last, unassociated)
    int32_t Bits;     // bits per sample
    int32_t XOrigin;
    int32_t YOrigin;
    int32_t ResUnit;  // 1 none, 2 inch, 3 centimetre
    double Resolution;
    uint8_t Type;      // IMG_TYPE_* of the file the pixels came from
    uint8_t Planar;    // ask the TIFF writer for the planar YCC form
    uint8_t BgrOrder;  // colour samples are B,G,R rather than R,G,B
    int32_t Rotation;  // rotation code to apply after reading
    uint8_t Rotated;   // Rotation has been applied
};

// An image in memory. The pixel buffer belongs to the object; the library and
// its clients allocate and release it with the same two operations, so either
// side may free what the other made.
class ORVIX_API ImgClass {
public:
    ImgClass();
    virtual ~ImgClass();
    ImgClass(const ImgClass&) = delete;
    ImgClass& operator=(const ImgClass&) = delete;

    // Releases any buffer, then maps LineSize x Height zero-filled bytes.
    // Returns true (and makes no buffer) when an attribute is 0; when the
    // system refuses, ImgData stays null.
    bool AllocData();
    void FreeData();

    struct ImgStruct ImgStruct;
};

// Header record of an image file: what a header file (".hdr") holds.
struct IMAGE_HDR {
    char FileName[ORVIX_MAX_PATH];
    int32_t Type;
    int16_t Compression;
    int32_t LineSize;
    int16_t Samples;
    int16_t Bits;
    int32_t Height;
    int32_t Width;
    int16_t ResUnit;
    float XRes;
    float YRes;
    int32_t MaxVal;
};

extern "C" {

// ---- Library frame -------------------------------------------------------
// Appends message and a newline to the last-error text; an empty message
// clears it. Always returns true.
ORVIX_API bool Post_Error(const char* message);
ORVIX_API const char* Get_Last_Error(void);
// After a successful read (ReadImage, ReadImageForSize): "" when the image
// came out whole, else the decoder's words for the first sign that some of
// its pixels were missing or corrupt (a file cut short, damaged data); the
// read then delivered what it could. Each read starts it afresh; a failed
// read leaves it "".
ORVIX_API const char* Get_Last_Warning(void);
// The most pixels a reader allocates, or a scaler makes, for one image:
// ORVIX_MAX_PIXELS from the environment when the library loaded, else 2^30.
ORVIX_API uint64_t Get_Max_Pixels(void);
ORVIX_API const char* GetDll_Version(void);
ORVIX_API int fnORVIX_0500(void);
ORVIX_API extern int nORVIX_0500;

// Temporary folder for working files; always ends with a separator.
ORVIX_API const char* Get_Temp_Path(void);
ORVIX_API void Set_Temp_Path(const char* folder);
// Temporary folder + base name of file, extension replaced by ext unless empty.
ORVIX_API const char* MakeTemp_FileName(const char* file, const char* ext);
// Deletes the library's working files in folder (the temporary folder if empty).
ORVIX_API void Cleanup(const char* folder);
// Searches the file system for a file whose name contains name; "" if none.
ORVIX_API const char* Find_File(const char* name);
ORVIX_API int Get_File_Type(const char* path);
ORVIX_API void SetRW_Progress(ProgressFn read, ProgressFn write);

// ---- Image header files -------------------------------------------------
// Makes the header of an image and writes it to header (beside the image
// when header is empty); an existing named header is never overwritten.
ORVIX_API bool Make_Local_Header(const char* image, const char* header);
// Reads a header file (an image path names the header beside it) into the
// current header and copies it out.
ORVIX_API bool Read_Hdr(const char* header, IMAGE_HDR* record);
ORVIX_API bool Get_Image_Dimension(const char* header, int* width, int* height);
// Resolution and unit of the current header (the last one made or read).
ORVIX_API bool Get_Image_Res(const char* unused, double* x, double* y, int* unit);
ORVIX_API double Get_Aspect(const char* header);
ORVIX_API const char* Get_FileName_From_HDR(const char* header);

// ---- Reading -------------------------------------------------------------
// Reads img->ImgStruct.FileName into img, whose buffer must be empty. With
// swap, colour JPEG, PPM, TIFF, PNG, WebP and HEIF images come back in
// B,G,R order (an alpha sample stays last).
ORVIX_API bool ReadImage(bool swap, ImgClass* img);
// Reads rect of file into img through the reader of the current header's
// type: make or read the file's header first.
ORVIX_API bool GetImageRectangle(const char* file, CRect rect, ImgClass* img);
// Reads input and writes it as output in the format of type (an IMG_TYPE_*
// code; quality is the JPEG or WebP quality, PNG takes zlib level 6). A named output that exists is never
// overwritten; without an output a bitmap is written beside the input.
ORVIX_API bool Convert_Image(const char* input, const char* output, int type, int quality);

// ---- JPEG writer ---------------------------------------------------------
// Encodes img into its FileName as a JFIF file at quality (libjpeg's 0..100
// scale, more counts as 100; baseline), with its resolution as the JFIF
// density. B,G,R pixels are converted to R,G,B in place first and stay so.
ORVIX_API bool WriteJPEG(int quality, ImgClass* img);

// ---- Scaling ---------------------------------------------------------------
// Scales src by xFactor horizontally and yFactor vertically (a negative
// yFactor takes xFactor) into dst with four-tap cubic interpolation; dst's
// buffer is replaced and gets R,G,B order. A src without pixels is first
// read from the file of the current header record. Factors of exactly 1.0
// do nothing ("Scale is 1.0 No Action"). True when dst holds no pixels
// afterwards or the scaling failed.
ORVIX_API bool ScaleImage(ImgClass* src, double xFactor, double yFactor, ImgClass* dst);
// Scales one line of count pixels (1 byte each when bw, else 3) by factor
// into out; returns the number of pixels written: ceil(count * factor), or
// one more through rounding, so out must have room for that. reserved is
// ignored.
ORVIX_API int ScaleLineClr(bool bw, int reserved, int count, double factor, unsigned char* in,
                           unsigned char* out);
// Scales src like ScaleImage but writes each row to the TIFF file out as it
// is made (LZW when lzw), so the destination is never held in memory.
ORVIX_API bool Low_Memory_ScaleImage(bool lzw, ImgClass* src, char* out, double xFactor,
                                     double yFactor);

// Resizes src to exactly width x height with a separable antialiasing
// filter (FILTER_*). Each axis of n samples made m is sampled at the pixel
// centres (j + 0.5) n / m, and when shrinking the filter is widened by n / m
// so that every source pixel counts: no decimation, far less moire. A width
// or height <= 0 takes the other side's aspect ratio. 8-bit images of 1 to
// 4 samples, alpha filtered premultiplied (no dark fringes at transparent
// edges); a src without pixels is first read from its FileName, and
// keeps them. dst's buffer is replaced; it gets R,G,B order and src's
// resolution and unit. True on failure.
ORVIX_API bool ResampleImage(ImgClass* src, ImgClass* dst, int width, int height, int filter);
// The same resampling written row by row to the TIFF file out (LZW when
// lzw): the same bytes as ResampleImage followed by WriteTIFF, while only
// the rows the filter's vertical window needs are held besides the source.
ORVIX_API bool Low_Memory_ResampleImage(bool lzw, ImgClass* src, char* out, int width, int height,
                                        int filter);
// Reads img's FileName as ReadImage does, for a picture to be resized to
// width x height (<= 0: from the other side's aspect ratio; sides as
// img's Rotation leaves them). A JPEG is decoded reduced by 2, 4 or 8
// through its DCT scaling, the most that divides both its sides and still
// leaves at least twice the target on both, at a fraction of a whole
// decode; other formats are read whole. The resolution is divided by the reduction, so the print size
// holds. *reduction (unless null) receives it: 1 for a whole read.
ORVIX_API bool ReadImageForSize(bool swap, ImgClass* img, int width, int height, int* reduction);

// ---- PNG and WebP writers ------------------------------------------------
// Both take 8-bit images of 1 to 4 samples (grey, grey + alpha, colour,
// colour + alpha; B,G,R order as BgrOrder says), keep the alpha sample as
// unassociated alpha, and write to img's FileName.
// PNG with zlib level 0 (none) to 9 (smallest), and the resolution as pHYs
// when the image has a unit.
ORVIX_API bool WritePNG(int level, ImgClass* img);
// WebP at quality 1 to 100; lossless when quality is 100 or lossless is
// set, and then every sample is kept exactly, under transparent pixels too.
ORVIX_API bool WriteWEBP(int quality, bool lossless, ImgClass* img);

// ---- PGM and PPM writers -------------------------------------------------
ORVIX_API bool Write_8BitPGM(ImgClass* img);
ORVIX_API bool Write_8BitPPM(ImgClass* img);

// ---- TIFF writers --------------------------------------------------------
// Write img to its FileName; lzw asks for LZW compression (PackBits for 1-bit
// grey), bgr says the colour samples are in B,G,R order. The caller's pixels
// are left as they were.
ORVIX_API bool WriteTIFF(bool lzw, bool bgr, ImgClass* img);
// The same, after setting img's Planar flag: a colour image is stored as
// three stacked grey YCC planes marked "ABCD" (image type 5).
ORVIX_API bool WriteZUL_TIFF(bool lzw, bool bgr, ImgClass* img);

// ---- BMP writer ----------------------------------------------------------
// Writes img to its FileName as an uncompressed 24-bit bitmap. A colour image
// in R,G,B order is left in B,G,R order (BgrOrder set) afterwards.
ORVIX_API bool Write_BMP(ImgClass* img);

// ---- Geometric and colour operations -------------------------------------
ORVIX_API bool Rotate_Image(ImgClass* img, int code);
ORVIX_API bool Swap_RGB(ImgClass* img);
ORVIX_API bool RGBtoYCC(ImgClass* img);
ORVIX_API bool YCCtoRGB(ImgClass* img);
ORVIX_API bool RGB_to_BW(ImgClass* img);
ORVIX_API bool GetSingleColor(ImgClass* in, ImgClass* out, int color);
ORVIX_API void GetHistogram(ImgClass* img, int* unusedR, int* unusedG, int* unusedB);
ORVIX_API extern uint32_t* R_Hist;  // 256 counters each, made by GetHistogram
ORVIX_API extern uint32_t* G_Hist;
ORVIX_API extern uint32_t* B_Hist;
ORVIX_API void Set_Gamma(double gamma, int* table, int count);
ORVIX_API bool Image_Diff(ImgClass* a, ImgClass* b, ImgClass* out);
// Composites an image with transparency over the background r, g, b in
// place: 4 samples become 3, 2 become 1 over the background's luma
// (0.299 r + 0.587 g + 0.114 b). Images of 1 or 3 samples are left as they
// are. True on failure.
ORVIX_API bool FlattenImage(ImgClass* img, uint8_t r, uint8_t g, uint8_t b);

// ---- Thumbnails ----------------------------------------------------------
// Point-samples src into dst at width pixels; height <= 0 keeps the aspect
// ratio. Always returns false: callers judge by dst's buffer.
ORVIX_API bool SubsampleLocalImage(ImgClass* src, ImgClass* dst, int width, int height);

// ---- Zoom and crop --------------------------------------------------------
// Copies the crop rectangle the last zoom settled on; true when it is empty.
ORVIX_API bool GetCropRect(CRect* out);
// Empties the crop rectangle and the last-error text.
ORVIX_API bool Reset_TarnDb(void);
// Cuts rect out of the image (or header file) name into out, scaled to width
// pixels keeping the aspect ratio when width differs from rect's.
ORVIX_API bool GetCropImage(int width, CRect* rect, char* name, ImgClass* out);

// ---- Image server command files ------------------------------------------
// Uploads the command file at path into the server's "./Commands/" folder.
ORVIX_API bool PlaceCommand(char* path);
// Asks the server for a zoom of the image (or header file) name around the
// click, as ZoomImageLocal computes it. Returns the name of the result file
// the server will make, or "".
ORVIX_API char* ZoomImageRemote(int x, int y, int W, int H, CRect* rect, double m, int quality,
                                char* name);
// Asks the server for rect of the image, W pixels wide keeping the aspect
// ratio. Returns the result file's name, or "".
ORVIX_API char* GetCropImageRemote(int W, CRect* rect, char* name, int quality);

// ---- Remote image server -------------------------------------------------
// The server information is four comma-separated fields: plate, host (with
// an optional ":port"), user and password. Put_Server replaces the fields
// that are present and not empty; an empty text clears all four. Fields
// longer than 31, 127, 31 and 127 characters are refused, as is a fifth
// field. A changed server is used from the next opening on.
ORVIX_API bool Put_Server(const char* info);
// "host,user,password", each "NONE" when empty.
ORVIX_API const char* Get_Server(void);
// Logs in to the server; the connection then serves every remote call until
// Close_Inet.
ORVIX_API bool OPen_Inet(void);
ORVIX_API bool Close_Inet(void);
// Downloads remote (relative to the server's current folder) to local, in
// 10 x seconds attempts 100 ms apart; fails without connecting when local
// already exists.
ORVIX_API bool Get_Remote_File(const char* remote, const char* local, int seconds);
// Copies the names in the remote folder, those beginning with "." left out,
// to out + k * stride (each cut to stride - 1 characters and terminated),
// at most max of them. The table is not terminated: clear it beforehand.
ORVIX_API bool GetRemoteDir(const char* folder, char* out, int stride, int max);

}  // extern "C"

// Overloaded exports keep C++ linkage.
// True when the file is missing or empty; the second form also stores its
// size (0 for a missing file) when size is not null.
ORVIX_API bool IsEmptyFile(const char* path);
ORVIX_API bool IsEmptyFile(const char* path, int64_t* size);

// Thumbnail of an image in memory into thumbnailFile (JPEG for quality 1 to
// 100, else TIFF); an existing thumbnail file is reused.
ORVIX_API bool Make_Local_Tnl(int quality, int size, char* headerFile, char* thumbnailFile,
                              ImgClass* img);
// Thumbnail of the image a header file describes. Quality 0 switches JPEG
// thumbnails off for the rest of the process.
ORVIX_API bool Make_Local_Tnl(int quality, int size, char* headerFile, char* thumbnailFile);

// Zoom around the click (x, y) in a W x H frame by m (> 1 in, <= -1 out),
// starting from rect (the whole image when empty). The forms differ in their
// source: the image file name (decoded once into the library's cache, or read
// a crop at a time), one image in memory, or one image in memory with the
// result left in out instead of a file. The result is the result file's
// path (the name given to out), or "" on failure.
ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               char* name);
ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               ImgClass* in);
ORVIX_API char* ZoomImageLocal(int x, int y, int W, int H, CRect* rect, double m, int quality,
                               ImgClass* in, ImgClass* out);

#endif  // ORVIX_0500_H
