#pragma once

// Peak and current resident memory of this process, in MiB (from /proc).
#include <fstream>
#include <string>

namespace QmBench {

// A memory figure of this process from /proc/self/status, in MiB.
inline double statusMemoryMiB(const std::string &key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(key.size())) / 1024.0;
    }
    return 0.0;
}

inline double peakMemoryMiB()
{
    return statusMemoryMiB("VmHWM:");
}

// Resident memory of this process now, in MiB (VmRSS).
inline double residentMemoryMiB()
{
    return statusMemoryMiB("VmRSS:");
}

} // namespace QmBench
