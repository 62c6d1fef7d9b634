// Moving one named file from the application server into the client's folders over an
// established connection, resumable: the data goes into "<target>_tmp", a record in
// "DownLoadInfo.dat" says how far it got (with a CRC-32 of the bytes so far), and the target
// is replaced only when the transfer is complete. `TRemoteFile` fetches the plain form
// (blocks of zlib streams, command 0xA20A); `TRemoteCPSFile`, which the launcher uses, fetches
// the packed form (command 0xA20E) and unpacks it beside the target before putting it in place.
//
// A file costs one round trip: one request asks for the file's information and its data from
// the position a verified partial file reached, and the server starts from 0 when that
// partial belongs to another size or date (0xA215 plain, 0xA216 packed). A server that does
// not know that command is asked the older way, information first and then the data.
//
// The record is saved when about 1 MiB arrived or a second passed since its last save, and
// when a transfer stops early: it may lag behind its partial file, never run ahead of it (the
// data is written before the record that counts it). A file that completes before its first
// save never writes a record.
//
// Every byte goes through the file layer (platform/file_system.h). The partial file is never
// opened through a link and is made new (0600) when a transfer starts over; it is synced
// before it is renamed into place, and the rename is durable. It is continued only when its
// record names it, it belongs to this user and nobody else may write it, and the record's
// CRC matches its bytes (the record is not synced: after a power cut the CRC finds bytes the
// file lost); it is otherwise discarded and fetched anew.
//
// Names come from the server: one that is absolute, has a drive letter or a ".." part is
// refused, so nothing is ever written outside the base folder.
//
// The other direction, an upload, sends a local file in the plain form after the server
// has taken the request (command 0xA214 with the name, area and a note); the server keeps
// it only when it arrived complete. The file is held against writers while it is read, and
// one that ends early or changes meanwhile fails the upload before its last bytes go out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "intercom/ic_connection.h"
#include "platform/file_system.h"
#include "update/download_records.h"
#include "update/file_mode_policy.h"
#include "update/file_service_commands.h"
#include "update/transfer_slots.h"

namespace zor {

class TDeltaFetch;

inline constexpr std::string_view kDownloadErrorText = "下载档案时发生错误 %s";
inline constexpr std::string_view kIncompleteTransferText =
    "The server sent %d of the %d bytes of %s; the transfer resumes from there next time.";
inline constexpr std::string_view kTransferTooLongText =
    "The server announced %u bytes of %s where %d were asked for.";
inline constexpr std::string_view kInvalidFileSizeText =
    "The server reported an invalid size %d for %s.";

inline constexpr std::string_view kUploadErrorText = "上传档案时发生错误:%s";
inline constexpr std::string_view kUploadTooLargeForStreamText =
    "%s has %d bytes; one upload carries at most %d.";
inline constexpr std::string_view kUploadEndedEarlyText =
    "The file ended after %d of the %d bytes announced to the server.";
inline constexpr std::string_view kUploadChangedText =
    "The file was changed while it was being uploaded.";
inline constexpr std::string_view kUploadAnsweredEarlyText =
    "The server answered before it had the whole file.";
// The plain form counts a file's bytes in 32 bits; sizes are signed on both sides.
inline constexpr int64_t kMaxUploadBytes = 0x7FFFFFFF;

inline constexpr std::string_view kTmpSuffix = "_tmp";
inline constexpr size_t kCrcBlock = 16384;
inline constexpr size_t kPackedReceivePiece = 16384;
// The resume record is saved once this many bytes or this much time went by since its last
// save (and when the transfer stops early).
inline constexpr int32_t kRecordSaveBytes = 1 << 20;
inline constexpr std::chrono::seconds kRecordSaveInterval{1};
inline constexpr std::string_view kUnexpectedStartText =
    "The server sent %s from position %d where %d was asked for.";

using TFileNameEvent = std::function<void(const std::string& fileName)>;
using TFileStartEvent =
    std::function<void(const std::string& fileName, int32_t fileSize, int32_t filePos)>;
using TFileProgressEvent = std::function<void(const std::string& fileName, int32_t fileSize,
                                              int32_t filePos, int32_t count)>;

// The four callbacks of a remote file, as the download client hands them on.
struct TRemoteFileEvents {
  TFileNameEvent OnBeforeDownload;
  TFileNameEvent OnFileFinished;
  TFileStartEvent OnStart;
  TFileProgressEvent OnProgress;
};

// One download in progress.
struct TDownloadRecord {
  std::string Name;  // server-relative, parts joined by '\'; the record's section name
  std::string Path;  // folder of LocalFile, with a trailing '/'
  std::string Area;
  std::string Lang;
  std::string LocalFile;  // BaseDir + Name (with '/')
  std::string TmpFile;    // LocalFile + "_tmp"
  int32_t FileAge = 0;
  std::string FileVer;
  int32_t FileSize = 0;
  int32_t FilePos = 0;
  uint32_t CRC = 0;
  // The position the record on disk vouches for (0: none saved), and when it was saved.
  int32_t SavedPos = 0;
  std::chrono::steady_clock::time_point SavedAt{};
};

struct TRemoteFileInfo {
  std::string Version;
  int32_t Size = 0;
  int32_t Age = 0;
};

class TRemoteFile {
 public:
  // `exeDir` holds "DownLoadInfo.dat"; empty means the running program's folder.
  explicit TRemoteFile(TIcConnection* connection, std::string exeDir = {});
  virtual ~TRemoteFile() = default;
  TRemoteFile(const TRemoteFile&) = delete;
  TRemoteFile& operator=(const TRemoteFile&) = delete;

  // Fetches `name` of `area` into `baseDir` (a trailing '/' is added when missing). False
  // when the server does not know the file; true otherwise, also when cancelled through
  // `cancel` (null allowed; non-zero means cancel). `localFile` receives the target path.
  // Failures raise `Exception` "下载档案时发生错误 <message>"; a silent abort passes as it is,
  // and a full disk raises `EDiskFull` (disk_full.h) with the partial file and its record kept.
  bool Download(std::string_view name, std::string_view area, const TCancelFlag* cancel,
                std::string* localFile, std::string_view lang, std::string_view baseDir);

  // The server's version, size and age of the file, or false when it does not know it.
  virtual bool GetFileInfo(std::string_view name, std::string_view area, std::string_view lang,
                           TRemoteFileInfo& info);
  virtual uint32_t InfoCommand() const { return cmdPlainFileInfo; }
  virtual uint32_t FetchCommand() const { return cmdPlainFileData; }
  virtual uint32_t OneTripCommand() const { return cmdPlainFileFetch; }

  // Uploads `localFile` with command 0xA214 and the arguments [name, area, note]: the name
  // below the server's upload folder, the area whose folder it goes into, and a note the
  // server records with it.
  bool UploadFile(const std::string& localFile, std::string_view name, std::string_view area,
                  std::string_view note);
  // Sends `localFile` as the data of `command` with `args`: the server answers the request,
  // receives the whole file and answers again. True when it accepted the data; any failure
  // raises `Exception` "上传档案时发生错误:<message>" (a silent abort passes as it is). Once
  // the file's data has begun, a failure closes the transport, which then carries an
  // unfinished stream; a refusal before that leaves the connection usable.
  bool Upload(const std::string& localFile, uint32_t command, const TVariantArray& args);

  void SetEvents(const TRemoteFileEvents& events);

  TFileNameEvent OnFileFinished;
  TFileProgressEvent OnProgress;
  TFileStartEvent OnStart;
  TFileNameEvent OnBeforeDownload;
  std::string ExeDir;
  TDownloadInfoFile Info;
  TIcConnection* Connection;
  // Cleared when the server answered the one-trip command as unknown: the files that follow
  // go the older way straight away.
  bool OneTripFetch = true;
  // When set, a file the folder holds an older copy of is first tried as a delta against
  // that copy (delta_fetch.h); not owned.
  TDeltaFetch* Delta = nullptr;

 protected:
  // Receives the data stream that follows the reply to the data request and writes it
  // through `WriteBlock`; returns the bytes the stream carried. Returns early when cancelled.
  virtual int32_t ReceiveData(PositionedFile& stream, TDownloadRecord& record,
                              const TCancelFlag* cancel);
  // Writes `count` bytes of `stream` from `position` to the connection in the plain form and
  // returns the bytes written to the connection. Raises when the file ends early or changes
  // while it is read, before the last piece is written, so the peer never gets a stream that
  // looks complete; raises `TPeerAnsweredEarly` when the peer answers (refuses) before the end.
  virtual int64_t SendData(PositionedFile& stream, int64_t position, int32_t count);
  // Writes the block at the record's position; saves the record that counts it when enough
  // bytes or time went by since its last save.
  void WriteBlock(PositionedFile& stream, const uint8_t* buffer, int32_t count,
                  TDownloadRecord& record);
  // Puts the complete temporary file in place and erases the record.
  virtual void FinishFile(TDownloadRecord& record);
  // Whether the complete temporary file is synced before `FinishFile`: it is when it takes
  // the file's name itself; a packed one is only read to write the file, which is synced.
  virtual bool SyncsTheTemporary() const { return true; }
  // Saves the record at its current position.
  void SaveRecord(TDownloadRecord& record);

  // The record for `name` below `baseDir`; raises for a name that would leave the folder.
  TDownloadRecord BuildRecord(std::string_view name, std::string_view area, std::string_view lang,
                              std::string_view baseDir) const;
  // Replaces `target` by `source` (a durable rename through the file layer); raises
  // `EFileSystemError` with the system's text.
  static void ReplaceFile(const std::string& source, const std::string& target);

 private:
  // The one-trip download of a record; nothing when the server does not know the command.
  std::optional<bool> DownloadInOneTrip(TDownloadRecord& record, const TCancelFlag* cancel);
  // The older way: the information is in `record`, the data is asked for apart.
  bool DownloadRecord(TDownloadRecord& record, const TCancelFlag* cancel);
  // Checks the server's information and takes it into `record`.
  void AcceptInfo(TDownloadRecord& record, const TRemoteFileInfo& info) const;
  // Opens the temporary file to resume from the record, or nothing when it must restart; a
  // record that cannot be resumed is erased. With `serverInfo` the record must match the
  // size and age in `record`; without, they are taken from the record for the server to check.
  bool TryResume(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream,
                 const TCancelFlag* cancel, bool serverInfo);
  bool ResumeFrom(const TResumeRecord& saved, TDownloadRecord& record,
                  std::unique_ptr<PositionedFile>& stream, const TCancelFlag* cancel,
                  bool serverInfo);
  // Makes the temporary file new and empty, for a transfer from the start.
  void StartPartial(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream);
  // Reads the data stream of the current reply, and closes the connection when cancelled.
  void ReceiveStream(TDownloadRecord& record, PositionedFile& stream, const TCancelFlag* cancel);
  // Syncs and finishes a transfer that got every byte; `settled` is set once the partial
  // file is complete and synced.
  bool FinishTransfer(TDownloadRecord& record, std::unique_ptr<PositionedFile>& stream,
                      bool& settled, const TCancelFlag* cancel);
};

class TRemoteCPSFile : public TRemoteFile {
 public:
  using TRemoteFile::TRemoteFile;
  uint32_t InfoCommand() const override { return cmdPackedFileInfo; }
  uint32_t FetchCommand() const override { return cmdPackedFileData; }
  uint32_t OneTripCommand() const override { return cmdPackedFileFetch; }

 protected:
  int32_t ReceiveData(PositionedFile& stream, TDownloadRecord& record,
                      const TCancelFlag* cancel) override;
  void FinishFile(TDownloadRecord& record) override;
  bool SyncsTheTemporary() const override { return false; }
};

// What `SendData` raises when an answer arrives while the stream is still being sent.
struct TPeerAnsweredEarly {};

// True when `cancel` is set.
inline bool IsCancelled(const TCancelFlag* cancel) {
  return cancel != nullptr && cancel->load() != 0;
}

// The client's default language tag: the abbreviation of the system default locale's language.
std::string DefaultLanguageTag();

// What the parts of a transfer (remote_file.cpp, remote_file_upload.cpp,
// remote_file_install.cpp) share: whether anything is at `path` (a dangling link included;
// something that cannot be looked at counts), a removal that passes over failures, and the
// connection's handler (raises when not connected).
bool PathExists(const std::string& path);
void RemoveQuietly(const std::string& path);
TIcIOHandler& HandlerOf(TIcConnection* connection);

// A file the update found current needs no download. A resume record and partial files left
// by a run that was stopped after the file was put in place, but before they were cleared,
// are removed here, so they do not stay for good. `exeDir` is the folder of the record file,
// `name` the file list's name of the file and `localFile` where it is installed.
void DiscardLeftoverDownload(const std::string& exeDir, std::string_view name,
                             const std::string& localFile);

}  // namespace zor
