#include "server/file_service.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/code_page.h"
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
#include "update/release_pass.h"
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

using ServedFile = std::unique_ptr<PositionedFile>;

int64_t SizeOf(PositionedFile& file) {
  try {
    return file.Size();
  } catch (const EFileSystemError&) {
    throw Exception("Cannot read a served file");
  }
}

// A packed file of the cache, never through a link someone may have put at its name.
ServedFile OpenPacked(const std::filesystem::path& path, const std::string& name) {
  try {
    return CurrentFileSystem().Open(path.string(), OpenMode::ReadOnly,
                                    OpenOptions{.NoFollow = true});
  } catch (const EFileSystemError&) {
    throw Exception(Format(kTextNoSuchFile, {name}));
  }
}

// A release file, opened below the release folder without following links: a file swapped
// for a link (to a secret of the machine) after the scan is not served. A file whose content
// the manifest vouched for must still have the scanned size: one that a copy replaced since
// is not served under the old file's facts.
ServedFile OpenReleaseFile(const TReleaseFile& file, const std::string& name) {
  ServedFile opened;
  try {
    opened = CurrentFileSystem().OpenBelow(
        file.Root.string(), file.Path.lexically_relative(file.Root).generic_string());
  } catch (const EFileSystemError&) {
    throw Exception(Format(kTextNoSuchFile, {name}));
  }
  if (!file.Sha256.empty() && SizeOf(*opened) != file.Size)
    throw ESourceChanged("The content of " + file.Name + " changed since the release was scanned");
  return opened;
}

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

TFileService::TFileService(TZORServer* server, TFileServiceSettings settings)
    : TZORService(server, kServiceMayStop, kFileServiceBase, std::string(kDescription),
                  std::string(kName)),
      Settings(std::move(settings)),
      Folder(Settings.ReleaseDir, Settings.VersionReader ? Settings.VersionReader : PeVersionOf,
             FoldersToSkip(Settings)),
      Cache(Settings.CacheDir, Settings.Level),
      Packer(Cache, server ? &server->Log() : nullptr),
      Deltas(
          Folder,
          [this](const TReleaseFile& file, TServerCall* call) { return Packed(file, call); },
          Served) {
  if (Settings.UploadDir) CheckUploadFolder(*Settings.UploadDir, Settings.ReleaseDir);
  // Each scan is judged against the manifest before it is served, and a publisher who
  // changed the release without signing it again sees it in the log.
  Folder.Verify = [this](TReleaseSnapshot& snapshot) {
    ManifestWatch.Check(snapshot, Server() ? &Server()->Log() : nullptr);
  };
  Folder.OnHold = [this](const TReleaseSnapshot& held, const TReleaseSnapshot& served) {
    if (!Server()) return;
    Server()->Log().Warning(
        kTag, Format("The release folder changed and does not match its manifest (%s): release "
                     "%d is still served until it does",
                     {ManifestStateName(held.Manifest.State), served.Manifest.Counter}));
  };
  // With packing ahead, the packer thread takes the new files.
  Folder.OnChange = [this](const std::shared_ptr<const TReleaseSnapshot>& snapshot) {
    if (Server()) {
      const uint32_t language = Server()->Language();
      for (const std::string& name : NamesOutsideCodePage(*snapshot, AnsiCodePageForLcid(language)))
        Server()->Log().Warning(kTag, NameOutsideCodePageText(name, language));
    }
    if (Settings.PackAhead) Packer.Want(snapshot);
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
  if (!CurrentFileSystem().IsFolder(Settings.ReleaseDir.string()))
    throw Exception("The release folder " + Settings.ReleaseDir.string() + " does not exist");
  if (Settings.PackAhead) Packer.Start();
  Folder.Rescan();
}

void TFileService::DoStop() {
  Packer.Stop();
}

void TFileService::DoTimer() {
  Folder.Snapshot();
}

bool TFileService::Packing() {
  return Packer.Busy();
}

// A pack that could not be written whole (a full disk) raises here, and the request gets an
// error reply: a short or unsynced packed file is never served (see pack_cache.h).
TPackedFile TFileService::Packed(const TReleaseFile& file, TServerCall* call) {
  return Cache.Get(PackSourceOf(file), [call] {
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
  Packer.PackAll(snapshot->Files, [&call] {
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
  const std::shared_ptr<const TReleaseSnapshot> snapshot = Folder.Snapshot();
  const TReleaseFile* file = snapshot->Find(name, area);
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

// Writes `count` bytes of `file` from `start` to the client, in the plain form (blocks of
// zlib streams) or the packed form (a 32-bit count, then the bytes).
void SendFileStream(TServerCall& call, PositionedFile& file, int64_t start, int64_t count,
                    bool packed) {
  int64_t at = start;
  auto read = [&](void* buffer, size_t bytes) {
    if (call.Cancelled()) throw EAbort("The server is stopping");
    try {
      file.ReadExactAt(at, buffer, bytes);
    } catch (const EFileSystemError&) {
      throw Exception("A served file ended early");
    }
    at += static_cast<int64_t>(bytes);
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

}  // namespace

void TFileService::FileData(TServiceMessage& message, bool packed) {
  TServerCall& call = *message.Call;
  const std::string name = call.StringArg(0);
  const std::string area = call.OptionalStringArg(1);
  const int64_t position = call.IntegerArg(2);
  const int64_t wanted = call.IntegerArg(3);
  if (position < 0 || wanted < 0)
    throw EInvalidCommand(std::string(kCommandArgumentInvalidText), nullptr, kErrInvalidArgument);
  const std::shared_ptr<const TReleaseSnapshot> snapshot = Folder.Snapshot();
  const TReleaseFile* file = snapshot->Find(name, area);
  if (!file) throw Exception(Format(kTextNoSuchFile, {name}));
  ServedFile stream =
      packed ? OpenPacked(Packed(*file, &call).Path, name) : OpenReleaseFile(*file, name);
  const int64_t size = SizeOf(*stream);
  const int64_t count = std::max<int64_t>(0, std::min(wanted, size - position));
  call.ReplyNow({TVariant(static_cast<int32_t>(count))});
  SendFileStream(call, *stream, std::min(position, size), count, packed);
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
  // A pass of another release is told so before anything of this one is answered. The
  // verdict is the one of the very scan the file is looked up in: a rescan that switches
  // releases meanwhile cannot pair this release's verdict with the next one's files.
  const std::shared_ptr<const TReleaseSnapshot> snapshot = Folder.Snapshot();
  try {
    CheckPassRelease(call.Args, snapshot->Manifest);
  } catch (const EExecuteError&) {
    if (Server()) Server()->Counters().Refused(RefusalReason::OtherRelease);
    throw;
  }
  const TReleaseFile* file = snapshot->Find(name, area);
  if (!file) {
    call.Reply({TVariant(false), TVariant(""), TVariant(0), TVariant(0), TVariant(0)});
    message.Result = 1;
    return;
  }
  // The information and the data come from the same open file. A file that a copy is
  // replacing under a pass of this release is another server's to serve meanwhile.
  ServedFile stream;
  try {
    stream = packed ? OpenPacked(Packed(*file, &call).Path, name) : OpenReleaseFile(*file, name);
  } catch (const ESourceChanged& e) {
    if (const std::optional<uint64_t> release = PassRelease(call.Args)) {
      if (Server()) Server()->Counters().Refused(RefusalReason::OtherRelease);
      throw EExecuteError(Format(kReleaseChangingText, {ReleaseArgText(*release)}),
                          kErrOtherRelease);
    }
    throw;
  }
  const int64_t size = SizeOf(*stream);
  const auto age = static_cast<int32_t>(file->DosTime);
  // The client's partial copy is continued only when it is of this very file.
  const bool continues = position > 0 && position <= size && partialSize == size &&
                         partialAge == static_cast<int64_t>(age);
  const int64_t start = continues ? position : 0;
  call.ReplyNow({TVariant(true), TVariant(file->Version), TVariant(static_cast<int32_t>(size)),
                 TVariant(age), TVariant(static_cast<int32_t>(start))});
  if (start < size) {
    SendFileStream(call, *stream, start, size - start, packed);
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
  if (UploadTargetTaken(target)) throw Exception(Format(kUploadExistsText, {name.Wire}));
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
                      stored.Open(UploadCounter, name.Wire, count,
                                  {Settings.UploadFolderFiles, Settings.UploadFolderBytes});
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
