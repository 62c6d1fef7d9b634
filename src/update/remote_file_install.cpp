// The install half of a remote file: a complete download checked against the release,
// given its permissions and renamed durably into place; the packed form unpacked beside its
// target first.
#include "update/remote_file.h"

#include <memory>
#include <optional>

#include "base/format.h"
#include "platform/directories.h"
#include "platform/last_error.h"
#include "update/cps_file.h"
#include "update/release_guard.h"

namespace zor {

namespace {

// Runs `check` against the installed release guard, when there is one. A refused file is
// dropped with its resume record (and `alsoRemove`): resuming it would bring the same bytes.
void CheckRelease(TDownloadRecord& record, TDownloadInfoFile& info, const std::string& alsoRemove,
                  const std::function<void(const TReleaseGuard&)>& check) {
  const std::shared_ptr<const TReleaseGuard> guard = GetReleaseGuard();
  if (!guard) return;
  try {
    check(*guard);
  } catch (const EReleaseRefused&) {
    if (!alsoRemove.empty()) RemoveQuietly(alsoRemove);
    RemoveQuietly(record.TmpFile);
    info.Erase(record.Name);
    throw;
  }
}

}  // namespace

void TRemoteFile::ReplaceFile(const std::string& source, const std::string& target) {
  try {
    CurrentFileSystem().RenameDurably(source, target);
  } catch (const EFileSystemError& e) {
    throw EFileSystemError(SystemErrorMessage(e.ErrorCode), e.ErrorCode, target);
  }
}

void TRemoteFile::FinishFile(TDownloadRecord& record) {
  if (FileExists(record.TmpFile)) {
    CheckRelease(record, Info, {}, [&](const TReleaseGuard& guard) {
      guard.CheckFile(record.Name, record.Area, record.TmpFile);
    });
    SetNormalFileMode(record.TmpFile);
    ReplaceFile(record.TmpFile, record.LocalFile);
    Info.Erase(record.Name);
  }
  if (OnFileFinished) OnFileFinished(record.LocalFile);
}

void TRemoteCPSFile::FinishFile(TDownloadRecord& record) {
  const std::string unpacked = record.TmpFile + std::string(kTmpSuffix);
  bool existed = false;
  try {
    if (FileExists(record.TmpFile)) {
      CheckRelease(record, Info, {}, [&](const TReleaseGuard& guard) {
        guard.CheckPackedFile(record.Name, record.Area, record.TmpFile);
      });
    }
    // Synced, then renamed durably into place below: one folder sync for both renames.
    existed = TZORCPSFile::Unpack(record.TmpFile, unpacked, /*syncFolder=*/false);
  } catch (const ECpsFormatError&) {
    // The packed bytes themselves are bad: resuming them would fail the same way forever.
    RemoveQuietly(record.TmpFile);
    Info.Erase(record.Name);
    throw;
  } catch (...) {
    // The disk failed (a sync of the folder may fail with the unpacked file in place): the
    // complete packed file and its record stay for the next run, which unpacks again.
    RemoveQuietly(unpacked);
    throw;
  }
  if (existed) {
    CheckRelease(record, Info, unpacked, [&](const TReleaseGuard& guard) {
      guard.CheckFile(record.Name, record.Area, unpacked);
    });
    SetNormalFileMode(unpacked);
  }
  try {
    ReplaceFile(unpacked, record.LocalFile);
  } catch (...) {
    RemoveQuietly(unpacked);  // the complete packed file and its record stay for the next run
    throw;
  }
  RemoveQuietly(record.TmpFile);
  Info.Erase(record.Name);
  if (OnFileFinished) OnFileFinished(record.LocalFile);
}

}  // namespace zor
