#include "output/pst/row_spill_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "output/pst/output_write_error.h"

namespace bm::pst {

RowSpillFile::RowSpillFile(std::filesystem::path directory) : directory_(std::move(directory)) {}

RowSpillFile::~RowSpillFile() {
    if (fd_ >= 0) ::close(fd_);
}

void RowSpillFile::Fail(const std::string& what) {
    if (failure_.empty()) failure_ = what + " " + (path_.empty() ? directory_ : path_).string() + ": " + std::strerror(errno);
    throw OutputWriteError(failure_);
}

void RowSpillFile::ThrowIfFailed() const {
    if (!failure_.empty()) throw OutputWriteError(failure_);
}

RowSpillFile::Extent RowSpillFile::Append(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("RowSpillFile: piece too large");
    }
    ThrowIfFailed();
    if (fd_ < 0) {
        const std::filesystem::path dir = directory_.empty() ? std::filesystem::path(".") : directory_;
        std::string name = (dir / ".brightmend-rows-XXXXXX").string();
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        path_ = name;
        if (fd_ < 0) Fail("cannot create the temporary file for table rows");
        ::unlink(name.c_str());
    }
    const Extent extent{end_, static_cast<std::uint32_t>(bytes.size())};
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(end_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            Fail("cannot write the temporary file of table rows");
        }
        done += static_cast<std::size_t>(n);
    }
    end_ += bytes.size();
    return extent;
}

void RowSpillFile::Read(const Extent& extent, std::vector<std::uint8_t>& into) {
    ThrowIfFailed();
    if (fd_ < 0 || extent.offset + extent.size > end_) throw std::out_of_range("RowSpillFile: no such extent");
    into.resize(extent.size);
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t n = ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(extent.offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            Fail("cannot read the temporary file of table rows");
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace bm::pst
