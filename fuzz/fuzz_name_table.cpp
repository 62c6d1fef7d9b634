// Names files: parsed into a table or refused with our exception; every name found again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/exceptions.h"
#include "server/name_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const zor::TNameTable table =
        zor::TNameTable::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    (void)table.Find("shop");
  } catch (const zor::Exception&) {
  }
  return 0;
}
