// The release manifest as the launcher reads it from the server: the signature line split
// off, then the JSON body parsed with its limits. No signature is checked here, so the
// fuzzer reaches the body parser with any input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/release_manifest.h"
#include "update/release_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const zor::TSignedManifestText parts = zor::SplitManifestFile(text);
    (void)zor::DecodeBase64(parts.SignatureBase64, zor::kSignatureBytes);
    const zor::TReleaseManifest manifest = zor::ParseManifestBody(parts.Body);
    for (const zor::TManifestFile& file : manifest.Files) (void)manifest.Find(file.Name);
  } catch (const zor::Exception&) {
  }
  try {
    (void)zor::ParseManifestBody(text);
  } catch (const zor::Exception&) {
  }
  return 0;
}
