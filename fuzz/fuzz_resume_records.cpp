// Feeds arbitrary text to the reader of the resume-record file: whatever it reads must write
// back to a text that reads the same records again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  const TIniFile ini(std::string_view(reinterpret_cast<const char*>(data), size));
  const TIniFile again(ini.Text());
  if (again.Text() != ini.Text()) __builtin_trap();
  for (const std::string& section : ini.Sections()) {
    for (const char* key : {"FileVer", "FileAge", "FileSize", "FilePos", "CRC"})
      if (again.ReadString(section, key) != ini.ReadString(section, key)) __builtin_trap();
    (void)ini.ReadInteger(section, "CRC");
  }
  return 0;
}
