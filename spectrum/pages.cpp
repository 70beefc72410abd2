// Large tables on fresh pages, huge pages where the system allows: a fault per 2 MiB touched rather than per 4 KiB.
#include "spectrum/pages.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace trapft {

// Large mappings start on a huge page, so that tables of a whole number of
// huge pages share none, and pages never touched are never given.
void* map_pages(std::size_t bytes) {
    const bool huge = bytes >= huge_page;
    const std::size_t mapped = huge ? bytes + huge_page : bytes;
    void* const data = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return nullptr;
    char* start = static_cast<char*>(data);
    if (huge) {
        const std::size_t lead = (huge_page - reinterpret_cast<std::uintptr_t>(data) % huge_page) % huge_page;
        start += lead;
        if (lead > 0) munmap(data, lead);
        if (lead < huge_page) munmap(start + bytes, huge_page - lead);
#ifdef MADV_HUGEPAGE
        madvise(start, bytes, MADV_HUGEPAGE);  // advice only: nothing to do when refused
#endif
    }
    return start;
}

void unmap_pages(void* data, std::size_t bytes) noexcept {
    if (data != nullptr) munmap(data, bytes);
}

}  // namespace trapft
