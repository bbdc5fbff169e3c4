// Server information text: four comma-separated fields with fixed capacities.
#include <cstring>
#include <string>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // the interface takes zero-terminated texts
    Put_Server(const_cast<char*>(text.c_str()));
    const char* info = Get_Server();
    if (!info || std::strlen(info) > 4 * 128) std::abort();
    return 0;
}
