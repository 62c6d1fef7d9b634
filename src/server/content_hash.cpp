#include "server/content_hash.h"

#include <vector>

#include "base/exceptions.h"
#include "platform/file_system.h"

namespace zor {

std::string Sha256OfFile(const std::filesystem::path& path) {
  TSha256 hash;
  try {
    const std::unique_ptr<PositionedFile> file =
        CurrentFileSystem().Open(path.string(), OpenMode::ReadOnly);
    std::vector<char> buffer(256 * 1024);
    for (int64_t offset = 0;;) {
      const size_t got = file->ReadAt(offset, buffer.data(), buffer.size());
      if (got == 0) break;
      hash.Update(buffer.data(), got);
      offset += static_cast<int64_t>(got);
    }
  } catch (const EFileSystemError&) {
    throw Exception("Cannot read " + path.string());
  }
  return hash.FinishHex();
}

}  // namespace zor
