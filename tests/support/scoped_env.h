// Test helper: sets (or, with nullptr, removes) an environment variable for a scope and puts
// the old value back.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace zor::testing {

inline void SetEnvValue(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

inline void UnsetEnvValue(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable there
#else
  unsetenv(name);
#endif
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value != nullptr)
      SetEnvValue(name, value);
    else
      UnsetEnvValue(name);
  }
  ~ScopedEnv() {
    if (Old)
      SetEnvValue(Name, Old->c_str());
    else
      UnsetEnvValue(Name);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* Name;
  std::optional<std::string> Old;
};

}  // namespace zor::testing
