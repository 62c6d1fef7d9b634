// The launcher's memory of the SHA-256 of its files, so that a start with a signed release
// does not read every file again. For each file it keeps the hash together with the file's
// identity when it was hashed (platform/file_identity.h: device, inode, size, last-write and
// status-change times); the hash is used again only while all of them are unchanged.
//
// The cache is a file of ours in the launcher's folder, private (0600), replaced atomically
// but not synced: losing it only costs hashing again. It is outside input like any file on
// disk, so it is read with a size limit, and one that is damaged anywhere, foreign or too
// large is ignored as a whole. Its text:
//
//   zor-release-hashes 1
//   <sha256> <size> <modified ns> <changed ns> <device> <inode> <path>
//   ...
//
// one line per file, the path last (it may hold spaces, never a line break).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"

namespace zor {

inline constexpr std::string_view kReleaseHashesFileName = "ZORRelease.hashes";
inline constexpr std::string_view kReleaseHashesHeader = "zor-release-hashes 1";
// Limits of what a cache may hold: as many files as a manifest, paths as long as the system
// allows, and the bytes such lines take.
inline constexpr size_t kMaxHashCacheEntries = 200000;
inline constexpr size_t kMaxHashCachePath = 4096;
inline constexpr size_t kMaxHashCacheBytes = 64u << 20;

class TReleaseHashCache {
 public:
  // The cache in `text`; nullopt when it is not one of ours or any part of it is damaged.
  static std::optional<TReleaseHashCache> Parse(std::string_view text);
  // The cache in the file at `path`; empty when there is none or it cannot be used.
  static TReleaseHashCache Load(const std::string& path);

  std::string Serialize() const;
  // Replaces the file at `path` through the file layer (0600, atomic, not synced).
  void Save(const std::string& path) const;

  // The hash recorded for `path` when the file's identity is exactly `identity`.
  std::optional<std::string> Find(const std::string& path, const FileIdentity& identity) const;
  // Records `sha256` (64 lower-case hex digits) for `path` as it was with `identity`; a path
  // the format cannot hold, a malformed hash, or more files than the limit are not kept.
  void Put(const std::string& path, const FileIdentity& identity, const std::string& sha256);

  size_t Size() const { return Entries.size(); }
  // The paths of the files it holds: the release's files as the last pass found them.
  std::vector<std::string> Paths() const;
  bool operator==(const TReleaseHashCache&) const = default;

 private:
  struct TEntry {
    FileIdentity Identity;
    std::string Sha256;
    bool operator==(const TEntry&) const = default;
  };
  std::map<std::string, TEntry> Entries;
};

}  // namespace zor
