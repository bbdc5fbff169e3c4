// Binary portable grey maps ("P5") and pixel maps ("P6").
#pragma once

#include "ORVIX_0500.h"

namespace orvix {

class PgmClass {
public:
    virtual ~PgmClass() = default;
    // Reads img's FileName; 16-bit files are reduced to 8 bits.
    bool ReadPGM(ImgClass* img);
    bool WritePGM(ImgClass* img);
    bool GetPGMImgRect(const char* file, int left, int top, int right, int bottom,
                       ImgClass* out);
};

class PpmClass {
public:
    virtual ~PpmClass() = default;
    bool ReadPPM(ImgClass* img);
    // Writes R,G,B; an image in B,G,R order is swapped first and left so.
    bool WritePPM(ImgClass* img);
    bool GetPPMImgRect(const char* file, int left, int top, int right, int bottom,
                       ImgClass* out);
};

}  // namespace orvix
