#include "update/ini_file.h"

#include <algorithm>

#include "base/ascii_case.h"
#include "update/server_file_list.h"

namespace zor {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return SameTextAscii(a, b);
}

}  // namespace

void TIniFile::Parse(std::string_view text) {
  Content.clear();
  Section* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');  // a file name may hold ']'
      if (close == std::string_view::npos) continue;
      current = &FindOrAdd(Trim(line.substr(1, close - 1)));
      continue;
    }
    const size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) continue;
    const std::string_view value = Trim(line.substr(equals + 1));
    // A key written twice keeps its first value, as the system's reader finds the first.
    const bool known = std::any_of(current->Entries.begin(), current->Entries.end(),
                                   [&](const Entry& e) { return SameName(e.Key, key); });
    if (!known) current->Entries.push_back({std::string(key), std::string(value)});
  }
}

std::string TIniFile::Text() const {
  std::string out;
  for (const Section& section : Content) {
    out += '[';
    out += section.Name;
    out += "]\r\n";
    for (const Entry& entry : section.Entries) {
      out += entry.Key;
      out += '=';
      out += entry.Value;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

const TIniFile::Section* TIniFile::Find(std::string_view section) const {
  for (const Section& s : Content)
    if (SameName(s.Name, section)) return &s;
  return nullptr;
}

TIniFile::Section& TIniFile::FindOrAdd(std::string_view section) {
  for (Section& s : Content)
    if (SameName(s.Name, section)) return s;
  Content.push_back({std::string(section), {}});
  return Content.back();
}

bool TIniFile::SectionExists(std::string_view section) const {
  return Find(section) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
  if (const Section* s = Find(section))
    for (const Entry& e : s->Entries)
      if (SameName(e.Key, key)) return e.Value;
  return std::string(defaultValue);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                              int32_t defaultValue) const {
  return ParseInt32Or(ReadString(section, key), defaultValue);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  Section& s = FindOrAdd(section);
  for (Entry& e : s.Entries)
    if (SameName(e.Key, key)) {
      e.Value = std::string(value);
      return;
    }
  s.Entries.push_back({std::string(key), std::string(value)});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(std::string_view section) {
  std::erase_if(Content, [&](const Section& s) { return SameName(s.Name, section); });
}

std::vector<std::string> TIniFile::Sections() const {
  std::vector<std::string> names;
  for (const Section& s : Content) names.push_back(s.Name);
  return names;
}

}  // namespace zor
