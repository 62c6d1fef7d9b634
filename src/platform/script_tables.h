// The simplified <-> traditional Chinese conversion tables (OpenCC's "s2t" and "t2s"). They
// are loaded once at start; without the library (a build without it) or its data, there are
// no tables and nothing is converted. $ZOR_SCRIPT_TABLES names another folder of the
// tables' files (an empty or missing folder: no tables), for tests and unusual installs.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zor {

class TScriptTables {
 public:
  virtual ~TScriptTables() = default;
  // UTF-8 in, UTF-8 out. Bytes that are not UTF-8 and NUL characters pass unchanged; only
  // the well-formed text between them is converted.
  virtual std::string ToTraditional(std::string_view utf8) const = 0;
  virtual std::string ToSimplified(std::string_view utf8) const = 0;
};

// The tables, or nullptr with the reason in `why` when the library or its data is missing.
std::unique_ptr<TScriptTables> OpenScriptTables(std::string* why = nullptr);

}  // namespace zor
