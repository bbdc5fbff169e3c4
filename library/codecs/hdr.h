// Image header records and header files (".hdr"): an image's vital data,
// made from the image file's own header without decoding pixels.
#pragma once

#include <cstdint>
#include <string>

#include "ORVIX_0500.h"

namespace orvix {

class HdrClass {
public:
    HdrClass();
    virtual ~HdrClass() = default;

    // Reads the header file named by path (its extension is set to "hdr")
    // into the current header.
    bool ReadHeader(const char* path);
    // Writes the current header to path, or beside its image when path is
    // null or empty.
    bool WriteHeader(const char* path = nullptr);
    // Makes the current header from an image file (or reads it from a header
    // file).
    bool MakeHeader(const char* imagePath);

    bool ProcHdrTiff(const char* path);
    bool ProcHdrZUL(const char* path);
    bool ProcHdrJpg(const char* path);
    bool ProcHdrPPM(const char* path);
    bool ProcHdrPGM(const char* path);
    bool ProcHdrBMP(const char* path);
    bool ProcHdrTARGA(const char* path);
    bool ProcHdrPNG(const char* path);
    bool ProcHdrWEBP(const char* path);
    bool ProcHdrHEIF(const char* path);

    // The current header: the last one made or read.
    IMAGE_HDR& Header() { return m_Hdr; }
    const IMAGE_HDR& Header() const { return m_Hdr; }
    void Clear();

private:
    void SetDecodedShape(int type, uint32_t width, uint32_t height, int samples, int bits);

    IMAGE_HDR m_Hdr;
};

}  // namespace orvix
