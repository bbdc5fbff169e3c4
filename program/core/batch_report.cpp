// The headless run's account of its files: one JSON line per place of the
// list it was to convert, whatever became of the file.
#include "batch_cli.h"
#include "batch_parts.h"

#include "naming.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace tolvane {

int Share::CountKept(int n) const {
    int kept = 0;
    for (int i = 0; i < n; ++i) kept += Kept(i);
    return kept;
}

void Tally::Add(int position, const std::string& status, std::string line) {
    if (status == "converted") ++converted;
    else if (status == "skipped") ++skipped;
    else if (status == "interrupted") ++interrupted;
    else ++failed;
    lines.emplace_back(position, std::move(line));
}

void Tally::Add(const FileOutcome& outcome) { Add(outcome.position, StatusName(outcome.status), JsonLine(outcome)); }

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
                  "\"note\":%s,\"width\":%d,\"height\":%d,\"ms\":%.3f}",
                  r.position, JsonString(r.source).c_str(), JsonString(r.output).c_str(),
                  StatusName(r.status), JsonString(r.reason).c_str(), JsonString(r.note).c_str(),
                  r.width, r.height, r.milliseconds);
}

bool WriteReport(const std::string& path, Tally& tally) {
    std::sort(tally.lines.begin(), tally.lines.end());
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    for (const auto& [position, line] : tally.lines) std::fprintf(f, "%s\n", line.c_str());
    return std::fclose(f) == 0;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) out += Format("\\u%04x", c);
            else out += char(c);
        }
    }
    return out + "\"";
}

}  // namespace tolvane
