#include "update/sha256.h"

#include <openssl/evp.h>

#include "base/exceptions.h"

namespace zor {

struct TSha256::State {
  struct Free {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> Context{EVP_MD_CTX_new()};
};

TSha256::TSha256() : S(std::make_unique<State>()) {
  if (!S->Context || EVP_DigestInit_ex(S->Context.get(), EVP_sha256(), nullptr) != 1)
    throw Exception("Cannot start a SHA-256 digest");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  if (size && EVP_DigestUpdate(S->Context.get(), data, size) != 1)
    throw Exception("Cannot compute a SHA-256 digest");
}

std::string TSha256::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(S->Context.get(), digest, &length) != 1 || length != 32)
    throw Exception("Cannot compute a SHA-256 digest");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

}  // namespace zor
