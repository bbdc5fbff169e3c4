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
    int32_t Samples;  // 1 grey, 3 colour
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

// ---- Reading -------------------------------------------------------------
// Reads img->ImgStruct.FileName into img, whose buffer must be empty. With
// swap, colour JPEG, PPM and TIFF images come back in B,G,R order.
ORVIX_API bool ReadImage(bool swap, ImgClass* img);

// ---- PGM and PPM writers -------------------------------------------------
ORVIX_API bool Write_8BitPGM(ImgClass* img);
ORVIX_API bool Write_8BitPPM(ImgClass* img);

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

}  // extern "C"

// Overloaded exports keep C++ linkage.
// True when the file is missing or empty; the second form also stores its
// size (0 for a missing file) when size is not null.
ORVIX_API bool IsEmptyFile(const char* path);
ORVIX_API bool IsEmptyFile(const char* path, int64_t* size);

#endif  // ORVIX_0500_H
