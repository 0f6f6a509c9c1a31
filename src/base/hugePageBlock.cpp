#include "base/hugePageBlock.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace halvora {
namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}

void adviseHugePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    if (!data || bytes < kHugePage || page == 0) return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) / page * page;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

hugePageBlock::hugePageBlock(size_t bytes) {
    if (bytes == 0 || bytes > (size_t(1) << 40)) return;
    // Small blocks gain nothing from huge pages and would waste most of one.
    const size_t alignment = bytes < kHugePage ? 64 : kHugePage;
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    data_.reset(static_cast<uint8_t*>(std::aligned_alloc(alignment, rounded)));
    if (data_) {
        size_ = bytes;
        adviseHugePages(data_.get(), rounded);
    }
}

void hugePageBlock::freeDeleter::operator()(uint8_t* p) const {
    std::free(p);
}

} // namespace halvora
