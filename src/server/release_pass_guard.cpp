#include "server/release_pass_guard.h"

#include "base/format.h"
#include "intercom/ic_connection.h"
#include "transport/ic_errors.h"
#include "update/release_pass.h"

namespace zor {

std::optional<uint64_t> PassRelease(const TVariantArray& args) {
  if (args.size() <= kFetchReleaseArg) return std::nullopt;
  const TVariant& arg = args[kFetchReleaseArg];
  if (arg.IsEmpty() || arg.IsNull()) return std::nullopt;
  if (!arg.IsString())
    throw EInvalidCommand(std::string(kCommandArgumentInvalidText), nullptr, kErrInvalidArgument);
  const std::string text = arg.AsString();
  const std::optional<uint64_t> wanted = ParseReleaseArg(text);
  if (!wanted)
    throw EInvalidCommand(Format(kInvalidReleaseArgText, {text}), nullptr, kErrInvalidArgument);
  return wanted;
}

void CheckPassRelease(const TVariantArray& args, const TManifestStatus& status) {
  const std::optional<uint64_t> wanted = PassRelease(args);
  if (!wanted) return;
  switch (status.State) {
    case ManifestState::Matches:
    case ManifestState::Differs:
      // A folder that differs from a manifest of the asked release (a damaged replica) still
      // serves it: the launcher's size and hash checks refuse a damaged file with a message
      // that names it, and the health port keeps the balancer from sending new launchers.
      if (status.Counter == *wanted) return;
      throw EExecuteError(
          Format(kOtherReleaseText, {ReleaseArgText(status.Counter), ReleaseArgText(*wanted)}),
          kErrOtherRelease);
    case ManifestState::None:
      throw EExecuteError(Format(kNoReleaseHereText, {ReleaseArgText(*wanted)}), kErrOtherRelease);
    case ManifestState::Unchecked:
    case ManifestState::Unreadable:
      throw EExecuteError(Format(kReleaseUnsettledText, {ReleaseArgText(*wanted)}),
                          kErrOtherRelease);
  }
}

}  // namespace zor
