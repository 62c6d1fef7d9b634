#include "startup/server_settings/cloud_client_library.h"

#include "platform/system_info.h"
#include "startup/launch/path_names.h"

namespace zor {

TCloudClientLibrary::TCloudClientLibrary(const std::string& folder) {
  Library = DynamicLibrary::Load(
      IncludeTrailingDelimiter(folder) + std::string(kCloudLibraryFileName), Error);
  if (!Library) return;
  FactoryFn = reinterpret_cast<CreateM880CloudSenderFn>(Library->Symbol(kCloudFactoryName));
  if (!FactoryFn) Error = std::string(kCloudFactoryName) + " is not exported by " + Library->Path();
}

const TCloudClientLibrary& GetCloudClientLibrary() {
  static const TCloudClientLibrary library(ExtractFilePath(GetExePath()));
  return library;
}

}  // namespace zor
