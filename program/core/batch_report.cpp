// The headless run's account of its files: one JSON line per place of the
// list it was to convert, whatever became of the file.
#include "batch_cli.h"
#include "batch_parts.h"

#include "naming.h"
#include "text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>

namespace tolvane {

int Share::CountKept(int n) const {
    int kept = 0;
    for (int i = 0; i < n; ++i) kept += Kept(i);
    return kept;
}

void Tally::Add(int position, const std::string& status, bool warning, std::string line) {
    warned += warning;
    if (status == "converted") ++converted;
    else if (status == "skipped") ++skipped;
    else if (status == "interrupted") ++interrupted;
    else ++failed;
    lines.emplace_back(position, std::move(line));
}

void Tally::Add(const FileOutcome& outcome) {
    Add(outcome.position, StatusName(outcome.status), !outcome.warning.empty(), JsonLine(outcome));
}

void Tally::AccountMissing(const Share& share, const std::vector<std::string>& sources, int worker,
                           FileOutcome::Status status, const std::string& reason) {
    std::set<int> reported;
    for (const auto& line : lines) reported.insert(line.first);
    for (int i = 0; i < int(sources.size()); ++i) {
        if (!(worker < 0 ? share.Kept(i) : share.Takes(worker, i)) || reported.count(i)) continue;
        FileOutcome missing;
        missing.position = i;
        missing.source = sources[size_t(i)];
        missing.status = status;
        missing.reason = reason;
        Add(missing);
    }
}

std::vector<std::string> ListedSources(const ScaleDialogModel& m) {
    std::vector<std::string> sources;
    for (int i = 0; i < m.List().Count(); ++i) sources.push_back(JoinPath(m.SourceFolder(), m.List().Text(i)));
    return sources;
}

std::string JsonLine(const FileOutcome& r) {
    return Format("{\"position\":%d,\"source\":%s,\"output\":%s,\"status\":\"%s\",\"reason\":%s,"
                  "\"warning\":%s,\"note\":%s,\"width\":%d,\"height\":%d,\"ms\":%.3f}",
                  r.position, JsonString(r.source).c_str(), JsonString(r.output).c_str(),
                  StatusName(r.status), JsonString(r.reason).c_str(), JsonString(r.warning).c_str(),
                  JsonString(r.note).c_str(), r.width, r.height, r.milliseconds);
}

bool WriteReport(const std::string& path, Tally& tally) {
    std::sort(tally.lines.begin(), tally.lines.end());
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (const auto& [position, line] : tally.lines) std::fprintf(f, "%s\n", line.c_str());
    return std::fclose(f) == 0;
}

namespace {
// The length of the well-formed UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return n;
}
}  // namespace

// Bytes of a name that are not UTF-8 are written as \u00XX, XX the byte,
// so that every line stays JSON whatever the file system holds.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8Length(text, i);
        if (n > 1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || n == 0) out += Format("\\u%04x", c);
            else out += char(c);
        }
    }
    return out + "\"";
}

}  // namespace tolvane
