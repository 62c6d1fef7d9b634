// INI texts (the client's ZORSys.ini): any bytes parse; writing the result out and parsing
// that again gives the same text, so a rewrite of the file never drifts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zor::TIniFile ini(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const std::string& section : ini.Sections()) {
    (void)ini.SectionExists(section);
    (void)ini.ReadInteger(section, "Version", -1);
  }
  const std::string text = ini.Text();
  if (zor::TIniFile(text).Text() != text) std::abort();
  return 0;
}
