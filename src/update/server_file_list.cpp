#include "update/server_file_list.h"

#include <charconv>

#include "update/request_name.h"

namespace zor {

namespace {

// The next part of `text` up to `delimiter` (all of it when there is none).
std::string_view TakePart(std::string_view& text, char delimiter) {
  const size_t end = text.find(delimiter);
  const std::string_view part = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  return part;
}

}  // namespace

int32_t ParseInt32Or(std::string_view text, int32_t defaultValue) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return defaultValue;
  return value;
}

std::vector<TServerFileEntry> ParseServerFileList(std::string_view text) {
  std::vector<TServerFileEntry> entries;
  while (!text.empty()) {
    std::string_view entry = TakePart(text, ';');
    if (entry.empty()) continue;
    const std::string_view name = TakePart(entry, '=');
    const TRequestName checked = CheckRequestName(name);
    const std::string_view version = TakePart(entry, ',');
    const std::string_view age = TakePart(entry, ',');
    const std::string_view size = TakePart(entry, ',');
    TServerFileEntry file;
    file.Name = checked.Wire;
    file.LocalName = checked.Relative;
    if (age.empty() || size.empty()) {
      file.NeedsInfo = true;
    } else {
      if (!version.empty()) file.Version = std::string(version);
      file.FileAge = ParseInt32Or(age, -1);
      file.FileSize = ParseInt32Or(size, 0);
    }
    entries.push_back(std::move(file));
  }
  return entries;
}

}  // namespace zor
