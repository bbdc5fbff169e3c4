// Header files are text from disk: read them back in every way offered.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = fuzz::ScratchPath("hdr");
    if (!fuzz::WriteInput(path, data, size)) return 0;
    IMAGE_HDR h;
    Read_Hdr(path.c_str(), &h);
    int w = 0, ht = 0;
    Get_Image_Dimension(path.c_str(), &w, &ht);
    Get_Aspect(path.c_str());
    Get_FileName_From_HDR(path.c_str());
    return 0;
}
