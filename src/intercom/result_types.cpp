#include "intercom/result_types.h"

#include "base/exceptions.h"

namespace zor {
namespace {

int Family(uint16_t type) {
  switch (type) {
    case kVarSmallint:
    case kVarInteger:
    case kVarShortInt:
    case kVarByte:
    case kVarWord:
    case kVarLongWord:
      return 1;
    case kVarSingle:
    case kVarDouble:
    case kVarCurrency:
    case kVarDate:
      return 2;
    case kVarOleStr:
    case kVarString:
      return 3;
    case kVarDispatch:
    case kVarUnknown:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

bool ResultTypeMatches(uint16_t expected, uint16_t actual) {
  if (expected == kVarEmpty || expected == kAnyType) return true;
  if (expected & kExactTypeFlag) return actual == (expected & ~kExactTypeFlag);
  if (expected == actual) return true;
  if ((expected & kVarArray) != (actual & kVarArray)) return false;
  const int family = Family(expected & static_cast<uint16_t>(~kVarArray));
  return family != 0 && family == Family(actual & static_cast<uint16_t>(~kVarArray));
}

void CheckResultTypes(const TVariantArray& result, std::span<const uint16_t> types) {
  if (types.empty()) return;
  bool ok = result.size() == types.size();
  for (size_t i = 0; ok && i < types.size(); ++i)
    ok = ResultTypeMatches(types[i], result[i].Type());
  if (!ok) throw Exception(std::string(kResultTypeErrorText));
}

}  // namespace zor
