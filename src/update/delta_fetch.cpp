#include "update/delta_fetch.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/format.h"
#include "intercom/execute_scope.h"
#include "intercom/result_types.h"
#include "platform/file_system.h"
#include "transport/ic_errors.h"
#include "update/delta_wire.h"
#include "update/file_date.h"
#include "update/release_guard.h"
#include "update/sha256.h"

namespace zor {

namespace {

inline constexpr std::string_view kDeltaReplyInvalidText =
    "The server's answer to the delta request for %s is invalid.";
inline constexpr size_t kDrainPiece = 16384;

// Thrown through the delta stream reader when the transfer is cancelled.
struct TDeltaCancelled {};

// Until the delta stream was read to its end the connection cannot carry another command: on
// any other way out it is closed, and the next attempt connects anew.
struct TDeltaStreamInStep {
  TIcConnection& Connection;
  bool InStep = false;
  ~TDeltaStreamInStep() {
    if (InStep) return;
    try {
      if (Connection.Handler()) Connection.Handler()->Close();
    } catch (...) {
    }
  }
};

// The patched file beside the target, removed unless it was put in place.
struct TPatchedFile {
  std::string Path;
  std::unique_ptr<PositionedFile> Stream;
  bool Kept = false;
  ~TPatchedFile() { Discard(); }
  void Discard() noexcept {
    Stream.reset();
    if (Kept) return;
    try {
      CurrentFileSystem().Remove(Path);
    } catch (...) {
    }
    Kept = true;
  }
};

}  // namespace

std::optional<bool> TDeltaFetch::Fetch(TRemoteFile& file, const TDownloadRecord& record,
                                       const TCancelFlag* cancel) {
  if (!Enabled || Failed.count(record.Name) || file.Connection == nullptr) return std::nullopt;
  FileSystem& fs = CurrentFileSystem();
  const std::optional<FileStatus> status = fs.Stat(record.LocalFile, FollowLinks::No);
  if (!status || status->Kind != FileKind::Regular || status->Size < kDeltaMinFileBytes ||
      status->Size > kDeltaMaxFileBytes)
    return std::nullopt;
  // A partial whole-file download of this file is continued rather than thrown away.
  if (fs.Stat(record.TmpFile, FollowLinks::No) || file.Info.Read(record.Name)) return std::nullopt;

  std::unique_ptr<PositionedFile> old;
  std::vector<uint8_t> signature;
  int64_t oldSize = 0;
  try {
    old = fs.Open(record.LocalFile, OpenMode::ReadOnly);
    oldSize = old->Size();
    int64_t offset = 0;
    signature = MakeDeltaSignature(oldSize, [&](uint8_t* buffer, size_t size) {
      const size_t n = old->ReadAt(offset, buffer, size);
      offset += static_cast<int64_t>(n);
      return n;
    });
  } catch (const Exception&) {
    return std::nullopt;  // an old copy we cannot read is no basis for a delta
  }

  if (IsCancelled(cancel)) return true;
  TTransferSlot slot(cancel);
  if (!slot.Acquired()) return true;
  TExecuteScope scope(*file.Connection);
  TVariantArray reply;
  {
    TVerbatimStrings verbatim;  // the name reaches the server exactly as its list spells it
    file.Connection->SendCommandData(
        cmdDeltaFileFetch, {TVariant::Wide(record.Name), TVariant(record.Area),
                            TVariant(record.Lang), TVariant::Bytes(std::move(signature))});
    try {
      reply = file.Connection->WaitResult(false);
    } catch (const EResultError& e) {
      // An older server, or one that refused this request: the whole file, as before.
      if (e.ErrorCode == kErrUnknownCommand) Enabled = false;
      return std::nullopt;
    }
  }
  TDeltaStreamInStep step{*file.Connection};
  TPatchedFile patched{record.TmpFile + std::string(kTmpSuffix)};
  try {
    CheckResultTypes(reply, kDeltaReplyTypes);
    if (!reply[0].AsBoolean()) {
      step.InStep = true;
      patched.Kept = true;  // nothing was made
      return false;
    }
    const int32_t size = reply[2].AsInteger();
    const int32_t age = reply[3].AsInteger();
    const int32_t wireBytes = reply[4].AsInteger();
    const std::string sha256 = reply[5].AsString();
    const int32_t packedSize = reply[6].AsInteger();
    if (wireBytes == kNoDelta) {
      step.InStep = true;
      patched.Kept = true;
      return std::nullopt;
    }
    if (size < 0 || wireBytes < 0 || static_cast<size_t>(wireBytes) > kDeltaMaxWireBytes ||
        sha256.size() != kDeltaSha256Digits || packedSize < 0)
      throw Exception(Format(kDeltaReplyInvalidText, {record.Name}));
    const std::shared_ptr<const TReleaseGuard> guard = GetReleaseGuard();
    // The delta request names no release, so behind a balancer it may reach a server of
    // another release than this pass's. A delta that does not make the signed file is not
    // taken: the whole file follows, asked for by a request that names the release (which
    // such a server answers "other release", and the launcher asks elsewhere).
    if (guard && guard->HasManifest() &&
        !guard->MatchesDigest(TReleaseGuard::ReleaseName(record.Name, record.Area),
                              TFileDigest{size, sha256})) {
      TIcIOHandler* handler = file.Connection->Handler();
      if (handler == nullptr) throw Exception(std::string(kNotConnectedText));
      std::vector<uint8_t> drop(kDrainPiece);
      for (int64_t left = wireBytes; left > 0;) {
        const auto piece = static_cast<int32_t>(std::min<int64_t>(left, kDrainPiece));
        handler->ReadBuffer(drop.data(), piece);
        left -= piece;
      }
      step.InStep = true;
      patched.Kept = true;  // nothing was made
      return std::nullopt;
    }
    if (guard) guard->CheckAnnounced(record.Name, record.Area, size, false);

    // Made new, never through a link, readable by this user alone until it is in place.
    fs.Remove(patched.Path);
    patched.Stream = fs.Open(patched.Path, OpenMode::CreateNew, kPrivateFileMode);
    TIcIOHandler* handler = file.Connection->Handler();
    if (handler == nullptr) throw Exception(std::string(kNotConnectedText));
    TSha256 hash;
    int64_t written = 0;
    int64_t received = 0;
    std::string problem;
    try {
      ApplyDeltaStream(
          [&](uint8_t* buffer, size_t count) {
            if (IsCancelled(cancel)) throw TDeltaCancelled{};
            handler->ReadBuffer(buffer, static_cast<int32_t>(count));
            received += static_cast<int64_t>(count);
            return count;
          },
          wireBytes,
          [&](int64_t offset, uint8_t* buffer, size_t count) {
            return old->ReadAt(offset, buffer, count);
          },
          oldSize, size,
          [&](const uint8_t* data, size_t count) {
            patched.Stream->WriteAllAt(written, data, count);
            written += static_cast<int64_t>(count);
            hash.Update(data, count);
          });
      if (written != size || hash.FinishHex() != sha256)
        problem = "the patched file is not the server's";
    } catch (const EDeltaFormatError& e) {
      // The rest of the delta is read and dropped, so the whole file can follow on this
      // connection.
      std::vector<uint8_t> drop(kDrainPiece);
      for (int64_t left = wireBytes - received; left > 0;) {
        const auto piece = static_cast<int32_t>(std::min<int64_t>(left, kDrainPiece));
        handler->ReadBuffer(drop.data(), piece);
        left -= piece;
      }
      problem = e.what();
    }
    step.InStep = true;
    if (problem.empty()) {
      patched.Stream->Sync();
      patched.Stream->Close();
      patched.Stream.reset();
      SetFetchedFileDate(patched.Path, static_cast<uint32_t>(age));
      try {
        if (guard) guard->CheckFile(record.Name, record.Area, patched.Path);
      } catch (const EReleaseRefused& e) {
        problem = e.what();
      }
    }
    if (!problem.empty()) {
      patched.Discard();
      Failed.insert(record.Name);
      ++Refused;
      return std::nullopt;
    }
    SetNormalFileMode(patched.Path);
    fs.RenameDurably(patched.Path, record.LocalFile);
    patched.Kept = true;
    ++Delivered;
    // The list counts the packed size of every file it lists; a file that came as a delta
    // counts as fetched in full.
    if (file.OnProgress) file.OnProgress(record.LocalFile, packedSize, packedSize, packedSize);
    if (file.OnFileFinished) file.OnFileFinished(record.LocalFile);
    return true;
  } catch (const TDeltaCancelled&) {
    return true;
  } catch (...) {
    Failed.insert(record.Name);
    throw;
  }
}

}  // namespace zor
