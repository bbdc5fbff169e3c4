// ReadImage on arbitrary bytes. Built once per format (FUZZ_EXT names the
// scratch file's extension and FUZZ_MAGIC the bytes that route the input to
// that format's reader), so that one decoder does not drown the others'
// coverage. FUZZ_TAG, when given, is written at FUZZ_TAG_AT as well.
#include <cstring>
#include <vector>

#include "fuzz_common.h"

#ifndef FUZZ_EXT
#error "FUZZ_EXT must name the format"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char magic[] = FUZZ_MAGIC;
    const size_t m = sizeof magic - 1;
    std::vector<uint8_t> input(data, data + size);
    // Keep the input on this format's reader: replace its first bytes by
    // the format's signature.
    if (input.size() < m) input.resize(m);
    if (m > 0) std::memcpy(input.data(), magic, m);  // empty input: data() is null
#ifdef FUZZ_TAG
    // Formats that are known by a second mark further in (a RIFF form's
    // type, an ISO media file's type box and brand): the bytes between
    // stay the input's own, since sizes live there.
    static const char tag[] = FUZZ_TAG;
    const size_t at = FUZZ_TAG_AT, t = sizeof tag - 1;
    if (input.size() < at + t) input.resize(at + t);
    std::memcpy(input.data() + at, tag, t);
#endif
    const std::string& path = fuzz::ScratchPath(FUZZ_EXT);
    if (!fuzz::WriteInput(path, input.data(), input.size())) return 0;
    fuzz::ReadAndTouch(path, size % 2 == 1, size % 4 >= 2);
    return 0;
}
