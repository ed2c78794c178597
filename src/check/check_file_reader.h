// The store checker's access to the file: positional reads through one
// bounded window, so checking a store of any size holds a few hundred
// kilobytes of it at a time, never the whole file.
//
// A read that is not inside the window refills it from the read's start.
// When the reads move forward through the file the window grows (up to its
// limit) and one refill serves many pages and blocks; a read elsewhere
// refills only what it asks for (at least one small unit), so a check that
// jumps around does not read far ahead for nothing.
//
// Once the window has grown to its limit, a thread of the reader's own
// reads the next window while the checker works through this one (the
// reads took half of a check, and the machine has a second core). A read
// that runs on past the window takes the next one, with the bytes of the
// read that were still in the old window put in front of it; a read
// elsewhere lets it go and refills as above.
//
// Windows of 64 KiB and more past the file's first 16 MiB are read past
// the page cache (O_DIRECT, from the 4 KiB boundary before them): a store
// just written is mostly not in the cache, and bringing it in cost the
// kernel several times what the reads themselves did, for bytes the check
// looks at once. The first 16 MiB, which the store's writer leaves in the
// cache, are read from there, so a small store is checked from memory.
// Where the file system refuses direct reads, every read goes through the
// cache.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "common/byte_reader.h"

namespace bm {

class CheckFileReader {
public:
    static constexpr std::size_t kDefaultWindow = std::size_t{4} << 20;
    static constexpr std::size_t kSmallestRefill = 4096;
    // Room in front of a window read ahead, for the start of a read that
    // runs from the old window into it.
    static constexpr std::size_t kCarriedBytes = 64u << 10;
    // Reads this long or longer go past the page cache, in whole units of
    // kDirectUnit at offsets that are multiples of it.
    static constexpr std::size_t kDirectLength = 64u << 10;
    static constexpr std::size_t kDirectUnit = 4096;

    // Reads that start this far into the file or further may go past the
    // page cache; kNeverDirect: none do.
    static constexpr std::uint64_t kDefaultDirectFrom = std::uint64_t{16} << 20;
    static constexpr std::uint64_t kNeverDirect = ~std::uint64_t{0};

    // `window` bounds the bytes read ahead; a single read longer than it is
    // still served whole.
    explicit CheckFileReader(const std::filesystem::path& path, std::size_t window = kDefaultWindow,
                             std::uint64_t directFrom = kDefaultDirectFrom);
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

    // Bytes taken from the file so far (read ahead included), the refills
    // that took them, and how many of those the thread read ahead.
    std::uint64_t bytesRead() const { return bytesRead_; }
    std::uint64_t refills() const { return refills_; }
    std::uint64_t readsAhead() const { return readsAhead_; }
    // Reads that went past the page cache (read ahead included).
    std::uint64_t directReads() const { return directReads_; }

private:
    // Memory for a window: aligned for direct reads, with a unit of room
    // on each side for the unaligned ends of a read.
    class Buffer {
    public:
        std::uint8_t* data() { return bytes_.get(); }
        std::size_t size() const { return size_; }
        // Room for at least n bytes; what was in it is not kept.
        void reserve(std::size_t n);
        void swap(Buffer& other) noexcept {
            bytes_.swap(other.bytes_);
            std::swap(size_, other.size_);
        }

    private:
        struct Free {
            void operator()(std::uint8_t* p) const;
        };
        std::unique_ptr<std::uint8_t, Free> bytes_;
        std::size_t size_ = 0;
    };

    bool refill(std::uint64_t offset, std::size_t n);
    // Takes the window read ahead when it holds [offset, offset + n);
    // lets it go otherwise. False when it was let go or there was none.
    bool takeReadAhead(std::uint64_t offset, std::size_t n);
    // Asks the thread for the window after this one.
    void readAheadNext();
    void ReadAheadLoop();
    // Reads [offset, offset + want) into `buffer` (room for want + two
    // units) past the page cache when it can, through it otherwise. The
    // bytes start at buffer + *head; the bytes read from offset on.
    std::size_t readWindow(std::uint8_t* buffer, std::uint64_t offset, std::size_t want, std::size_t* head);

    int fd_ = -1;
    int directFd_ = -1;  // -1 where direct reads are refused or not wanted
    std::uint64_t directFrom_;
    std::atomic<bool> directRefused_{false};  // a direct read was refused: none after it
    std::atomic<std::uint64_t> directReads_{0};
    std::uint64_t size_ = 0;
    std::string error_;
    std::size_t limit_;
    Buffer window_;
    std::size_t base_ = 0;      // index in window_ of the byte at start_
    std::uint64_t start_ = 0;   // file offset of window_[base_]
    std::size_t length_ = 0;    // valid bytes from base_
    std::size_t ahead_ = kSmallestRefill;  // next forward refill's size
    std::uint64_t bytesRead_ = 0;
    std::uint64_t refills_ = 0;
    std::uint64_t readsAhead_ = 0;

    // The window read ahead: the thread fills next_ from kCarriedBytes on
    // while it is Pending; the reader's own thread touches it only when the
    // read is done.
    enum class Ahead { None, Pending, Done };
    std::mutex mutex_;
    std::condition_variable changed_;
    Ahead nextState_ = Ahead::None;
    bool stop_ = false;
    Buffer next_;
    std::uint64_t nextAt_ = 0;
    std::size_t nextWant_ = 0;
    std::size_t nextGot_ = 0;
    std::size_t nextHead_ = 0;  // where in next_, past kCarriedBytes, the byte at nextAt_ lies
    std::thread thread_;
};

}  // namespace bm
