#pragma once
// What the benchmarks share: this process's memory figures and whole reads and writes on a
// descriptor.
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace zumelko::bench {

// A memory figure of this process in bytes (VmRSS, VmHWM, …) from /proc/self/status; -1 when
// absent.
inline long StatusBytes(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t keyLen = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, keyLen, key) == 0 && line.size() > keyLen && line[keyLen] == ':')
            return std::atol(line.c_str() + keyLen + 1) * 1024L;
    return -1;
}

// Starts the peak (VmHWM) over from the memory in use now; returns that.
inline long ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusBytes("VmRSS");
}

inline void WriteAll(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0) throw std::runtime_error("write");
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

inline void ReadAll(int fd, void* data, std::size_t n) {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0) throw std::runtime_error("read");
        p += r;
        n -= static_cast<std::size_t>(r);
    }
}

}  // namespace zumelko::bench
