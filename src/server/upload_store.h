// Where uploads are stored: each upload is written to a file of its own beside its target and
// linked to the target's name only when its data arrived complete and within the limits of
// one folder, so an existing file is never replaced and a refused or broken upload leaves
// neither its file nor the folders made for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/contained_files.h"
#include "platform/file_system.h"
#include "server/server_limits.h"

namespace zor {

inline constexpr std::string_view kUploadTooLargeText =
    "上传的档案 %s 有 %u 个字节，超过了服务器允许的 %u 个字节！";
inline constexpr std::string_view kUploadNotStoredText = "无法储存上传的档案 %s！";
// Our own: uploads never replace a file, and each folder takes only so many.
inline constexpr std::string_view kUploadExistsText = "服务器上已经有上传的档案 %s，不会覆盖它！";
inline constexpr std::string_view kUploadFolderFullText =
    "上传目录 %s 已满(最多 %d 个档案、%d 个字节)！";
inline constexpr std::string_view kUploadNeedsLogonText = "上传档案需要已登录的连线！";
inline constexpr std::string_view kUploadInReleaseText =
    "The upload folder %s must not be the release folder %s, lie inside it or contain it";

// How much one folder below the upload folder may hold.
struct TUploadLimits {
  int64_t FolderFiles = kDefaultUploadFolderFiles;
  int64_t FolderBytes = kDefaultUploadFolderBytes;
};

// The folders that uploads made and that no complete upload has used yet, and the files and
// bytes of uploads still running per target folder, under the lock that every upload holds
// while it makes folders, reserves room, puts its file in one, or removes them.
struct TUploadFolders {
  struct TRoom {
    int64_t Files = 0;
    int64_t Bytes = 0;
  };
  std::mutex Lock;
  std::set<std::filesystem::path> Pending;
  std::map<std::filesystem::path, TRoom> Running;
};

// Raises `Exception` (kUploadInReleaseText) when the upload folder is the release folder,
// lies inside it or contains it: an upload would then change what every client installs.
void CheckUploadFolder(const std::filesystem::path& upload, const std::filesystem::path& release);

// Raises `Exception` (kUploadInReleaseText) when the upload folder is the release folder,
// lies inside it or contains it: an upload would then change what every client installs.
void CheckUploadFolder(const std::filesystem::path& upload, const std::filesystem::path& release);

// Whether something (a file, a folder, a link) already has `path`'s name, or it cannot be
// looked at: either way an upload does not go there.
bool UploadTargetTaken(const std::filesystem::path& path);

// The file an upload is stored in until it is complete, beside its target. The folders
// that uploads make are pending until an upload into them is complete; a failed upload takes
// the empty pending folders of its path away again.
class TUploadTarget {
 public:
  TUploadTarget(std::filesystem::path root, std::filesystem::path target, TUploadFolders& folders)
      : Root(std::move(root)), Target(std::move(target)), Folders(folders) {}
  ~TUploadTarget() { Discard(); }
  TUploadTarget(const TUploadTarget&) = delete;
  TUploadTarget& operator=(const TUploadTarget&) = delete;

  // Reserves room for `bytes` in the target's folder and opens the file the data goes to.
  void Open(std::atomic<uint64_t>& counter, const std::string& name, int64_t bytes,
            const TUploadLimits& limits) {
    // Held until the file is in its folder, so that a failing upload cannot take the
    // folder away in between.
    std::lock_guard guard(Folders.Lock);
    if (UploadTargetTaken(Target)) throw Exception(Format(kUploadExistsText, {name}));
    const std::filesystem::path folder = Target.parent_path();
    TUploadFolders::TRoom used = Folders.Running[folder];
    FileSystem& files = CurrentFileSystem();
    std::vector<std::string> names;
    try {
      names = files.List(folder.string());
    } catch (const EFileSystemError&) {
      // Not made yet (or unreadable): nothing in it counts.
    }
    for (const std::string& entry : names) {
      if (IsUploadTemp(entry)) continue;
      std::optional<FileStatus> status;
      try {
        status = files.Stat((folder / entry).string(), FollowLinks::No);
      } catch (const EFileSystemError&) {
        continue;
      }
      if (!status || status->Kind != FileKind::Regular) continue;
      ++used.Files;
      used.Bytes += status->Size;
    }
    if (used.Files + 1 > limits.FolderFiles || used.Bytes + bytes > limits.FolderBytes) {
      if (Folders.Running[folder].Files == 0) Folders.Running.erase(folder);
      throw Exception(
          Format(kUploadFolderFullText, {name, limits.FolderFiles, limits.FolderBytes}));
    }
    TUploadFolders::TRoom& room = Folders.Running[folder];
    ++room.Files;
    room.Bytes += bytes;
    Reserved = bytes;
    if (!MakeFolders()) throw Exception(Format(kUploadNotStoredText, {name}));
    // A name of its own that no other file has: an uploaded file may well be called like
    // an earlier temporary file, and must not be overwritten or removed by this one.
    // Created new (O_EXCL, never through a link) with the mode a new file usually gets.
    for (int attempt = 0; attempt < kTempAttempts && !Stream; ++attempt) {
      Temp = Target.string() + kTempMark + std::to_string(++counter);
      try {
        Stream = CurrentFileSystem().Open(Temp, OpenMode::CreateNew, kUploadFileMode);
      } catch (const EFileSystemError& e) {
        if (e.Kind != FileErrorKind::Exists) break;
      }
    }
    if (!Stream) {
      Temp.clear();
      throw Exception(Format(kUploadNotStoredText, {name}));
    }
  }

  // A failed write (a full disk among them) refuses the upload; `Discard` then removes the
  // temporary file, so nothing of it stays.
  void Write(const void* data, size_t count, const std::string& name) {
    if (!Stream) throw Exception(Format(kUploadNotStoredText, {name}));
    try {
      Stream->WriteAllAt(Written, data, count);
    } catch (const std::exception&) {
      throw Exception(Format(kUploadNotStoredText, {name}));
    }
    Written += static_cast<int64_t>(count);
  }

  void Commit(const std::string& name) {
    // The data is durable before the file takes its name.
    try {
      if (!Stream) throw Exception(Format(kUploadNotStoredText, {name}));
      Stream->Sync();
      Stream->Close();
      Stream.reset();
    } catch (const std::exception&) {
      throw Exception(Format(kUploadNotStoredText, {name}));
    }
    // A link never replaces a file: an upload of the same name that finished meanwhile
    // keeps its place.
    FileSystem& files = CurrentFileSystem();
    try {
      files.Link(Temp, Target.string());
    } catch (const EFileSystemError& e) {
      throw Exception(Format(
          e.Kind == FileErrorKind::Exists ? kUploadExistsText : kUploadNotStoredText, {name}));
    }
    files.RemoveIfPresent(Temp);
    Temp.clear();
    try {
      CurrentFileSystem().SyncFolder(Target.parent_path().string());
    } catch (const std::exception&) {
      // The file is in place and complete; only its name may not survive a power cut.
    }
    std::lock_guard guard(Folders.Lock);
    ReleaseRoom();
    for (std::filesystem::path folder = Target.parent_path();
         folder != Root && folder.has_relative_path(); folder = folder.parent_path())
      Folders.Pending.erase(folder);
  }

  void Discard() noexcept {
    Stream.reset();
    if (Temp.empty()) {
      std::lock_guard guard(Folders.Lock);
      ReleaseRoom();
      return;
    }
    FileSystem& files = CurrentFileSystem();
    files.RemoveIfPresent(Temp);
    Temp.clear();
    // Deepest first; a folder that another upload is filling is not empty and stays. Removed
    // from the upload folder down, never through a link.
    std::lock_guard guard(Folders.Lock);
    ReleaseRoom();
    for (std::filesystem::path folder = Target.parent_path();
         folder != Root && Folders.Pending.count(folder); folder = folder.parent_path()) {
      try {
        if (!files.List(folder.string()).empty()) break;
      } catch (const EFileSystemError&) {
        break;
      }
      if (!RemoveEmptyFolderBelow(Root.string(), folder.lexically_relative(Root).generic_string()))
        break;
      Folders.Pending.erase(folder);
    }
  }

 private:
  static constexpr int kTempAttempts = 100;
  static constexpr uint32_t kUploadFileMode = 0666;    // less the umask
  static constexpr uint32_t kUploadFolderMode = 0777;  // likewise
  static constexpr const char* kTempMark = ".upload-";

  static bool IsUploadTemp(const std::string& fileName) {
    return fileName.find(kTempMark) != std::string::npos;
  }

  // With the folders' lock held: gives back the room `Open` reserved.
  void ReleaseRoom() {
    if (Reserved < 0) return;
    const std::filesystem::path folder = Target.parent_path();
    TUploadFolders::TRoom& room = Folders.Running[folder];
    room.Files -= 1;
    room.Bytes -= Reserved;
    if (room.Files <= 0) Folders.Running.erase(folder);
    Reserved = -1;
  }

  // False when a folder cannot be made (a file of that name is in the way).
  bool MakeFolders() {
    FileSystem& files = CurrentFileSystem();
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path folder = Target.parent_path();
         folder != Root && folder.has_relative_path() && !UploadTargetTaken(folder);
         folder = folder.parent_path())
      missing.push_back(folder);
    bool made = true;
    try {
      files.CreateFolders(Target.parent_path().string(), kUploadFolderMode);
    } catch (const EFileSystemError&) {
      made = false;
    }
    for (const std::filesystem::path& folder : missing)
      if (files.IsFolder(folder.string())) Folders.Pending.insert(folder);
    return made;
  }

  std::filesystem::path Root;
  std::filesystem::path Target;
  std::string Temp;
  std::unique_ptr<PositionedFile> Stream;
  int64_t Written = 0;
  TUploadFolders& Folders;
  int64_t Reserved = -1;  // bytes reserved in the target's folder; -1 none
};

}  // namespace zor
