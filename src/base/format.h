// Message formatting in the style of the program's string table: "%s", "%d", "%u", "%x",
// "%X", "%f", "%g" and "%%", with an optional '-' flag, width and precision. A width on
// "%x"/"%X" pads with zeros ("$%8x" of 0x80090308 is "$80090308", "[0x%4x]" of 0x80 is
// "[0x0080]"), since hexadecimal codes are always shown at full width.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace zor {

class FormatArg {
 public:
  FormatArg(int v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(long v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(long long v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(unsigned v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long long v) : Value(static_cast<int64_t>(v)) {}
  FormatArg(double v) : Value(v) {}
  FormatArg(const char* v) : Value(std::string(v ? v : "")) {}
  FormatArg(std::string_view v) : Value(std::string(v)) {}
  FormatArg(const std::string& v) : Value(v) {}

  std::variant<int64_t, double, std::string> Value;
};

// A directive without a matching argument, or of the wrong kind, is copied as it stands.
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace zor
