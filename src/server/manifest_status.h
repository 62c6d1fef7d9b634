// How a scan of the release folder stands against the folder's signed manifest: the verdict
// that decides whether a fetch of a given release may be served, and what the health port and
// the metrics report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zor {

enum class ManifestState {
  Unchecked,   // no scan was checked yet
  None,        // the folder has no manifest
  Matches,     // every file as the manifest says
  Differs,     // some file differs (or is missing, or extra)
  Unreadable,  // the manifest cannot be read
};
// The state as the metrics label it ("matches").
std::string_view ManifestStateName(ManifestState state);

struct TManifestStatus {
  ManifestState State = ManifestState::Unchecked;
  uint64_t Counter = 0;  // the manifest's release counter, when it could be read
  size_t Differences = 0;
};

}  // namespace zor
