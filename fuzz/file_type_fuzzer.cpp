// Type detection by first bytes (and the TIFF open behind "I" and "M").
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::ScratchPath("bin");
    if (!fuzz::WriteInput(path, data, size)) return 0;
    const int type = Get_File_Type(path.c_str());
    // Codes 6 and 7 are unused; anything outside the list is a fault.
    if (type < IMG_TYPE_UNKNOWN || type > IMG_TYPE_HEIF || type == 6 || type == 7) std::abort();
    return 0;
}
