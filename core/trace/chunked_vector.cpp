#include "core/trace/chunked_vector.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace osc::detail {

void* allocateChunk(std::size_t bytes, std::size_t align) {
    void* p = ::operator new(bytes, std::align_val_t(align));
#ifdef __linux__
    if (align == kLargeChunkBytes) {
        madvise(p, bytes, MADV_HUGEPAGE);  // a hint only
    }
#endif
    return p;
}

void freeChunk(void* p, std::size_t align) {
    ::operator delete(p, std::align_val_t(align));
}

}  // namespace osc::detail
