// A temporary file beside the output store where table rows wait until
// their table is written, so that a folder of a million messages does not
// keep its contents-table rows in memory.
//
// The file is made on the first Append, in the directory given, under a
// unique name, and its name is removed at once: the open file alone holds
// the rows, so nothing is left behind however the run ends (the space
// returns when the file is closed, by the destructor or by the end of the
// process). A write that fails (full disk, file size limit) throws
// OutputWriteError naming the file and the system's reason, like a failed
// write of the store itself, and the file stays failed: every later call
// throws the same error, so a table never lacks rows that did not reach it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace bm::pst {

class RowSpillFile {
public:
    explicit RowSpillFile(std::filesystem::path directory);
    ~RowSpillFile();
    RowSpillFile(const RowSpillFile&) = delete;
    RowSpillFile& operator=(const RowSpillFile&) = delete;

    struct Extent {
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
    };
    // Appends bytes and says where they lie.
    Extent Append(std::span<const std::uint8_t> bytes);
    // The bytes of an extent Append returned, into `into` (resized).
    void Read(const Extent& extent, std::vector<std::uint8_t>& into);

    // Throws the error of an earlier failed write or read, if there was one.
    void ThrowIfFailed() const;

    // Bytes written so far.
    std::uint64_t size() const { return end_; }
    // The name the file had while it was being made (empty before the
    // first Append); it no longer exists.
    const std::filesystem::path& madeAs() const { return path_; }

private:
    [[noreturn]] void Fail(const std::string& what);

    std::filesystem::path directory_;
    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t end_ = 0;
    std::string failure_;  // the first failure's message
};

}  // namespace bm::pst
