#include "startup/launch/self_copy.h"

#include <exception>
#include <filesystem>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "startup/launch/command_line.h"
#include "startup/launch/file_copy.h"
#include "startup/launch/path_names.h"

namespace zor {

void ReCopyPass(const std::string& ownExe, const std::string& target) {
  CopyFileKeepTime(ownExe, target);
  std::error_code ec;
  const std::string ownCompanion = ChangeFileExt(ownExe, kLanguageCompanionExt);
  if (std::filesystem::is_regular_file(ownCompanion, ec)) {
    CopyFileKeepTime(ownCompanion, ChangeFileExt(target, kLanguageCompanionExt));
  }
  const std::string ownLibrary = ExtractFilePath(ownExe) + std::string(kCloudClientLibrary);
  if (std::filesystem::is_regular_file(ownLibrary, ec)) {
    CopyFileKeepTime(ownLibrary, ExtractFilePath(target) + std::string(kCloudClientLibrary));
  }
}

void ReCopySelf(const std::string& ownExe, const std::string& target,
                const StartProcessFn& startProcess, const ReCopyPassFn& pass) {
  const auto start = GetClock().Now();
  for (;;) {
    try {
      pass(ownExe, target);
      break;
    } catch (const std::exception& e) {
      if (GetClock().Now() - start >= kReCopyGiveUpAfter) {
        throw Exception(Format(kReCopyGaveUpText,
                               {target, static_cast<int>(kReCopyGiveUpAfter.count()), e.what()}));
      }
      GetClock().SleepFor(kReCopyRetryDelay);
    }
  }
  startProcess(AgainCommandLine(target));
}

}  // namespace zor
