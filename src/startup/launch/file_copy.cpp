#include "startup/launch/file_copy.h"

#include <system_error>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"

namespace zor {
namespace {

// Folders made for the client take the process's umask, as any folder the user makes.
constexpr uint32_t kClientFolderMode = 0777;

[[noreturn]] void RaiseFileError(std::string_view format, const std::string& name, int error) {
  const int number = error != 0 ? error : static_cast<int>(OsErrorOf(FileErrorKind::Other));
  RaiseWin32ErrorEx(Format(format, {name}), static_cast<uint32_t>(number),
                    std::generic_category().message(number));
  throw EWin32ErrorEx(Format(format, {name}), static_cast<uint32_t>(number));  // not reached
}

// Runs `step`, turning a file-system failure into the copy's own message about `name`.
template <typename Step>
auto Reported(std::string_view format, const std::string& name, Step&& step) {
  try {
    return step();
  } catch (const EFileSystemError& e) {
    RaiseFileError(format, name, static_cast<int>(e.ErrorCode));
  }
}

// Makes an existing destination writable and checks that it can be written in place (the
// program file of a running process cannot: ETXTBSY). A link is replaced, not written
// through, so only a file is probed.
void PrepareExistingDestination(FileSystem& files, const std::string& destination,
                                const FileStatus& status) {
  if (status.Kind == FileKind::Link) return;
  Reported(kWriteDestinationError, destination,
           [&] { files.SetPermissions(destination, status.Permissions | 0200); });
  Reported(kWriteDestinationError, destination,
           [&] { files.Open(destination, OpenMode::ReadWrite)->Close(); });
}

}  // namespace

void ForceDirectory(const std::string& path) {
  if (path.empty()) return;
  try {
    CurrentFileSystem().CreateFolders(path, kClientFolderMode);
  } catch (const EFileSystemError& e) {
    RaiseFileError(kCreatePathError, e.Path, static_cast<int>(e.ErrorCode));
  }
}

void CopyFileKeepTime(const std::string& source, const std::string& destination) {
  FileSystem& files = CurrentFileSystem();
  const std::optional<FileStatus> existing = Reported(kWriteDestinationError, destination, [&] {
    return files.Stat(destination, FollowLinks::No);
  });
  if (!existing) {
    const std::string folder = FolderOf(destination);
    if (folder != ".") ForceDirectory(folder);
  } else {
    PrepareExistingDestination(files, destination, *existing);
  }

  std::unique_ptr<PositionedFile> input =
      Reported(kReadSourceError, source, [&] { return files.Open(source, OpenMode::ReadOnly); });
  const std::optional<FileStatus> sourceStatus =
      Reported(kReadSourceError, source, [&] { return files.Stat(source, FollowLinks::Yes); });
  if (!sourceStatus)
    RaiseFileError(kReadSourceError, source, static_cast<int>(OsErrorOf(FileErrorKind::NotFound)));

  // The copy keeps the source's permissions (and stays writable for the next replacement)
  // and its last-write time; it reaches the disk before it takes the destination's name.
  AtomicFile output = Reported(kWriteDestinationError, destination, [&] {
    return files.BeginReplace(destination, {.Permissions = sourceStatus->Permissions | 0200,
                                            .ModifiedNs = sourceStatus->ModifiedNs});
  });
  std::vector<char> block(kCopyBlockSize);
  for (int64_t offset = 0;;) {
    const size_t got = Reported(kReadSourceError, source,
                                [&] { return input->ReadAt(offset, block.data(), block.size()); });
    if (got == 0) break;
    Reported(kWriteDestinationError, destination, [&] { output.Append(block.data(), got); });
    offset += static_cast<int64_t>(got);
  }
  Reported(kWriteDestinationError, destination, [&] { output.Commit(); });
}

}  // namespace zor
