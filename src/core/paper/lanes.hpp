// Four lanes of single precision (GCC and Clang vector extensions, lowered
// to plain code where the target has no vector unit). Every operation is the
// IEEE operation of each lane, exactly as the scalar code does it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vellora::paper {

using Lanes = float __attribute__((vector_size(16)));
using Mask = std::int32_t __attribute__((vector_size(16)));

inline Lanes load(const float* from) noexcept {
    Lanes lanes;
    std::memcpy(&lanes, from, sizeof lanes);
    return lanes;
}

inline Lanes splat(float value) noexcept { return Lanes{value, value, value, value}; }

// `when` ? `yes` : `no`, lane by lane.
inline Lanes select(Mask when, Lanes yes, Lanes no) noexcept {
    return std::bit_cast<Lanes>((when & std::bit_cast<Mask>(yes)) | (~when & std::bit_cast<Mask>(no)));
}

}  // namespace vellora::paper
