// Checks that a text is a plain decimal number before it is converted, and the strict
// integer conversion that raises `EConvertError` for anything else.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zor {

// Optional leading blanks, an optional "-", then at least one digit and digits only; at
// most 19 characters in all and at most 10 significant digits (leading zeros do not count).
bool IsIntStr(std::string_view text);

// Optional leading blanks, an optional "-", then digits with at most one "." and at least
// one digit; at most 29 characters in all, and at most 16 characters from the first
// significant digit (or from the point, when it comes first) to the end.
bool IsFloatStr(std::string_view text);

// The value of a text that passes `IsIntStr` and fits 32 bits; anything else raises
// `EConvertError` "'<text>' is not a valid integer value".
int32_t StrToIntStrict(std::string_view text);

// The value of `digits` in `base` (10 or 16, either case of hex digit), no sign or prefix;
// nothing for an empty text, any other character, or a value over `limit` (found as soon
// as it is passed, so no text overflows).
std::optional<uint64_t> ParseDigits(std::string_view digits, int base, uint64_t limit);

}  // namespace zor
