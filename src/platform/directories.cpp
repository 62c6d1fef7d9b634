#include "platform/directories.h"

#include "base/exceptions.h"
#include "platform/file_system.h"

namespace zor {
namespace {

// Folders made for the program take the process's umask, as any folder the user makes.
constexpr uint32_t kSharedFolderMode = 0777;

}  // namespace

bool DirectoryExists(const std::string& path) {
  return !path.empty() && CurrentFileSystem().IsFolder(path);
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  try {
    const std::optional<FileStatus> status = CurrentFileSystem().Stat(path, FollowLinks::Yes);
    return status && status->Kind != FileKind::Directory;
  } catch (const EFileSystemError&) {
    return false;
  }
}

bool ForceDirectoriesEx(const std::string& path) {
  if (path.empty()) throw Exception("Unable to create directory");
  try {
    CurrentFileSystem().CreateFolders(path, kSharedFolderMode);
  } catch (const EFileSystemError&) {
    // Answered below: the folder is there or not.
  }
  return DirectoryExists(path);
}

}  // namespace zor
