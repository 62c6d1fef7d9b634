#include "platform/registry_names.h"

#include <algorithm>

#include "base/ascii_case.h"
#include "base/format.h"

namespace zor {
namespace {

int FoldForOrder(char c) {
  if (c == kRegPathSeparator) return -1;
  return static_cast<unsigned char>(AsciiLower(c));
}

// Line breaks and other control characters cannot be written in a hive file's line format.
std::string ControlCharProblem(std::string_view name, const char* what) {
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return Format("%s contains the control character 0x%2x",
                    {what, static_cast<unsigned char>(c)});
  return {};
}

}  // namespace

bool RegNamesEqual(std::string_view a, std::string_view b) {
  return SameTextAscii(a, b);
}

bool RegPathLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return FoldForOrder(x) < FoldForOrder(y);
  });
}

bool RegPathIsWithin(std::string_view path, std::string_view prefix) {
  if (prefix.empty()) return true;
  if (path.size() < prefix.size() || !RegNamesEqual(path.substr(0, prefix.size()), prefix))
    return false;
  return path.size() == prefix.size() || path[prefix.size()] == kRegPathSeparator;
}

std::vector<std::string_view> SplitRegPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(kRegPathSeparator, start);
    parts.push_back(
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string RegPathProblem(std::string_view path) {
  for (std::string_view part : SplitRegPath(path))
    if (part.empty()) return "the key path has an empty part";
  return ControlCharProblem(path, "the key path");
}

std::string RegValueNameProblem(std::string_view name) {
  return ControlCharProblem(name, "the value name");
}

}  // namespace zor
