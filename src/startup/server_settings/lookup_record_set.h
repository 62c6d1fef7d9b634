// The record list that the cloud lookup's answer is read into: typed fields in a fixed
// order, records appended one after another, and the current record (the last one added)
// read by field name. Text fields keep at most their size in characters, as the stored
// names are sized by the answer's layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zor {

enum class TLookupFieldType { String, Integer };

struct TLookupFieldDef {
  std::string_view Name;
  TLookupFieldType Type;
  int Size;  // characters of a String field; 0 for Integer
};

// The fields of the server information answer, in order.
inline constexpr TLookupFieldDef kServerInfoFields[] = {
    {"EnterpriseID", TLookupFieldType::String, 20},
    {"APPServerName", TLookupFieldType::String, 120},
    {"APPPort", TLookupFieldType::Integer, 0},
    {"DBName", TLookupFieldType::String, 5},  // five characters, as the answer's layout has it
};

class TLookupRecordSet {
 public:
  using Value = std::variant<std::monostate, std::string, int32_t>;

  TLookupRecordSet();  // the server information fields
  explicit TLookupRecordSet(std::vector<TLookupFieldDef> fields);

  const std::vector<TLookupFieldDef>& Fields() const { return FieldDefs; }
  // The index of the field called `name` (ASCII letter case ignored), or -1.
  int FindField(std::string_view name) const;

  // Appends an empty record, which becomes the current one.
  void Append();
  size_t RecordCount() const { return Records.size(); }
  bool IsEmpty() const { return Records.empty(); }

  // Sets a field of the current record: a String field keeps at most its size in
  // characters; an Integer field takes an int32_t only. Raises when there is no record or the
  // value does not suit the field.
  void SetString(int field, std::string_view value);
  void SetInteger(int field, int32_t value);

  // The current record's field as text ("" when unset; an integer in decimal); "" when the
  // list is empty. Raises for an unknown field name.
  std::string AsString(std::string_view name) const;
  // The current record's field as a number (0 when unset). Raises for an unknown name or a
  // String field.
  int32_t AsInteger(std::string_view name) const;

 private:
  int RequireField(std::string_view name) const;
  std::vector<Value>& Current();

  std::vector<TLookupFieldDef> FieldDefs;
  std::vector<std::vector<Value>> Records;
};

}  // namespace zor
