// IClient, the stand-in main program: holds its run mutex (the one the launcher probes)
// while it runs, appends how it was started to "IClient.started" beside itself (or to the
// file $ZOR_DEMO_STARTED names, for a folder the user may not write), waits
// $ZOR_DEMO_HOLD_MS milliseconds (default 0) and exits.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/clock.h"
#include "platform/command_line_split.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/program_parameters.h"
#include "platform/system_info.h"
#include "startup/client_info/client_environment.h"
#include "startup/client_info/zor_info.h"
#include "startup/launch/path_names.h"
#include "startup/launch/program_arguments.h"

namespace {

constexpr std::string_view kStartedFileExt = ".started";
constexpr long kMaxHoldMs = 24L * 60 * 60 * 1000;

long HoldMilliseconds() {
  const char* text = std::getenv("ZOR_DEMO_HOLD_MS");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0) return 0;
  return value < kMaxHoldMs ? value : kMaxHoldMs;
}

// "2026-12-10T04:00:37Z".
std::string UtcTimeText() {
  using namespace std::chrono;
  const auto now = floor<seconds>(zor::GetClock().UtcNow());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                static_cast<long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    zor::SetProgramArguments(argc, argv);
    zor::RegisterZorInfoClass();
    const std::string exePath = zor::GetExePath();
    zor::NamedMutex running(zor::MutexName(zor::FileNameWithoutExt(exePath)), true);

    std::string line = UtcTimeText();
    for (const std::string& param : zor::ProgramParameterList())
      line += " " + zor::QuoteArgument(param);
    // Readable by the demo that checks it, as any file the user makes; a test may name
    // another file for the record.
    const char* startedFile = std::getenv("ZOR_DEMO_STARTED");
    const std::string recordPath = startedFile && *startedFile ? std::string(startedFile)
                                                               : zor::ChangeFileExt(exePath, "") +
                                                                     std::string(kStartedFileExt);
    zor::CurrentFileSystem()
        .Open(recordPath, zor::OpenMode::Append, 0666)
        ->WriteAllAt(0, line + "\n");

    zor::GetClock().SleepFor(std::chrono::milliseconds(HoldMilliseconds()));
    zor::UnregisterZorInfoClass();
  } catch (...) {
  }
  return 0;
}
