#include "platform/open_or_fail.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/last_error.h"

namespace zor {

std::unique_ptr<PositionedFile> OpenOrFail(const std::string& path, OpenMode mode,
                                           const OpenOptions& options) {
  try {
    return CurrentFileSystem().Open(path, mode, options);
  } catch (const EFileSystemError& e) {
    if (e.Kind == FileErrorKind::AccessDenied) {
      const std::string_view text =
          mode == OpenMode::ReadOnly ? kCannotOpenFileNoRead : kCannotOpenFileNoWrite;
      throw EOSError(Format(text, {path}), kErrorAccessDenied);
    }
    RaiseOsErrorEx(Format(kCannotOpenFile, {path}), e.ErrorCode);
    throw;  // an error number of 0 raises nothing above; the file system's error stands
  }
}

size_t ReadUpTo(PositionedFile& file, int64_t offset, void* buffer, size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < size) {
    const size_t n = file.ReadAt(offset + static_cast<int64_t>(got), bytes + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

std::string ReadRest(PositionedFile& file, int64_t offset) {
  const int64_t size = file.Size();
  std::string text(static_cast<size_t>(size > offset ? size - offset : 0), '\0');
  text.resize(ReadUpTo(file, offset, text.data(), text.size()));
  return text;
}

std::optional<std::string> ReadTrustedOwnFile(const std::string& path, size_t limit) {
  try {
    const std::unique_ptr<PositionedFile> file = CurrentFileSystem().Open(
        path, OpenMode::ReadOnly, OpenOptions{.NoFollow = true, .OwnerOnly = true});
    if (static_cast<uint64_t>(file->Size()) > limit) return std::nullopt;
    return ReadRest(*file);
  } catch (const EFileSystemError&) {
    return std::nullopt;
  }
}

}  // namespace zor
