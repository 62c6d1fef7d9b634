// The SHA-256 of local files for one update run, read through the hash cache of the run
// before (update/release_hash_cache.h): a file whose identity is still the recorded one is
// not read again; any other is read and hashed. Everything it hashed, took from the cache or
// was told about makes up the cache the run leaves for the next one, so files that are gone
// drop out of it.
#pragma once

#include <string>

#include "platform/file_identity.h"
#include "update/release_hash_cache.h"
#include "update/release_signature.h"

namespace zor {

class TCachedFileDigests {
 public:
  explicit TCachedFileDigests(TReleaseHashCache known) : Known(std::move(known)) {}

  // The size and SHA-256 of the file at `path`; raises the file layer's error when it cannot
  // be read. A file that changed while it was read is not recorded.
  TFileDigest Digest(const std::string& path);
  // Records the hash of a file that was verified another way (a download, checked before it
  // was put in place), for the identity it has now.
  void Note(const std::string& path, const FileIdentity& identity, const std::string& sha256);

  // What the next run may use.
  const TReleaseHashCache& Seen() const { return Fresh; }
  // Files read and hashed so far, the cache notwithstanding.
  int FilesHashed() const { return Hashed; }

 private:
  TReleaseHashCache Known;
  TReleaseHashCache Fresh;
  int Hashed = 0;
};

}  // namespace zor
