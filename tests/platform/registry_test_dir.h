// A fresh folder for the hive files of one test, removed afterwards; the store points at it
// for the test's lifetime.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry_store.h"

namespace zor {

class RegistryTestDir {
 public:
  RegistryTestDir() : Path(MakeTemp()), Scope(Path) {}
  ~RegistryTestDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  const std::string Path;

 private:
  static std::string MakeTemp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zor-reg-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
  }
  ScopedRegistryDir Scope;
};

}  // namespace zor
