// The release counter a fetch request names, and the server's answer to it: any text is a
// counter that reads back as itself (leading zeros aside) or is refused with our exception,
// never a crash, whatever state the server's release folder is in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "server/release_pass_guard.h"
#include "update/release_pass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<uint64_t> counter = zor::ParseReleaseArg(text)) {
    if (zor::ParseReleaseArg(zor::ReleaseArgText(*counter)) != counter) std::abort();
    if (text.find_first_not_of('0') != std::string_view::npos &&
        zor::ReleaseArgText(*counter) != text.substr(text.find_first_not_of('0')))
      std::abort();
  }
  const zor::TVariantArray args{zor::TVariant(""),
                                zor::TVariant(""),
                                zor::TVariant(0),
                                zor::TVariant(0),
                                zor::TVariant(0),
                                zor::TVariant(""),
                                zor::TVariant(std::string(text))};
  for (const auto state :
       {zor::ManifestState::Matches, zor::ManifestState::Differs, zor::ManifestState::None}) {
    try {
      zor::CheckPassRelease(args, zor::TManifestStatus{state, 7, 0});
    } catch (const zor::Exception&) {
    }
  }
  return 0;
}
