#include "update/remote_file.h"

#include <vector>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/format.h"
#include "base/language_suffix.h"
#include "intercom/execute_scope.h"
#include "intercom/result_types.h"
#include "intercom/wire_format.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/last_error.h"
#include "platform/locale.h"
#include "transport/ic_errors.h"
#include "update/cps_file.h"
#include "update/crc_register.h"
#include "update/delta_fetch.h"
#include "update/disk_full.h"
#include "update/download_settings.h"
#include "update/fetch_deadline.h"
#include "update/file_date.h"
#include "update/plain_data_stream.h"
#include "update/release_guard.h"
#include "update/release_pass.h"
#include "update/request_name.h"

namespace zor {

namespace {

// Thrown through the data stream reader to stop it when the transfer is cancelled.
struct TReceiveCancelled {};

}  // namespace

bool PathExists(const std::string& path) {
  try {
    return CurrentFileSystem().Stat(path, FollowLinks::No).has_value();
  } catch (const EFileSystemError&) {
    return true;  // something is there that cannot be looked at
  }
}

void RemoveQuietly(const std::string& path) {
  CurrentFileSystem().RemoveIfPresent(path);
}

TIcIOHandler& HandlerOf(TIcConnection* connection) {
  if (connection == nullptr || connection->Handler() == nullptr)
    throw Exception(std::string(kNotConnectedText));
  return *connection->Handler();
}

std::string DefaultLanguageTag() {
  return GetLanguageSuffix(0, GetSystemDefaultLCID());
}

TRemoteFile::TRemoteFile(TIcConnection* connection, std::string exeDir)
    : ExeDir(IncludeTrailingPathDelimiter(exeDir.empty() ? GetInstallDir() : exeDir)),
      Info(ExeDir + std::string(kDownloadInfoFileName)),
      Connection(connection) {}

void TRemoteFile::SetEvents(const TRemoteFileEvents& events) {
  OnBeforeDownload = events.OnBeforeDownload;
  OnFileFinished = events.OnFileFinished;
  OnStart = events.OnStart;
  OnProgress = events.OnProgress;
}

TDownloadRecord TRemoteFile::BuildRecord(std::string_view name, std::string_view area,
                                         std::string_view lang, std::string_view baseDir) const {
  const TRequestName checked = CheckRequestName(name);
  TDownloadRecord record;
  record.Name = checked.Wire;
  record.Area = std::string(area);
  record.Lang = lang.empty() ? DefaultLanguageTag() : std::string(lang);
  const std::string base = baseDir.empty() ? ExeDir : IncludeTrailingPathDelimiter(baseDir);
  record.LocalFile = base + checked.Relative;
  record.Path = FolderWithDelimiter(record.LocalFile);
  record.TmpFile = record.LocalFile + std::string(kTmpSuffix);
  return record;
}

bool TRemoteFile::GetFileInfo(std::string_view name, std::string_view area, std::string_view lang,
                              TRemoteFileInfo& info) {
  if (Connection == nullptr) throw Exception(std::string(kNotConnectedText));
  static constexpr uint16_t kTypes[] = {kVarBoolean, kVarString, kVarInteger, kVarInteger};
  const TVariantArray args{TVariant::Wide(std::string(name)), TVariant(std::string(area)),
                           TVariant(lang.empty() ? DefaultLanguageTag() : std::string(lang))};
  TVerbatimStrings verbatim;  // a name reaches the server exactly as its list spells it
  const TVariantArray result = Connection->ExecuteQueryData(InfoCommand(), kTypes, args);
  if (!result[0].AsBoolean()) return false;
  info.Version = result[1].AsString();
  info.Size = result[2].AsInteger();
  info.Age = result[3].AsInteger();
  return true;
}

bool TRemoteFile::Download(std::string_view name, std::string_view area, const TCancelFlag* cancel,
                           std::string* localFile, std::string_view lang,
                           std::string_view baseDir) {
  std::string target;  // the file being updated: a full disk names it, not its temporaries
  try {
    TDownloadRecord record = BuildRecord(name, area, lang, baseDir);
    target = record.LocalFile;
    if (localFile) *localFile = record.LocalFile;
    if (OnBeforeDownload) OnBeforeDownload(record.LocalFile);
    if (Delta) {
      if (const std::optional<bool> found = Delta->Fetch(*this, record, cancel)) return *found;
    }
    if (OneTripFetch) {
      if (const std::optional<bool> found = DownloadInOneTrip(record, cancel)) return *found;
      OneTripFetch = false;  // an older server: the information and the data are asked apart
      record = BuildRecord(name, area, lang, baseDir);
    }
    TRemoteFileInfo info;
    if (!GetFileInfo(record.Name, record.Area, record.Lang, info)) return false;
    AcceptInfo(record, info);
    DownloadRecord(record, cancel);
    return true;
  } catch (const EAbort&) {
    throw;  // a thread asked to stop ends without a message
  } catch (const EReleaseRefused&) {
    throw;  // says itself what was refused, in the user's language
  } catch (const EOtherRelease&) {
    throw;  // asked again elsewhere (download_jobs.cpp)
  } catch (const EFileSystemError& e) {
    // A full disk is not a failed transfer to retry: the update stops and says why.
    if (IsNoSpaceError(e)) {
      const std::string& path = target.empty() ? e.Path : target;
      throw EDiskFull(Format(kDiskFullText, {path}), path);
    }
    throw Exception(Format(kDownloadErrorText, {e.what()}));
  } catch (const std::exception& e) {
    throw Exception(Format(kDownloadErrorText, {e.what()}));
  }
}

void TRemoteFile::AcceptInfo(TDownloadRecord& record, const TRemoteFileInfo& info) const {
  if (info.Size < 0) throw Exception(Format(kInvalidFileSizeText, {info.Size, record.Name}));
  if (const auto guard = GetReleaseGuard())
    guard->CheckAnnounced(record.Name, record.Area, info.Size, FetchCommand() == cmdPackedFileData);
  record.FileVer = info.Version;
  record.FileSize = info.Size;
  record.FileAge = info.Age;
}

bool TRemoteFile::TryResume(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream,
                            const TCancelFlag* cancel, bool serverInfo) {
  const std::optional<TResumeRecord> saved = Info.Read(record.Name);
  // A record of another file of the same name (the staging folder, another base folder) is
  // not ours to continue or to erase.
  if (!saved || saved->File != record.TmpFile) return false;
  if (ResumeFrom(*saved, record, stream, cancel, serverInfo)) return true;
  // The partial file starts over, and the record no longer describes it.
  stream.reset();
  Info.Erase(record.Name);
  return false;
}

bool TRemoteFile::ResumeFrom(const TResumeRecord& saved, TDownloadRecord& record,
                             std::unique_ptr<PositionedFile>& stream, const TCancelFlag* cancel,
                             bool serverInfo) {
  if (serverInfo && (saved.FileSize != record.FileSize || saved.FileAge != record.FileAge))
    return false;
  if (saved.FilePos < 0 || saved.FilePos > saved.FileSize) return false;
  if (IsCancelled(cancel)) throw TReceiveCancelled{};
  // Only a partial file that this user wrote is continued; a link or anything else is
  // discarded. It is then written through the file layer, again never through a link.
  try {
    stream = CurrentFileSystem().Open(record.TmpFile, OpenMode::ReadWrite,
                                      OpenOptions{.NoFollow = true, .OwnerOnly = true});
  } catch (const Exception&) {
    return false;  // a link or something we may not open: not ours to continue
  }
  // The record is not synced and is saved only now and then, so it may claim bytes the file
  // lost after a power cut (the CRC of what the file holds decides) or lag behind the bytes
  // written after its last save (those are cut off).
  const int64_t size = stream->Size();
  if (size < saved.FilePos) return false;
  if (size > saved.FilePos) stream->Truncate(saved.FilePos);
  uint32_t crc = kCrcRegisterStart;
  std::vector<uint8_t> block(kCrcBlock);
  for (int64_t offset = 0;;) {
    if (IsCancelled(cancel)) throw TReceiveCancelled{};
    const size_t n = stream->ReadAt(offset, block.data(), block.size());
    if (n == 0) break;
    crc = UpdateCrcRegister(crc, block.data(), n);
    offset += static_cast<int64_t>(n);
  }
  if (crc != saved.CRC) return false;
  record.FileVer = saved.FileVer;
  record.FileSize = saved.FileSize;
  record.FileAge = saved.FileAge;
  record.FilePos = saved.FilePos;
  record.CRC = saved.CRC;
  return true;
}

void TRemoteFile::StartPartial(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream) {
  stream.reset();
  if (!ForceDirectoriesEx(record.Path)) RaiseLastWin32ErrorEx("Cannot create " + record.Path);
  record.FilePos = 0;
  record.CRC = kCrcRegisterStart;
  RemoveQuietly(record.TmpFile);  // a link is removed, never followed
  // Created new (O_EXCL, never through a link), readable by this user alone.
  stream = CurrentFileSystem().Open(record.TmpFile, OpenMode::CreateNew, kPrivateFileMode);
}

namespace {

// However a transfer ends before its partial file is complete, the record on disk counts the
// bytes that arrived, as far as it can be saved, and the partial file holds no more than the
// record vouches for; one that no record vouches for is not left behind.
class TSettlePartial {
 public:
  TSettlePartial(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream,
                 std::function<void()> save)
      : Record(record), Stream(stream), Save(std::move(save)) {
    Record.SavedAt = GetClock().Now();
  }
  ~TSettlePartial() {
    if (Done) return;
    try {
      if (Stream && Record.FilePos > Record.SavedPos) Save();
    } catch (...) {
      // A full disk, say: the record keeps its last saved position.
    }
    try {
      if (Record.SavedPos == 0) {
        Stream.reset();
        CurrentFileSystem().Remove(Record.TmpFile);
      } else if (Stream && Stream->Size() > Record.SavedPos) {
        Stream->Truncate(Record.SavedPos);
      }
    } catch (...) {
      // The resume re-checks the partial file against its record.
    }
  }
  TSettlePartial(const TSettlePartial&) = delete;
  TSettlePartial& operator=(const TSettlePartial&) = delete;

  bool Done = false;

 private:
  TDownloadRecord& Record;
  std::unique_ptr<PositionedFile>& Stream;
  std::function<void()> Save;
};

// Between a reply and the end of the data stream that follows it, the connection cannot
// carry another command: a failure in between closes it (the next attempt connects anew).
struct TStreamInStep {
  TIcConnection& Connection;
  bool InStep = false;
  ~TStreamInStep() {
    if (InStep) return;
    try {
      if (Connection.Handler()) Connection.Handler()->Close();
    } catch (...) {
    }
  }
};

constexpr uint16_t kOneTripReplyTypes[] = {kVarBoolean, kVarString, kVarInteger, kVarInteger,
                                           kVarInteger};

}  // namespace

std::optional<bool> TRemoteFile::DownloadInOneTrip(TDownloadRecord& record,
                                                   const TCancelFlag* cancel) {
  if (Connection == nullptr) throw Exception(std::string(kNotConnectedText));
  std::unique_ptr<PositionedFile> stream;
  bool resumable = false;
  try {
    resumable = PathExists(record.TmpFile) && TryResume(record, stream, cancel, false);
  } catch (const TReceiveCancelled&) {
    return true;
  }
  if (IsCancelled(cancel)) return true;
  std::optional<TSettlePartial> settle;
  {
    TTransferSlot slot(cancel);
    if (!slot.Acquired()) return true;
    TExecuteScope scope(*Connection);
    // Without a partial file to continue, the position, size and age are all 0.
    TVariantArray args{TVariant::Wide(record.Name), TVariant(record.Area),
                       TVariant(record.FilePos),    TVariant(record.FileSize),
                       TVariant(record.FileAge),    TVariant(record.Lang)};
    // A pass on a signed release names it, so that a server of another one says so.
    if (const auto guard = GetReleaseGuard(); guard && guard->HasManifest())
      args.push_back(TVariant(ReleaseArgText(guard->Manifest().Counter)));
    TVerbatimStrings verbatim;
    Connection->SendCommandData(OneTripCommand(), args);
    TVariantArray reply;
    try {
      reply = Connection->WaitResult(false);
    } catch (const EResultError& e) {
      if (e.ErrorCode == kErrUnknownCommand) return std::nullopt;
      if (e.ErrorCode == kErrOtherRelease) throw EOtherRelease(e.Message);
      throw;
    }
    TStreamInStep step{*Connection};
    CheckResultTypes(reply, kOneTripReplyTypes);
    if (!reply[0].AsBoolean()) {
      step.InStep = true;
      return false;
    }
    const TRemoteFileInfo info{reply[1].AsString(), reply[2].AsInteger(), reply[3].AsInteger()};
    const int32_t start = reply[4].AsInteger();
    const bool resumed = resumable && start > 0;
    if (start != 0 && !(resumed && start == record.FilePos && info.Size == record.FileSize &&
                        info.Age == record.FileAge))
      throw Exception(Format(kUnexpectedStartText, {record.Name, start, record.FilePos}));
    AcceptInfo(record, info);
    if (resumable && !resumed) {
      // The server's file is not the one the partial file began: it starts over.
      stream.reset();
      Info.Erase(record.Name);
    }
    if (!resumed) StartPartial(record, stream);
    record.SavedPos = record.FilePos;
    settle.emplace(record, stream, [this, &record] { SaveRecord(record); });
    if (record.FileSize > record.FilePos) ReceiveStream(record, *stream, cancel);
    step.InStep = true;  // read to its end, or closed when cancelled
  }
  return FinishTransfer(record, stream, settle->Done, cancel);
}

bool TRemoteFile::DownloadRecord(TDownloadRecord& record, const TCancelFlag* cancel) {
  std::unique_ptr<PositionedFile> stream;
  try {
    const bool resumed = PathExists(record.TmpFile) && TryResume(record, stream, cancel, true);
    if (!resumed) StartPartial(record, stream);
  } catch (const TReceiveCancelled&) {
    return true;
  }
  record.SavedPos = record.FilePos;
  TSettlePartial settle(record, stream, [this, &record] { SaveRecord(record); });
  const int32_t remaining = record.FileSize - record.FilePos;
  if (remaining > 0) {
    if (IsCancelled(cancel)) return true;
    TTransferSlot slot(cancel);
    if (!slot.Acquired()) return true;
    TExecuteScope scope(*Connection);
    const TVariantArray args{TVariant::Wide(record.Name), TVariant(record.Area),
                             TVariant(record.FilePos), TVariant(remaining), TVariant(record.Lang)};
    TVerbatimStrings verbatim;
    Connection->SendCommandData(FetchCommand(), args);
    Connection->WaitResultDiscard(false);
    ReceiveStream(record, *stream, cancel);
  }
  return FinishTransfer(record, stream, settle.Done, cancel);
}

void TRemoteFile::ReceiveStream(TDownloadRecord& record, PositionedFile& stream,
                                const TCancelFlag* cancel) {
  if (!IsCancelled(cancel)) {
    const int32_t bytes = record.FileSize - record.FilePos;
    const TFetchDeadline deadline(HandlerOf(Connection), bytes);
    try {
      ReceiveData(stream, record, cancel);
    } catch (const EConnectIOError&) {
      if (!deadline.Passed()) throw;
      throw Exception(Format(kFetchTooSlowText,
                             {static_cast<int64_t>(deadline.Limit().count()), bytes, record.Name}));
    }
  }
  // A cancelled transfer leaves unread data on the connection; it cannot carry another
  // command, so it is closed (the next attempt connects anew).
  if (IsCancelled(cancel) && Connection->Handler()) Connection->Handler()->Close();
}

bool TRemoteFile::FinishTransfer(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream,
                                 bool& settled, const TCancelFlag* cancel) {
  if (IsCancelled(cancel)) return true;
  if (record.FilePos != record.FileSize)
    throw Exception(
        Format(kIncompleteTransferText, {record.FilePos, record.FileSize, record.Name}));
  // Complete: made durable before it is renamed into place.
  if (SyncsTheTemporary()) stream->Sync();
  stream->Close();
  stream.reset();
  settled = true;
  try {
    SetFetchedFileDate(record.TmpFile, static_cast<uint32_t>(record.FileAge));
    FinishFile(record);
  } catch (...) {
    // A complete partial file that is still there (a failed rename, a failing disk) is
    // finished by the next run, which needs its record.
    try {
      if (record.FilePos > record.SavedPos && PathExists(record.TmpFile)) SaveRecord(record);
    } catch (...) {
    }
    throw;
  }
  return true;
}

int32_t TRemoteFile::ReceiveData(PositionedFile& stream, TDownloadRecord& record,
                                 const TCancelFlag* cancel) {
  TIcIOHandler& handler = HandlerOf(Connection);
  if (OnStart) OnStart(record.LocalFile, record.FileSize, record.FilePos);
  const auto remaining = static_cast<uint32_t>(record.FileSize - record.FilePos);
  try {
    return static_cast<int32_t>(ReadPlainStream(
        [&](void* buffer, size_t count) {
          handler.ReadBuffer(buffer, static_cast<int32_t>(count));
        },
        remaining,
        [&](const void* data, size_t count) {
          if (IsCancelled(cancel)) throw TReceiveCancelled{};
          WriteBlock(stream, static_cast<const uint8_t*>(data), static_cast<int32_t>(count),
                     record);
        }));
  } catch (const TReceiveCancelled&) {
    return 0;
  }
}

void TRemoteFile::WriteBlock(PositionedFile& stream, const uint8_t* buffer, int32_t count,
                             TDownloadRecord& record) {
  // The bytes first; the position in memory moves once they are written, and a record saved
  // after that counts them. A complete file needs no record: it is put in place next.
  const uint32_t crc = UpdateCrcRegister(record.CRC, buffer, static_cast<size_t>(count));
  stream.WriteAllAt(record.FilePos, buffer, static_cast<size_t>(count));
  record.CRC = crc;
  record.FilePos += count;
  if (record.FilePos < record.FileSize &&
      (record.FilePos - record.SavedPos >= kRecordSaveBytes ||
       GetClock().Now() - record.SavedAt >= kRecordSaveInterval))
    SaveRecord(record);
  if (OnProgress) OnProgress(record.LocalFile, record.FileSize, record.FilePos, count);
}

void TRemoteFile::SaveRecord(TDownloadRecord& record) {
  Info.Write(record.Name, TResumeRecord{record.FileVer, record.FileAge, record.FileSize,
                                        record.FilePos, record.CRC, record.TmpFile});
  record.SavedPos = record.FilePos;
  record.SavedAt = GetClock().Now();
}

int32_t TRemoteCPSFile::ReceiveData(PositionedFile& stream, TDownloadRecord& record,
                                    const TCancelFlag* cancel) {
  TIcIOHandler& handler = HandlerOf(Connection);
  if (OnStart) OnStart(record.LocalFile, record.FileSize, record.FilePos);
  const int32_t remaining = record.FileSize - record.FilePos;
  uint8_t countBytes[4];
  handler.ReadBuffer(countBytes, sizeof countBytes);
  const uint32_t count = LoadLE32(countBytes);
  if (count > static_cast<uint32_t>(remaining))
    throw Exception(Format(kTransferTooLongText, {count, record.Name, remaining}));
  std::vector<uint8_t> buffer(kPackedReceivePiece);
  uint32_t done = 0;
  while (done < count) {
    if (IsCancelled(cancel)) break;
    const uint32_t piece = std::min<uint32_t>(count - done, kPackedReceivePiece);
    handler.ReadBuffer(buffer.data(), static_cast<int32_t>(piece));
    WriteBlock(stream, buffer.data(), static_cast<int32_t>(piece), record);
    done += piece;
  }
  return static_cast<int32_t>(done);
}

void DiscardLeftoverDownload(const std::string& exeDir, std::string_view name,
                             const std::string& localFile) {
  const std::string folder = IncludeTrailingPathDelimiter(exeDir);
  const TRequestName checked = CheckRequestName(name);
  const std::string partial = localFile + std::string(kTmpSuffix);
  const std::string unpacked = partial + std::string(kTmpSuffix);
  TDownloadInfoFile info(folder + std::string(kDownloadInfoFileName));
  std::lock_guard guard(RecordsLock());
  if (PathExists(info.FileName()) && info.Read(checked.Wire)) info.Erase(checked.Wire);
  if (PathExists(partial)) RemoveQuietly(partial);
  if (PathExists(unpacked)) RemoveQuietly(unpacked);
}

}  // namespace zor
