#include "server/name_table.h"

#include <sstream>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"
#include "server/dotted_address.h"
#include "update/request_name.h"

namespace zor {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

void TNameTable::Add(std::string_view name, std::string_view address) {
  if (name.empty() || name.size() > kMaxRegisteredName)
    throw Exception(
        Format("The name '%s' is empty or longer than %d characters", {name, kMaxRegisteredName}));
  for (char c : name)
    if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20)
      throw Exception(Format("The name '%s' holds a blank or a control character", {name}));
  const auto bytes = ParseDottedAddress(address);
  if (!bytes) throw Exception(Format("'%s' is not a dotted IPv4 address", {address}));
  if (!Addresses.emplace(LowerAscii(name), *bytes).second)
    throw Exception(Format("The name '%s' is given twice", {name}));
}

TNameTable TNameTable::Parse(std::string_view text) {
  TNameTable table;
  int lineNumber = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    size_t split = line.find('=');
    if (split == std::string_view::npos) split = line.find_first_of(" \t");
    try {
      if (split == std::string_view::npos) throw Exception("a name and an address are expected");
      table.Add(Trim(line.substr(0, split)), Trim(line.substr(split + 1)));
    } catch (const Exception& e) {
      throw Exception(Format("Names file line %d: %s", {lineNumber, e.Message}));
    }
  }
  return table;
}

TNameTable TNameTable::Load(const std::string& path) {
  std::optional<std::string> text;
  try {
    text = CurrentFileSystem().ReadFile(path, kMaxNamesFileSize);
  } catch (const EFileSystemError& e) {
    if (e.Kind == FileErrorKind::TooLarge)
      throw Exception("The names file " + path + " is too large");
    text.reset();
  }
  if (!text) throw Exception("Cannot read the names file " + path);
  return Parse(*text);
}

std::optional<uint32_t> TNameTable::Find(std::string_view name) const {
  auto it = Addresses.find(LowerAscii(name));
  if (it == Addresses.end()) return std::nullopt;
  const auto& b = it->second;
  // Network byte order in memory: a first.
  return LoadLE32(b.data());
}

}  // namespace zor
