// The launcher's self-replacement ("/ReCopy" target): a freshly downloaded launcher copies
// itself and its companions over the installed one, retrying until the installed file is
// free, then starts the installed launcher with "/Again". The retries end after five
// minutes: a target that stays busy that long is held by something that will not let go,
// and the user is told instead of a process that waits unseen for ever.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace zor {

// The language companion beside the launcher: same name, this extension.
inline constexpr std::string_view kLanguageCompanionExt = ".CHT";
// The cloud client library, kept in the launcher's folder.
inline constexpr std::string_view kCloudClientLibrary = "M880CloudClient.dll";
inline constexpr std::chrono::milliseconds kReCopyRetryDelay{100};
inline constexpr std::chrono::minutes kReCopyGiveUpAfter{5};
inline constexpr std::string_view kReCopyGaveUpText =
    "The launcher could not replace %s within %d minutes (%s). Close every running copy of the "
    "launcher and start "
    "it again.";

// One whole pass: the executable, then the ".CHT" companion and the cloud client library
// when they exist beside `ownExe`. Raises on the first failure.
void ReCopyPass(const std::string& ownExe, const std::string& target);

using ReCopyPassFn = std::function<void(const std::string& ownExe, const std::string& target)>;
using StartProcessFn = std::function<void(const std::string& commandLine)>;

// Repeats `pass` until one run of it succeeds, sleeping 100 ms on the process clock after
// each failure (the installed launcher may still be running), then starts the target with
// "/Again" through `startProcess`. After `kReCopyGiveUpAfter` of failures raises `Exception`
// with `kReCopyGaveUpText` (the target, the minutes, the last failure) and starts nothing.
void ReCopySelf(const std::string& ownExe, const std::string& target,
                const StartProcessFn& startProcess, const ReCopyPassFn& pass = ReCopyPass);

}  // namespace zor
