#include "text.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace tolvane {

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[128];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    std::string text;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return text;
}

namespace {
// The text without blanks around it, and whether anything is left.
bool Trimmed(const std::string& text, std::string& out) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    out = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    return true;
}
}  // namespace

bool IsPositiveNumber(const std::string& text) {
    std::string t;
    if (!Trimmed(text, t)) return false;
    // Plain decimals only: the fields are read with atof, which takes
    // "1e2" as 1 and "0x20" as 0.
    size_t digits = 0, points = 0;
    for (size_t i = t[0] == '+' ? 1 : 0; i < t.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(t[i]))) ++digits;
        else if (t[i] == '.') ++points;
        else return false;
    }
    return digits > 0 && points <= 1 && std::strtod(t.c_str(), nullptr) > 0;
}

bool IsWholeNumberIn(const std::string& text, long lo, long hi) {
    std::string t;
    if (!Trimmed(text, t)) return false;
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    return *end == '\0' && v >= lo && v <= hi;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace tolvane
