// Loading the system's conversion tables on demand, as the launcher does: never without the
// demand switched on, once for threads that ask at the same time, and installed for the
// process when they are there.
#include "intercom/charset_conversion.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/script_tables.h"

namespace zor {
namespace {

TEST(ScriptTablesOnDemand, LoadedOnceForThreadsThatAskTogether) {
  struct Restore {
    ~Restore() {
      SetScriptTablesOnDemand(false);
      SetScriptConverter(nullptr);
    }
  } restore;
  SetScriptConverter(nullptr);
  EXPECT_FALSE(ScriptTablesReady());  // not asked to load: no tables
  SetScriptTablesOnDemand(true);
  const bool available = OpenScriptTables() != nullptr;
  std::vector<int> ready(4, -1);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ready.size(); ++i)
    threads.emplace_back([&ready, i] { ready[i] = ScriptTablesReady() ? 1 : 0; });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(ready, std::vector<int>(4, available ? 1 : 0));
  EXPECT_EQ(ScriptTablesLoaded(), available);
  if (available) {
    EXPECT_EQ(ConvertScript("报表", true), "報表");
    EXPECT_EQ(ConvertScript("報表", false), "报表");
  }
}

}  // namespace
}  // namespace zor
