// TIFF files on libtiff: whole images, rectangles and single lines are read;
// images are written plainly or in the library's planar ZUL form (three
// stacked grey planes of a YCC image, marked by ImageDescription "ABCD").
#pragma once

#include <tiffio.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ORVIX_0500.h"

namespace orvix {

// What the codec's open learned about a file. Resolution fields the file
// lacks are 0; structural fields carry libtiff's defaults.
struct TiffDescription {
    uint32_t imageWidth = 0;
    uint32_t imageLength = 0;   // image rows: the stored length / 3 for ZUL files
    uint32_t storedLength = 0;  // ImageLength as the file stores it
    uint16_t bitsPerSample = 0;
    uint16_t samplesPerPixel = 0;
    uint16_t compression = 0;
    uint16_t photometric = 0;
    uint16_t planarConfig = 0;
    uint16_t resolutionUnit = 0;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    uint64_t scanlineSize = 0;  // bytes of one stored row (of one plane)
    bool zul = false;           // the planar ZUL layout
    bool tiled = false;
    // Samples per pixel the whole-image reader delivers: 1 or 3, or 2 or 4
    // when an alpha sample follows grey or colour.
    int samples = 0;
    // The sample holding alpha (-1 for none) and whether the colour samples
    // are premultiplied by it (ExtraSamples 1, associated alpha).
    int alphaSample = -1;
    bool associatedAlpha = false;
};

// What libtiff said on a handle: its last error, and the first warning it
// gave while pixels were decoded (decoding set).
struct LibtiffWords {
    bool decoding = false;
    std::string error;
    std::string warning;
};

class TIFFClass {
public:
    TIFFClass();
    virtual ~TIFFClass();
    TIFFClass(const TIFFClass&) = delete;
    TIFFClass& operator=(const TIFFClass&) = delete;

    // Opens name for reading (closing any handle still open) and fills the
    // description. Refuses the fax codings and old-style JPEG.
    TIFF* OpenTiffFile(const char* name);

    // Opens name, copies out its description and closes it again; true when
    // the codec refuses the file (its message posted). File type detection
    // and the header makers share this test. It opens a handle of its own:
    // a type check made while the codec reads or writes a file (a progress
    // receiver may make one) leaves that file alone.
    static bool DescribeFile(const char* name, TiffDescription& out);

    // Converts file row fileRow, pixels x0 to x1-1, to the start of image row
    // imageRow, as 8-bit grey or R,G,B, followed by the file's alpha when
    // img has 2 or 4 samples and the file an alpha sample. Needs an open file.
    bool GetLine(ImgClass* img, uint32_t fileRow, uint32_t imageRow, uint32_t x0, uint32_t x1);
    // Decodes fileRow and drops it: compressed strips cannot skip rows, so
    // a reader that wants every n-th row decodes the others through here.
    bool SkipLine(uint32_t fileRow);

    // Reads img's FileName whole. Returns the pixel buffer, or null on
    // failure (the buffer then released). bgr delivers colour as B,G,R.
    // A strip or tile that is missing, short or undecodable is left blank
    // (samples 0) and the rest is read, with libtiff's words for the first
    // such loss as the read's warning (Get_Last_Warning); the read fails
    // when nothing at all could be read.
    unsigned char* ReadTIFFtoMem(bool bgr, ImgClass* img);

    // Reads columns left..right-1 of rows top..bottom-1 of name (img's own
    // FileName when name is null); img's name then ends in ".rct".
    bool GetTIFFImgRect(const char* name, int left, int top, int right, int bottom,
                        ImgClass* img);

    // Creates img's FileName and sets every tag, leaving the handle open for
    // a caller that writes the rows itself with WriteScanline and ends with
    // CloseTiff. Null when the file cannot be created.
    TIFF* Open_Write_Tiff(bool lzw, ImgClass* img);
    // Writes one row (scanline-size bytes from row) as file row fileRow of
    // the file being written. The caller's row is not modified.
    bool WriteScanline(const unsigned char* row, uint32_t fileRow);
    // Closes the open handle, if any; true when a file being written could
    // not be completed.
    bool CloseTiff();

    bool WriteTIFF(bool lzw, bool bgr, ImgClass* img);
    bool WriteZUL_TIFF(bool lzw, bool bgr, ImgClass* img);

    // A thumbnail size pixels wide of file into thumb, reading only the
    // rows it needs. True on failure, with a message.
    bool TiffmakeLocalThn(int size, const char* file, ImgClass* thumb);
    // The same thumbnail written to thumbName (file with extension "tnl"
    // when empty): JPEG at the thumbnail quality, TIFF when that is 0.
    bool TiffmakeLocalThnFile(int size, const char* file, const char* thumbName);

    bool IsOpen() const { return m_tif != nullptr; }
    const TiffDescription& Description() const { return m_desc; }
    // The colour map of the last palette file, scaled to 8 bits when the file
    // held 16-bit entries.
    const std::vector<uint16_t>& ColourMap(int channel) const { return m_map[channel]; }

private:
    enum class Decode { Grey, Colour, Palette, Other };

    Decode Classify() const;
    int OutputSamples() const;
    // Whether grey or colour samples are followed by alpha, which GetLine
    // delivers to an image of one sample more than the colour model's.
    bool AlphaFollows() const;
    // Whether GetLine divides the colour or grey samples by their alpha.
    bool UnpremultipliesLine() const;
    bool CheckDeclaredSize(const char* who);
    bool PrepareLineBuffer();
    bool FetchRow(uint32_t row, uint16_t plane, unsigned char* dst);
    bool LoadBand(uint32_t band, uint16_t plane);
    // Decodes one strip or tile for LoadBand: true when it could not. In a
    // whole-image read a piece lost is left zero and noted instead.
    bool ReadPiece(uint32_t piece, void* dst, uint64_t bytes);
    bool PieceInFile(uint32_t piece) const;
    void NoteLoss(const char* kind, uint32_t piece);
    bool FinishTolerantRead();
    unsigned char* ReadOpenFile(ImgClass* img);
    unsigned char* ReadPlanarZUL(ImgClass* img);
    unsigned char* ReadRGBA(ImgClass* img);
    unsigned char* ReadRGBABands(ImgClass* img, uint32_t bandHeight);
    void ReleaseBuffers();

    TIFF* m_tif = nullptr;
    bool m_writing = false;
    std::string m_name;
    TiffDescription m_desc;
    std::array<std::vector<uint16_t>, 3> m_map;
    Decode m_decode = Decode::Other;
    uint32_t m_rowsPerStrip = 0;
    uint32_t m_tileWidth = 0;
    uint32_t m_tileLength = 0;
    uint16_t m_planes = 1;  // stored planes one row needs
    LibtiffWords m_words;

    // A whole-image read goes on past strips and tiles it cannot read; the
    // counts tell afterwards whether anything was read at all.
    struct Damage {
        bool tolerated = false;
        uint64_t fileSize = 0;
        uint64_t read = 0;  // rows or pieces read whole
        uint64_t lost = 0;  // strips or tiles left blank
        uint32_t lostStrip = UINT32_MAX;  // the row reader's last lost strip
    };
    Damage m_damage;

    // One row of every plane it needs, sized from the file's scanline size.
    std::vector<unsigned char> m_line;
    // Tiled and planar-separate files are decoded a strip or a row of tiles
    // at a time; one band per plane stays decoded.
    struct Band {
        std::vector<unsigned char> data;
        uint32_t index = UINT32_MAX;
    };
    std::array<Band, 4> m_bands;  // three colour planes and an alpha plane
    std::vector<unsigned char> m_tile;
};

}  // namespace orvix
