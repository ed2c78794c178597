#include "output/pst/ndb_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bm::pst {

namespace {
// Appends go out in pieces of this size: sequential writes, each copied
// into the page cache while the piece is still in the core's cache (a
// larger piece is copied from memory, which costs the kernel more).
constexpr std::size_t kBufferSize = 512u << 10;
// The disk writes are started once this much has been written since the
// last start: a few large requests to the disk rather than many small ones.
constexpr std::uint64_t kWritebackPiece = 8u << 20;
}  // namespace

NdbFile::NdbFile(const std::filesystem::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot create");
    buffer_.reserve(kBufferSize);
}

NdbFile::~NdbFile() {
    if (fd_ >= 0) ::close(fd_);
}

void NdbFile::fail(const char* what) {
    if (failure_.empty()) failure_ = std::string(what) + " " + path_.string() + ": " + std::strerror(errno);
    throw OutputWriteError(failure_);
}

void NdbFile::throwIfFailed() const {
    if (!failure_.empty()) throw OutputWriteError(failure_);
}

void NdbFile::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (buffer_.size() == kBufferSize) flush();
        const std::size_t n = std::min(bytes.size(), kBufferSize - buffer_.size());
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    }
}

void NdbFile::appendZeros(std::uint64_t count) {
    while (count > 0) {
        if (buffer_.size() == kBufferSize) flush();
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, kBufferSize - buffer_.size()));
        buffer_.resize(buffer_.size() + n, 0);
        count -= n;
    }
}

std::span<std::uint8_t> NdbFile::appendInPlace(std::size_t count) {
    if (count > kBufferSize) throw std::invalid_argument("NdbFile: piece larger than the write buffer");
    if (buffer_.size() + count > kBufferSize) flush();
    throwIfFailed();
    const std::size_t at = buffer_.size();
    buffer_.resize(at + count, 0);
    return std::span(buffer_).subspan(at, count);
}

void NdbFile::writeAll(const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    throwIfFailed();
    if (fd_ < 0) throw std::runtime_error("write to closed file " + path_.string());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write");
        }
        if (n == 0) {
            errno = EIO;
            fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
}

void NdbFile::flush() {
    if (buffer_.empty()) {
        throwIfFailed();
        return;
    }
    writeAll(buffer_.data(), buffer_.size(), flushed_);
    flushed_ += buffer_.size();
    buffer_.clear();
#ifdef SYNC_FILE_RANGE_WRITE
    // Start writing what was written to the disk now, without waiting for
    // it, so that the sync at the end finds little left to do. Only hints: a
    // write that fails shows up in the sync.
    //
    // The piece started before is waited for and dropped from the page
    // cache. The store is written once and not read again while it is being
    // written, and keeping it cached costs more than the disk writes: each
    // page the kernel takes anew for the file is slow to fill the first
    // time, so the copy into the page cache grows dearer the larger the
    // store. Pages dropped behind the writer come back to it for the next
    // pieces, and a large store no longer pushes the source out of the
    // cache.
    if (flushed_ - writebackStarted_ >= kWritebackPiece) {
        if (writebackStarted_ > released_) {
            const auto from = static_cast<off_t>(released_);
            const auto length = static_cast<off_t>(writebackStarted_ - released_);
            ::sync_file_range(fd_, from, length,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            ::posix_fadvise(fd_, from, length, POSIX_FADV_DONTNEED);
            released_ = writebackStarted_;
        }
        ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_), static_cast<off_t>(flushed_ - writebackStarted_),
                          SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = flushed_;
    }
#endif
}

void NdbFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    flush();
    writeAll(bytes.data(), bytes.size(), offset);
}

void NdbFile::sync() {
    flush();
    if (::fdatasync(fd_) != 0) fail("cannot sync");
}

void NdbFile::close() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close");
}

}  // namespace bm::pst
