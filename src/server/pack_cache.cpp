#include "server/pack_cache.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/private_folder.h"
#include "server/content_hash.h"
#include "server/packed_file_writer.h"
#include "update/cps_format.h"

namespace zor {

namespace {

constexpr auto kWaitTick = std::chrono::seconds(1);
constexpr size_t kSideRecordLimit = 4096;

uint64_t Fnv1a(uint64_t hash, std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

constexpr std::string_view kPackedLine = "sha256-packed ";
constexpr std::string_view kSourceLine = "sha256-source ";

std::string SideRecord(const std::string& packedHash, const std::string& sourceHash) {
  return std::string(kPackedLine) + packedHash + "\n" + std::string(kSourceLine) + sourceHash +
         "\n";
}

std::string HexOf(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// The source time a packed file's header carries for the cache's check: none for a file
// keyed on its content, which must come out the same whatever the copy's times.
int64_t HeaderTimeOf(const TPackSource& source) {
  return source.Sha256.empty() ? source.ModifiedNs : 0;
}

std::string RecordPathOf(const std::filesystem::path& packed) {
  std::filesystem::path record = packed;
  record.replace_extension(".sum");
  return record.string();
}

}  // namespace

TPackCache::TPackCache(std::filesystem::path folder, int level)
    : Dir(std::move(folder)), Level(level) {
  EnsurePrivateFolder(Dir.string(), TFolderPrivacy::OthersMayRead);
  std::random_device random;
  Instance = HexOf((static_cast<uint64_t>(random()) << 32) ^ random());
  // Temporaries of runs that ended early; a younger one may be another server's pack.
  const int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(GetClock().UtcNow().time_since_epoch())
          .count();
  SweepTemporaries(now -
                   std::chrono::duration_cast<std::chrono::nanoseconds>(kStaleTempAge).count());
}

TPackCache::~TPackCache() {
  SweepTemporaries(std::nullopt);
}

void TPackCache::SweepTemporaries(std::optional<int64_t> staleBeforeNs) {
  FileSystem& files = CurrentFileSystem();
  const std::string mine = "." + Instance + "-";
  std::vector<std::string> names;
  try {
    names = files.List(Dir.string());
  } catch (const EFileSystemError&) {
    return;
  }
  for (const std::string& name : names) {
    if (!name.ends_with(".tmp")) continue;
    const std::string path = (Dir / name).string();
    const bool own = name.find(mine) != std::string::npos;
    bool stale = false;
    if (!own && staleBeforeNs) {
      // A link is never followed: it is stale whatever it points to, and removing it removes
      // only the link.
      std::optional<FileStatus> status;
      try {
        status = files.Stat(path, FollowLinks::No);
      } catch (const EFileSystemError&) {
        continue;
      }
      if (!status) continue;
      stale = status->Kind == FileKind::Link || status->ModifiedNs < *staleBeforeNs;
    }
    if (own || stale) files.RemoveIfPresent(path);
  }
}

std::filesystem::path TPackCache::TempName(uint64_t key) {
  return Dir / (HexOf(key) + "." + Instance + "-" + std::to_string(++TempCounter) + ".tmp");
}

void TPackCache::StoreFile(const std::filesystem::path& path, const std::string& text) {
  // A private replacement through a new temporary ("<name>.~<hex>.tmp", removed on failure
  // and by the start-up sweep of ".tmp" names), synced and renamed into place.
  try {
    CurrentFileSystem().WriteFileAtomic(path.string(), text, {.Permissions = kPrivateFileMode});
  } catch (const std::exception& e) {
    throw Exception("Cannot store " + path.string() + ": " + e.what());
  }
}

uint64_t TPackCache::KeyOf(const TPackSource& source) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  if (!source.Sha256.empty()) {
    // The content and the date the client gets, nothing of the copy it was read from.
    hash = Fnv1a(hash, "sha256 " + source.Sha256 + "\n" + std::to_string(source.Size) + "\n" +
                           std::to_string(source.DosTime));
    return hash;
  }
  hash = Fnv1a(hash, source.Name);
  hash = Fnv1a(hash, "\n" + std::to_string(source.Size) + "\n" + std::to_string(source.ModifiedNs) +
                         "\n" + std::to_string(source.DosTime));
  return hash;
}

bool TPackCache::Reuse(const TPackSource& source, uint64_t key, const std::filesystem::path& path,
                       TPackedFile& packed) {
  FileSystem& files = CurrentFileSystem();
  int64_t size = 0;
  uint8_t header[kPackedHeaderSize];
  try {
    // Never through a link someone may have put at the name.
    const std::unique_ptr<PositionedFile> file =
        files.Open(path.string(), OpenMode::ReadOnly, OpenOptions{.NoFollow = true});
    size = file->Size();
    if (size < static_cast<int64_t>(sizeof header)) return false;
    file->ReadExactAt(0, header, sizeof header);
  } catch (const EFileSystemError&) {
    return false;
  }
  const bool valid =
      LoadLE16(header + kPackedMarkerOffset) == kPackedMarker &&
      LoadLE16(header + kPackedFormatOffset) == kPackedFormat &&
      LoadLE32(header + kPackedTotalSizeOffset) == static_cast<uint64_t>(size) &&
      LoadLE64(header + kPackedKeyOffset) == key &&
      static_cast<int64_t>(LoadLE64(header + kPackedModifiedOffset)) == HeaderTimeOf(source) &&
      LoadLE32(header + kPackedDosTimeOffset) == source.DosTime &&
      static_cast<int64_t>(LoadLE32(header + kPackedSizeOffset)) == source.Size;
  if (!valid) return false;
  // The header says what a file claims to be; the contents must agree with the record
  // written when this cache packed it. A source keyed on its content was hashed by the
  // scan that vouched for it.
  std::optional<std::string> record;
  std::string expected;
  try {
    record = files.ReadFile(RecordPathOf(path), kSideRecordLimit);
    expected = SideRecord(Sha256OfFile(path),
                          source.Sha256.empty() ? Sha256OfFile(source.Path) : source.Sha256);
  } catch (const std::exception&) {
    record.reset();
  }
  if (!record || *record != expected) {
    ++RejectCount;
    return false;
  }
  packed.Path = path;
  packed.Size = size;
  return true;
}

TPackedFile TPackCache::Pack(const TPackSource& source, uint64_t key,
                             const std::function<void()>& tick) {
  const std::filesystem::path path = Dir / (HexOf(key) + ".cps");
  TPackedFile packed;
  if (Reuse(source, key, path, packed)) return packed;
  FileSystem& files = CurrentFileSystem();
  // Packed under a temporary name and renamed, so a reader never sees half a file.
  const std::filesystem::path temp = TempName(key);
  TPackRequest request;
  request.Source = source.Path;
  request.SourceRoot = source.Root;
  request.Target = temp;
  request.DosTime = source.DosTime;
  request.ExpectedSize = source.Size;
  request.Key = key;
  request.ModifiedNs = HeaderTimeOf(source);
  request.Level = Level;
  request.Tick = tick;
  const TPackedFileInfo info = PackFile(request);
  ++PackCount;
  if (!source.Sha256.empty() && info.SourceSha256 != source.Sha256) {
    files.RemoveIfPresent(temp.string());
    throw ESourceChanged("The content of " + source.Name +
                         " changed since the release was scanned");
  }
  try {
    StoreFile(RecordPathOf(path), SideRecord(Sha256OfFile(temp), info.SourceSha256));
  } catch (...) {
    files.RemoveIfPresent(temp.string());
    throw;
  }
  try {
    files.RenameDurably(temp.string(), path.string());
  } catch (const std::exception& e) {
    files.RemoveIfPresent(temp.string());
    throw Exception("Cannot store the packed file " + path.string() + ": " + e.what());
  }
  packed.Path = path;
  packed.Size = info.PackedSize;
  return packed;
}

TPackedFile TPackCache::Get(const TPackSource& source, const std::function<void()>& tick) {
  const uint64_t key = KeyOf(source);
  std::promise<TPackedFile> promise;
  std::shared_future<TPackedFile> future;
  bool packHere = false;
  {
    std::lock_guard guard(Lock);
    auto it = Entries.find(key);
    if (it == Entries.end()) {
      future = promise.get_future().share();
      Entries.emplace(key, future);
      packHere = true;
    } else {
      future = it->second;
    }
  }
  if (packHere) {
    try {
      promise.set_value(Pack(source, key, tick));
    } catch (...) {
      promise.set_exception(std::current_exception());
      // Forget the failure, so that the next request tries again.
      std::lock_guard guard(Lock);
      Entries.erase(key);
    }
    return future.get();
  }
  while (future.wait_for(kWaitTick) != std::future_status::ready)
    if (tick) tick();
  return future.get();
}

}  // namespace zor
