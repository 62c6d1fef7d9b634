// Opening and creating files with the program's own failure messages, the open file
// object they return, and unique file names. Tests inject open failures (access denied
// cannot be produced for real when the tests run as root) with `ScopedOpenFault`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

enum class FileAccess { Read, Write, ReadWrite };
enum class SeekOrigin { Begin, Current, End };

// What a file looks like now: its size and the time of its last change (nanoseconds). Two
// equal stamps taken while the file stayed open mean nobody wrote to it in between, within
// the file system's clock resolution.
struct FileStamp {
  int64_t Size = 0;
  int64_t ChangedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The Windows error number an access-denied open reports, kept in `EOSError::ErrorCode`.
inline constexpr uint32_t kErrorAccessDenied = 5;

inline constexpr std::string_view kCannotOpenFile = "无法开启档案 %s!";
inline constexpr std::string_view kCannotOpenFileNoRead =
    "无法开启档案 %s! 因为对该档案或目录并没有读取权限。";
inline constexpr std::string_view kCannotOpenFileNoWrite =
    "无法开启档案 %s! 因为对该档案或目录并没有写入权限。";

// An open file; closes itself. Failed reads and writes raise `EWin32ErrorEx`.
class File {
 public:
  File() = default;
  explicit File(int descriptor) : Descriptor(descriptor) {}
  ~File();
  File(File&& other) noexcept : Descriptor(other.Release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return Descriptor >= 0; }
  int Handle() const { return Descriptor; }
  int Release();
  void Close();

  // Up to `size` bytes; 0 at the end of the file.
  size_t Read(void* buffer, size_t size);
  // The rest of the file from the current position, as far as `Size()` reaches (fewer bytes
  // when it shrinks meanwhile). Callers check `Size()` against their limit first.
  std::string ReadToEnd();
  // Exactly `size` bytes, or raises.
  void ReadExact(void* buffer, size_t size);
  void Write(const void* buffer, size_t size);
  void Write(std::string_view data) { Write(data.data(), data.size()); }
  int64_t Seek(int64_t offset, SeekOrigin origin = SeekOrigin::Begin);
  int64_t Size() const;
  FileStamp Stamp() const;
  void Truncate(int64_t size);
  void Flush();

 private:
  int Descriptor = -1;
};

// Opens an existing file. Access denied raises `EOSError` with `ErrorCode` 5 and the no-read
// or (for write access) no-write text; any other failure raises `EWin32ErrorEx` with
// "无法开启档案 %s!" as context. A directory is not a file and fails the second way.
File OpenFileOrFail(const std::string& path, FileAccess access);
// Opens an existing file for reading while others may read it but not write it, for as long
// as the returned object lives. Here that is a shared lock over the whole file, which every
// writer that locks honours; a writer holding its lock makes the open fail with
// "无法开启档案 %s!" and the busy error. Other failures as `OpenFileOrFail` for reading.
File OpenFileDenyWrite(const std::string& path);
// Creates the file, or empties it when it exists, for reading and writing; failures as above
// with write access.
File CreateFileOrFail(const std::string& path);

// The programs' own working files (partial downloads, resume records, staged programs, the
// server's packed files):
// never through a link that someone else may have put at the name, new ones only when
// nothing has the name yet, and readable by this user alone. Failures as above.
File OpenOwnFileOrFail(const std::string& path, FileAccess access);  // O_NOFOLLOW
File CreateNewOwnFileOrFail(const std::string& path);                // O_CREAT|O_EXCL, mode 0600
File OpenOwnFileForAppendOrFail(const std::string& path);  // O_CREAT|O_APPEND, new ones 0600
// The open file is a regular file that belongs to this process's user.
bool IsOwnRegularFile(const File& file);
// The open file is a regular file of this process's user that nobody else may write: the
// only kind of file the launcher trusts for what it keeps between runs.
bool IsTrustedOwnFile(const File& file);
// The same, or a file of root that only root may write (a per-machine install).
bool IsTrustedOwnOrRootFile(const File& file);
// The contents of `path` when it is such a file (not reached through a link as its last part)
// of at most `limit` bytes; nullopt for a missing, foreign, open or larger file.
std::optional<std::string> ReadTrustedOwnFile(const std::string& path, size_t limit);

// The first `directory` + `prefix` + counter (upper-case hexadecimal, at least `digits`
// digits) + "." + `extension` that does not exist, counting from 0. An empty directory is
// the temporary folder; a directory without a trailing '/' gets one.
std::string MakeUniqueFileName(std::string_view prefix, std::string_view extension,
                               std::string_view directory, int digits);

// Test seam: while alive, every open through `OpenFileOrFail`/`CreateFileOrFail` first asks
// `fault`; a non-zero answer is the errno the open fails with. Not nestable across threads.
class ScopedOpenFault {
 public:
  using Fault = std::function<int(const std::string& path, FileAccess access)>;
  explicit ScopedOpenFault(Fault fault);
  ~ScopedOpenFault();
  ScopedOpenFault(const ScopedOpenFault&) = delete;
  ScopedOpenFault& operator=(const ScopedOpenFault&) = delete;

 private:
  Fault Previous;
};

}  // namespace zor
