// Conversion between the simplified and the traditional Chinese script, used when the two ends
// of a connection run in different Chinese character sets. Both programs load the system's
// tables at start (`LoadScriptTables`); a test may install a converter of its own. Without
// one, a connection between the two scripts is refused at session opening unless the server
// converts.
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

// Loads the system's conversion tables (see platform/script_tables.h) and installs them for
// the rest of the process; false, with the reason in `why`, when there are none.
bool LoadScriptTables(std::string* why = nullptr);
// With `onDemand`, `ScriptTablesReady` loads the tables the first time a connection needs
// them: the launcher does not pay for loading them (tens of milliseconds) on every start when
// both ends run one script.
void SetScriptTablesOnDemand(bool onDemand);
// True when tables are loaded or, on demand, could be loaded now.
bool ScriptTablesReady();

// Converts `utf8` into the given script when tables are loaded, else returns it unchanged.
std::string ConvertScript(std::string_view utf8, bool toTraditional);

}  // namespace zor
