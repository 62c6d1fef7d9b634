// The lookup service's table file: any bytes give a table or `ELookupTableError`, and every
// entry of a table can be answered.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/lookup_service_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  try {
    const zor::TLookupTable table = zor::TLookupTable::Parse(json, "fuzz");
    if (const zor::TLookupEntry* entry = table.Find("1")) (void)zor::ServerInfoAnswer(*entry);
  } catch (const zor::ELookupTableError&) {
  }
  return 0;
}
