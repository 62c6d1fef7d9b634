#include "startup/server_settings/zor_json_helper.h"

#include <charconv>
#include <deque>
#include <nlohmann/json.hpp>

#include "base/ascii_case.h"
#include "base/string_routines.h"

namespace zor {
namespace {

using Json = nlohmann::ordered_json;

const char* KindName(const Json& value) {
  if (value.is_object()) return "an object";
  if (value.is_array()) return "a list";
  return "a value";
}

// The first member called `key` (letter case ignored), level by level from the top.
const Json* FindKey(const Json& document, std::string_view key) {
  std::deque<const Json*> pending{&document};
  while (!pending.empty()) {
    const Json* node = pending.front();
    pending.pop_front();
    if (node->is_object()) {
      for (const auto& [name, value] : node->items()) {
        if (SameTextAscii(name, key)) return &value;
      }
    }
    if (node->is_object() || node->is_array()) {
      for (const Json& child : *node) {
        if (child.is_structured()) pending.push_back(&child);
      }
    }
  }
  return nullptr;
}

bool TextToInt32(std::string_view text, int32_t& value) {
  text = Trim(text);
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

void AssignMember(TLookupRecordSet& dataset, int field, std::string_view name, const Json& value) {
  if (value.is_null()) return;
  const TLookupFieldDef& def = dataset.Fields()[static_cast<size_t>(field)];
  if (value.is_structured()) {
    throw ELookupAnswerError("the lookup answer's field \"" + std::string(name) + "\" holds " +
                             KindName(value) + " instead of a value");
  }
  if (def.Type == TLookupFieldType::String) {
    dataset.SetString(field,
                      value.is_string() ? value.get_ref<const std::string&>() : value.dump());
    return;
  }
  int32_t number = 0;
  bool ok = false;
  if (value.is_number_integer()) {
    const auto wide =
        value.is_number_unsigned()
            ? static_cast<long long>(std::min<uint64_t>(value.get<uint64_t>(), INT64_MAX))
            : static_cast<long long>(value.get<int64_t>());
    ok = wide >= INT32_MIN && wide <= INT32_MAX;
    number = static_cast<int32_t>(wide);
  } else if (value.is_string()) {
    ok = TextToInt32(value.get_ref<const std::string&>(), number);
  }
  if (!ok) {
    throw ELookupAnswerError("the lookup answer's field \"" + std::string(name) +
                             "\" is not a whole number: " + value.dump());
  }
  dataset.SetInteger(field, number);
}

void AddRecord(TLookupRecordSet& dataset, const Json& item) {
  dataset.Append();
  for (const auto& [name, value] : item.items()) {
    const int field = dataset.FindField(name);
    if (field >= 0) AssignMember(dataset, field, name, value);
  }
}

}  // namespace

void TZORJsonHelper::ParseArray(std::string_view json, TLookupRecordSet& dataset,
                                std::string_view key) const {
  if (json.size() > kMaxLookupAnswerBytes) {
    throw ELookupAnswerError("the lookup answer is larger than " +
                             std::to_string(kMaxLookupAnswerBytes) + " bytes");
  }
  Json document;
  try {
    document = Json::parse(json.begin(), json.end(), [](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxLookupAnswerDepth) {
        throw ELookupAnswerError("the lookup answer is nested deeper than " +
                                 std::to_string(kMaxLookupAnswerDepth) + " levels");
      }
      return true;
    });
  } catch (const Json::parse_error& error) {
    throw ELookupAnswerError("the lookup answer is not valid JSON (at byte " +
                             std::to_string(error.byte) + ")");
  } catch (const Json::exception&) {
    // A number too large for any number type ("1E999") is refused by the parser this way.
    throw ELookupAnswerError("the lookup answer is not valid JSON (a number out of range)");
  }

  const Json* list = FindKey(document, key);
  if (!list || list->is_null()) return;
  if (list->is_object()) {
    AddRecord(dataset, *list);
    return;
  }
  if (!list->is_array()) {
    throw ELookupAnswerError("the lookup answer's \"" + std::string(key) +
                             "\" is neither a list nor a record");
  }
  size_t number = 0;
  for (const Json& item : *list) {
    ++number;
    if (!item.is_object()) {
      throw ELookupAnswerError("record " + std::to_string(number) + " of the lookup answer's \"" +
                               std::string(key) + "\" is not an object");
    }
  }
  for (const Json& item : *list) AddRecord(dataset, item);
}

std::string TZORJsonHelper::StripBraces(std::string_view s) {
  if (!s.empty() && s.front() == '{') s.remove_prefix(1);
  if (!s.empty() && s.back() == '}') s.remove_suffix(1);
  return std::string(s);
}

std::string TZORJsonHelper::StripQuotes(std::string_view s) {
  if (!s.empty() && s.front() == '"') s.remove_prefix(1);
  if (!s.empty() && s.back() == '"') s.remove_suffix(1);
  return std::string(s);
}

}  // namespace zor
