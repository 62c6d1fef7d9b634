// The packed form of every served file, built once per file version and kept on disk, so
// that a restarted server serves the very same packed bytes (a launcher's resume stays
// valid). Concurrent requests for one file version pack it once; the others wait.
//
// A file version is keyed on its content and date when the release's manifest vouches for
// its content (`TPackSource::Sha256`), so replicas whose copies differ only in file times
// pack the same bytes under the same name; otherwise on its name, size and times.
//
// The cache folder must be private to the server's user (see private_folder.h). Beside each
// packed file "<key>.cps" a side record "<key>.sum" holds the SHA-256 of the packed file and
// of the source it was packed from; a packed file left by an earlier run is served only after
// both still match in this process (the source's from the vouched content hash when there is
// one), else it is packed again. New files are created under
// names of their own that nothing may occupy (no link is followed), synced and renamed into
// place, all through the file layer (file_system.h).
//
// Servers may share one cache folder: each names its temporaries with an instance mark of
// its own ("<key>.<instance>-<n>.tmp"), so that none takes or removes another's, and at start
// each removes only temporaries too old to belong to a pack still running anywhere
// (kStaleTempAge), at its end only its own. Two servers that pack one file version at once
// both rename the same bytes into place.
//
// A write that fails (a full disk, a failing fsync or rename) fails the pack: `Get` raises,
// no packed file or side record of it stays, and the file service answers the request with
// an error reply. A file is never served from a packed file that was not written whole, and
// it is not packed on the fly into memory either: that would hold whole files in memory per
// request on a server whose disk is already in trouble. The next request packs it again.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "base/exceptions.h"

namespace zor {

// One version of one source file: what the packed form is built from.
struct TPackSource {
  std::string Name;  // the file's name in the release, for the key and messages
  std::filesystem::path Path;
  // The release folder `Path` lies in: when set, the source is opened below it without
  // following links.
  std::filesystem::path Root;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;
  uint32_t DosTime = 0;
  // SHA-256 of the content (hexadecimal) when the release's manifest vouches for it: the
  // packed file is then keyed on the content and date alone, not on the file's times, so
  // every replica of a release packs the same bytes. Empty: keyed on name, size and times.
  std::string Sha256;
};

// The source's content is no longer the one its scan found (a release being copied over):
// the pack is refused rather than packing other bytes under the scanned content's key.
class ESourceChanged : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ESourceChanged, Exception)
};

struct TPackedFile {
  std::filesystem::path Path;
  int64_t Size = 0;
};

// A temporary this old belongs to no running pack: the largest file is packed in minutes.
inline constexpr std::chrono::hours kStaleTempAge{6};

class TPackCache {
 public:
  // Packed files live in `folder` (created when missing; refused unless private, see above);
  // `level` is the zlib level.
  explicit TPackCache(std::filesystem::path folder, int level = -1);
  // Removes the temporaries this instance left (none unless a pack was cut short).
  ~TPackCache();
  TPackCache(const TPackCache&) = delete;
  TPackCache& operator=(const TPackCache&) = delete;

  // The packed form of `source`, packing it when no valid one exists yet. `tick` is called
  // about once a second (and after each piece of packing) while the caller packs or waits;
  // it may raise to give up waiting. A failed pack raises to every waiter and is tried
  // again by the next request.
  TPackedFile Get(const TPackSource& source, const std::function<void()>& tick = {});

  // How many packs actually ran since construction (each file version once).
  int64_t PacksDone() const { return PackCount.load(); }
  // Packed files of an earlier run that failed their check and were packed again.
  int64_t Rejected() const { return RejectCount.load(); }
  const std::filesystem::path& Folder() const { return Dir; }
  static uint64_t KeyOf(const TPackSource& source);
  // The mark in this instance's temporary names (16 hex digits from the system's random source).
  const std::string& InstanceMark() const { return Instance; }

 private:
  // A packed file left by an earlier run, when its header matches `source` and its side
  // record matches both files' contents.
  bool Reuse(const TPackSource& source, uint64_t key, const std::filesystem::path& path,
             TPackedFile& packed);
  // Writes `text` to `path` through a new file of its own.
  void StoreFile(const std::filesystem::path& path, const std::string& text);
  std::filesystem::path TempName(uint64_t key);
  TPackedFile Pack(const TPackSource& source, uint64_t key, const std::function<void()>& tick);

  // Removes temporaries of this instance, and when `staleBeforeNs` (UTC nanoseconds) is set
  // every temporary last written before it, and every link with a temporary's name.
  void SweepTemporaries(std::optional<int64_t> staleBeforeNs);

  std::filesystem::path Dir;
  int Level;
  std::string Instance;
  std::mutex Lock;
  std::map<uint64_t, std::shared_future<TPackedFile>> Entries;
  std::atomic<int64_t> PackCount{0};
  std::atomic<int64_t> RejectCount{0};
  std::atomic<uint64_t> TempCounter{0};
};

}  // namespace zor
