#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// Lock-free ring for exactly one producer thread and one consumer thread. Indices count
// elements ever written and read (64 bits never wrap in practice), so either side can name a
// position in the stream, which the deck uses to tell stale data from fresh.
template <typename T>
class SpscRing {
public:
    // capacity is rounded up to a power of two.
    explicit SpscRing(std::size_t capacity)
        : size(std::bit_ceil(std::max<std::size_t>(capacity, 2))),
          mask(size - 1),
          items(std::make_unique<T[]>(size)) {}

    std::size_t capacity() const { return size; }

    // Producer side.
    std::uint64_t writeIndex() const { return written.load(std::memory_order_relaxed); }
    std::size_t writable() const {
        return size -
               (written.load(std::memory_order_relaxed) - read.load(std::memory_order_acquire));
    }
    // Copies as much of src as fits; returns how much that was.
    std::size_t write(std::span<const T> src) {
        const std::uint64_t w = written.load(std::memory_order_relaxed);
        const std::size_t n = std::min(src.size(), writable());
        for (std::size_t i = 0; i < n; ++i) items[(w + i) & mask] = src[i];
        written.store(w + n, std::memory_order_release);
        return n;
    }

    // Consumer side.
    std::uint64_t readIndex() const { return read.load(std::memory_order_relaxed); }
    // What the producer has published; acquire, so the elements below it are visible.
    std::uint64_t publishedWriteIndex() const { return written.load(std::memory_order_acquire); }
    const T& at(std::uint64_t index) const { return items[index & mask]; }
    // Gives back everything below index (which must lie between readIndex and the
    // published write index).
    void releaseTo(std::uint64_t index) {
        assert(index >= read.load(std::memory_order_relaxed) &&
               index <= written.load(std::memory_order_acquire));
        read.store(index, std::memory_order_release);
    }

private:
    const std::size_t size;
    const std::size_t mask;
    std::unique_ptr<T[]> items;
    alignas(64) std::atomic<std::uint64_t> written{0};
    alignas(64) std::atomic<std::uint64_t> read{0};
};
