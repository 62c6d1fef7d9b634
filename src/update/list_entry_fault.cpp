#include "update/list_entry_fault.h"

#include "base/format.h"
#include "update/update_fault_texts.h"

namespace zor {

bool IsUnusableListName(std::string_view name) {
  // U+FFFD in UTF-8: what a conversion leaves where bytes were not text.
  if (name.find("\xEF\xBF\xBD") != std::string_view::npos) return true;
  for (const char c : name)
    if (c == '?' || c == '*') return true;
  return false;
}

void RaiseListEntryFault(const std::string& name, TListEntryFault fault) {
  const TUpdateFaultText text = fault == TListEntryFault::NotServed
                                    ? TUpdateFaultText::ListedFileNotServed
                                    : TUpdateFaultText::ListEntryNotAName;
  throw EListEntryFault(Format(UpdateFaultTextIn(0, text), {name}), name, fault);
}

}  // namespace zor
