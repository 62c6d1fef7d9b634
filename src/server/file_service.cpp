#include "server/file_service.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/code_page.h"
#include "platform/contained_files.h"
#include "platform/file_system.h"
#include "platform/pe_version.h"
#include "server/release_name_check.h"
#include "server/release_pass_guard.h"
#include "server/server_call.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"
#include "update/plain_data_stream.h"
#include "update/release_areas.h"
#include "update/request_name.h"

namespace zor {

namespace {

constexpr std::string_view kTag = "FileService";
constexpr std::string_view kName = "File Service";
constexpr std::string_view kDescription =
    "向客户端提供档案清单、档案资讯、档案下载与上传的服务，让客户端可以自动更新。";
constexpr std::string_view kTextNoSuchFile = "服务器上并没有档案 %s！";
constexpr std::string_view kTextNoUploads = "这个服务器并不接受上传的档案！";

std::string PeVersionOf(const std::string& path) {
  const FileVersionLookup lookup = ReadFileVersion(path);
  return lookup.Version ? lookup.Version->FileVersionText() : std::string();
}

std::vector<std::filesystem::path> FoldersToSkip(const TFileServiceSettings& settings) {
  std::vector<std::filesystem::path> skip = {settings.CacheDir};
  if (settings.UploadDir) skip.push_back(*settings.UploadDir);
  return skip;
}

TPackSource SourceOf(const TReleaseFile& file, const std::filesystem::path& root) {
  TPackSource source;
  source.Name = file.Name;
  source.Path = file.Path;
  source.Root = root;
  source.Size = file.Size;
  source.ModifiedNs = file.ModifiedNs;
  source.DosTime = file.DosTime;
  return source;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const std::filesystem::path& path, const std::string& name) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) throw Exception(Format(kTextNoSuchFile, {name}));
  return file;
}

// A release file, opened below the release folder without following links: a file swapped
// for a link (to a secret of the machine) after the scan is not served.
FilePtr OpenReleaseFile(const std::filesystem::path& root, const TReleaseFile& file,
                        const std::string& name) {
  FilePtr opened(
      OpenFileBelowForReading(root.string(), file.Path.lexically_relative(root).generic_string()));
  if (!opened) throw Exception(Format(kTextNoSuchFile, {name}));
  return opened;
}

int64_t SizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) throw Exception("Cannot read a served file");
  const long size = std::ftell(file);
  if (size < 0) throw Exception("Cannot read a served file");
  return size;
}

void ReadExactly(std::FILE* file, void* buffer, size_t count) {
  if (count && std::fread(buffer, 1, count, file) != count)
    throw Exception("A served file ended early");
}

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
            const TFileServiceSettings& limits) {
    // Held until the file is in its folder, so that a failing upload cannot take the
    // folder away in between.
    std::lock_guard guard(Folders.Lock);
    std::error_code error;
    if (std::filesystem::exists(Target, error) || error)
      throw Exception(Format(kUploadExistsText, {name}));
    const std::filesystem::path folder = Target.parent_path();
    TUploadFolders::TRoom used = Folders.Running[folder];
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::error_code ignored;
      if (!entry.is_regular_file(ignored) || IsUploadTemp(entry.path())) continue;
      ++used.Files;
      used.Bytes += static_cast<int64_t>(entry.file_size(ignored));
    }
    if (used.Files + 1 > limits.UploadFolderFiles ||
        used.Bytes + bytes > limits.UploadFolderBytes) {
      if (Folders.Running[folder].Files == 0) Folders.Running.erase(folder);
      throw Exception(Format(kUploadFolderFullText,
                             {name, limits.UploadFolderFiles, limits.UploadFolderBytes}));
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
    std::error_code error;
    std::filesystem::create_hard_link(Temp, Target, error);
    if (error) {
      std::error_code ignored;
      throw Exception(Format(
          std::filesystem::exists(Target, ignored) ? kUploadExistsText : kUploadNotStoredText,
          {name}));
    }
    std::filesystem::remove(Temp, error);
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
    std::error_code ignored;
    std::filesystem::remove(Temp, ignored);
    Temp.clear();
    // Deepest first; a folder that another upload is filling is not empty and stays.
    std::lock_guard guard(Folders.Lock);
    ReleaseRoom();
    for (std::filesystem::path folder = Target.parent_path();
         folder != Root && Folders.Pending.count(folder); folder = folder.parent_path()) {
      std::error_code error;
      if (!std::filesystem::is_empty(folder, error) || error ||
          !std::filesystem::remove(folder, error))
        break;
      Folders.Pending.erase(folder);
    }
  }

 private:
  static constexpr int kTempAttempts = 100;
  static constexpr uint32_t kUploadFileMode = 0666;  // less the umask
  static constexpr const char* kTempMark = ".upload-";

  static bool IsUploadTemp(const std::filesystem::path& path) {
    return path.filename().string().find(kTempMark) != std::string::npos;
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
    std::vector<std::filesystem::path> missing;
    std::error_code error;
    for (std::filesystem::path folder = Target.parent_path();
         folder != Root && folder.has_relative_path() && !std::filesystem::exists(folder, error) &&
         !error;
         folder = folder.parent_path())
      missing.push_back(folder);
    std::filesystem::create_directories(Target.parent_path(), error);
    std::error_code ignored;
    for (const std::filesystem::path& folder : missing)
      if (std::filesystem::is_directory(folder, ignored)) Folders.Pending.insert(folder);
    return !error;
  }

  std::filesystem::path Root;
  std::filesystem::path Target;
  std::string Temp;
  std::unique_ptr<PositionedFile> Stream;
  int64_t Written = 0;
  TUploadFolders& Folders;
  int64_t Reserved = -1;  // bytes reserved in the target's folder; -1 none
};

// Reads and drops what the client still sends after its upload was refused, until it closes
// its end or the drain time has passed.
void DrainRefusedUpload(TServerCall& call) {
  TIcIOHandler* handler = call.Connection().Handler();
  if (!handler) return;
  std::vector<uint8_t> scratch(kPackedStreamPiece);
  const auto until = GetClock().Now() + kUploadDrainLimit;
  while (GetClock().Now() < until && !call.Cancelled() && handler->IsConnected()) {
    if (!handler->WaitReadable(1)) continue;
    if (!handler->DataAvailable()) return;  // readable with nothing to read: the client closed
    handler->Read(scratch.data(), static_cast<int32_t>(scratch.size()), 1);
  }
}

}  // namespace

void CheckUploadFolder(const std::filesystem::path& upload, const std::filesystem::path& release) {
  // Compared as the system resolves them, links and ".." included, whether they exist yet or not.
  const std::filesystem::path u =
      std::filesystem::weakly_canonical(std::filesystem::absolute(upload));
  const std::filesystem::path r =
      std::filesystem::weakly_canonical(std::filesystem::absolute(release));
  const auto within = [](const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
      if (o->empty() && std::next(o) == outer.end()) return true;  // a trailing separator
      if (i == inner.end() || *i != *o) return false;
    }
    return true;
  };
  if (within(u, r) || within(r, u))
    throw Exception(Format(kUploadInReleaseText, {upload.string(), release.string()}));
}

TFileService::TFileService(TZORServer* server, TFileServiceSettings settings)
    : TZORService(server, kServiceMayStop, kFileServiceBase, std::string(kDescription),
                  std::string(kName)),
      Settings(std::move(settings)),
      Folder(Settings.ReleaseDir, Settings.VersionReader ? Settings.VersionReader : PeVersionOf,
             FoldersToSkip(Settings)),
      Cache(Settings.CacheDir, Settings.Level),
      Deltas(
          Folder,
          [this](const TReleaseFile& file, TServerCall* call) { return Packed(file, call); },
          Served) {
  if (Settings.UploadDir) CheckUploadFolder(*Settings.UploadDir, Settings.ReleaseDir);
  // A publisher who changed the release without signing it again sees it in the log; with
  // packing ahead, the packer thread takes the new files.
  Folder.OnChange = [this](const std::shared_ptr<const TReleaseSnapshot>& snapshot) {
    if (Server()) {
      ManifestWatch.Check(snapshot->Root, *snapshot, Server()->Log());
      const uint32_t language = Server()->Language();
      for (const std::string& name : NamesOutsideCodePage(*snapshot, AnsiCodePageForLcid(language)))
        Server()->Log().Warning(kTag, NameOutsideCodePageText(name, language));
    }
    if (!Settings.PackAhead) return;
    {
      std::lock_guard guard(PackLock);
      PackWanted = snapshot;
    }
    PackWake.notify_all();
  };
  RegisterCommand(cmdFileList, [this](TServiceMessage& m) { FileList(m); });
  RegisterCommand(cmdPlainFileInfo, [this](TServiceMessage& m) { FileInfo(m, false); });
  RegisterCommand(cmdPackedFileInfo, [this](TServiceMessage& m) { FileInfo(m, true); });
  RegisterCommand(cmdPlainFileData, [this](TServiceMessage& m) { FileData(m, false); });
  RegisterCommand(cmdPackedFileData, [this](TServiceMessage& m) { FileData(m, true); });
  RegisterCommand(cmdPlainFileFetch, [this](TServiceMessage& m) { FileFetch(m, false); });
  RegisterCommand(cmdPackedFileFetch, [this](TServiceMessage& m) { FileFetch(m, true); });
  RegisterCommand(cmdUploadFile, [this](TServiceMessage& m) { Upload(m); });
  if (Settings.ServeDeltas)
    RegisterCommand(cmdDeltaFileFetch, [this](TServiceMessage& m) { Deltas.Serve(m); });
  SetTimerInterval(kReleaseWatchIntervalMs);
}

TFileService::~TFileService() {
  LeaveServer();
  DoStop();
}

void TFileService::DoStart() {
  if (!std::filesystem::is_directory(Settings.ReleaseDir))
    throw Exception("The release folder " + Settings.ReleaseDir.string() + " does not exist");
  StopPacking = false;
  if (Settings.PackAhead) PackThread = std::thread([this] { PackLoop(); });
  Folder.Rescan();
}

void TFileService::DoStop() {
  {
    std::lock_guard guard(PackLock);
    StopPacking = true;
  }
  PackWake.notify_all();
  if (PackThread.joinable()) PackThread.join();
}

void TFileService::DoTimer() {
  Folder.Snapshot();
}

bool TFileService::Packing() {
  std::lock_guard guard(PackLock);
  return PackBusy || PackWanted != nullptr;
}

void TFileService::PackLoop() {
  TServerLog* log = Server() ? &Server()->Log() : nullptr;
  std::unique_lock guard(PackLock);
  for (;;) {
    PackWake.wait(guard, [this] { return StopPacking || PackWanted; });
    if (StopPacking) break;
    const std::shared_ptr<const TReleaseSnapshot> snapshot = std::exchange(PackWanted, nullptr);
    PackBusy = true;
    guard.unlock();
    const int64_t before = Cache.PacksDone();
    try {
      PackAll(snapshot->Files, [this] {
        if (StopPacking) throw EAbort("Packing stopped");
      });
      if (log)
        log->Info(kTag, Format("The release is packed: %d files (%d packed now)",
                               {snapshot->Files.size(), Cache.PacksDone() - before}));
    } catch (const EAbort&) {
    }
    guard.lock();
    PackBusy = false;
    PackWake.notify_all();
  }
  PackBusy = false;
  PackWake.notify_all();
}

void TFileService::PackAll(const std::vector<TReleaseFile>& files,
                           const std::function<void()>& tick) {
  std::vector<const TReleaseFile*> listed;
  for (const TReleaseFile& file : files)
    if (file.Listed) listed.push_back(&file);
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex doneLock;
  std::condition_variable doneWake;
  const size_t count =
      std::min<size_t>(listed.size(), std::max(1u, std::thread::hardware_concurrency()));
  size_t running = count;  // guarded by doneLock: workers that have not ended yet
  TServerLog* log = Server() ? &Server()->Log() : nullptr;
  std::vector<std::thread> workers;
  for (size_t w = 0; w < count; ++w) {
    workers.emplace_back([&] {
      for (size_t i = next++; i < listed.size() && !stop; i = next++) {
        try {
          Cache.Get(SourceOf(*listed[i], listed[i]->Root), [&] {
            if (stop) throw EAbort("Packing stopped");
          });
        } catch (const EAbort&) {
          break;
        } catch (const std::exception& e) {
          // The request that needs the file packs it again and reports the reason.
          if (log) log->Warning(kTag, Format("Cannot pack %s: %s", {listed[i]->Name, e.what()}));
        }
      }
      std::lock_guard guard(doneLock);
      --running;
      doneWake.notify_all();
    });
  }
  try {
    std::unique_lock guard(doneLock);
    while (!doneWake.wait_for(guard, std::chrono::seconds(1), [&] { return running == 0; })) {
      guard.unlock();
      if (tick) tick();
      guard.lock();
    }
  } catch (...) {
    stop = true;
    for (std::thread& worker : workers) worker.join();
    throw;
  }
  for (std::thread& worker : workers) worker.join();
}

// A pack that could not be written whole (a full disk) raises here, and the request gets an
// error reply: a short or unsynced packed file is never served (see pack_cache.h).
TPackedFile TFileService::Packed(const TReleaseFile& file, TServerCall* call) {
  return Cache.Get(SourceOf(file, file.Root), [call] {
    if (!call) return;
    call->KeepAlive();
    if (call->Cancelled()) throw EAbort("The server is stopping");
  });
}

void TFileService::FileList(TServiceMessage& message) {
  TServerCall& call = *message.Call;
  const std::shared_ptr<const TReleaseSnapshot> snapshot = Folder.Snapshot();
  // Every size in the list is a packed size: what is not packed yet is packed on all cores
  // first, while the client gets keep-alives.
  PackAll(snapshot->Files, [&call] {
    call.KeepAlive();
    if (call.Cancelled()) throw EAbort("The server is stopping");
  });
  std::string list;
  for (const TReleaseFile& file : snapshot->Files) {
    if (!file.Listed) continue;
    // The size is that of the packed form: the launcher fetches that form and counts its
    // bytes, so its progress adds up to the list's total.
    TPackedFile packed;
    try {
      packed = Packed(file, &call);
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      Server()->Log().Warning(kTag,
                              Format("%s is left out of the file list: %s", {file.Name, e.what()}));
      continue;
    }
    if (!list.empty()) list += ';';
    list += file.Name + "=" + file.Version + "," +
            std::to_string(static_cast<int32_t>(file.DosTime)) + "," + std::to_string(packed.Size);
  }
  call.Reply({TVariant::Wide(list), TVariant::Wide("")});
  message.Result = 1;
}

void TFileService::FileInfo(TServiceMessage& message, bool packed) {
  TServerCall& call = *message.Call;
  const std::string name = call.StringArg(0);
  const std::string area = call.OptionalStringArg(1);
  const std::optional<TReleaseFile> file = Folder.Find(name, area);
  if (!file) {
    call.Reply({TVariant(false), TVariant(""), TVariant(0), TVariant(0)});
  } else {
    const int64_t size = packed ? Packed(*file, &call).Size : file->Size;
    call.Reply({TVariant(true), TVariant(file->Version), TVariant(static_cast<int32_t>(size)),
                TVariant(static_cast<int32_t>(file->DosTime))});
  }
  message.Result = 1;
}

namespace {

// Writes `count` bytes of `stream` from where it stands to the client, in the plain form
// (blocks of zlib streams) or the packed form (a 32-bit count, then the bytes).
void SendFileStream(TServerCall& call, std::FILE* stream, int64_t count, bool packed) {
  auto read = [&](void* buffer, size_t bytes) {
    if (call.Cancelled()) throw EAbort("The server is stopping");
    ReadExactly(stream, buffer, bytes);
  };
  auto write = [&](const void* data, size_t bytes) { call.Write(data, bytes); };
  if (!packed) {
    WritePlainStream(static_cast<uint32_t>(count), read, write);
  } else {
    uint8_t header[4];
    StoreLE32(header, static_cast<uint32_t>(count));
    write(header, sizeof header);
    std::vector<uint8_t> piece(kPackedStreamPiece);
    for (int64_t done = 0; done < count;) {
      const size_t bytes = static_cast<size_t>(std::min<int64_t>(count - done, kPackedStreamPiece));
      read(piece.data(), bytes);
      write(piece.data(), bytes);
      done += static_cast<int64_t>(bytes);
    }
  }
  call.Flush();
}

void SeekOrFail(std::FILE* stream, int64_t position) {
  if (std::fseek(stream, static_cast<long>(position), SEEK_SET) != 0)
    throw Exception("Cannot read a served file");
}

}  // namespace

void TFileService::FileData(TServiceMessage& message, bool packed) {
  TServerCall& call = *message.Call;
  const std::string name = call.StringArg(0);
  const std::string area = call.OptionalStringArg(1);
  const int64_t position = call.IntegerArg(2);
  const int64_t wanted = call.IntegerArg(3);
  if (position < 0 || wanted < 0)
    throw EInvalidCommand(std::string(kCommandArgumentInvalidText), nullptr, kErrInvalidArgument);
  const std::optional<TReleaseFile> file = Folder.Find(name, area);
  if (!file) throw Exception(Format(kTextNoSuchFile, {name}));
  FilePtr stream = packed ? OpenForReading(Packed(*file, &call).Path, name)
                          : OpenReleaseFile(file->Root, *file, name);
  const int64_t size = SizeOf(stream.get());
  const int64_t count = std::max<int64_t>(0, std::min(wanted, size - position));
  SeekOrFail(stream.get(), std::min(position, size));
  call.ReplyNow({TVariant(static_cast<int32_t>(count))});
  SendFileStream(call, stream.get(), count, packed);
  Served += count;
  message.Result = 1;
}

void TFileService::FileFetch(TServiceMessage& message, bool packed) {
  TServerCall& call = *message.Call;
  const std::string name = call.StringArg(0);
  const std::string area = call.OptionalStringArg(1);
  const int64_t position = call.IntegerArg(2);
  const int64_t partialSize = call.IntegerArg(3);
  const int64_t partialAge = call.IntegerArg(4);
  if (position < 0 || partialSize < 0)
    throw EInvalidCommand(std::string(kCommandArgumentInvalidText), nullptr, kErrInvalidArgument);
  // A pass of another release is told so before anything of this one is answered; the
  // snapshot first, so that a changed folder is checked against its manifest now.
  Folder.Snapshot();
  try {
    CheckPassRelease(call.Args, ManifestWatch.Status());
  } catch (const EExecuteError&) {
    if (Server()) Server()->Counters().Refused(RefusalReason::OtherRelease);
    throw;
  }
  const std::optional<TReleaseFile> file = Folder.Find(name, area);
  if (!file) {
    call.Reply({TVariant(false), TVariant(""), TVariant(0), TVariant(0), TVariant(0)});
    message.Result = 1;
    return;
  }
  // The information and the data come from the same open file.
  FilePtr stream = packed ? OpenForReading(Packed(*file, &call).Path, name)
                          : OpenReleaseFile(file->Root, *file, name);
  const int64_t size = SizeOf(stream.get());
  const auto age = static_cast<int32_t>(file->DosTime);
  // The client's partial copy is continued only when it is of this very file.
  const bool continues = position > 0 && position <= size && partialSize == size &&
                         partialAge == static_cast<int64_t>(age);
  const int64_t start = continues ? position : 0;
  SeekOrFail(stream.get(), start);
  call.ReplyNow({TVariant(true), TVariant(file->Version), TVariant(static_cast<int32_t>(size)),
                 TVariant(age), TVariant(static_cast<int32_t>(start))});
  if (start < size) {
    SendFileStream(call, stream.get(), size - start, packed);
    Served += size - start;
  } else {
    call.Flush();
  }
  message.Result = 1;
}

void TFileService::Upload(TServiceMessage& message) {
  TServerCall& call = *message.Call;
  // Everything that can be refused without the data is refused before the answer that
  // asks for it: the session stays usable then.
  if (!Settings.UploadDir) throw Exception(std::string(kTextNoUploads));
  if (!call.Session.LoggedOn) throw Exception(std::string(kUploadNeedsLogonText));
  const TRequestName name = CheckRequestName(call.StringArg(0));
  std::string folder = AreaFolder(call.OptionalStringArg(1));
  std::replace(folder.begin(), folder.end(), '\\', '/');
  const std::filesystem::path target = *Settings.UploadDir / folder / name.Relative;
  if (std::error_code error; std::filesystem::exists(target, error) || error)
    throw Exception(Format(kUploadExistsText, {name.Wire}));
  const uint32_t limit =
      static_cast<uint32_t>(std::clamp<int64_t>(Settings.UploadLimit, 0, 0x7FFFFFFF));
  call.ReplyNow({});
  TIcIOHandler* handler = call.Connection().Handler();
  if (!handler) throw EConnectBroken(std::string(kNotConnectedText), nullptr, 0);

  TUploadTarget stored(*Settings.UploadDir, target, UploadFolders);
  try {
    ReadPlainStream([&](void* buffer,
                        size_t count) { handler->ReadBuffer(buffer, static_cast<int32_t>(count)); },
                    0xFFFFFFFF,
                    [&](const void* data, size_t count) { stored.Write(data, count, name.Wire); },
                    [&](uint32_t count) {
                      // Refused on the announced size, before a byte is stored or a folder made.
                      if (count > limit)
                        throw Exception(Format(kUploadTooLargeText, {name.Wire, count, limit}));
                      stored.Open(UploadCounter, name.Wire, count, Settings);
                    });
    stored.Commit(name.Wire);
  } catch (const EConnectIOError&) {
    stored.Discard();
    throw;
  } catch (const std::exception& e) {
    stored.Discard();
    // The client may still be sending the data it announced, and the rest of its stream
    // cannot be told from a request: it gets the reason, then the connection ends.
    Server()->Log().Warning(kTag, Format("Upload of %s refused: %s", {name.Wire, e.what()}));
    const TServerResult error = ErrorResultOf(e);
    try {
      call.Connection().SendReply(kReplyFinal, error.Code, error.Data);
      DrainRefusedUpload(call);
    } catch (const std::exception&) {
      // The client has gone already.
    }
    call.Connection().Disconnect();
    message.Result = 1;
    return;
  }
  Server()->Log().Info(kTag, Format("Uploaded %s (%s)", {name.Wire, call.OptionalStringArg(2)}));
  call.Connection().SendEmptyResult();
  message.Result = 1;
}

}  // namespace zor
