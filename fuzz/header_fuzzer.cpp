// Header making from any image file, then a rectangle read through the
// header just made (the header's type routes the rectangle reader).
#include <unistd.h>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    // The first eight bytes choose the rectangle; the rest is the file.
    const CRect rect{data[0] % 64, data[1] % 64, data[0] % 64 + 1 + data[2] % 64,
                     data[1] % 64 + 1 + data[3] % 64};
    const std::string image = fuzz::ScratchPath("img");
    if (!fuzz::WriteInput(image, data + 8, size - 8)) return 0;
    const std::string header = fuzz::ScratchPath("hdr");
    unlink(header.c_str());
    if (!Make_Local_Header(image.c_str(), header.c_str())) {
        IMAGE_HDR h;
        Read_Hdr(header.c_str(), &h);
        ImgClass out;
        GetImageRectangle(image.c_str(), rect, &out);
    }
    unlink(header.c_str());
    return 0;
}
