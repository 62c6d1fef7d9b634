// The names the name service answers: short registered names mapped to IPv4 addresses,
// read from a names file. Each line is "name = address" (or "name address"); blank lines
// and lines starting with '#' or ';' are comments. Names compare without case.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "transport/zor_host_format.h"

namespace zor {

// Longest name a request can carry (the 32-byte field holds a terminating zero).
inline constexpr size_t kMaxRegisteredName = zorhost::kMaxNameLength;
// Largest names file read, in bytes.
inline constexpr size_t kMaxNamesFileSize = 4 * 1024 * 1024;

class TNameTable {
 public:
  // Raises `Exception` "Names file line %d: %s" for a line that is not a name and a dotted
  // address, a name longer than 31 characters or with blanks inside, or a name given twice.
  static TNameTable Parse(std::string_view text);
  // Reads and parses a file; raises `Exception` when it cannot be read or is too large.
  static TNameTable Load(const std::string& path);

  void Add(std::string_view name, std::string_view address);
  // The address in network byte order as four bytes a.b.c.d, or nothing.
  std::optional<uint32_t> Find(std::string_view name) const;
  size_t Size() const { return Addresses.size(); }

 private:
  std::map<std::string, std::array<uint8_t, 4>> Addresses;  // lower-case name -> a, b, c, d
};

}  // namespace zor
