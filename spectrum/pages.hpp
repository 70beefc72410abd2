// Large tables on fresh pages, huge pages where the system allows: a fault per 2 MiB touched rather than per 4 KiB.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace trapft {

// Tables from this size on are mapped on pages of their own.
inline constexpr std::size_t huge_page = std::size_t{2} << 20;

// `bytes` of fresh zeroed pages, aligned to a page (to a huge page, and
// advised onto huge pages, from huge_page bytes on); null when memory runs out.
void* map_pages(std::size_t bytes);
// Returns to the system what map_pages gave for `bytes`.
void unmap_pages(void* data, std::size_t bytes) noexcept;

// An allocator for tables that are written before they are read: from
// huge_page bytes on, pages of map_pages, and a resize leaves new elements
// unset (a pass over memory saved).
template <typename number>
struct page_allocator {
    using value_type = number;
    page_allocator() = default;
    template <typename kind>
    page_allocator(const page_allocator<kind>&) noexcept {}  // NOLINT: allocators convert implicitly

    number* allocate(std::size_t count) {
        if (count * sizeof(number) < huge_page) return std::allocator<number>{}.allocate(count);
        void* const data = map_pages(count * sizeof(number));
        if (data == nullptr) throw std::bad_alloc();
        return static_cast<number*>(data);
    }
    void deallocate(number* data, std::size_t count) noexcept {
        if (count * sizeof(number) < huge_page) std::allocator<number>{}.deallocate(data, count);
        else unmap_pages(data, count * sizeof(number));
    }
    template <typename... arguments>
    void construct(number* at, arguments&&... given) {
        if constexpr (sizeof...(given) == 0) ::new (static_cast<void*>(at)) number;
        else ::new (static_cast<void*>(at)) number(std::forward<arguments>(given)...);
    }
    friend bool operator==(const page_allocator&, const page_allocator&) noexcept { return true; }
};

template <typename number>
using page_vector = std::vector<number, page_allocator<number>>;

// A table of a fixed size from page_allocator, its elements unset.
template <typename number>
struct page_release {
    std::size_t count = 0;
    void operator()(number* data) const noexcept { page_allocator<number>{}.deallocate(data, count); }
};
template <typename number>
using page_array = std::unique_ptr<number[], page_release<number>>;

template <typename number>
page_array<number> make_page_array(std::size_t count) {
    static_assert(std::is_trivially_default_constructible_v<number>);
    return page_array<number>(page_allocator<number>{}.allocate(count), page_release<number>{count});
}

}  // namespace trapft
