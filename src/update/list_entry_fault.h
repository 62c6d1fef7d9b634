// A file of the server's list that the launcher cannot fetch: the list names it but the
// server then says it holds no such file, or the name cannot be a file name here (a '?' or
// '*' where a code page could not hold a character, U+FFFD where a name was not text). The
// pass fails and names the entry; it is never skipped in silence. The worker shows it in
// the user's language (update_fault_texts.h); `what()` is the English form.
#pragma once

#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor {

enum class TListEntryFault {
  NotServed,  // listed, but the server answers that it has no such file
  NotAName,   // the name cannot be a local file name
};

class EListEntryFault : public Exception {
 public:
  EListEntryFault(std::string message, std::string name, TListEntryFault fault)
      : Exception(std::move(message)), Name(std::move(name)), Fault(fault) {}
  const char* ClassName() const noexcept override { return "EListEntryFault"; }
  Exception* Clone() const override { return new EListEntryFault(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  std::string Name;  // the entry as the server's list spells it
  TListEntryFault Fault;
};

// True when a name of the list cannot be a file name of the launcher's folder.
bool IsUnusableListName(std::string_view name);

// Raises `EListEntryFault` (English text) for the entry.
[[noreturn]] void RaiseListEntryFault(const std::string& name, TListEntryFault fault);

}  // namespace zor
