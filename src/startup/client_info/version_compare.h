// Comparison of dotted version texts ("5.0.6.18") part by part as integers.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

// Walks both texts' dot-separated parts from the left. A pair in which either part is not
// a 32-bit integer is skipped; the first unequal pair of integers decides and the result
// is their difference (a - b); 0 when either side runs out of parts first. The difference
// is 64-bit so that no pair of 32-bit parts can overflow it.
int64_t CompareVersion(std::string_view a, std::string_view b);

}  // namespace zor
