#pragma once
// A sequence that grows without moving what it holds: its elements live in chunks that are
// never reallocated, so appending to a long capture's blocks or frames costs the same after an
// hour as after a second (a vector that doubles copies everything it holds, and touches twice
// the memory, each time it grows). Indexing stays O(1): the chunks double in size from a small
// first one up to about 2 MiB, then all have that size; chunks of that size sit on 2 MiB
// boundaries and ask the system for large pages, which spares the first write to each 4 KiB
// page its fault.
//
// What a vector offers that the traces and the frame lists use: index, front and back, append,
// insert in the middle (moving the tail along, as a vector does), random-access iterators for
// the standard searches, clear, copy and move. Elements are constructed only when appended.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace osc {

namespace detail {

// Memory for a chunk: plain for small ones, on a 2 MiB boundary with the large-page hint for
// those of kLargeChunkBytes.
constexpr std::size_t kLargeChunkBytes = std::size_t{2} << 20;
void* allocateChunk(std::size_t bytes, std::size_t align);
void freeChunk(void* p, std::size_t align);

}  // namespace detail

template <class T>
class ChunkedVector {
    // Elements of the first chunk, of the largest (every chunk from kDoublings on), and the
    // number of chunks that double before that.
    static constexpr std::size_t kFirst =
        std::max<std::size_t>(1, std::bit_floor(1024 / sizeof(T)));
    static constexpr std::size_t kLarge = std::max(kFirst, detail::kLargeChunkBytes / sizeof(T));
    static constexpr std::size_t kDoublings =
        static_cast<std::size_t>(std::bit_width(kLarge / kFirst)) - 1;
    // Elements of the doubling chunks together.
    static constexpr std::size_t kGrowing = kFirst * ((std::size_t{1} << kDoublings) - 1);

  public:
    using value_type = T;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = T&;
    using const_reference = const T&;

    template <bool Const>
    class Iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;
        using Owner = std::conditional_t<Const, const ChunkedVector, ChunkedVector>;

        Iterator() = default;
        Iterator(Owner* owner, std::size_t index) : owner_(owner), index_(index) {}
        operator Iterator<true>() const { return {owner_, index_}; }  // NOLINT: as vector's

        reference operator*() const { return (*owner_)[index_]; }
        pointer operator->() const { return &(*owner_)[index_]; }
        reference operator[](difference_type n) const { return *(*this + n); }
        Iterator& operator++() { return ++index_, *this; }
        Iterator& operator--() { return --index_, *this; }
        Iterator operator++(int) { return {owner_, index_++}; }
        Iterator operator--(int) { return {owner_, index_--}; }
        Iterator& operator+=(difference_type n) {
            index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
            return *this;
        }
        Iterator& operator-=(difference_type n) { return *this += -n; }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) {
            return a.index_ == b.index_;
        }
        friend auto operator<=>(const Iterator& a, const Iterator& b) {
            return a.index_ <=> b.index_;
        }

      private:
        Owner* owner_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    ChunkedVector() = default;
    ChunkedVector(const ChunkedVector& o) {
        try {
            for (const T& v : o) {
                push_back(v);
            }
        } catch (...) {
            release();
            throw;
        }
    }
    ChunkedVector(ChunkedVector&& o) noexcept
        : chunks_(std::move(o.chunks_)),
          size_(std::exchange(o.size_, 0)),
          last_(std::exchange(o.last_, nullptr)) {
        o.chunks_.clear();
    }
    ChunkedVector& operator=(const ChunkedVector& o) {
        if (this != &o) {
            ChunkedVector copy(o);
            swap(copy);
        }
        return *this;
    }
    ChunkedVector& operator=(ChunkedVector&& o) noexcept {
        if (this != &o) {
            release();
            chunks_ = std::move(o.chunks_);
            o.chunks_.clear();
            size_ = std::exchange(o.size_, 0);
            last_ = std::exchange(o.last_, nullptr);
        }
        return *this;
    }
    ~ChunkedVector() { release(); }
    void swap(ChunkedVector& o) noexcept {
        chunks_.swap(o.chunks_);
        std::swap(size_, o.size_);
        std::swap(last_, o.last_);
    }
    friend void swap(ChunkedVector& a, ChunkedVector& b) noexcept { a.swap(b); }

    friend bool operator==(const ChunkedVector& a, const ChunkedVector& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Elements the chunks made so far hold room for.
    std::size_t capacity() const {
        std::size_t n = 0;
        for (std::size_t c = 0; c < chunks_.size(); ++c) {
            n += chunkSize(c);
        }
        return n;
    }

    T& operator[](std::size_t i) {
        const auto [c, j] = locate(i);
        return chunks_[c][j];
    }
    const T& operator[](std::size_t i) const {
        const auto [c, j] = locate(i);
        return chunks_[c][j];
    }
    // The elements from i on that lie one after another in memory: up to the end of i's chunk
    // or of the sequence (empty from size() on), for loops that walk a long sequence.
    std::span<const T> run(std::size_t i) const {
        if (i >= size_) {
            return {};
        }
        const auto [c, j] = locate(i);
        return {chunks_[c] + j, std::min(chunkSize(c) - j, size_ - i)};
    }
    T& front() { return (*this)[0]; }
    const T& front() const { return (*this)[0]; }
    T& back() { return *last_; }
    const T& back() const { return *last_; }

    iterator begin() { return {this, 0}; }
    iterator end() { return {this, size_}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    template <class... Args>
    T& emplace_back(Args&&... args) {
        const auto [c, j] = locate(size_);
        if (c == chunks_.size()) {
            chunks_.push_back(
                static_cast<T*>(detail::allocateChunk(chunkSize(c) * sizeof(T), chunkAlign(c))));
        }
        T* slot = chunks_[c] + j;
        ::new (static_cast<void*>(slot)) T(std::forward<Args>(args)...);
        ++size_;
        last_ = slot;
        return *slot;
    }
    void push_back(const T& v) { emplace_back(v); }
    void push_back(T&& v) { emplace_back(std::move(v)); }
    void pop_back() {
        last_->~T();
        --size_;
        last_ = size_ > 0 ? &(*this)[size_ - 1] : nullptr;
    }
    // Appends default elements or removes from the end until n remain.
    void resize(std::size_t n) {
        while (size_ > n) {
            pop_back();
        }
        while (size_ < n) {
            emplace_back();
        }
    }

    // Inserts v in front of pos, moving the elements from pos on one place along.
    iterator insert(const_iterator pos, T v) {
        const std::size_t at = static_cast<std::size_t>(pos - cbegin());
        if (at == size_) {
            emplace_back(std::move(v));
        } else {
            emplace_back(std::move(back()));
            std::move_backward(begin() + static_cast<difference_type>(at), end() - 2, end() - 1);
            (*this)[at] = std::move(v);
        }
        return begin() + static_cast<difference_type>(at);
    }

    // Destroys the elements and gives their memory back.
    void clear() { release(); }

  private:
    static constexpr std::size_t chunkSize(std::size_t c) {
        return c < kDoublings ? kFirst << c : kLarge;
    }
    static constexpr std::size_t chunkAlign(std::size_t c) {
        return chunkSize(c) == kLarge && kLarge * sizeof(T) * 2 > detail::kLargeChunkBytes
                   ? detail::kLargeChunkBytes
                   : alignof(T);
    }
    // The chunk of element i and its place there.
    static std::pair<std::size_t, std::size_t> locate(std::size_t i) {
        if (i < kGrowing) {
            const std::size_t c =
                static_cast<std::size_t>(std::bit_width((i + kFirst) / kFirst)) - 1;
            return {c, i + kFirst - (kFirst << c)};
        }
        const std::size_t j = i - kGrowing;
        return {kDoublings + j / kLarge, j % kLarge};
    }
    void release() {
        for (std::size_t i = size_; i > 0; --i) {
            const auto [c, j] = locate(i - 1);
            chunks_[c][j].~T();
        }
        for (std::size_t c = 0; c < chunks_.size(); ++c) {
            detail::freeChunk(chunks_[c], chunkAlign(c));
        }
        chunks_.clear();
        size_ = 0;
        last_ = nullptr;
    }

    std::vector<T*> chunks_;
    std::size_t size_ = 0;
    T* last_ = nullptr;  // the last element, the one most asked for
};

}  // namespace osc
