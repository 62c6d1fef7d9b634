#include "update/writable_folder_probe.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"
#include "update/disk_full.h"
#include "update/update_fault_texts.h"

namespace zor {

namespace {

bool IsNotWritableError(const EFileSystemError& error) {
  return error.Kind == FileErrorKind::ReadOnly || error.Kind == FileErrorKind::AccessDenied;
}

}  // namespace

void CheckFolderWritable(const std::string& folder, int langIndex) {
  FileSystem& fileSystem = CurrentFileSystem();
  const std::string probe = folder + std::string(kWriteProbeName);
  try {
    for (int attempt = 0;; ++attempt) {
      try {
        fileSystem.Open(probe, OpenMode::CreateNew, kPrivateFileMode)->Close();
        break;
      } catch (const EFileSystemError& e) {
        if (e.Kind != FileErrorKind::Exists || attempt > 0) throw;
        fileSystem.Remove(probe);  // left by a run that was killed in between
      }
    }
    fileSystem.Remove(probe);
  } catch (const EFileSystemError& e) {
    if (IsNotWritableError(e))
      throw Exception(
          Format(UpdateFaultTextIn(langIndex, TUpdateFaultText::FolderNotWritable), {folder}));
    if (IsNoSpaceError(e))
      throw EDiskFull(Format(UpdateFaultTextIn(langIndex, TUpdateFaultText::DiskFull), {probe}),
                      probe);
    throw;
  }
}

}  // namespace zor
