#include "codecs/hdr.h"

#include <cstring>

namespace orvix {

HdrClass::HdrClass() { Clear(); }

void HdrClass::Clear() { std::memset(&m_Hdr, 0, sizeof m_Hdr); }

}  // namespace orvix
