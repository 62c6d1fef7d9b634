// Failures of the registry store: `ERegistryError` for a key or value that cannot be written
// or a hive that cannot be read or replaced, `ERegistryFileError` for a damaged registry file
// (it names the file and the line).
#pragma once

#include <string>

#include "base/exceptions.h"

namespace zor {

class ERegistryError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ERegistryError, Exception)
};

class ERegistryFileError : public ERegistryError {
 public:
  // Message: "Damaged registry file \"<file>\", line <line>: <problem>"; line 0 stands for
  // the whole file and is left out.
  ERegistryFileError(std::string fileName, int line, std::string problem);
  const char* ClassName() const noexcept override { return "ERegistryFileError"; }
  Exception* Clone() const override { return new ERegistryFileError(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  std::string FileName;
  int Line = 0;
  std::string Problem;
};

}  // namespace zor
