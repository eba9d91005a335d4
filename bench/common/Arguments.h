#pragma once

// Options of the benchmark programs given as "--name value" beside Google
// Benchmark's own flags.
#include <cstdlib>
#include <cstring>

namespace QmBench {

inline int intArgument(int argc, char **argv, const char *name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    }
    return fallback;
}

} // namespace QmBench
