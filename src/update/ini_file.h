// An INI text held in memory: "[section]" lines, "key=value" lines below them, blank lines
// and ';' comment lines. Section and key names compare without regard to ASCII case and
// keep the spelling they were first written with; sections and keys keep their order.
// Reading a missing key gives the default. Parsing never fails: lines that are neither a
// section nor a key are skipped, and so are keys before the first section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::string_view text) { Parse(text); }

  void Parse(std::string_view text);
  // The file's text, lines ended by CR LF as the system writes them.
  std::string Text() const;

  bool SectionExists(std::string_view section) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue = {}) const;
  // A decimal integer (optionally signed) in the 32-bit range, or `defaultValue`.
  int32_t ReadInteger(std::string_view section, std::string_view key,
                      int32_t defaultValue = 0) const;
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  void EraseSection(std::string_view section);
  std::vector<std::string> Sections() const;

 private:
  struct Entry {
    std::string Key;
    std::string Value;
  };
  struct Section {
    std::string Name;
    std::vector<Entry> Entries;
  };
  const Section* Find(std::string_view section) const;
  Section& FindOrAdd(std::string_view section);

  std::vector<Section> Content;
};

}  // namespace zor
