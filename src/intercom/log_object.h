// The base of objects that can keep their own log file. Logging is off until `OpenLog` is
// called. Lines are UTF-16LE: a day header "***** yyyy/mm/dd *****" whenever the date changes,
// then optionally the local time "hh:nn:ss zzz > ", the text, and CR LF. Text is collected in a
// 512-byte buffer and written when it fills, on `FlushLog` and when the object goes away; a
// failed write reports "在写入Log档%s时发生错误！" through the log error sink and drops the buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace zor {

class TLogObject {
 public:
  TLogObject() = default;
  virtual ~TLogObject();
  TLogObject(const TLogObject&) = delete;
  TLogObject& operator=(const TLogObject&) = delete;

  // The first entry of a newly opened log.
  virtual std::string LogStartText() const { return "Log started"; }

  // Opens (appends to) the log file; an empty path closes it.
  void OpenLog(const std::string& path);
  bool LogEnabled() const;
  // Writes one entry; `maxChars` > 0 cuts the text to that many UTF-16 units.
  void WriteLog(std::string_view text, bool timeStamp = true, bool lineEnd = true,
                size_t maxChars = 0);
  void FlushLog();
  uint64_t LogBytesWritten() const;

 private:
  void Append(std::u16string_view text);  // with LogLock held
  void FlushLocked();

  mutable std::mutex LogLock;
  std::unique_ptr<PositionedFile> LogFile;
  std::string LogPath;
  uint64_t BytesWritten = 0;
  int LastDay = 0;  // yyyymmdd of the last day header
  size_t Fill = 0;
  uint8_t Buffer[512];
};

// Where log write failures are reported (standard error by default).
void SetLogErrorSink(std::function<void(const std::string&)> sink);

}  // namespace zor
