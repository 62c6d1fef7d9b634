// Notes of the update that need no answer from the user (a file date refused, a queue that
// dropped messages): written to standard error, or to the sink a test or host installs.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zor {

using TUpdateNoticeSink = std::function<void(const std::string& text)>;

void UpdateNotice(std::string_view text);
// Replaces the sink (an empty function restores standard error); returns the previous one.
TUpdateNoticeSink SetUpdateNoticeSink(TUpdateNoticeSink sink);

}  // namespace zor
