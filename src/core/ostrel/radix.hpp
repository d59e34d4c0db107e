// Stable least-significant-digit radix sort by an unsigned key, for the
// large lists of the segmentation (std::sort is faster below a few hundred
// items).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace vellora::ostrel {

// Sorts `items` by `key(item)` (an unsigned integer of `KeyBits` bits),
// keeping items of equal key in their order. A digit that is the same for
// every item costs one counting pass and no moves.
template <unsigned KeyBits, class T, class Key>
void radix_sort(std::vector<T>& items, Key key) {
    constexpr unsigned kDigitBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
    if (items.size() < 2) return;
    std::vector<T> buffer(items.size());
    std::array<std::uint32_t, kBuckets> counts;
    for (unsigned shift = 0; shift < KeyBits; shift += kDigitBits) {
        counts.fill(0);
        for (const T& item : items) ++counts[(key(item) >> shift) & (kBuckets - 1)];
        if (counts[(key(items.front()) >> shift) & (kBuckets - 1)] == items.size()) continue;
        std::uint32_t sum = 0;
        for (std::uint32_t& count : counts) {
            const std::uint32_t here = count;
            count = sum;
            sum += here;
        }
        for (const T& item : items) buffer[counts[(key(item) >> shift) & (kBuckets - 1)]++] = item;
        items.swap(buffer);
    }
}

}  // namespace vellora::ostrel
