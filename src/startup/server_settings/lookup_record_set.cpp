#include "startup/server_settings/lookup_record_set.h"

#include "base/ascii_case.h"
#include "base/exceptions.h"

namespace zor {
namespace {

// `text` cut to at most `count` characters (UTF-8 sequences kept whole).
std::string FirstCharacters(std::string_view text, int count) {
  size_t pos = 0;
  for (int taken = 0; pos < text.size() && taken < count; ++taken) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return std::string(text.substr(0, pos));
}

}  // namespace

TLookupRecordSet::TLookupRecordSet()
    : FieldDefs(std::begin(kServerInfoFields), std::end(kServerInfoFields)) {}

TLookupRecordSet::TLookupRecordSet(std::vector<TLookupFieldDef> fields)
    : FieldDefs(std::move(fields)) {}

int TLookupRecordSet::FindField(std::string_view name) const {
  for (size_t i = 0; i < FieldDefs.size(); ++i) {
    if (SameTextAscii(FieldDefs[i].Name, name)) return static_cast<int>(i);
  }
  return -1;
}

int TLookupRecordSet::RequireField(std::string_view name) const {
  const int index = FindField(name);
  if (index < 0) throw Exception("Field '" + std::string(name) + "' not found");
  return index;
}

void TLookupRecordSet::Append() {
  Records.emplace_back(FieldDefs.size());
}

std::vector<TLookupRecordSet::Value>& TLookupRecordSet::Current() {
  if (Records.empty()) throw Exception("No current record");
  return Records.back();
}

void TLookupRecordSet::SetString(int field, std::string_view value) {
  std::vector<Value>& record = Current();
  const TLookupFieldDef& def = FieldDefs.at(static_cast<size_t>(field));
  if (def.Type != TLookupFieldType::String) {
    throw Exception("Field '" + std::string(def.Name) + "' takes a number, not the text \"" +
                    std::string(value) + "\"");
  }
  record[static_cast<size_t>(field)] = FirstCharacters(value, def.Size);
}

void TLookupRecordSet::SetInteger(int field, int32_t value) {
  std::vector<Value>& record = Current();
  const TLookupFieldDef& def = FieldDefs.at(static_cast<size_t>(field));
  if (def.Type == TLookupFieldType::String) {
    record[static_cast<size_t>(field)] = FirstCharacters(std::to_string(value), def.Size);
  } else {
    record[static_cast<size_t>(field)] = value;
  }
}

std::string TLookupRecordSet::AsString(std::string_view name) const {
  const int index = RequireField(name);
  if (Records.empty()) return {};
  const Value& value = Records.back()[static_cast<size_t>(index)];
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* number = std::get_if<int32_t>(&value)) return std::to_string(*number);
  return {};
}

int32_t TLookupRecordSet::AsInteger(std::string_view name) const {
  const int index = RequireField(name);
  if (FieldDefs[static_cast<size_t>(index)].Type != TLookupFieldType::Integer) {
    throw Exception("Field '" + std::string(name) + "' is not a number");
  }
  if (Records.empty()) return 0;
  const Value& value = Records.back()[static_cast<size_t>(index)];
  if (const auto* number = std::get_if<int32_t>(&value)) return *number;
  return 0;
}

}  // namespace zor
