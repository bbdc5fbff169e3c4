// Numbers as the dialog's fields hold them: read as atoi and atof read
// (the leading number, 0 when there is none) and written with printf
// formats. The C library's numeric locale must be "C": a window toolkit that
// sets the user's locale resets LC_NUMERIC after it starts.
#pragma once

#include <string>

namespace tolvane {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

inline int TextToInt(const std::string& text) { return std::atoi(text.c_str()); }
inline double TextToDouble(const std::string& text) { return std::atof(text.c_str()); }

// Whether the whole text, blanks around it aside, is a plain decimal > 0
// (no exponent, no hexadecimal).
bool IsPositiveNumber(const std::string& text);
// Whether the whole text, blanks around it aside, is a whole number in lo..hi.
bool IsWholeNumberIn(const std::string& text, long lo, long hi);

bool Contains(const std::string& text, const char* part);

// The text with every run of line breaks and tabs made one blank, trimmed.
std::string OneLine(const std::string& text);

}  // namespace tolvane
