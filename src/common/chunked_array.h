// An append-only array of records in large fixed chunks, for tables that
// grow with the store (a record per block or per node). Records never move
// once appended, so pointers to them stay valid until Clear. Each chunk is
// one allocation of kPerChunk records, large enough (128 KiB and up for the
// tables' records) that the allocator gives it pages of its own: the
// millions of records of a big store do not sit among the small short-lived
// allocations of the run, as the 512-byte pieces of a std::deque do, and
// leave no holes there when they go.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace bm {

template <typename T, std::size_t kPerChunk>
class ChunkedArray {
    static_assert(kPerChunk > 0);

public:
    template <bool kConst>
    class Iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<kConst, const T*, T*>;
        using reference = std::conditional_t<kConst, const T&, T&>;
        using Owner = std::conditional_t<kConst, const ChunkedArray, ChunkedArray>;

        Iterator() = default;
        Iterator(Owner* owner, std::size_t index) : owner_(owner), index_(index) {}

        reference operator*() const { return (*owner_)[index_]; }
        pointer operator->() const { return &(*owner_)[index_]; }
        reference operator[](difference_type n) const { return (*owner_)[Offset(n)]; }
        Iterator& operator++() { ++index_; return *this; }
        Iterator operator++(int) { Iterator old = *this; ++index_; return old; }
        Iterator& operator--() { --index_; return *this; }
        Iterator operator--(int) { Iterator old = *this; --index_; return old; }
        Iterator& operator+=(difference_type n) { index_ = Offset(n); return *this; }
        Iterator& operator-=(difference_type n) { index_ = Offset(-n); return *this; }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.index_ == b.index_; }
        friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.index_ <=> b.index_; }

    private:
        std::size_t Offset(difference_type n) const {
            return static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
        }
        Owner* owner_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    ChunkedArray() = default;
    ChunkedArray(const ChunkedArray&) = delete;
    ChunkedArray& operator=(const ChunkedArray&) = delete;
    ChunkedArray(ChunkedArray&& other) noexcept
        : chunks_(std::move(other.chunks_)), size_(std::exchange(other.size_, 0)) {}
    ChunkedArray& operator=(ChunkedArray&& other) noexcept {
        chunks_ = std::move(other.chunks_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }

    // Appends a record made from `args` and returns it.
    template <typename... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == chunks_.size() * kPerChunk) chunks_.push_back(std::make_unique<T[]>(kPerChunk));
        T& slot = (*this)[size_];
        slot = T(std::forward<Args>(args)...);
        ++size_;
        return slot;
    }

    void push_back(const T& value) { emplace_back(value); }

    T& operator[](std::size_t i) { return chunks_[i / kPerChunk][i % kPerChunk]; }
    const T& operator[](std::size_t i) const { return chunks_[i / kPerChunk][i % kPerChunk]; }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return (*this)[size_ - 1]; }
    const T& back() const { return (*this)[size_ - 1]; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Keeps the first `n` records (n at most size()) and frees the chunks
    // past them.
    void truncate(std::size_t n) {
        if (n >= size_) return;
        size_ = n;
        chunks_.resize((n + kPerChunk - 1) / kPerChunk);
    }
    // Frees every chunk.
    void clear() {
        chunks_.clear();
        chunks_.shrink_to_fit();
        size_ = 0;
    }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, size_}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::size_t size_ = 0;
};

}  // namespace bm
