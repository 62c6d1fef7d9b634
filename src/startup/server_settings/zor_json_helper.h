// `TZORJsonHelper` reads the JSON answer of the cloud lookup into a record list: the array
// under a key (its name matched without letter case, searched from the top of the document
// down) gives one record per object, in order, so the last object is the current record;
// each member whose name matches a field of the list (without letter case) sets that field.
// The answer is parsed by a real JSON parser: nesting, escapes and bare numbers are read
// as JSON means them, and input that is not JSON raises `ELookupAnswerError`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "startup/server_settings/lookup_record_set.h"

namespace zor {

// The lookup answer cannot be read: not JSON, too big or too deep, or of the wrong shape.
class ELookupAnswerError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ELookupAnswerError, Exception)
};

inline constexpr size_t kMaxLookupAnswerBytes = 1024 * 1024;
inline constexpr int kMaxLookupAnswerDepth = 64;

class TZORJsonHelper {
 public:
  // Appends to `dataset` one record per object of the array under `key`. A key that is
  // missing or null adds nothing; a single object under the key counts as one record.
  // Member values: a String field takes text as it stands and numbers and true/false in
  // their JSON spelling; an Integer field takes a whole number in the 32-bit range or text
  // holding one; null leaves the field empty; anything else raises.
  void ParseArray(std::string_view json, TLookupRecordSet& dataset, std::string_view key) const;

  // `s` without one leading "{" and then without one trailing "}".
  static std::string StripBraces(std::string_view s);
  // `s` without one leading and then one trailing double quote.
  static std::string StripQuotes(std::string_view s);
};

}  // namespace zor
