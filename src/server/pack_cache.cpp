#include "server/pack_cache.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "platform/file_system.h"
#include "platform/private_folder.h"
#include "server/content_hash.h"
#include "server/packed_file_writer.h"
#include "update/cps_format.h"

namespace zor {

namespace {

constexpr auto kWaitTick = std::chrono::seconds(1);

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

std::string ReadSmallFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

std::string HexOf(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

TPackCache::TPackCache(std::filesystem::path folder, int level)
    : Dir(std::move(folder)), Level(level) {
  EnsurePrivateFolder(Dir.string(), TFolderPrivacy::OthersMayRead);
  std::random_device random;
  Instance = HexOf((static_cast<uint64_t>(random()) << 32) ^ random());
  // Temporaries of runs that ended early; a younger one may be another server's pack.
  SweepTemporaries(std::filesystem::file_time_type::clock::now() - kStaleTempAge);
}

TPackCache::~TPackCache() {
  SweepTemporaries(std::nullopt);
}

void TPackCache::SweepTemporaries(std::optional<std::filesystem::file_time_type> staleBefore) {
  const std::string mine = "." + Instance + "-";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(Dir, error)) {
    if (entry.path().extension() != ".tmp") continue;
    std::error_code entryError;
    // A link is never followed; its own time counts, and removing it removes only the link.
    const bool own = entry.path().filename().string().find(mine) != std::string::npos;
    const auto written = std::filesystem::symlink_status(entry.path(), entryError).type() ==
                                 std::filesystem::file_type::symlink
                             ? std::filesystem::file_time_type::min()
                             : entry.last_write_time(entryError);
    if (entryError) continue;
    if (own || (staleBefore && written < *staleBefore))
      std::filesystem::remove(entry.path(), entryError);
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
  hash = Fnv1a(hash, source.Name);
  hash = Fnv1a(hash, "\n" + std::to_string(source.Size) + "\n" + std::to_string(source.ModifiedNs) +
                         "\n" + std::to_string(source.DosTime));
  return hash;
}

bool TPackCache::Reuse(const TPackSource& source, uint64_t key, const std::filesystem::path& path,
                       TPackedFile& packed) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  uint8_t header[kPackedHeaderSize];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  const bool valid =
      LoadLE16(header + kPackedMarkerOffset) == kPackedMarker &&
      LoadLE16(header + kPackedFormatOffset) == kPackedFormat &&
      LoadLE32(header + kPackedTotalSizeOffset) == size &&
      LoadLE64(header + kPackedKeyOffset) == key &&
      static_cast<int64_t>(LoadLE64(header + kPackedModifiedOffset)) == source.ModifiedNs &&
      LoadLE32(header + kPackedDosTimeOffset) == source.DosTime &&
      static_cast<int64_t>(LoadLE32(header + kPackedSizeOffset)) == source.Size;
  if (!valid) return false;
  // The header says what a file claims to be; the contents must agree with the record
  // written when this cache packed it.
  in.close();
  std::filesystem::path record = path;
  record.replace_extension(".sum");
  const std::string expected = SideRecord(Sha256OfFile(path), Sha256OfFile(source.Path));
  if (ReadSmallFile(record) != expected) {
    ++RejectCount;
    return false;
  }
  packed.Path = path;
  packed.Size = static_cast<int64_t>(size);
  return true;
}

TPackedFile TPackCache::Pack(const TPackSource& source, uint64_t key,
                             const std::function<void()>& tick) {
  const std::filesystem::path path = Dir / (HexOf(key) + ".cps");
  TPackedFile packed;
  if (Reuse(source, key, path, packed)) return packed;
  // Packed under a temporary name and renamed, so a reader never sees half a file.
  const std::filesystem::path temp = TempName(key);
  TPackRequest request;
  request.Source = source.Path;
  request.SourceRoot = source.Root;
  request.Target = temp;
  request.DosTime = source.DosTime;
  request.ExpectedSize = source.Size;
  request.Key = key;
  request.ModifiedNs = source.ModifiedNs;
  request.Level = Level;
  request.Tick = tick;
  const TPackedFileInfo info = PackFile(request);
  ++PackCount;
  std::filesystem::path record = path;
  record.replace_extension(".sum");
  try {
    StoreFile(record, SideRecord(Sha256OfFile(temp), info.SourceSha256));
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    throw;
  }
  try {
    CurrentFileSystem().RenameDurably(temp.string(), path.string());
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
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
