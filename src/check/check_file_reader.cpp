#include "check/check_file_reader.h"

#include "common/file_reads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace bm {

namespace {

// O_NONBLOCK while opening: a FIFO or a device named as the store must not
// hold the open up waiting for a writer (it is then refused as no regular
// file); reads wait as usual.
int OpenWithoutWaiting(const std::filesystem::path& path, int flags) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | flags);
    if (fd < 0) return fd;
    if (const int now = ::fcntl(fd, F_GETFL); now >= 0) ::fcntl(fd, F_SETFL, now & ~O_NONBLOCK);
    return fd;
}

}  // namespace

CheckFileReader::CheckFileReader(const std::filesystem::path& path, std::size_t window, std::uint64_t directFrom)
    : directFrom_(directFrom), limit_(std::max(window, kSmallestRefill)) {
    fd_ = OpenWithoutWaiting(path, 0);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = "not a regular file";
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
#ifdef O_DIRECT
    if (directFrom_ < size_) {
        // Opened again by name: only the file already open is taken (a name
        // changed meanwhile, to a FIFO say, is neither waited on nor read).
        directFd_ = OpenWithoutWaiting(path, O_DIRECT);
        struct stat again {};
        if (directFd_ >= 0 &&
            (::fstat(directFd_, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino)) {
            ::close(directFd_);
            directFd_ = -1;
        }
    }
#endif
}

void CheckFileReader::Buffer::reserve(std::size_t n) {
    const std::size_t want = (n + 3 * kDirectUnit - 1) / kDirectUnit * kDirectUnit;
    if (want <= size_) return;
    bytes_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kDirectUnit, want)));
    if (!bytes_) throw std::bad_alloc();
    size_ = want;
}

void CheckFileReader::Buffer::Free::operator()(std::uint8_t* p) const { std::free(p); }

CheckFileReader::~CheckFileReader() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
    if (directFd_ >= 0) ::close(directFd_);
}

ByteReader CheckFileReader::read(std::uint64_t offset, std::size_t n) {
    if (fd_ < 0 || offset > size_ || n > size_ - offset) return ByteReader().sub(1, 1);  // failed
    if (n == 0) return ByteReader();
    const bool inside = offset >= start_ && offset - start_ <= length_ && n <= length_ - (offset - start_);
    if (!inside && !refill(offset, n)) return ByteReader().sub(1, 1);
    return ByteReader(std::span<const std::uint8_t>(window_.data() + base_ + static_cast<std::size_t>(offset - start_), n));
}

std::size_t CheckFileReader::readWindow(std::uint8_t* buffer, std::uint64_t offset, std::size_t want,
                                        std::size_t* head) {
    *head = 0;
    if (directFd_ < 0 || want < kDirectLength || offset < directFrom_ || directRefused_)
        return ReadFully(fd_, buffer, want, offset);
    const std::uint64_t from = offset / kDirectUnit * kDirectUnit;
    *head = static_cast<std::size_t>(offset - from);
    const std::size_t length = (*head + want + kDirectUnit - 1) / kDirectUnit * kDirectUnit;
    // Only the file's end cuts a direct read short of whole units (a call
    // after it, at an offset off the units, is refused and ends the read).
    errno = 0;
    const std::size_t got = ReadFully(directFd_, buffer, length, from);
    if (got == 0 && errno == EINVAL) directRefused_ = true;
    if (got > 0) ++directReads_;
    std::size_t have = got > *head ? std::min(got - *head, want) : 0;
    // A refused or short direct read: the rest through the cache, so the
    // result is what a read through the cache gives.
    if (have < want) have += ReadFully(fd_, buffer + *head + have, want - have, offset + have);
    return have;
}

bool CheckFileReader::refill(std::uint64_t offset, std::size_t n) {
    if (takeReadAhead(offset, n)) {
        readAheadNext();
        return true;
    }
    // Moving on from the window (or from within it) reads further ahead
    // each time; a jump starts small again. A read that skips more than
    // the next refill would have read is a jump too: reads spread far
    // apart (one map page in each interval) must not read the file
    // between them.
    const bool forward = length_ > 0 && offset >= start_ && offset <= start_ + length_ + ahead_;
    ahead_ = forward ? std::min(ahead_ * 2, limit_) : kSmallestRefill;
    std::size_t want = std::max(n, ahead_);
    want = static_cast<std::size_t>(std::min<std::uint64_t>(want, size_ - offset));
    window_.reserve(want);
    std::size_t head = 0;
    const std::size_t got = readWindow(window_.data(), offset, want, &head);
    ++refills_;
    bytesRead_ += got;
    base_ = head;
    start_ = offset;
    length_ = got;
    if (got < n) return false;
    if (forward && ahead_ == limit_) readAheadNext();
    return true;
}

bool CheckFileReader::takeReadAhead(std::uint64_t offset, std::size_t n) {
    {
        std::unique_lock lock(mutex_);
        if (nextState_ == Ahead::None) return false;
        changed_.wait(lock, [this] { return nextState_ == Ahead::Done; });
        nextState_ = Ahead::None;
    }
    bytesRead_ += nextGot_;
    // The read ahead continues the window: a read that began in the window
    // keeps its first bytes, carried in front of the next window.
    const std::uint64_t at = nextAt_;
    const bool begins = offset >= start_ && offset <= at && at - offset <= kCarriedBytes;
    if (!begins && offset < at) return false;
    if (offset + n > at + nextGot_) return false;
    const std::size_t carried = static_cast<std::size_t>(at - std::min(offset, at));
    // The carried bytes may cover the unit's bytes before `at` that a
    // direct read brought in: the same bytes of the file.
    const std::size_t front = kCarriedBytes + nextHead_ - carried;
    std::memcpy(next_.data() + front, window_.data() + base_ + (length_ - carried), carried);
    window_.swap(next_);
    base_ = front;
    start_ = at - carried;
    length_ = carried + nextGot_;
    ahead_ = limit_;
    return true;
}

void CheckFileReader::readAheadNext() {
    const std::uint64_t at = start_ + length_;
    if (at >= size_) return;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(limit_, size_ - at));
    next_.reserve(kCarriedBytes + want);
    {
        const std::lock_guard lock(mutex_);
        nextAt_ = at;
        nextWant_ = want;
        nextGot_ = 0;
        nextHead_ = 0;
        nextState_ = Ahead::Pending;
    }
    ++refills_;
    ++readsAhead_;
    if (!thread_.joinable()) thread_ = std::thread(&CheckFileReader::ReadAheadLoop, this);
    changed_.notify_all();
}

void CheckFileReader::ReadAheadLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return nextState_ == Ahead::Pending || stop_; });
        if (stop_) return;
        const std::uint64_t at = nextAt_;
        const std::size_t want = nextWant_;
        lock.unlock();
        std::size_t head = 0;
        const std::size_t got = readWindow(next_.data() + kCarriedBytes, at, want, &head);
        lock.lock();
        nextGot_ = got;
        nextHead_ = head;
        nextState_ = Ahead::Done;
        changed_.notify_all();
    }
}

}  // namespace bm
