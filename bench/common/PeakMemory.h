#pragma once

// Peak resident memory of this process so far, in MiB (VmHWM from /proc).
#include <fstream>
#include <string>

namespace QmBench {

inline double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

} // namespace QmBench
