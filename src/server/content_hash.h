// SHA-256 of file contents, as the pack cache records them to tell its own packed files from
// changed or planted ones. Hexadecimal, lower case, 64 characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
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
  // The digest of everything given; the object is spent afterwards.
  std::string FinishHex();

 private:
  struct State;
  std::unique_ptr<State> S;
};

// The SHA-256 of a whole file; raises `Exception` when it cannot be read.
std::string Sha256OfFile(const std::filesystem::path& path);

}  // namespace zor
