// Failures that end an ordering call. Bad input never raises: only internal
// faults and exhausted memory (std::bad_alloc) leave the algorithms.
#pragma once

#include <stdexcept>

namespace vellora {

// A fault inside an algorithm, such as a histogram too large to address.
class InternalFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace vellora
