// The output file of the NDB writer: sequential appends through a buffer
// small enough to stay in the core's cache until it is written, and writes
// at a given offset for the pages that are filled in last (maps, density
// list, header). What was appended goes to the disk as the writer goes on
// and leaves the page cache behind it (see flush()).
//
// A write that fails throws OutputWriteError naming the file and the
// system's reason, and the file stays failed: every later call throws the
// same error, so no part of the store is written after a piece went
// missing. The destructor closes the file without writing what is still
// buffered (an unfinished store keeps its empty header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "output/pst/output_write_error.h"

namespace bm::pst {

class NdbFile {
public:
    explicit NdbFile(const std::filesystem::path& path);
    ~NdbFile();
    NdbFile(const NdbFile&) = delete;
    NdbFile& operator=(const NdbFile&) = delete;

    // Offset of the next appended byte.
    std::uint64_t end() const { return flushed_ + buffer_.size(); }
    void append(std::span<const std::uint8_t> bytes);
    void appendZeros(std::uint64_t count);
    // The next `count` bytes of the file (at most the buffer's size), zeroed,
    // for the caller to fill in place; valid until the next call.
    std::span<std::uint8_t> appendInPlace(std::size_t count);
    // Writes at an offset below end(); flushes the buffer first.
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void flush();
    void sync();
    void close();
    // Throws the error of an earlier failed write, if there was one.
    void throwIfFailed() const;

private:
    [[noreturn]] void fail(const char* what);
    void writeAll(const std::uint8_t* data, std::size_t size, std::uint64_t offset);

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t flushed_ = 0;
    std::uint64_t writebackStarted_ = 0;  // the disk writes were started for the bytes below this
    std::uint64_t released_ = 0;          // bytes below this are on the disk and out of the page cache
    std::vector<std::uint8_t> buffer_;
    std::string failure_;  // the first failed write's message
};

}  // namespace bm::pst
