// Type detection by first bytes (and the TIFF open behind "I" and "M").
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::ScratchPath("bin");
    if (!fuzz::WriteInput(path, data, size)) return 0;
    const int type = Get_File_Type(path.c_str());
    if (type < -1 || type > 9 || type == 6 || type == 7) std::abort();
    return 0;
}
