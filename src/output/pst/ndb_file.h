// The output file of the NDB writer: sequential appends through a buffer
// small enough to stay in the core's cache until it is written, and writes
// at a given offset for the pages that are filled in last (maps, density
// list, header). What was appended goes to the disk as the writer goes on
// and leaves the page cache behind it.
//
// A full buffer is written by a thread of the file's own while the writer
// fills the other one, so the waits for the disk run beside the writing of
// the next messages. Past its first 16 MiB (which stay in the page cache,
// so that a small store is checked from memory) the pieces go to the disk
// directly, past the page cache (O_DIRECT: copying a store into the cache
// cost the kernel more than the disk writes, and the store is not read
// again while it is written);
// where the file system refuses that, or a piece does not start and end on
// a 4 KiB boundary, the piece is written through the cache, which is
// started to the disk as it goes and dropped behind the writer. The file
// pages the writer means to write over at the end (keepCached) go through
// the cache and stay there. Writes at an offset, sync() and close() first
// wait until every piece handed over is written, and go through the cache.
//
// A write that fails throws OutputWriteError naming the file and the
// system's reason, and the file stays failed: every later call throws the
// same error, so no part of the store is written after a piece went
// missing. A piece written by the thread that fails is told by the next
// call that writes, waits or checks (append when it hands over a buffer,
// writeAt, sync, close, throwIfFailed). The destructor closes the file
// without writing what is still buffered or waiting to be written (an
// unfinished store keeps its empty header).
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "output/pst/output_write_error.h"

namespace bm::pst {

// A piece of the file in memory, aligned for a direct write.
class PieceBuffer {
public:
    static constexpr std::size_t kCapacity = 512u << 10;
    static constexpr std::size_t kAlignment = 4096;

    PieceBuffer();
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool full() const { return size_ == kCapacity; }
    std::size_t room() const { return kCapacity - size_; }
    const std::uint8_t* data() const { return data_.get(); }
    void clear() {
        size_ = 0;
        cached.clear();
    }
    void truncate(std::size_t size) { size_ = std::min(size, size_); }
    void append(std::span<const std::uint8_t> bytes);
    // `count` zero bytes appended; their place.
    std::span<std::uint8_t> appendZeros(std::size_t count);

    // File ranges of the piece, 4 KiB pages whole and in rising order, that
    // are to be written through the page cache.
    struct Range {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
    };
    std::vector<Range> cached;

private:
    // Mapped on its own rather than taken from the allocator: a block this
    // large, freed, would make the allocator keep later ones of its size in
    // its heap, which then does not shrink back.
    struct Unmap {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t[], Unmap> data_;
    std::size_t size_ = 0;
};

// A store file made before it is written: created exclusively, never
// through a link (O_CREAT | O_EXCL | O_NOFOLLOW), and kept open for as long
// as this object lives. An NdbFile made for the same path writes through
// this descriptor instead of opening the name again, where someone who can
// write to the folder could have put a link to another file meanwhile.
class ReservedOutputFile {
public:
    // nullptr when something is at `path` already; std::system_error when
    // the file cannot be created.
    static std::unique_ptr<ReservedOutputFile> Create(const std::filesystem::path& path);
    ~ReservedOutputFile();
    ReservedOutputFile(const ReservedOutputFile&) = delete;
    ReservedOutputFile& operator=(const ReservedOutputFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Whether `path` still names this file (nothing was put in its place).
    bool StillNamed() const;
    // Flushes the file to the disk and gives it the name `target`, which
    // must be free (it is never replaced); the text of the failure, empty
    // on success. The reservation then follows the new name.
    std::string MoveTo(const std::filesystem::path& target);
    // Removes the file when `path` still names it.
    void Remove();
    // The file at `path` that an earlier run reserved and finished, taken
    // over as if reserved here; nullptr when no regular file is there.
    static std::unique_ptr<ReservedOutputFile> TakeOver(const std::filesystem::path& path);
    // Flushes the file to the disk; false when it cannot.
    bool Sync() const;

    // The reserved descriptor of `path`, -1 when none is reserved.
    static int DescriptorOf(const std::filesystem::path& path);

private:
    ReservedOutputFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::filesystem::path path_;
    int fd_ = -1;
};

class NdbFile {
public:
    // Writes through the descriptor reserved for `path` (see
    // ReservedOutputFile), emptied first; without one, creates or truncates
    // the file, never through a link.
    explicit NdbFile(const std::filesystem::path& path);
    ~NdbFile();
    NdbFile(const NdbFile&) = delete;
    NdbFile& operator=(const NdbFile&) = delete;

    // Offset of the next appended byte.
    std::uint64_t end() const { return handedOver_ + buffer_->size(); }
    void append(std::span<const std::uint8_t> bytes);
    void appendZeros(std::uint64_t count);
    // The next `count` bytes of the file (at most the buffer's size), zeroed,
    // for the caller to fill in place; valid until the next call.
    std::span<std::uint8_t> appendInPlace(std::size_t count);
    // Writes at an offset below end(); everything appended is written first.
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Says that writeAt will write over [offset, offset + length), at or
    // after end(), once it is appended: the file pages around it are written
    // through the page cache and kept there, so that writing over them later
    // does not first read them back from the disk (4 KiB a time, waiting
    // for each). Ranges come in rising order.
    void keepCached(std::uint64_t offset, std::uint64_t length);
    // Hands the buffer to the writing thread (which may still be writing it
    // when flush returns).
    void flush();
    void sync();
    void close();
    // Throws the error of an earlier failed write, if there was one.
    void throwIfFailed() const;
    // Pieces (or stretches of them) written past the page cache so far.
    std::uint64_t directWrites() const;
    // Piece buffers mapped so far: never more than three, however long the
    // file (a buffer mapped anew costs the kernel a zeroed page for every
    // 4 KiB of it).
    std::uint64_t buffersMade() const;

private:
    // The writing thread's loop: one piece at a time (writePiece).
    void WriteBehind();
    // Waits until the thread has written every piece handed over, then
    // throws if one failed.
    void drain();
    void stopThread();
    // Gives the buffer to the thread, all of it or (keepUnalignedTail) all
    // but the bytes after the file's last 4 KiB boundary, which begin the
    // next buffer.
    void handOver(bool keepUnalignedTail);
    // The system's reason for the last failed call, kept as the file's
    // failure; returns the text. Caller holds mutex_.
    const std::string& recordFailure(const char* what, int error);
    [[noreturn]] void fail(const char* what);
    // True when every byte went out through the page cache; the system's
    // reason in `error` otherwise.
    bool writeAll(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error);
    // Writes a piece for the thread: directly where it can (its ranges to
    // keep cached through the cache), else through the cache with the disk
    // writes started and the piece before dropped; false with the reason
    // when a write failed.
    bool writePiece(const PieceBuffer& piece, std::uint64_t at, int& error);
    void startWriteback(std::uint64_t written);

    std::filesystem::path path_;
    int fd_ = -1;
    int directFd_ = -1;  // the same file opened for direct writes; -1 where it cannot be
    std::uint64_t handedOver_ = 0;  // bytes below this were given to the thread
    std::unique_ptr<PieceBuffer> buffer_ = std::make_unique<PieceBuffer>();
    std::vector<PieceBuffer::Range> toKeepCached_;  // ranges not yet handed over, in rising order

    // Shared with the writing thread, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<PieceBuffer> piece_;  // handed over, not yet taken by the thread
    std::uint64_t pieceAt_ = 0;
    bool pieceWaiting_ = false;
    bool writing_ = false;               // the thread is writing a piece
    bool stop_ = false;
    // Written pieces' buffers, for the next fills: at most three buffers
    // exist (one filled, one waiting, one being written), each mapped once.
    std::vector<std::unique_ptr<PieceBuffer>> spares_;
    std::uint64_t buffersMade_ = 1;
    std::string failure_;                // the first failed write's message
    std::uint64_t directWrites_ = 0;

    // The thread's own.
    std::uint64_t writebackStarted_ = 0;  // cached writes: the disk writes were started for the bytes below this
    std::uint64_t released_ = 0;          // cached writes: bytes below this are on the disk and out of the cache
    std::thread thread_;
};

}  // namespace bm::pst
