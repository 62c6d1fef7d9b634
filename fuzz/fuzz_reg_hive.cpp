// Registry files from outside: parsing must either succeed or raise ERegistryFileError, and
// whatever parses must survive writing and reading back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RegFile file;
  try {
    file = ParseRegFile(bytes, "fuzz.reg");
  } catch (const ERegistryFileError&) {
    return 0;
  }
  for (RegRoot root : kAllRegRoots) {
    RegHive hive;
    ApplyRegFile(file, root, hive);
    const std::string written = WriteRegFile(hive, root);
    const RegHive reread = ParseHiveFile(written, "written.reg", root);  // must not raise
    if (!(reread == hive)) std::abort();
    if (WriteRegFile(reread, root) != written) std::abort();
  }
  return 0;
}
