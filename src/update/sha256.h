// SHA-256, streamed: the digest of release files (signed releases, the launcher's hash
// cache) and of the server's packed files. OpenSSL's libcrypto computes it, with the CPU's
// SHA instructions where there are any; the hash is the bulk of a signed update's work.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace zor {

class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  void Update(const void* data, size_t size);
  // The digest of everything given, 64 lower-case hexadecimal digits; the object is spent
  // afterwards.
  std::string FinishHex();

 private:
  struct State;
  std::unique_ptr<State> S;
};

}  // namespace zor
