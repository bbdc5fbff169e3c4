// The headless batch: "Tolvane --batch", the main dialog's model driven from
// the command line, with worker processes, shards and a per-file report.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

// Runs the batch command on args (the words after "--batch"); returns the
// exit status: 0 when nothing failed, 1 when a file failed, 2 on a usage
// error.
int RunBatch(const std::vector<std::string>& args);

// The help text of the batch command.
extern const char kBatchUsage[];

// One JSON object on one line for a string value.
std::string JsonString(const std::string& text);

}  // namespace tolvane
