// Binary portable grey maps ("P5") and pixel maps ("P6").
#pragma once

#include <cstdio>

#include "ORVIX_0500.h"

namespace orvix {

// What the header lines after the magic line declare.
struct PnmHeader {
    long width = 0;
    long height = 0;
    long maxVal = 0;
};

enum class PnmHeaderResult { Ok, NoWidth, NoHeight };

// True when the next line is the magic "P<kind>" or "p<kind>".
bool ReadPnmMagic(FILE* f, char kind);

// Reads the dimension line (skipping comment lines, and with skipBlank lines
// that begin with white space) and the maximum-value line after it. Header
// lines hold at most 254 characters; the dimension line is split at spaces.
PnmHeaderResult ReadPnmHeader(FILE* f, bool skipBlank, PnmHeader& h);

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
