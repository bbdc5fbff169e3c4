#include <cstring>

#include "ORVIX_0500.h"
#include "os.h"

ImgClass::ImgClass() {
    std::memset(&ImgStruct, 0, sizeof ImgStruct);
    ImgStruct.Bits = 8;
    ImgStruct.ResUnit = 2;
    ImgStruct.Resolution = 300.0;
    ImgStruct.Type = IMG_TYPE_JPEG;
}

ImgClass::~ImgClass() { FreeData(); }

bool ImgClass::AllocData() {
    FreeData();
    if (ImgStruct.LineSize == 0 || ImgStruct.Width == 0 || ImgStruct.Height == 0)
        return true;
    // 32-bit line size times 32-bit height cannot overflow 64 bits.
    const uint64_t bytes = uint64_t{ImgStruct.LineSize} * ImgStruct.Height;
    ImgStruct.ImgData = orvix::os::PageAlloc(bytes);
    return ImgStruct.ImgData == nullptr;
}

void ImgClass::FreeData() {
    if (!ImgStruct.ImgData) return;
    orvix::os::PageFree(ImgStruct.ImgData);
    ImgStruct.ImgData = nullptr;
}
