// The cloud lookup's JSON answer reader: any bytes either fill the record list or raise
// `ELookupAnswerError`; the current record's fields can always be read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "startup/server_settings/lookup_record_set.h"
#include "startup/server_settings/zor_json_helper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view json(reinterpret_cast<const char*>(data), size);
  zor::TLookupRecordSet records;
  try {
    zor::TZORJsonHelper().ParseArray(json, records, "ServerInfoData");
  } catch (const zor::ELookupAnswerError&) {
  }
  (void)records.AsString("APPServerName");
  (void)records.AsString("DBName");
  (void)records.AsInteger("APPPort");
  return 0;
}
