// The store checker's access to the file: positional reads through one
// bounded window, so checking a store of any size holds a few hundred
// kilobytes of it at a time, never the whole file.
//
// A read that is not inside the window refills it from the read's start.
// When the reads move forward through the file the window grows (up to its
// limit) and one refill serves many pages and blocks; a read elsewhere
// refills only what it asks for (at least one small unit), so a check that
// jumps around does not read far ahead for nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_reader.h"

namespace bm {

class CheckFileReader {
public:
    static constexpr std::size_t kDefaultWindow = std::size_t{1} << 20;
    static constexpr std::size_t kSmallestRefill = 4096;

    // `window` bounds the bytes read ahead; a single read longer than it is
    // still served whole.
    explicit CheckFileReader(const std::filesystem::path& path, std::size_t window = kDefaultWindow);
    ~CheckFileReader();
    CheckFileReader(const CheckFileReader&) = delete;
    CheckFileReader& operator=(const CheckFileReader&) = delete;

    bool opened() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Size of the file when it was opened.
    std::uint64_t size() const { return size_; }

    // The n bytes at offset, valid until the next read; an empty, failed
    // reader when they do not all lie in the file or cannot be read.
    ByteReader read(std::uint64_t offset, std::size_t n);

    // Bytes taken from the file so far, and the refills that took them.
    std::uint64_t bytesRead() const { return bytesRead_; }
    std::uint64_t refills() const { return refills_; }

private:
    bool refill(std::uint64_t offset, std::size_t n);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string error_;
    std::size_t limit_;
    std::vector<std::uint8_t> window_;
    std::uint64_t start_ = 0;   // file offset of window_[0]
    std::size_t length_ = 0;    // valid bytes in window_
    std::size_t ahead_ = kSmallestRefill;  // next forward refill's size
    std::uint64_t bytesRead_ = 0;
    std::uint64_t refills_ = 0;
};

}  // namespace bm
