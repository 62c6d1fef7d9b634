// Conversion between the simplified and the traditional Chinese script, used when the two ends
// of a connection run in different Chinese character sets. No conversion tables ship with the
// program; a deployment (or a test) installs a converter, and without one a connection to a
// server of the other script is refused at session opening.
#pragma once

#include <string>
#include <string_view>

namespace zor {

class TScriptConverter {
 public:
  virtual ~TScriptConverter() = default;
  virtual std::string ToTraditional(std::string_view utf8) = 0;
  virtual std::string ToSimplified(std::string_view utf8) = 0;
};

// The converter in force, or nullptr when no tables are loaded.
TScriptConverter* GetScriptConverter();
// Installs a converter (not owned); nullptr unloads.
void SetScriptConverter(TScriptConverter* converter);
inline bool ScriptTablesLoaded() {
  return GetScriptConverter() != nullptr;
}

// Converts `utf8` into the given script when tables are loaded, else returns it unchanged.
std::string ConvertScript(std::string_view utf8, bool toTraditional);

}  // namespace zor
