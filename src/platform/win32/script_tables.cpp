// The simplified <-> traditional tables on Windows: the conversion through the system's
// LCMapStringEx is still to come, so this build has no tables and says why.
#include "platform/script_tables.h"

namespace zor {

std::unique_ptr<TScriptTables> OpenScriptTables(std::string* why) {
  if (why) *why = "the simplified/traditional conversion is not available on Windows yet";
  return nullptr;
}

}  // namespace zor
