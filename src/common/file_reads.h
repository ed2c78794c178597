// Positional reads that take as many calls as the system needs.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace bm {

// Reads up to n bytes at `offset` into `to`, calling again after a short
// read or an interruption; stops at the end of the file or the first
// error. The bytes read.
inline std::size_t ReadFully(int fd, std::uint8_t* to, std::size_t n, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, to + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    return got;
}

}  // namespace bm
