// The desktop folder line of an XDG user-dirs.dirs file: a pure text rule, the same on
// every system (the file itself exists on Linux only).
#include <string>

#include "platform/special_folders.h"

namespace zor {
namespace {

std::string StripTrailingDelimiters(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::optional<std::string> DesktopFolderFromUserDirs(std::string_view content,
                                                     std::string_view home) {
  constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
  std::optional<std::string> found;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    if (line.substr(0, kKey.size()) != kKey) continue;
    std::string_view value = line.substr(kKey.size());
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value == "$HOME") {
      found = std::string(home);
    } else if (value.substr(0, 6) == "$HOME/") {
      found = StripTrailingDelimiters(std::string(home) + std::string(value.substr(5)));
    } else if (!value.empty() && value.front() == '/') {
      found = StripTrailingDelimiters(std::string(value));
    }
  }
  return found;
}

}  // namespace zor
