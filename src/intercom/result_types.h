// The check of a command's result against the element types the caller expects: the same
// high index, and for each element: expected 0 or 0x101 accepts anything, bit 0x8000 demands
// exactly that type, otherwise the same type or the same family with the same array flag
// (integers 2, 3, 16-19; reals 4-7; strings 8 and 0x100; interfaces 9 and 13).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "intercom/variant.h"

namespace zor {

inline constexpr std::string_view kResultTypeErrorText = "执行后的传回值错误！";
inline constexpr uint16_t kExactTypeFlag = 0x8000;
inline constexpr uint16_t kAnyType = 0x101;

bool ResultTypeMatches(uint16_t expected, uint16_t actual);
// Raises `Exception` "执行后的传回值错误！" on a mismatch; an empty `types` skips the check.
void CheckResultTypes(const TVariantArray& result, std::span<const uint16_t> types);

}  // namespace zor
