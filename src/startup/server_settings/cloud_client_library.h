// The cloud client library as the launcher finds it: "M880CloudClient.dll" in the
// launcher's own folder, loaded once, with its factory "CreateM880CloudSender" looked up.
// When the file or the factory is missing the factory stays unset for the whole run and
// the lookup is skipped.
#pragma once

#include <memory>
#include <string>

#include "platform/dynamic_library.h"
#include "startup/server_settings/cloud_sender_interface.h"

namespace zor {

class TCloudClientLibrary {
 public:
  // Loads the library from `folder` (a trailing '/' optional). `LoadError` says why the
  // factory is unset.
  explicit TCloudClientLibrary(const std::string& folder);

  CreateM880CloudSenderFn Factory() const { return FactoryFn; }
  const std::string& LoadError() const { return Error; }

 private:
  std::unique_ptr<DynamicLibrary> Library;
  CreateM880CloudSenderFn FactoryFn = nullptr;
  std::string Error;
};

// The library beside the running launcher, loaded on first use and kept until the end of
// the process.
const TCloudClientLibrary& GetCloudClientLibrary();

}  // namespace zor
