#include "update/download_records.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "base/exceptions.h"
#include "platform/file_open.h"
#include "platform/last_error.h"
#include "update/ini_file.h"

namespace zor {

namespace {

namespace fs = std::filesystem;

// What the file on disk looked like when it was last read or written by us.
struct TFileStamp {
  bool Exists = false;
  uintmax_t Size = 0;
  fs::file_time_type Time{};
  bool operator==(const TFileStamp&) const = default;
};

struct TCachedFile {
  TIniFile Ini;
  TFileStamp Stamp;
  bool Loaded = false;
};

std::map<std::string, TCachedFile>& Cache() {
  static std::map<std::string, TCachedFile> cache;
  return cache;
}

TFileStamp StampOf(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::is_regular_file(status)) return {};
  TFileStamp stamp{true, fs::file_size(path, error), fs::last_write_time(path, error)};
  if (error) return {};
  return stamp;
}

std::string ReadWhole(const std::string& path) {
  try {
    File file = OpenOwnFileOrFail(path, FileAccess::Read);
    const int64_t size = file.Size();
    if (size > kMaxDownloadInfoSize) return {};
    return file.ReadToEnd();
  } catch (const Exception&) {
    return {};  // an unreadable record file means no records
  }
}

// The parsed file, reloaded when it changed on disk since we last saw it.
TCachedFile& Load(const std::string& path) {
  TCachedFile& cached = Cache()[path];
  const TFileStamp stamp = StampOf(path);
  if (!cached.Loaded || !(stamp == cached.Stamp)) {
    cached.Ini = stamp.Exists ? TIniFile(ReadWhole(path)) : TIniFile();
    cached.Stamp = stamp;
    cached.Loaded = true;
  }
  return cached;
}

void Save(const std::string& path, TCachedFile& cached) {
  const std::string temp = path + ".new";
  try {
    {
      std::error_code stale;
      fs::remove(temp,
                 stale);  // a leftover of a crash, or something planted: never written through
      File file = CreateNewOwnFileOrFail(temp);
      file.Write(cached.Ini.Text());
    }
    std::error_code error;
    fs::rename(temp, path, error);
    if (error) {
      fs::remove(temp, error);
      RaiseOsErrorEx("Cannot write " + path, static_cast<uint32_t>(error.value()));
    }
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
