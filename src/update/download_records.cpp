#include "update/download_records.h"

#include <map>
#include <system_error>

#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "update/ini_file.h"

namespace zor {

namespace {

// What the file on disk looked like when it was last read or written by us.
struct TFileStamp {
  bool Exists = false;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

struct TCachedFile {
  TIniFile Ini;
  TFileStamp Stamp;
  bool Loaded = false;
  bool Swept = false;  // temporaries of a killed earlier run removed
};

std::map<std::string, TCachedFile>& Cache() {
  static std::map<std::string, TCachedFile> cache;
  return cache;
}

TFileStamp StampOf(const std::string& path) {
  try {
    const std::optional<FileStatus> status = CurrentFileSystem().Stat(path, FollowLinks::Yes);
    if (!status || status->Kind != FileKind::Regular) return {};
    return TFileStamp{true, status->Size, status->ModifiedNs};
  } catch (const EFileSystemError&) {
    return {};
  }
}

std::string ReadWhole(const std::string& path) {
  // Records another user could have written would make a download continue their bytes;
  // an unreadable record file means no records.
  return ReadTrustedOwnFile(path, static_cast<size_t>(kMaxDownloadInfoSize)).value_or("");
}

// The parsed file, reloaded when it changed on disk since we last saw it.
TCachedFile& Load(const std::string& path) {
  TCachedFile& cached = Cache()[path];
  if (!cached.Swept) {
    // A run killed while it replaced the file left its temporary beside it; this process
    // is the one launcher of its folder, so no temporary there is still being written.
    cached.Swept = true;
    try {
      CurrentFileSystem().RemoveStaleTemporaries(path);
    } catch (const std::exception&) {
      // Left for the next run; a stray temporary takes no record's place.
    }
  }
  const TFileStamp stamp = StampOf(path);
  if (!cached.Loaded || !(stamp == cached.Stamp)) {
    cached.Ini = stamp.Exists ? TIniFile(ReadWhole(path)) : TIniFile();
    cached.Stamp = stamp;
    cached.Loaded = true;
  }
  return cached;
}

// Rewritten often during a transfer, so not made durable: after a power cut the record may claim
// bytes the partial file lost, which the resume finds by the record's CRC and starts over.
// A failed write leaves the previous record file as it was.
void Save(const std::string& path, TCachedFile& cached) {
  try {
    CurrentFileSystem().WriteFileAtomic(path, cached.Ini.Text(),
                                        {.Permissions = kPrivateFileMode, .Durable = false});
  } catch (...) {
    cached.Loaded = false;  // the next access reads what the disk really holds
    throw;
  }
  cached.Stamp = StampOf(path);
}

}  // namespace

std::recursive_mutex& RecordsLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::optional<TResumeRecord> TDownloadInfoFile::Read(std::string_view name) const {
  std::lock_guard guard(RecordsLock());
  const TIniFile& ini = Load(Path).Ini;
  if (!ini.SectionExists(name)) return std::nullopt;
  TResumeRecord record;
  record.FileVer = ini.ReadString(name, "FileVer");
  record.FileAge = ini.ReadInteger(name, "FileAge");
  record.FileSize = ini.ReadInteger(name, "FileSize");
  record.FilePos = ini.ReadInteger(name, "FilePos");
  record.CRC = static_cast<uint32_t>(ini.ReadInteger(name, "CRC"));
  record.File = ini.ReadString(name, "File");
  return record;
}

void TDownloadInfoFile::Write(std::string_view name, const TResumeRecord& record) {
  std::lock_guard guard(RecordsLock());
  TCachedFile& cached = Load(Path);
  cached.Ini.WriteString(name, "FileVer", record.FileVer);
  cached.Ini.WriteInteger(name, "FileAge", record.FileAge);
  cached.Ini.WriteInteger(name, "FileSize", record.FileSize);
  cached.Ini.WriteInteger(name, "FilePos", record.FilePos);
  cached.Ini.WriteInteger(name, "CRC", static_cast<int32_t>(record.CRC));
  cached.Ini.WriteString(name, "File", record.File);
  Save(Path, cached);
}

void TDownloadInfoFile::Erase(std::string_view name) {
  std::lock_guard guard(RecordsLock());
  TCachedFile& cached = Load(Path);
  if (!cached.Ini.SectionExists(name)) return;
  cached.Ini.EraseSection(name);
  Save(Path, cached);
}

}  // namespace zor
