// Test helper: sets (or, with nullptr, removes) an environment variable for a scope and puts
// the old value back.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace zor::testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (Old)
      setenv(Name, Old->c_str(), 1);
    else
      unsetenv(Name);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* Name;
  std::optional<std::string> Old;
};

}  // namespace zor::testing
