#pragma once
// A fixed-size table of trivially copyable values that starts out all zero without writing a byte:
// large blocks come straight from the system as zero pages, which cost neither memory nor page
// clearing until an entry is written. A project's second settings record keeps its 16 MiB mask
// table this way while nothing renders with it.
//
// Used like a std::vector of that size (data, size, indexing, iteration, comparison); not shared
// between threads while it is resized.

#include "base/hugePageBlock.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <type_traits>
#include <utility>

namespace halvora {

template <class T> class zeroedTable {
    static_assert(std::is_trivially_copyable_v<T>, "zero bytes must be a valid value");

public:
    zeroedTable() = default;
    zeroedTable(const zeroedTable& other) { *this = other; }
    // A moved-from table is empty (not a null block of the old size).
    zeroedTable(zeroedTable&& other) noexcept
        : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
    zeroedTable& operator=(zeroedTable&& other) noexcept {
        data_ = std::move(other.data_);
        size_ = std::exchange(other.size_, 0);
        return *this;
    }
    zeroedTable& operator=(const zeroedTable& other) {
        if (this == &other) return *this;
        assignZero(other.size_);
        std::copy(other.begin(), other.end(), begin());
        return *this;
    }

    /// Holds `count` zero entries (nothing for 0); throws std::bad_alloc when memory is short.
    void assignZero(size_t count) {
        release();
        if (count == 0) return;
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_alloc();
        const size_t bytes = count * sizeof(T);
        // Large blocks are mapped from the system, which hands out zero pages whatever the heap did
        // before (calloc would clear a reused block, once the allocator has raised its mapping
        // threshold after a large free); small ones come from calloc.
        if (bytes >= kMappedBytes) {
            void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == MAP_FAILED) throw std::bad_alloc();
            data_ = std::unique_ptr<T, blockDeleter>(static_cast<T*>(mapped), blockDeleter{bytes});
            adviseHugePages(mapped, bytes);
        } else {
            data_ = std::unique_ptr<T, blockDeleter>(static_cast<T*>(std::calloc(count, sizeof(T))),
                                                     blockDeleter{});
            if (!data_) throw std::bad_alloc();
        }
        size_ = count;
    }
    /// Frees the table; it is empty afterwards.
    void release() {
        data_.reset();
        size_ = 0;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    T& operator[](size_t i) { return data_.get()[i]; }
    const T& operator[](size_t i) const { return data_.get()[i]; }
    T* begin() { return data(); }
    T* end() { return data() + size_; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size_; }

    friend bool operator==(const zeroedTable& a, const zeroedTable& b) {
        return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    static constexpr size_t kMappedBytes = size_t(1) << 20;
    /// Unmaps a mapped block (mappedBytes > 0), frees a calloc one.
    struct blockDeleter {
        size_t mappedBytes = 0;
        void operator()(T* p) const {
            if (mappedBytes)
                munmap(p, mappedBytes);
            else
                std::free(p);
        }
    };
    std::unique_ptr<T, blockDeleter> data_;
    size_t size_ = 0;
};

} // namespace halvora
