#include "update/release_signature.h"

#include <sodium.h>

#include <mutex>

#include "platform/open_or_fail.h"
#include "update/sha256.h"

namespace zor {

namespace {

constexpr size_t kHashPiece = 1 << 16;

void EnsureSodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) throw Exception("The cryptography library could not be initialised.");
  });
}

}  // namespace

std::string EncodeBase64(std::span<const uint8_t> bytes) {
  EnsureSodium();
  const size_t length = sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  std::string text(length, '\0');
  sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(length - 1);  // the terminating zero
  return text;
}

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text, size_t size) {
  EnsureSodium();
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  // Base64 of `size` bytes is never longer than this; longer text is refused unread.
  if (text.size() > (size + 2) / 3 * 4) return std::nullopt;
  std::vector<uint8_t> bytes(size + 3);
  size_t got = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &got, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || got != size)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

TPublicKey DecodePublicKey(std::string_view base64) {
  const auto bytes = DecodeBase64(base64, kPublicKeyBytes);
  if (!bytes) throw ESignatureError("The release key is not valid.");
  TPublicKey key{};
  std::copy(bytes->begin(), bytes->end(), key.begin());
  return key;
}

TKeyPair GenerateKeyPair() {
  EnsureSodium();
  TKeyPair pair;
  crypto_sign_ed25519_keypair(pair.Public.data(), pair.Secret.data());
  return pair;
}

TPublicKey PublicKeyOf(const TSecretKey& secret) {
  EnsureSodium();
  TPublicKey key{};
  crypto_sign_ed25519_sk_to_pk(key.data(), secret.data());
  return key;
}

std::string SignManifestBody(std::string_view body, const TSecretKey& secret) {
  EnsureSodium();
  std::array<uint8_t, kSignatureBytes> signature{};
  crypto_sign_ed25519_detached(signature.data(), nullptr,
                               reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                               secret.data());
  return std::string(kSignatureLinePrefix) + EncodeBase64(signature) + "\n" + std::string(body);
}

TVerifiedManifest OpenSignedManifest(std::string_view fileText,
                                     std::span<const TPublicKey> trusted) {
  EnsureSodium();
  const TSignedManifestText parts = SplitManifestFile(fileText);
  const auto signature = DecodeBase64(parts.SignatureBase64, kSignatureBytes);
  if (!signature)
    throw EManifestError("The release manifest is not valid: its signature line is damaged");
  for (const TPublicKey& key : trusted) {
    if (crypto_sign_ed25519_verify_detached(signature->data(),
                                            reinterpret_cast<const uint8_t*>(parts.Body.data()),
                                            parts.Body.size(), key.data()) == 0) {
      return TVerifiedManifest{ParseManifestBody(parts.Body), key};
    }
  }
  throw ESignatureError("The release manifest is not signed with a trusted key.");
}

std::string Sha256Hex(std::span<const uint8_t> bytes) {
  TSha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FinishHex();
}

TFileDigest DigestFile(const std::string& path) {
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
  return DigestOpenFile(*file);
}

TFileDigest DigestOpenFile(PositionedFile& file) {
  TSha256 hash;
  std::vector<uint8_t> buffer(kHashPiece);
  TFileDigest digest;
  for (;;) {
    const size_t n = file.ReadAt(digest.Size, buffer.data(), buffer.size());
    if (n == 0) break;
    hash.Update(buffer.data(), n);
    digest.Size += static_cast<int64_t>(n);
  }
  digest.Sha256 = hash.FinishHex();
  return digest;
}

}  // namespace zor
