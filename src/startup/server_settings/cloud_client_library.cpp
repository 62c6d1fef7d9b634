#include "startup/server_settings/cloud_client_library.h"

#include "platform/folder_sharing.h"
#include "platform/open_or_fail.h"
#include "platform/system_info.h"
#include "startup/launch/path_names.h"
#include "update/release_guard.h"
#include "update/release_signature.h"

namespace zor {

TCloudClientLibrary::TCloudClientLibrary(const std::string& folder) {
  const std::string path =
      IncludeTrailingPathDelimiter(folder) + std::string(kCloudLibraryFileName);
  // Code that runs as this user: only from a folder nobody else may write into, from a file
  // of this user or of root that nobody else may write, and, with a signed release, only the
  // signed library. The checked descriptor is what is loaded.
  if (CheckFolderSharing(folder, 0) == FolderSharing::OthersMayWrite) {
    Error = "the folder of " + path + " may be written by other users; it is not loaded";
    return;
  }
  std::unique_ptr<PositionedFile> file;
  try {
    file = OpenOrFail(path, OpenMode::ReadOnly,
                      OpenOptions{.NoFollow = true, .OwnerOnly = true, .OrRoot = true});
  } catch (const std::exception& e) {
    Error = e.what();
    // Refused for its owner or its permissions when a plain open would succeed.
    try {
      OpenOrFail(path, OpenMode::ReadOnly, OpenOptions{.NoFollow = true});
      Error = path + " belongs to another user or others may write it; it is not loaded";
    } catch (const std::exception& plain) {
      Error = plain.what();
    }
    return;
  }
  if (const std::shared_ptr<const TReleaseGuard> guard = GetReleaseGuard()) {
    bool matches = false;
    try {
      matches = guard->HasManifest() &&
                guard->MatchesDigest(kCloudLibraryFileName, DigestOpenFile(*file));
    } catch (const std::exception&) {
      matches = false;
    }
    if (!matches) {
      Error = path + " is not the library of the signed release; it is not loaded";
      return;
    }
  }
  const std::optional<FileIdentity> checked = file->Identity();
  if (!checked) {
    Error = path + " changed while it was checked; it is not loaded";
    return;
  }
  Library = DynamicLibrary::LoadChecked(*checked, path, Error);
  if (!Library) return;
  FactoryFn = reinterpret_cast<CreateM880CloudSenderFn>(Library->Symbol(kCloudFactoryName));
  if (!FactoryFn) Error = std::string(kCloudFactoryName) + " is not exported by " + Library->Path();
}

const TCloudClientLibrary& GetCloudClientLibrary() {
  static const TCloudClientLibrary library(ExtractFilePath(GetExePath()));
  return library;
}

}  // namespace zor
