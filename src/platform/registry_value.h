// One typed registry value: the type number and the data bytes exactly as the system keeps
// them (strings as UTF-16LE with their terminating zero, numbers little-endian). Keeping the
// raw bytes lets any value, even an odd one, pass through a hive file unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

struct RegValue {
  uint32_t Type = kRegNone;
  std::vector<uint8_t> Data;

  // REG_SZ (or REG_EXPAND_SZ with `type`): UTF-16LE of `text` plus a terminating zero.
  static RegValue String(std::string_view text, uint32_t type = kRegSz);
  static RegValue Dword(uint32_t value);
  static RegValue Qword(uint64_t value);
  static RegValue Binary(std::vector<uint8_t> bytes);
  // REG_MULTI_SZ: each string with its zero, then one more zero.
  static RegValue MultiString(const std::vector<std::string>& strings);

  // The text of a REG_SZ or REG_EXPAND_SZ value, up to its first zero; nothing for other types.
  std::optional<std::string> AsString() const;
  // The number of a REG_DWORD of exactly four bytes; nothing otherwise.
  std::optional<uint32_t> AsDword() const;
  // The number of a REG_QWORD of exactly eight bytes; nothing otherwise.
  std::optional<uint64_t> AsQword() const;
  // The strings of a REG_MULTI_SZ value (the empty string ends the list); nothing for other types.
  std::optional<std::vector<std::string>> AsMultiString() const;

  bool operator==(const RegValue&) const = default;
};

// "REG_SZ", "REG_DWORD" and so on; "REG_0x<hex>" for a type without a name.
std::string RegTypeName(uint32_t type);
// The type for a name as `RegTypeName` gives it (ignoring case); nothing for an unknown name.
std::optional<uint32_t> RegTypeFromName(std::string_view name);

}  // namespace zor
