#include "intercom/charset_conversion.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/script_tables.h"

namespace zor {
namespace {
std::atomic<TScriptConverter*> gConverter{nullptr};
}  // namespace

TScriptConverter* GetScriptConverter() {
  return gConverter.load(std::memory_order_acquire);
}

void SetScriptConverter(TScriptConverter* converter) {
  gConverter.store(converter, std::memory_order_release);
}

namespace {

// The system's tables seen through the converter interface; kept for the whole process.
class TSystemTables : public TScriptConverter {
 public:
  explicit TSystemTables(std::unique_ptr<TScriptTables> tables) : Tables(std::move(tables)) {}
  std::string ToTraditional(std::string_view utf8) override { return Tables->ToTraditional(utf8); }
  std::string ToSimplified(std::string_view utf8) override { return Tables->ToSimplified(utf8); }

 private:
  std::unique_ptr<TScriptTables> Tables;
};

std::mutex gLoadLock;
std::unique_ptr<TSystemTables> gLoaded;  // guarded by gLoadLock
bool gTried = false;                     // guarded by gLoadLock: a load was attempted
std::atomic<bool> gOnDemand{false};

}  // namespace

bool LoadScriptTables(std::string* why) {
  std::lock_guard guard(gLoadLock);
  if (!gLoaded) {
    gTried = true;
    std::unique_ptr<TScriptTables> tables = OpenScriptTables(why);
    if (!tables) return false;
    gLoaded = std::make_unique<TSystemTables>(std::move(tables));
  }
  SetScriptConverter(gLoaded.get());
  return true;
}

void SetScriptTablesOnDemand(bool onDemand) {
  gOnDemand = onDemand;
}

bool ScriptTablesReady() {
  if (ScriptTablesLoaded()) return true;
  if (!gOnDemand) return false;
  {
    std::lock_guard guard(gLoadLock);
    if (gTried && !gLoaded) return false;  // tried once: the tables are not there
  }
  return LoadScriptTables();
}

std::string ConvertScript(std::string_view utf8, bool toTraditional) {
  TScriptConverter* converter = GetScriptConverter();
  if (!converter) return std::string(utf8);
  return toTraditional ? converter->ToTraditional(utf8) : converter->ToSimplified(utf8);
}

}  // namespace zor
