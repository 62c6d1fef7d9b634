// Case-insensitive comparison of names. Only ASCII letters fold; other bytes of a UTF-8
// name compare as they are, which keeps the order total and stable.
#pragma once

#include <string>
#include <string_view>

namespace zor {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// <0, 0 or >0 like strcmp, ignoring the case of ASCII letters.
inline int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    const unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// A copy with the ASCII letters in lower case.
inline std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

inline bool SameTextAscii(std::string_view a, std::string_view b) {
  return CompareTextAscii(a, b) == 0;
}

}  // namespace zor
