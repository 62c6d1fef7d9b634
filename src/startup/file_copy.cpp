#include "startup/file_copy.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void RaiseFileError(std::string_view format, const std::string& name, int error) {
  const int number = error != 0 ? error : EIO;
  RaiseWin32ErrorEx(Format(format, {name}), static_cast<uint32_t>(number),
                    std::generic_category().message(number));
  throw EWin32ErrorEx(Format(format, {name}), static_cast<uint32_t>(number));  // not reached
}

[[noreturn]] void RaiseFileError(std::string_view format, const std::string& name, const std::error_code& ec) {
  RaiseFileError(format, name, ec.value());
}

// A name beside `destination` that no other copy uses at the same time.
std::string TemporaryNameBeside(const std::string& destination) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".~%016llx.tmp", static_cast<unsigned long long>(random()));
  return destination + suffix;
}

// Closes and removes the temporary file unless it was handed over.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : Path(std::move(path)) {}
  ~TemporaryFile() {
    Close();
    if (!Kept) {
      std::error_code ignored;
      fs::remove(Path, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int Close() {
    if (!Handle) return 0;
    const int rc = std::fclose(Handle);
    Handle = nullptr;
    return rc;
  }
  void Keep() { Kept = true; }

  std::string Path;
  std::FILE* Handle = nullptr;
  bool Kept = false;
};

class InputFile {
 public:
  explicit InputFile(std::FILE* handle) : Handle(handle) {}
  ~InputFile() {
    if (Handle) std::fclose(Handle);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::FILE* Handle;
};

// Makes an existing destination writable and checks that it can be written in place.
void PrepareExistingDestination(const std::string& destination) {
  std::error_code ec;
  fs::permissions(destination, fs::perms::owner_write, fs::perm_options::add, ec);
  if (ec) RaiseFileError(kWriteDestinationError, destination, ec);
  errno = 0;
  std::FILE* probe = std::fopen(destination.c_str(), "r+b");
  if (!probe) RaiseFileError(kWriteDestinationError, destination, errno);
  std::fclose(probe);
}

}  // namespace

void ForceDirectory(const std::string& path) {
  if (path.empty()) return;
  fs::path current;
  for (const fs::path& part : fs::path(path)) {
    current /= part;
    if (part.empty()) continue;
    std::error_code ec;
    if (fs::is_directory(current, ec)) continue;
    if (!fs::create_directory(current, ec) && !fs::is_directory(current)) {
      RaiseFileError(kCreatePathError, current.string(), ec ? ec : std::make_error_code(std::errc::file_exists));
    }
  }
}

void CopyFileKeepTime(const std::string& source, const std::string& destination) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(destination, ec))) {
    const fs::path folder = fs::path(destination).parent_path();
    if (!folder.empty()) ForceDirectory(folder.string());
  } else {
    PrepareExistingDestination(destination);
  }

  errno = 0;
  InputFile input(std::fopen(source.c_str(), "rb"));
  if (!input.Handle) RaiseFileError(kReadSourceError, source, errno);
  const fs::file_time_type sourceTime = fs::last_write_time(source, ec);
  if (ec) RaiseFileError(kReadSourceError, source, ec);
  const fs::perms sourcePerms = fs::status(source, ec).permissions();
  if (ec) RaiseFileError(kReadSourceError, source, ec);

  TemporaryFile temp(TemporaryNameBeside(destination));
  errno = 0;
  temp.Handle = std::fopen(temp.Path.c_str(), "wbx");
  if (!temp.Handle) RaiseFileError(kWriteDestinationError, destination, errno);

  std::vector<char> block(kCopyBlockSize);
  for (;;) {
    errno = 0;
    const size_t got = std::fread(block.data(), 1, block.size(), input.Handle);
    if (got < block.size() && std::ferror(input.Handle)) RaiseFileError(kReadSourceError, source, errno);
    if (got > 0) {
      errno = 0;
      if (std::fwrite(block.data(), 1, got, temp.Handle) != got) RaiseFileError(kWriteDestinationError, destination, errno);
    }
    if (got < block.size()) break;  // end of the source
  }
  errno = 0;
  if (std::fflush(temp.Handle) != 0 || temp.Close() != 0) RaiseFileError(kWriteDestinationError, destination, errno);

  fs::permissions(temp.Path, sourcePerms | fs::perms::owner_write, fs::perm_options::replace, ec);
  if (ec) RaiseFileError(kWriteDestinationError, destination, ec);
  fs::last_write_time(temp.Path, sourceTime, ec);
  if (ec) RaiseFileError(kWriteDestinationError, destination, ec);
  fs::rename(temp.Path, destination, ec);
  if (ec) RaiseFileError(kWriteDestinationError, destination, ec);
  temp.Keep();
}

}  // namespace zor
