// What the update worker and the start window need of the server's file service: the shared
// download client (created on first use from the stored connection settings, dropped when
// the settings change), the file-list and single-file requests, single downloads, the
// download phase over a list, and the two process-wide progress counters.
//
// The process uses one source (`SetUpdateSource`); the launcher installs the one built on the
// download client, tests install their own.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "startup/updating/file_list.h"

namespace zor {

// What became of one of several single downloads: whether the server had the file, or the
// error that ended its fetch.
struct TFetchOutcome {
  bool Found = false;
  std::exception_ptr Error;
};

// Runs `fetch` (true when the server had the file) and keeps what became of it.
template <class Fetch>
TFetchOutcome FetchOutcomeOf(Fetch&& fetch) {
  TFetchOutcome outcome;
  try {
    outcome.Found = fetch();
  } catch (...) {
    outcome.Error = std::current_exception();
  }
  return outcome;
}

class TUpdateSource {
 public:
  virtual ~TUpdateSource() = default;

  // Makes sure the shared download client exists, connecting it when it does not.
  virtual void EnsureClient() = 0;
  // Drops the shared client and its connection; the next use connects again.
  virtual void ResetClient() = 0;

  // The file list (first result) and the second result of the list request.
  virtual bool GetServerFileList(std::string& fileList, std::string& second) = 0;
  // One file's version, size and MS-DOS date/time; false when the server does not know it.
  virtual bool GetRemoteFileInfo(const std::string& name, const std::string& area,
                                 TFileObject& info) = 0;
  // Fetches one file into `baseDir` (empty: the area's folder), removing the local copy
  // first when `deleteFirst`. False when the server does not have it.
  virtual bool DownloadOne(const std::string& name, const std::string& area, bool deleteFirst,
                           const std::string& baseDir) = 0;
  // Fetches each of `names` as `DownloadOne` does without deleting first, all of them even
  // when one fails; the outcomes in the order of `names`, fetched one after the other.
  virtual std::vector<TFetchOutcome> DownloadEach(const std::vector<std::string>& names,
                                                  const std::string& area,
                                                  const std::string& baseDir);
  // The download phase: fetches every file of the list, crediting `DownloadedBytes`.
  virtual void DownloadList(const TFileList& list) = 0;

  // The progress counters: total bytes to fetch and bytes credited so far.
  virtual int64_t DownloadTotal() = 0;
  virtual int64_t DownloadedBytes() = 0;
  // The file being fetched now, for the progress window ("" when none is known).
  virtual std::string CurrentFileName() { return {}; }
  // Sets the total and the credited bytes to 0, before a download phase.
  virtual void StartCounters(int64_t total) = 0;
};

void SetUpdateSource(std::shared_ptr<TUpdateSource> source);
// The source in force; raises `Exception` "No update source is installed!" without one.
std::shared_ptr<TUpdateSource> GetUpdateSource();

}  // namespace zor
