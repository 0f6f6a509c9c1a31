#pragma once
// Large pixel blocks backed by transparent huge pages where the system offers them. Touching a fresh
// block page by page costs one page fault per 4 KiB, which for a full-size photo is far more than
// decoding it; with 2 MiB pages the faults all but vanish.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace halvora {

/// Asks the kernel to back the page-aligned interior of [data, data + bytes) with huge pages. Call
/// before the block is first written; a no-op where the advice is not supported.
void adviseHugePages(void* data, size_t bytes);

/// An uninitialised block, aligned to 2 MiB and advised for huge pages from 2 MiB on (64-byte aligned
/// below); empty when memory is short.
class hugePageBlock {
public:
    hugePageBlock() = default;
    explicit hugePageBlock(size_t bytes);
    uint8_t* data() const { return data_.get(); }
    size_t size() const { return data_ ? size_ : 0; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    struct freeDeleter {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, freeDeleter> data_;
    size_t size_ = 0;
};

} // namespace halvora
