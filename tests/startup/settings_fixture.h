// A private registry store and run-time folder for one test, with the means to make HKLM
// unwritable for this process (its lock file replaced by a folder, which no one can open
// for writing, whatever the user's rights).
#pragma once

#include <filesystem>
#include <string>

#include "platform/registry_store.h"
#include "platform/runtime_dir.h"
#include "platform/zor_registry.h"
#include "startup_test_util.h"

namespace zor::test {

class SettingsFixture {
 public:
  SettingsFixture() : Registry(Dir / "reg"), Runtime(Dir / "run") {
    std::filesystem::create_directories(Dir / "reg");
    std::filesystem::create_directories(Dir / "run");
  }
  void SetHklmWritable(bool writable) {
    const std::string lock = Dir / "reg/HKLM.reg.lock";
    std::filesystem::remove_all(lock);
    if (!writable) std::filesystem::create_directory(lock);
  }
  // Writes into `root`\`key` (created).
  template <typename Fn>
  void Write(RegRoot root, const std::string& key, Fn&& write) {
    TZORRegistry reg(root, KEY_ALL_ACCESS);
    if (!reg.OpenKey(key, true)) throw std::runtime_error("cannot open " + key);
    write(reg);
  }
  bool KeyExists(RegRoot root, const std::string& key) {
    TZORRegistry reg(root, KEY_READ);
    return reg.KeyExists(key);
  }

  TempFolder Dir;

 private:
  ScopedRegistryDir Registry;
  ScopedRuntimeDir Runtime;
};

}  // namespace zor::test
