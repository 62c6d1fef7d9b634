// Checks a file name that arrives in a request (file information, data, upload) before it
// is used to open anything: only a plain relative name inside the served folder passes.
#pragma once

#include <string>
#include <string_view>

#include "base/ascii_case.h"

namespace zor {

// Longest name accepted from a request, in bytes.
inline constexpr size_t kMaxRequestNameLength = 1024;

// The name as parts joined by '\' (the form of the file list) and by '/' (the form used to
// open it below the served folder). `Key` is the backslash form in lower case, used to find
// the file without regard to case.
struct TRequestName {
  std::string Wire;
  std::string Relative;
  std::string Key;
};

// Leading separators are dropped (clients send names with and without them), "." parts and
// empty parts are skipped; '\' and '/' both separate. Raises `Exception` "Invalid file name
// '%s'!" for an empty name, one longer than the limit, a drive letter or any ':', a ".."
// part, a control character, or (after the leading separators) a UNC or rooted path.
TRequestName CheckRequestName(std::string_view name);

}  // namespace zor
