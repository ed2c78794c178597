// The output file of the NDB writer: sequential appends through one large
// buffer, and writes at a given offset for the pages that are filled in
// last (maps, density list, header). Errors throw std::runtime_error naming
// the file and the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

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
    // Writes at an offset below end(); flushes the buffer first.
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void flush();
    void sync();
    void close();

private:
    [[noreturn]] void fail(const char* what) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t flushed_ = 0;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace bm::pst
