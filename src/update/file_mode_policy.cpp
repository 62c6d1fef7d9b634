#include "update/file_mode_policy.h"

#include <cstdint>
#include <memory>

#include "platform/file_system.h"
#include "platform/open_or_fail.h"

namespace zor {

namespace {

constexpr uint32_t kDataFileMode = 0644;
constexpr uint32_t kProgramFileMode = 0755;

}  // namespace

void SetNormalFileMode(const std::string& path) {
  FileSystem& files = CurrentFileSystem();
  uint8_t head[4] = {};
  size_t got = 0;
  try {
    const std::unique_ptr<PositionedFile> file = files.Open(path, OpenMode::ReadOnly);
    got = ReadUpTo(*file, 0, head, sizeof head);
  } catch (const Exception&) {
    return;  // the rename that follows reports a file that is not there
  }
  const bool elf =
      got == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
  const bool script = got >= 2 && head[0] == '#' && head[1] == '!';
  try {
    files.SetPermissions(path, elf || script ? kProgramFileMode : kDataFileMode);
  } catch (const EFileSystemError&) {
    // Passed over as before: the file is still usable by its owner.
  }
}

}  // namespace zor
