#include "server/server_log.h"

#include <chrono>

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "platform/open_or_fail.h"

namespace zor {

namespace {

constexpr std::string_view kLevelNames[] = {"error", "warning", "info", "debug"};

// "2026-12-10 03:58:54.123Z" in UTC.
std::string TimeStamp() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(GetClock().UtcNow());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

}  // namespace

bool ParseLogLevel(std::string_view text, LogLevel& level) {
  for (size_t i = 0; i < std::size(kLevelNames); ++i) {
    if (SameTextAscii(text, kLevelNames[i])) {
      level = static_cast<LogLevel>(i);
      return true;
    }
  }
  return false;
}

std::string_view LogLevelName(LogLevel level) {
  return kLevelNames[static_cast<size_t>(level)];
}

TServerLog::~TServerLog() = default;

void TServerLog::OpenFile(const std::string& path) {
  // Never through a link someone put at the name: the server may run as root.
  std::unique_ptr<PositionedFile> file;
  try {
    file = OpenOrFail(path, OpenMode::Append, OpenOptions{.Permissions = kPrivateFileMode});
  } catch (const std::exception& e) {
    throw Exception("Cannot open the log file " + path + ": " + e.what());
  }
  std::lock_guard guard(Lock);
  LogFile = std::move(file);
}

void TServerLog::AddSink(Sink sink) {
  std::lock_guard guard(Lock);
  Sinks.push_back(std::move(sink));
}

std::string EscapeLogText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      const auto code = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void TServerLog::Write(LogLevel level, std::string_view tag, std::string_view text) {
  if (!Enabled(level)) return;
  std::lock_guard guard(Lock);
  for (const Sink& sink : Sinks) sink(level, tag, text);
  if (!UseStdErr && !LogFile) return;
  std::string line = TimeStamp();
  line += ' ';
  line += LogLevelName(level);
  line += " [";
  line += EscapeLogText(tag);
  line += "] ";
  line += EscapeLogText(text);
  line += '\n';
  if (UseStdErr) std::fwrite(line.data(), 1, line.size(), stderr);
  if (LogFile) {
    try {
      LogFile->WriteAllAt(0, line);  // appended, whatever the position
    } catch (const std::exception&) {
      // A full disk must not stop the server; the line still reached the other outputs.
    }
  }
}

}  // namespace zor
