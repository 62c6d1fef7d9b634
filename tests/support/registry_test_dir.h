// A fresh folder for the hive files of one test, removed afterwards; the registry store
// points at it for the test's lifetime.
#pragma once

#include <string>

#include "platform/registry_store.h"
#include "support/temp_folder.h"

namespace zor::testing {

class RegistryTestDir {
 public:
  RegistryTestDir() : Folder("zor-reg"), Path(Folder.Dir().string()), Scope(Path) {}

 private:
  TempFolder Folder;

 public:
  const std::string Path;  // without a trailing '/'

 private:
  ScopedRegistryDir Scope;
};

}  // namespace zor::testing
