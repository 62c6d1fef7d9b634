// File names and areas from requests: a name either is refused with our exception or comes
// out as a plain relative name (no "..", no ':', no leading or doubled separator).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/exceptions.h"
#include "update/release_areas.h"
#include "update/request_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)zor::AreaFolder(text);
  try {
    const zor::TRequestName name = zor::CheckRequestName(text);
    const std::string& rel = name.Relative;
    if (rel.empty() || rel.front() == '/' || rel.find(':') != std::string::npos ||
        rel.find("//") != std::string::npos)
      std::abort();
    if (rel == ".." || rel.starts_with("../") || rel.ends_with("/..") ||
        rel.find("/../") != std::string::npos)
      std::abort();
    if (name.Wire.size() != rel.size()) std::abort();
  } catch (const zor::Exception&) {
  }
  return 0;
}
