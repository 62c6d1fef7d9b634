// Feeds arbitrary text to the parser of the server's file list: it either refuses the list
// or yields entries whose local names stay inside the client's folder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/exceptions.h"
#include "update/server_file_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  try {
    for (const TServerFileEntry& entry :
         ParseServerFileList(std::string_view(reinterpret_cast<const char*>(data), size))) {
      const std::string_view local = entry.LocalName;
      if (local.empty() || local.front() == '/' || local.find(':') != std::string_view::npos)
        __builtin_trap();
      if (local == ".." || local.starts_with("../") || local.ends_with("/..") ||
          local.find("/../") != std::string_view::npos)
        __builtin_trap();
    }
  } catch (const Exception&) {
  }
  return 0;
}
