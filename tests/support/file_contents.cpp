#include "support/file_contents.h"

#include <fstream>
#include <stdexcept>

namespace zor::testing {

// Read in blocks, not a character at a time: a test that checks a file of megabytes under
// a sanitizer would otherwise spend minutes in the stream's per-character calls. A file
// that cannot be opened reads as empty.
std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string content;
  char block[64 * 1024];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    content.append(block, static_cast<size_t>(in.gcount()));
  return content;
}

std::vector<uint8_t> ReadAllBytes(const std::filesystem::path& path) {
  const std::string content = ReadAll(path);
  return std::vector<uint8_t>(content.begin(), content.end());
}

void WriteAll(const std::filesystem::path& path, std::string_view content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& content) {
  WriteAll(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

}  // namespace zor::testing
