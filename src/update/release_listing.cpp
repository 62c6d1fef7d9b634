#include "update/release_listing.h"

#include <limits>

#include "base/ascii_case.h"

namespace zor {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         LowerAscii(text.substr(text.size() - tail.size())) == LowerAscii(tail);
}

}  // namespace

bool IsLanguageCompanion(std::string_view name) {
  return EndsWithNoCase(name, ".CHT") && !EndsWithNoCase(name, "FR_Zor.cht");
}

bool IsListableName(std::string_view name) {
  for (char c : name)
    if (c == ';' || c == '=' || c == ',' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

bool IsListedReleaseFile(std::string_view name, int64_t size) {
  return !IsLanguageCompanion(name) && IsListableName(name) &&
         size <= std::numeric_limits<int32_t>::max();
}

}  // namespace zor
