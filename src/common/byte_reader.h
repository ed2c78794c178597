// The one way untrusted bytes are parsed: a span and a position. Every read
// checks what is left and fails instead of reading past the end; a failed
// read leaves the position where it was and sets the sticky failed() flag,
// so a parser can read a run of fields and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace bm {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data, size) {}

    std::size_t size() const { return data_.size(); }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool failed() const { return failed_; }
    bool ok() const { return !failed_; }
    std::span<const std::uint8_t> data() const { return data_; }

    // Moves to an absolute position; fails when it lies past the end.
    bool seek(std::size_t pos) {
        if (pos > data_.size()) return fail();
        pos_ = pos;
        return true;
    }
    bool skip(std::size_t n) {
        if (n > remaining()) return fail();
        pos_ += n;
        return true;
    }
    bool canRead(std::size_t n) const { return n <= remaining(); }

    std::uint8_t readU8() { return static_cast<std::uint8_t>(readLe(1)); }
    std::uint16_t readU16() { return static_cast<std::uint16_t>(readLe(2)); }
    std::uint32_t readU32() { return static_cast<std::uint32_t>(readLe(4)); }
    std::uint64_t readU64() { return readLe(8); }
    std::int32_t readI32() { return static_cast<std::int32_t>(readU32()); }
    // Reads a little-endian unsigned value of width 1..8 bytes.
    std::uint64_t readUint(std::size_t width) { return readLe(width); }

    // A view of the next n bytes; empty and failed when fewer remain.
    std::span<const std::uint8_t> readBytes(std::size_t n) {
        if (n > remaining()) {
            fail();
            return {};
        }
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

    // Reads at an absolute offset without moving; nullopt when out of range.
    std::optional<std::uint64_t> peekAt(std::size_t offset, std::size_t width) const {
        if (width == 0 || width > 8 || offset > data_.size() || width > data_.size() - offset) return std::nullopt;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(data_[offset + i]) << (8 * i);
        return v;
    }

    // A reader over a sub-range; an empty, failed reader when out of range.
    ByteReader sub(std::size_t offset, std::size_t n) const {
        if (offset > data_.size() || n > data_.size() - offset) {
            ByteReader r;
            r.failed_ = true;
            return r;
        }
        return ByteReader(data_.subspan(offset, n));
    }

private:
    bool fail() {
        failed_ = true;
        return false;
    }
    std::uint64_t readLe(std::size_t width) {
        if (width > remaining()) {
            fail();
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += width;
        return v;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// Little-endian stores into a caller's buffer (writer side and test images).
inline void PutLe(std::uint8_t* p, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace bm
