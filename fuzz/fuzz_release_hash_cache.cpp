// The launcher's hash cache file as it finds it on disk: whatever the reader accepts must
// write back to a text that reads as the same cache, and lookups must not fail.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/release_hash_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zor;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<TReleaseHashCache> cache = TReleaseHashCache::Parse(text);
  if (!cache) return 0;
  const std::optional<TReleaseHashCache> again = TReleaseHashCache::Parse(cache->Serialize());
  if (!again || !(*again == *cache)) __builtin_trap();
  (void)cache->Find("/opt/zor/ZORCore.dll", FileIdentity{});
  return 0;
}
