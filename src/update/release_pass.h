// One release per update pass. Behind a balancer each request of a launcher may reach
// another server, and during a roll-out those servers serve different releases. So the
// fetch requests (0xA215, 0xA216) of a pass that accepted a signed manifest carry that
// manifest's release counter as one more argument, a decimal string; a server whose
// release folder is another release (its manifest has another counter, or it has none or
// cannot read it) answers with the result code kErrOtherRelease instead of a file, and the launcher
// asks again on a new connection, which the balancer sends elsewhere. A server that does not know
// the argument ignores it; a launcher without a manifest does not send it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor {

// The argument's place in a fetch request (after name, area, position, size, age, language).
inline constexpr size_t kFetchReleaseArg = 6;
inline constexpr uint32_t kErrOtherRelease = 0x74000021;

inline constexpr std::string_view kOtherReleaseText =
    "This server serves release %s, not release %s of this update";
inline constexpr std::string_view kNoReleaseHereText =
    "This server has no release manifest, and this update is of release %s";
inline constexpr std::string_view kReleaseUnsettledText =
    "This server cannot read its release manifest now (release %s is asked for)";
inline constexpr std::string_view kReleaseChangingText =
    "This server's release folder is being changed (release %s is asked for)";
inline constexpr std::string_view kInvalidReleaseArgText =
    "The release counter \"%s\" of a fetch request is not a decimal number";

// How long the launcher waits before it asks again after an "other release" answer (growing
// to the longest); how often is `TDownloadSettings::OtherReleaseAttempts`.
inline constexpr int kOtherReleaseFirstWaitMs = 50;
inline constexpr int kOtherReleaseLongestWaitMs = 1000;

// A server of another release answered; the request is to be asked elsewhere.
class EOtherRelease : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EOtherRelease, Exception)
};

// The counter as the request carries it.
std::string ReleaseArgText(uint64_t counter);
// The counter a request's argument names; nothing for text that is not 1 to 20 decimal
// digits with a value that fits 64 bits.
std::optional<uint64_t> ParseReleaseArg(std::string_view text);
// The wait before attempt `attempt` (2 and later) of a request that met another release.
int OtherReleaseWaitMs(int attempt);

}  // namespace zor
