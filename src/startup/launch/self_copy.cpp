#include "startup/launch/self_copy.h"

#include <exception>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_system.h"
#include "startup/launch/command_line.h"
#include "startup/launch/file_copy.h"
#include "startup/launch/path_names.h"

namespace zor {

void ReCopyPass(const std::string& ownExe, const std::string& target) {
  CopyFileKeepTime(ownExe, target);
  FileSystem& files = CurrentFileSystem();
  const std::string ownCompanion = ChangeFileExt(ownExe, kLanguageCompanionExt);
  if (files.IsFile(ownCompanion)) {
    CopyFileKeepTime(ownCompanion, ChangeFileExt(target, kLanguageCompanionExt));
  }
  const std::string ownLibrary = ExtractFilePath(ownExe) + std::string(kCloudClientLibrary);
  if (files.IsFile(ownLibrary)) {
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
