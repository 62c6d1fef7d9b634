#include "server/file_service.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/pe_version.h"
#include "update/plain_data_stream.h"
#include "update/release_areas.h"
#include "update/request_name.h"
#include "server/server_call.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"

namespace zor {

namespace {

constexpr std::string_view kTag = "FileService";
constexpr std::string_view kName = "File Service";
constexpr std::string_view kDescription = "向客户端提供档案清单、档案资讯、档案下载与上传的服务，让客户端可以自动更新。";
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

TPackSource SourceOf(const TReleaseFile& file) {
  TPackSource source;
  source.Name = file.Name;
  source.Path = file.Path;
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

int64_t SizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) throw Exception("Cannot read a served file");
  const long size = std::ftell(file);
  if (size < 0) throw Exception("Cannot read a served file");
  return size;
}

void ReadExactly(std::FILE* file, void* buffer, size_t count) {
  if (count && std::fread(buffer, 1, count, file) != count) throw Exception("A served file ended early");
}

}  // namespace

TFileService::TFileService(TZORServer* server, TFileServiceSettings settings)
    : TZORService(server, kServiceMayStop, kFileServiceBase, std::string(kDescription), std::string(kName)),
      Settings(std::move(settings)),
      Folder(Settings.ReleaseDir, Settings.VersionReader ? Settings.VersionReader : PeVersionOf, FoldersToSkip(Settings)),
      Cache(Settings.CacheDir, Settings.Level) {
  RegisterCommand(kCmdFileList, [this](TServiceMessage& m) { FileList(m); });
  RegisterCommand(kCmdFileInfo, [this](TServiceMessage& m) { FileInfo(m, false); });
  RegisterCommand(kCmdPackedInfo, [this](TServiceMessage& m) { FileInfo(m, true); });
  RegisterCommand(kCmdFileData, [this](TServiceMessage& m) { FileData(m, false); });
  RegisterCommand(kCmdPackedData, [this](TServiceMessage& m) { FileData(m, true); });
  RegisterCommand(kCmdUpload, [this](TServiceMessage& m) { Upload(m); });
}

TFileService::~TFileService() {
  StopPacking = true;
  if (PackThread.joinable()) PackThread.join();
}

void TFileService::DoStart() {
  if (!std::filesystem::is_directory(Settings.ReleaseDir))
    throw Exception("The release folder " + Settings.ReleaseDir.string() + " does not exist");
  Folder.Rescan();
  StopPacking = false;
  if (Settings.PackAhead) PackThread = std::thread([this] { PackAhead(); });
}

void TFileService::DoStop() {
  StopPacking = true;
  if (PackThread.joinable()) PackThread.join();
}

void TFileService::WaitPackAhead() {
  if (PackThread.joinable()) PackThread.join();
}

void TFileService::PackAhead() {
  TServerLog* log = Server() ? &Server()->Log() : nullptr;
  int64_t packed = 0;
  for (const TReleaseFile& file : Folder.Snapshot()->Files) {
    if (StopPacking) return;
    if (!file.Listed) continue;
    try {
      Cache.Get(SourceOf(file), [this] {
        if (StopPacking) throw EAbort("Packing stopped");
      });
      ++packed;
    } catch (const EAbort&) {
      return;
    } catch (const std::exception& e) {
      if (log) log->Warning(kTag, Format("Cannot pack %s: %s", {file.Name, e.what()}));
    }
  }
  if (log) log->Info(kTag, Format("%d files of the release are packed (%d packed now)", {packed, Cache.PacksDone()}));
}

TPackedFile TFileService::Packed(const TReleaseFile& file, TServerCall* call) {
  return Cache.Get(SourceOf(file), [call] {
    if (!call) return;
    call->KeepAlive();
    if (call->Cancelled()) throw EAbort("The server is stopping");
  });
}

void TFileService::FileList(TServiceMessage& message) {
  TServerCall& call = *message.Call;
  std::string list;
  for (const TReleaseFile& file : Folder.Snapshot()->Files) {
    if (!file.Listed) continue;
    // The size is that of the packed form: the launcher fetches that form and counts its
    // bytes, so its progress adds up to the list's total.
    TPackedFile packed;
    try {
      packed = Packed(file, &call);
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      Server()->Log().Warning(kTag, Format("%s is left out of the file list: %s", {file.Name, e.what()}));
      continue;
    }
    if (!list.empty()) list += ';';
    list += file.Name + "=" + file.Version + "," + std::to_string(static_cast<int32_t>(file.DosTime)) + "," +
            std::to_string(packed.Size);
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
  const std::filesystem::path path = packed ? Packed(*file, &call).Path : file->Path;
  FilePtr stream = OpenForReading(path, name);
  const int64_t size = SizeOf(stream.get());
  const int64_t count = std::max<int64_t>(0, std::min(wanted, size - position));
  if (std::fseek(stream.get(), static_cast<long>(std::min(position, size)), SEEK_SET) != 0)
    throw Exception("Cannot read a served file");
  call.ReplyNow({TVariant(static_cast<int32_t>(count))});
  auto read = [&](void* buffer, size_t bytes) {
    if (call.Cancelled()) throw EAbort("The server is stopping");
    ReadExactly(stream.get(), buffer, bytes);
  };
  auto write = [&](const void* data, size_t bytes) { call.Write(data, bytes); };
  if (!packed) {
    WritePlainStream(static_cast<uint32_t>(count), read, write);
  } else {
    uint8_t header[4];
    for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(static_cast<uint32_t>(count) >> (8 * i));
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
  message.Result = 1;
}

void TFileService::Upload(TServiceMessage& message) {
  TServerCall& call = *message.Call;
  if (!Settings.UploadDir) throw Exception(std::string(kTextNoUploads));
  const TRequestName name = CheckRequestName(call.StringArg(0));
  std::string folder = AreaFolder(call.OptionalStringArg(1));
  std::replace(folder.begin(), folder.end(), '\\', '/');
  const std::filesystem::path target = *Settings.UploadDir / folder / name.Relative;
  std::filesystem::create_directories(target.parent_path());
  const std::filesystem::path temp = target.string() + ".upload-" + std::to_string(++UploadCounter);
  call.ReplyNow({});
  TIcIOHandler* handler = call.Connection().Handler();
  if (!handler) throw EConnectBroken(std::string(kNotConnectedText), nullptr, 0);
  try {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw Exception("Cannot store the uploaded file " + name.Wire);
    const uint32_t limit = static_cast<uint32_t>(std::clamp<int64_t>(Settings.UploadLimit, 0, 0x7FFFFFFF));
    ReadPlainStream([&](void* buffer, size_t count) { handler->ReadBuffer(buffer, static_cast<int32_t>(count)); },
                    limit, [&](const void* data, size_t count) {
                      out.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
                    });
    out.close();
    if (!out) throw Exception("Cannot store the uploaded file " + name.Wire);
    std::filesystem::rename(temp, target);
  } catch (const EConnectIOError&) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw;
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    // The client may still be sending the data it announced: it gets the reason, and the
    // connection ends, since the rest of its stream cannot be told from a request.
    Server()->Log().Warning(kTag, Format("Upload of %s refused: %s", {name.Wire, e.what()}));
    const TServerResult error = ErrorResultOf(e);
    call.Connection().SendReply(kReplyFinal, error.Code, error.Data);
    call.Connection().Disconnect();
    return;
  }
  Server()->Log().Info(kTag, Format("Uploaded %s (%s)", {name.Wire, call.OptionalStringArg(2)}));
  call.Connection().SendEmptyResult();
  message.Result = 1;
}

}  // namespace zor
