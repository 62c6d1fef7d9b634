// zorrelease, the publisher's tool for signed releases:
//   keygen SECRET_FILE                     a new Ed25519 key pair: the secret key into
//                                          SECRET_FILE (mode 0600, never overwritten), the
//                                          public key on standard output as one line of base64
//   sign --key SECRET_FILE --release DIR [--expires-days N] [--next-public KEY]
//                                          writes DIR/ZORRelease.manifest for the files in DIR
//   refresh --key SECRET_FILE --release DIR [--expires-days N]
//                                          re-signs the manifest's files with the next counter
//                                          and a new expiry
//   verify --public KEY --release DIR      checks DIR against its manifest, lists every
//                                          difference; exit code 1 on any
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace zor {

// How long a manifest is valid when --expires-days is not given: a server frozen on an old
// release is noticed within a month, and a publisher who forgets to refresh has weeks to
// notice before the launchers stop updating; with `refresh` in cron, 7 days is better.
inline constexpr int kDefaultExpiryDays = 30;
inline constexpr int kMaxExpiryDays = 3650;

extern const char* const kReleaseUsage;

// Runs one command; returns the exit code (0 done, 1 differences found or a failure, 2 usage).
// `now` is the time a manifest is created at and checked against.
int RunReleaseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      std::chrono::system_clock::time_point now);

}  // namespace zor
