#include "update/writable_folder_probe.h"

#include <cerrno>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"
#include "update/disk_full.h"
#include "update/update_fault_texts.h"

namespace zor {

namespace {

bool IsNotWritableError(uint32_t errorCode) {
  return errorCode == EROFS || errorCode == EACCES || errorCode == EPERM;
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
        if (e.ErrorCode != EEXIST || attempt > 0) throw;
        fileSystem.Remove(probe);  // left by a run that was killed in between
      }
    }
    fileSystem.Remove(probe);
  } catch (const EFileSystemError& e) {
    if (IsNotWritableError(e.ErrorCode))
      throw Exception(
          Format(UpdateFaultTextIn(langIndex, TUpdateFaultText::FolderNotWritable), {folder}));
    if (IsNoSpaceError(e.ErrorCode))
      throw EDiskFull(Format(UpdateFaultTextIn(langIndex, TUpdateFaultText::DiskFull), {probe}),
                      probe);
    throw;
  }
}

}  // namespace zor
