#include "server/content_hash.h"

#include <fstream>
#include <vector>

#include "base/exceptions.h"

namespace zor {

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
