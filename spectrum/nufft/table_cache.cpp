// Kernel tables kept for later plans: small calls of one shape pay for them once.
#include "spectrum/nufft/table_cache.hpp"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "spectrum/nufft/kernel.hpp"

namespace trapft::nufft {
namespace {

using shape = std::tuple<int, int, int, int>;

// The kept tables: a few kernels' pieces and small corrections, some KiB
// each. Never destroyed, so that no plan made at exit finds it gone.
struct table_store {
    std::mutex lock;
    std::map<shape, std::shared_ptr<const std::vector<double>>> pieces;
    std::map<shape, std::shared_ptr<const std::vector<double>>> corrections;
};

table_store& store() {
    static table_store* const kept = new table_store;
    return *kept;
}

// The table of `key` in `tables`, made by `make` (outside the lock, so that
// plans of other shapes do not wait) the first time.
template <class Make>
std::shared_ptr<const std::vector<double>> find_or_make(std::map<shape, std::shared_ptr<const std::vector<double>>>& tables,
                                                        const shape& key, Make make) {
    table_store& kept = store();
    {
        const std::lock_guard<std::mutex> held(kept.lock);
        const auto found = tables.find(key);
        if (found != tables.end()) return found->second;
    }
    auto made = std::make_shared<const std::vector<double>>(make());
    const std::lock_guard<std::mutex> held(kept.lock);
    return tables.emplace(key, std::move(made)).first->second;
}

}  // namespace

std::vector<double> cached_kernel_pieces(int width, int upsampling, int degree, int lanes) {
    return *find_or_make(store().pieces, {width, upsampling, degree, lanes},
                         [&] { return kernel_pieces(width, upsampling, degree, lanes); });
}

void cached_kernel_correction(int width, int upsampling, std::int32_t half, double* correction) {
    if (half > table_cache_half) {
        kernel_correction(width, upsampling, half, correction);
        return;
    }
    const auto table = find_or_make(store().corrections, {width, upsampling, half, 0}, [&] {
        std::vector<double> made(static_cast<std::size_t>(half) + 1);
        kernel_correction(width, upsampling, half, made.data());
        return made;
    });
    std::copy(table->begin(), table->end(), correction);
}

}  // namespace trapft::nufft
