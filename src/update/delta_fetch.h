// Fetching a changed file as a delta against the copy the launcher already has (command
// 0xA220, delta_wire.h), before the whole-file fetch of `TRemoteFile::Download`.
//
// The launcher computes the signature of its old copy and sends it; the server makes the
// delta against its new file and sends it. So the server keeps nothing per client or per
// old version (it needs no cache of signatures and stays correct whatever old copy a client
// has), and the cost of the signature falls on the one client that profits from it.
//
// A delta is tried only when it can pay: the old copy is a regular file of
// `kDeltaMinFileBytes` to `kDeltaMaxFileBytes`, and no partial whole-file download of the
// same file is waiting to be resumed (that one goes on instead). The patched file is written
// beside the target, checked against the size and SHA-256 the server announced and against
// the signed release (when one is installed), and only then renamed into place.
//
// When the delta cannot be used, the file is fetched whole on the same connection: the server
// does not know the command (an older server; asked once per client), declined (the delta
// would not pay, or it is busy), answered with an error, or sent a delta that is damaged or
// does not produce the announced file. A delta that is cut off in the middle leaves nothing
// behind and raises like any broken transfer; the retry that follows fetches that file whole,
// resumably, so a link that keeps failing still makes progress.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "update/remote_file.h"

namespace zor {

// Smaller files are fetched whole: the signature and a round trip's worth of delta would
// save little against a packed file this small.
inline constexpr int64_t kDeltaMinFileBytes = 32 << 10;
// The protocol counts file sizes in 31 bits; the signature of such a file stays well below
// its limit.
inline constexpr int64_t kDeltaMaxFileBytes = 0x7FFFFFFF;

class TDeltaFetch {
 public:
  // Tries `record`'s file as a delta. Nothing when the file is to be fetched whole (see
  // above); false when the server does not know the file; true when it is in place, or when
  // cancelled. Raises when the connection fails in the middle of the delta.
  std::optional<bool> Fetch(TRemoteFile& file, const TDownloadRecord& record,
                            const TCancelFlag* cancel);

  // False once the server answered the command as unknown: every file goes whole.
  bool Enabled = true;
  // Files delivered as a delta, and files whose delta failed and that then went whole.
  int Delivered = 0;
  int Refused = 0;

 private:
  // Names whose delta failed in this update: their next attempt fetches them whole.
  std::set<std::string> Failed;
};

}  // namespace zor
