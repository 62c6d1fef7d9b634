#include "intercom/log_object.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/format.h"
#include "base/utf.h"

namespace zor {
namespace {

// A new log file is readable by others, as the files the user makes.
constexpr uint32_t kLogFileMode = 0666;

std::mutex gSinkLock;
std::function<void(const std::string&)> gSink;

void ReportLogError(const std::string& text) {
  std::lock_guard guard(gSinkLock);
  if (gSink)
    gSink(text);
  else
    std::cerr << text << '\n';
}

// Local broken-down time of the current clock.
std::tm LocalNow(int& milliseconds) {
  static std::mutex timeLock;  // std::localtime shares one result buffer
  const auto now = GetClock().UtcNow();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  milliseconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::lock_guard guard(timeLock);
  return *std::localtime(&seconds);
}

}  // namespace

void SetLogErrorSink(std::function<void(const std::string&)> sink) {
  std::lock_guard guard(gSinkLock);
  gSink = std::move(sink);
}

TLogObject::~TLogObject() {
  std::lock_guard guard(LogLock);
  if (LogFile) FlushLocked();
}

void TLogObject::OpenLog(const std::string& path) {
  {
    std::lock_guard guard(LogLock);
    if (LogFile) {
      FlushLocked();
      LogFile.reset();
    }
    LogPath = path;
    if (path.empty()) return;
    try {
      // Appended to, created readable as any file the user makes; never through a link.
      LogFile = CurrentFileSystem().Open(path, OpenMode::Append, kLogFileMode);
    } catch (const EFileSystemError&) {
      ReportLogError(Format("在写入Log档%s时发生错误！", {path}));
      return;
    }
  }
  WriteLog(LogStartText());
}

bool TLogObject::LogEnabled() const {
  std::lock_guard guard(LogLock);
  return LogFile != nullptr;
}

uint64_t TLogObject::LogBytesWritten() const {
  std::lock_guard guard(LogLock);
  return BytesWritten;
}

void TLogObject::WriteLog(std::string_view text, bool timeStamp, bool lineEnd, size_t maxChars) {
  std::lock_guard guard(LogLock);
  if (!LogFile) return;
  int ms = 0;
  const std::tm now = LocalNow(ms);
  const int day = (now.tm_year + 1900) * 10000 + (now.tm_mon + 1) * 100 + now.tm_mday;
  if (day != LastDay) {
    LastDay = day;
    char header[64];
    std::snprintf(header, sizeof header, "***** %04d/%02d/%02d *****\r\n", now.tm_year + 1900,
                  now.tm_mon + 1, now.tm_mday);
    Append(Utf8ToUtf16(header));
  }
  if (timeStamp) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d %03d > ", now.tm_hour, now.tm_min,
                  now.tm_sec, ms);
    Append(Utf8ToUtf16(stamp));
  }
  std::u16string units = Utf8ToUtf16(text);
  if (maxChars > 0 && units.size() > maxChars) units.resize(maxChars);
  Append(units);
  if (lineEnd) Append(u"\r\n");
}

void TLogObject::FlushLog() {
  std::lock_guard guard(LogLock);
  FlushLocked();
}

void TLogObject::Append(std::u16string_view text) {
  for (char16_t c : text) {
    if (Fill + 2 > sizeof Buffer) FlushLocked();
    StoreLE16(Buffer + Fill, c);
    Fill += 2;
  }
}

void TLogObject::FlushLocked() {
  if (!LogFile || Fill == 0) return;
  try {
    LogFile->WriteAllAt(0, Buffer, Fill);  // appended: the position does not matter
    BytesWritten += Fill;
  } catch (const EFileSystemError&) {
    ReportLogError(Format("在写入Log档%s时发生错误！", {LogPath}));
  }
  Fill = 0;
}

}  // namespace zor
