// The signed release manifest: what the publisher put in a release folder, file by file (the
// name as the launcher asks for it, size, SHA-256, and the version and MS-DOS date the file
// list shows), with a release counter that only grows, creation and expiry times, and
// optionally the public key that will sign the next releases.
//
// On disk the manifest is one text file in the release folder's root: a first line
// "zor-release-signature ed25519 <base64 signature>" and then the body, a JSON object. The
// signature covers the body's bytes exactly as they stand, so nothing is ever re-encoded
// before it is checked. The body:
//
//   {"Format": 1, "Counter": 7, "Created": 1765380000, "Expires": 1767972000,
//    "NextKey": "<base64 public key>",                      (optional)
//    "Files": [{"Name": "bpls\\Main.bpl", "Size": 1234, "SHA256": "<64 hex digits>",
//               "Version": "1.2.0.0", "Age": 1499045436}, ...]}
//
// Times are seconds since 1970 (UTC). Names compare without case, as the server finds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/exceptions.h"

namespace zor {

// The manifest's file name in the release folder's root.
inline constexpr std::string_view kManifestFileName = "ZORRelease.manifest";
inline constexpr std::string_view kSignatureLinePrefix = "zor-release-signature ed25519 ";
inline constexpr int kManifestFormat = 1;
// Limits on what a manifest may hold, checked before anything is kept: a release of the
// suite has a few thousand files; these leave room without letting a forged file eat memory.
inline constexpr size_t kMaxManifestBytes = 32u << 20;
inline constexpr size_t kMaxManifestFiles = 200000;
inline constexpr size_t kMaxSignatureLine = 200;
inline constexpr size_t kSha256HexLength = 64;
inline constexpr size_t kMaxVersionLength = 64;

// A manifest that cannot be read: the message says what is wrong with it.
class EManifestError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EManifestError, Exception)
};

struct TManifestFile {
  std::string Name;  // relative, parts joined by '\', as the file list names it
  int64_t Size = 0;
  std::string Sha256;  // 64 lower-case hex digits
  std::string Version;
  int32_t Age = 0;  // MS-DOS date/time

  bool operator==(const TManifestFile&) const = default;
};

struct TReleaseManifest {
  uint64_t Counter = 0;
  int64_t Created = 0;
  int64_t Expires = 0;
  std::string NextKey;  // base64 public key, empty when none is named
  std::vector<TManifestFile> Files;

  // The entry for `name` (any letter case, '\' or '/'), or null.
  const TManifestFile* Find(std::string_view name) const;
  // Builds the lookup `Find` uses; `ParseManifestBody` calls it.
  void Index();

 private:
  std::map<std::string, size_t> ByKey;
};

// The key a name is looked up by: lower case, '/' turned into '\', leading separators dropped.
std::string ManifestKey(std::string_view name);

// The body as JSON text (files in the order given).
std::string SerializeManifestBody(const TReleaseManifest& manifest);
// Reads a body; raises `EManifestError` for anything that is not a well-formed manifest of
// our format (wrong types, missing fields, a name that would leave the folder, a hash that is
// not 64 hex digits, two entries of the same name, more than the limits allow).
TReleaseManifest ParseManifestBody(std::string_view body);

// The two parts of a manifest file: the base64 signature of the first line and the body.
struct TSignedManifestText {
  std::string SignatureBase64;
  std::string_view Body;
};
// Splits a manifest file; raises `EManifestError` when it is too large or its first line is
// not a signature line.
TSignedManifestText SplitManifestFile(std::string_view text);

}  // namespace zor
