// Tolvane: the batch resizer. "--batch" runs the headless batch.
#include "batch_cli.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The library is linked, and held by name as well for the program's life.
    void* library = dlopen("libORVIX_0500.so.2", RTLD_NOW | RTLD_NOLOAD);
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = 2;
    if (!args.empty() && args[0] == "--batch") {
        args.erase(args.begin());
        status = tolvane::RunBatch(args);
    } else {
        std::fputs(tolvane::kBatchUsage, args.empty() || args[0] == "--help" ? stdout : stderr);
        status = args.empty() || args[0] == "--help" ? 0 : 2;
    }
    if (library) dlclose(library);
    return status;
}
