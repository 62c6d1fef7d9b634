// The conversion path between the Chinese scripts: arbitrary bytes as a variant stream read by
// a simplified and by a traditional end (with the system's tables when there are any, so a
// stream of the other set is converted on reading), written back converted to the other
// script in the peer's code page, and read again; and the bytes straight through both tables.
// Nothing may crash, and what was read must write and read back to as many elements.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/exceptions.h"
#include "intercom/byte_stream.h"
#include "intercom/charset_conversion.h"
#include "intercom/variant_stream.h"
#include "platform/script_tables.h"

namespace {

const zor::TScriptTables* Tables() {
  static const std::unique_ptr<zor::TScriptTables> tables = [] {
    zor::LoadScriptTables();
    return zor::OpenScriptTables();
  }();
  return tables.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  if (size == 0) return 0;
  // The first byte chooses the reader's language and the peer's code page.
  static constexpr uint32_t kLanguages[] = {1033, 2052, 1028, 3076};
  TStringCharsets reader = StringCharsetsOf(kLanguages[data[0] & 3]);
  reader.PeerCodePage = StringCharsetsOf(kLanguages[(data[0] >> 2) & 3]).CodePage;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (const TScriptTables* tables = Tables()) {
    (void)tables->ToTraditional(text);
    (void)tables->ToSimplified(text);
  }
  TVariantArray items;
  try {
    TMemorySource source(std::span<const uint8_t>(data + 1, size - 1));
    items = ReadVariantStream(source, {}, &reader);
  } catch (const Exception&) {
    return 0;
  }
  TStreamWriteOptions options;
  options.ConvertCharset = (data[0] & 0x10) != 0;
  options.Charsets = &reader;
  const std::vector<uint8_t> again = EncodeVariantStream(items, options);
  TStringCharsets peer = StringCharsetsOf(kLanguages[(data[0] >> 2) & 3]);
  peer.PeerCodePage = reader.CodePage;
  TMemorySource source(again);
  if (ReadVariantStream(source, {}, &peer).size() != items.size()) __builtin_trap();
  return 0;
}
