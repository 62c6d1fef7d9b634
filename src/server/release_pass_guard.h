// The server's side of one release per update pass (update/release_pass.h): a fetch request
// that names the release its pass accepted is served only when this server's release
// folder is that release, as its manifest says at the last scan.
#pragma once

#include <cstdint>
#include <optional>

#include "intercom/variant.h"
#include "server/release_manifest_check.h"

namespace zor {

// Raises `EExecuteError` with kErrOtherRelease when the fetch request's `args` name a
// release other than the one `status` describes, `EInvalidCommand` when the argument is
// not a release counter; nothing when the request names none.
void CheckPassRelease(const TVariantArray& args, const TManifestStatus& status);
// The release the fetch request's `args` name; nothing when they name none. Raises as
// `CheckPassRelease` for an argument that is not a release counter.
std::optional<uint64_t> PassRelease(const TVariantArray& args);

}  // namespace zor
