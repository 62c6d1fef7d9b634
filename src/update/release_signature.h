// Keys, signatures and hashes of signed releases, with libsodium: Ed25519 keys and detached
// signatures, SHA-256 of files, and base64 (the standard alphabet with padding) for keys and
// signatures in text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "update/release_manifest.h"

namespace zor {

inline constexpr size_t kPublicKeyBytes = 32;
inline constexpr size_t kSecretKeyBytes = 64;
inline constexpr size_t kSignatureBytes = 64;

using TPublicKey = std::array<uint8_t, kPublicKeyBytes>;
using TSecretKey = std::array<uint8_t, kSecretKeyBytes>;

// Raised for a key that cannot be read and for a signature that does not verify.
class ESignatureError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ESignatureError, Exception)
};

std::string EncodeBase64(std::span<const uint8_t> bytes);
// Nothing when the text is not base64 of exactly `size` bytes (spaces around are ignored).
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text, size_t size);

// A public key from its base64 text; raises `ESignatureError` "The release key is not valid.".
TPublicKey DecodePublicKey(std::string_view base64);

struct TKeyPair {
  TPublicKey Public{};
  TSecretKey Secret{};
};
TKeyPair GenerateKeyPair();
// The public half of a secret key.
TPublicKey PublicKeyOf(const TSecretKey& secret);

// The manifest file for `body`: the signature line, then the body as it is.
std::string SignManifestBody(std::string_view body, const TSecretKey& secret);

// A manifest whose signature verified, with the key that signed it.
struct TVerifiedManifest {
  TReleaseManifest Manifest;
  TPublicKey SignedBy{};
};
// Checks the signature of a manifest file against each of `trusted` and parses the body of
// the first that verifies. Raises `ESignatureError` when none does, `EManifestError` when
// the file or its body is malformed.
TVerifiedManifest OpenSignedManifest(std::string_view fileText,
                                     std::span<const TPublicKey> trusted);

// SHA-256 as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const uint8_t> bytes);
// SHA-256 of a file's bytes with its size; raises the file layer's error when it cannot be read.
struct TFileDigest {
  int64_t Size = 0;
  std::string Sha256;
};
TFileDigest DigestFile(const std::string& path);
// The same of an open file, read from its start to its end.
TFileDigest DigestOpenFile(PositionedFile& file);

}  // namespace zor
