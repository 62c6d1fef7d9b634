#include "server/content_hash.h"

#include <sodium.h>

#include <fstream>
#include <vector>

#include "base/exceptions.h"

namespace zor {

struct TSha256::State {
  crypto_hash_sha256_state Hash;
};

TSha256::TSha256() : S(std::make_unique<State>()) {
  crypto_hash_sha256_init(&S->Hash);
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  crypto_hash_sha256_update(&S->Hash, static_cast<const unsigned char*>(data), size);
}

std::string TSha256::FinishHex() {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&S->Hash, digest);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::string Sha256OfFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("Cannot read " + path.string());
  TSha256 hash;
  std::vector<char> buffer(256 * 1024);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    hash.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw Exception("Cannot read " + path.string());
  return hash.FinishHex();
}

}  // namespace zor
