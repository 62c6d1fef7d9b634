// The resume records of unfinished downloads, kept in the INI file "DownLoadInfo.dat" in the
// launcher's folder: one section per file in transfer, named by the file's server-relative
// name, with "FileVer", "FileAge", "FileSize", "FilePos" and "CRC" (signed decimal), and
// "File", the full path of the partial file the record belongs to: a record is never taken
// for a partial file of another folder (the self-update fetches into the private staging
// folder names that also exist in the client folder). A section is written about once per
// MiB or second of a transfer and when it stops early, and erased when the file has been put
// in place. The file is readable by its owner alone (mode 0600) and never read or written
// through a link.
//
// Every access holds the process-wide records lock, so download jobs on several threads can
// share the file. The parsed file is kept per path and reloaded when the file changed on
// disk; each change is an atomic replacement through the file layer (file_system.h), so a
// crash never leaves a half-written record file and a failed write keeps the previous one.
// The replacement is not synced (it happens often during a transfer): after a power cut a record
// may claim bytes its partial file lost, which the resume's CRC check finds. A temporary
// left by a killed run is removed at the first access in a process.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

inline constexpr std::string_view kDownloadInfoFileName = "DownLoadInfo.dat";
// A record file larger than this is not ours to trust; it is read as empty (the records are
// only a way to save time, so the worst case is a download from the start).
inline constexpr int64_t kMaxDownloadInfoSize = 4 * 1024 * 1024;

struct TResumeRecord {
  std::string FileVer;
  int32_t FileAge = 0;
  int32_t FileSize = 0;
  int32_t FilePos = 0;
  uint32_t CRC = 0;
  std::string File;  // the partial file's path
  bool operator==(const TResumeRecord&) const = default;
};

// The lock around every read, write and erase of a record file.
std::recursive_mutex& RecordsLock();

class TDownloadInfoFile {
 public:
  // `path` of the record file ("<ExeDir>DownLoadInfo.dat").
  explicit TDownloadInfoFile(std::string path) : Path(std::move(path)) {}

  const std::string& FileName() const { return Path; }
  // The section `name`, when it exists; missing keys read as empty or 0.
  std::optional<TResumeRecord> Read(std::string_view name) const;
  // Raises `EWin32ErrorEx` when the file cannot be written.
  void Write(std::string_view name, const TResumeRecord& record);
  void Erase(std::string_view name);

 private:
  std::string Path;
};

}  // namespace zor
