// The date a fetched file gets: the one the server sent, unless it lies more than a day
// ahead of this computer's clock. Such a date would make the file look newer than every
// later release (the update compares dates when versions are equal), so it is not stored:
// the file keeps the time it was written, and a notice says so. At the next start the
// server's date is still ahead of the file's, so the file is fetched once more in that
// start's update (once per start, never in a loop) until the server's date is sane.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

inline constexpr std::chrono::hours kMaxFileDateAhead{24};
inline constexpr std::string_view kFutureFileDateText =
    "The server dated %s %s, more than a day ahead of this computer's clock; the file keeps the "
    "time it was written.";

// Sets the last-write time of `path` from `dosDateTime` as above; false when it was not set
// (a date ahead, a value the form cannot hold, or a file that cannot be changed).
bool SetFetchedFileDate(const std::string& path, uint32_t dosDateTime);

// Whether a date the server sent lies more than a day ahead of this computer's clock.
bool IsDosDateTooFarAhead(uint32_t dosDateTime);

}  // namespace zor
