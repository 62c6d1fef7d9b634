#include "platform/registry_value.h"

#include "base/byte_order.h"
#include "base/format.h"
#include "base/utf.h"
#include "platform/registry_names.h"

namespace zor {
namespace {

void AppendUtf16(std::vector<uint8_t>& out, std::string_view text) {
  for (char16_t unit : Utf8ToUtf16(text)) {
    AppendLE16(out, unit);
  }
}

std::u16string Utf16Units(const std::vector<uint8_t>& data) {
  std::u16string units;
  units.reserve(data.size() / 2);
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    units.push_back(static_cast<char16_t>(LoadLE16(&data[i])));
  return units;
}

struct TypeName {
  uint32_t Type;
  const char* Name;
};
constexpr TypeName kTypeNames[] = {
    {0, "REG_NONE"},
    {1, "REG_SZ"},
    {2, "REG_EXPAND_SZ"},
    {3, "REG_BINARY"},
    {4, "REG_DWORD"},
    {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},
    {7, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {11, "REG_QWORD"},
};

}  // namespace

RegValue RegValue::String(std::string_view text, uint32_t type) {
  RegValue v{type, {}};
  AppendUtf16(v.Data, text);
  v.Data.push_back(0);
  v.Data.push_back(0);
  return v;
}

RegValue RegValue::Dword(uint32_t value) {
  RegValue v{kRegDword, {}};
  AppendLE32(v.Data, value);
  return v;
}

RegValue RegValue::Qword(uint64_t value) {
  RegValue v{kRegQword, {}};
  AppendLE64(v.Data, value);
  return v;
}

RegValue RegValue::Binary(std::vector<uint8_t> bytes) {
  return RegValue{kRegBinary, std::move(bytes)};
}

RegValue RegValue::MultiString(const std::vector<std::string>& strings) {
  RegValue v{kRegMultiSz, {}};
  for (const std::string& s : strings) {
    AppendUtf16(v.Data, s);
    v.Data.push_back(0);
    v.Data.push_back(0);
  }
  v.Data.push_back(0);
  v.Data.push_back(0);
  return v;
}

std::optional<std::string> RegValue::AsString() const {
  if (Type != kRegSz && Type != kRegExpandSz) return std::nullopt;
  std::u16string units = Utf16Units(Data);
  if (size_t zero = units.find(u'\0'); zero != std::u16string::npos) units.resize(zero);
  return Utf16ToUtf8(units);
}

std::optional<uint32_t> RegValue::AsDword() const {
  if (Type != kRegDword || Data.size() != 4) return std::nullopt;
  return LoadLE32(Data.data());
}

std::optional<uint64_t> RegValue::AsQword() const {
  if (Type != kRegQword || Data.size() != 8) return std::nullopt;
  return LoadLE64(Data.data());
}

std::optional<std::vector<std::string>> RegValue::AsMultiString() const {
  if (Type != kRegMultiSz) return std::nullopt;
  std::vector<std::string> out;
  const std::u16string units = Utf16Units(Data);
  size_t start = 0;
  while (start < units.size()) {
    size_t end = units.find(u'\0', start);
    if (end == std::u16string::npos) end = units.size();
    if (end == start) break;  // the empty string ends the list
    out.push_back(Utf16ToUtf8(std::u16string_view(units).substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

std::string RegTypeName(uint32_t type) {
  for (const TypeName& t : kTypeNames)
    if (t.Type == type) return t.Name;
  return Format("REG_0x%x", {type});
}

std::optional<uint32_t> RegTypeFromName(std::string_view name) {
  for (const TypeName& t : kTypeNames)
    if (RegNamesEqual(name, t.Name)) return t.Type;
  return std::nullopt;
}

}  // namespace zor
