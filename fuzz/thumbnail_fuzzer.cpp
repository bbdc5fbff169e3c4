// The thumbnail maker on arbitrary input, through a header made from it.
#include <unistd.h>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int width = 1 + data[0] % 96;
    const std::string image = fuzz::ScratchPath("img");
    if (!fuzz::WriteInput(image, data + 1, size - 1)) return 0;
    const std::string header = fuzz::ScratchPath("hdr");
    const std::string thumb = fuzz::ScratchPath("tnl");
    unlink(header.c_str());
    unlink(thumb.c_str());
    if (!Make_Local_Header(image.c_str(), header.c_str())) {
        Make_Local_Tnl(75, width, const_cast<char*>(header.c_str()),
                       const_cast<char*>(thumb.c_str()));
        ImgClass in;
        Make_Local_Tnl(0, width, const_cast<char*>(header.c_str()), const_cast<char*>(""), &in);
    }
    unlink(header.c_str());
    unlink(thumb.c_str());
    return 0;
}
