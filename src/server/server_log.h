// The server's log: lines with a level and a tag, written to standard error and, when
// asked, to a file; tests add a sink of their own to read what was reported.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace zor {

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// "error", "warning", "info", "debug" (without case); false for anything else.
bool ParseLogLevel(std::string_view text, LogLevel& level);
std::string_view LogLevelName(LogLevel level);

// `text` with every control character (C0, DEL, and the C1 range of UTF-8) written as
// "\xNN" or "\u00NN", so that text from outside (a logon name, a file name) can neither start
// a line of its own nor send escape sequences to a terminal.
std::string EscapeLogText(std::string_view text);

class TServerLog {
 public:
  using Sink = std::function<void(LogLevel level, std::string_view tag, std::string_view text)>;

  TServerLog() = default;
  ~TServerLog();
  TServerLog(const TServerLog&) = delete;
  TServerLog& operator=(const TServerLog&) = delete;

  void SetLevel(LogLevel level) { Level = level; }
  LogLevel GetLevel() const { return Level; }
  // Standard error is written unless turned off (tests turn it off).
  void SetUseStdErr(bool on) { UseStdErr = on; }
  // Appends to `path` from now on; raises `Exception` when the file cannot be opened.
  void OpenFile(const std::string& path);
  // Receives every line at or below the level; returns nothing to remove it (lives as long as the
  // log).
  void AddSink(Sink sink);

  void Write(LogLevel level, std::string_view tag, std::string_view text);
  void Error(std::string_view tag, std::string_view text) { Write(LogLevel::Error, tag, text); }
  void Warning(std::string_view tag, std::string_view text) { Write(LogLevel::Warning, tag, text); }
  void Info(std::string_view tag, std::string_view text) { Write(LogLevel::Info, tag, text); }
  void Debug(std::string_view tag, std::string_view text) { Write(LogLevel::Debug, tag, text); }
  bool Enabled(LogLevel level) const { return level <= Level; }

 private:
  std::mutex Lock;
  LogLevel Level = LogLevel::Info;
  bool UseStdErr = true;
  std::unique_ptr<PositionedFile> LogFile;  // opened to append
  std::vector<Sink> Sinks;
};

}  // namespace zor
