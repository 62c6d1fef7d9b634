#include "update/release_hash_cache.h"

#include <charconv>

#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "update/release_manifest.h"

namespace zor {

namespace {

bool IsSha256Hex(std::string_view text) {
  if (text.size() != kSha256HexLength) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsStorablePath(std::string_view path) {
  return !path.empty() && path.size() <= kMaxHashCachePath &&
         path.find_first_of("\r\n") == std::string_view::npos;
}

// Takes the field up to the next space off the front of `line`.
std::string_view TakeField(std::string_view& line) {
  const size_t end = line.find(' ');
  if (end == std::string_view::npos) {
    const std::string_view field = line;
    line = {};
    return field;
  }
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end + 1);
  return field;
}

// The whole field as a number; no sign but the minus a signed type allows.
template <class Number>
bool ParseNumber(std::string_view field, Number& value) {
  if (field.empty() || field.front() == '+') return false;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  return error == std::errc() && end == field.data() + field.size();
}

}  // namespace

std::optional<TReleaseHashCache> TReleaseHashCache::Parse(std::string_view text) {
  if (text.size() > kMaxHashCacheBytes) return std::nullopt;
  const std::string header = std::string(kReleaseHashesHeader) + "\n";
  if (text.substr(0, header.size()) != header) return std::nullopt;
  text.remove_prefix(header.size());
  TReleaseHashCache cache;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // a cut-off last line
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (cache.Entries.size() >= kMaxHashCacheEntries) return std::nullopt;
    const std::string_view sha = TakeField(line);
    TEntry entry;
    if (!IsSha256Hex(sha) || !ParseNumber(TakeField(line), entry.Identity.Size) ||
        entry.Identity.Size < 0 || !ParseNumber(TakeField(line), entry.Identity.ModifiedNs) ||
        !ParseNumber(TakeField(line), entry.Identity.ChangedNs) ||
        !ParseNumber(TakeField(line), entry.Identity.Device) ||
        !ParseNumber(TakeField(line), entry.Identity.Inode) || !IsStorablePath(line)) {
      return std::nullopt;
    }
    entry.Sha256 = std::string(sha);
    if (!cache.Entries.emplace(std::string(line), std::move(entry)).second)
      return std::nullopt;  // the same path twice: not written by us
  }
  return cache;
}

TReleaseHashCache TReleaseHashCache::Load(const std::string& path) {
  try {
    // A cache another user could have written would let them vouch for a file of their own.
    const std::optional<std::string> text = ReadTrustedOwnFile(path, kMaxHashCacheBytes);
    if (!text) return {};
    return Parse(*text).value_or(TReleaseHashCache{});
  } catch (const std::exception&) {
    return {};  // unreadable or too large: everything is hashed again
  }
}

std::string TReleaseHashCache::Serialize() const {
  std::string text = std::string(kReleaseHashesHeader) + "\n";
  for (const auto& [path, entry] : Entries) {
    const FileIdentity& id = entry.Identity;
    text += entry.Sha256 + ' ' + std::to_string(id.Size) + ' ' + std::to_string(id.ModifiedNs) +
            ' ' + std::to_string(id.ChangedNs) + ' ' + std::to_string(id.Device) + ' ' +
            std::to_string(id.Inode) + ' ' + path + '\n';
  }
  return text;
}

void TReleaseHashCache::Save(const std::string& path) const {
  ReplaceOptions options;
  options.Permissions = kPrivateFileMode;
  options.Durable = false;
  CurrentFileSystem().WriteFileAtomic(path, Serialize(), options);
}

std::optional<std::string> TReleaseHashCache::Find(const std::string& path,
                                                   const FileIdentity& identity) const {
  const auto found = Entries.find(path);
  if (found == Entries.end() || found->second.Identity != identity) return std::nullopt;
  return found->second.Sha256;
}

void TReleaseHashCache::Put(const std::string& path, const FileIdentity& identity,
                            const std::string& sha256) {
  if (!IsStorablePath(path) || !IsSha256Hex(sha256) || identity.Size < 0) return;
  const auto found = Entries.find(path);
  if (found != Entries.end()) {
    found->second = TEntry{identity, sha256};
    return;
  }
  if (Entries.size() >= kMaxHashCacheEntries) return;
  Entries.emplace(path, TEntry{identity, sha256});
}

std::vector<std::string> TReleaseHashCache::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(Entries.size());
  for (const auto& [path, entry] : Entries) paths.push_back(path);
  return paths;
}

}  // namespace zor
