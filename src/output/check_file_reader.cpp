#include "output/check_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bm {

CheckFileReader::CheckFileReader(const std::filesystem::path& path, std::size_t window)
    : limit_(std::max(window, kSmallestRefill)) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

CheckFileReader::~CheckFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

ByteReader CheckFileReader::read(std::uint64_t offset, std::size_t n) {
    if (fd_ < 0 || offset > size_ || n > size_ - offset) return ByteReader().sub(1, 1);  // failed
    if (n == 0) return ByteReader();
    const bool inside = offset >= start_ && offset - start_ <= length_ && n <= length_ - (offset - start_);
    if (!inside && !refill(offset, n)) return ByteReader().sub(1, 1);
    return ByteReader(std::span<const std::uint8_t>(window_).subspan(static_cast<std::size_t>(offset - start_), n));
}

bool CheckFileReader::refill(std::uint64_t offset, std::size_t n) {
    // Moving on from the window (or from within it) reads further ahead
    // each time; a jump starts small again.
    const bool forward = length_ > 0 && offset >= start_ && offset <= start_ + length_ + limit_;
    ahead_ = forward ? std::min(ahead_ * 2, limit_) : kSmallestRefill;
    std::size_t want = std::max(n, ahead_);
    want = static_cast<std::size_t>(std::min<std::uint64_t>(want, size_ - offset));
    if (window_.size() < want) window_.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t r = ::pread(fd_, window_.data() + got, want - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    ++refills_;
    bytesRead_ += got;
    start_ = offset;
    length_ = got;
    return got >= n;
}

}  // namespace bm
