// A connection's own log file: entries are appended as UTF-16LE after what the file held, and
// a log file that cannot be opened or written is reported through the log error sink while
// the program goes on.
#include "intercom/log_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/fault_file_system.h"
#include "support/temp_folder.h"

namespace zor {
namespace {
using testing::TempFolder;

std::string Utf16le(std::string_view text) {
  std::string bytes;
  for (char16_t c : Utf8ToUtf16(text)) {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// The log error sink's reports while alive.
class CapturedLogErrors {
 public:
  CapturedLogErrors() {
    SetLogErrorSink([this](const std::string& text) { Reports.push_back(text); });
  }
  ~CapturedLogErrors() { SetLogErrorSink(nullptr); }
  std::vector<std::string> Reports;
};

TEST(LogObject, EntriesAreAppendedAfterWhatTheFileHeld) {
  TempFolder dir;
  const std::string path = dir.WriteFile("connection.log", "earlier");
  {
    TLogObject log;
    log.OpenLog(path);
    log.WriteLog("entry", false);
  }
  const std::string text = *OsFileSystem().ReadFile(path);
  EXPECT_TRUE(text.starts_with("earlier" + Utf16le("***** "))) << text;
  EXPECT_TRUE(text.ends_with(Utf16le("Log started\r\nentry\r\n"))) << text;
}

TEST(LogObject, AFailingOpenOrWriteIsReportedAndLoggingGoesOn) {
  TempFolder dir;
  const std::string path = dir / "connection.log";
  const std::string report = "在写入Log档" + path + "时发生错误！";
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  CapturedLogErrors errors;
  {
    TLogObject log;
    faults.FailOpenForWriting(1, FileErrorKind::AccessDenied);
    log.OpenLog(path);
    EXPECT_FALSE(log.LogEnabled());
    EXPECT_EQ(errors.Reports, std::vector<std::string>{report});

    log.OpenLog(path);
    ASSERT_TRUE(log.LogEnabled());
    log.FlushLog();
    const uint64_t written = log.LogBytesWritten();
    faults.FailWrite(1, FileErrorKind::NoSpace);
    log.WriteLog("lost", false);
    log.FlushLog();  // the write fails: reported, and the buffered entry dropped
    EXPECT_EQ(errors.Reports, (std::vector<std::string>{report, report}));
    EXPECT_EQ(log.LogBytesWritten(), written);
    log.WriteLog("kept", false);
  }
  const std::string text = *OsFileSystem().ReadFile(path);
  EXPECT_TRUE(text.ends_with(Utf16le("Log started\r\nkept\r\n"))) << text;
  EXPECT_EQ(text.find(Utf16le("lost")), std::string::npos);
  EXPECT_EQ(errors.Reports.size(), 2u);
}

}  // namespace
}  // namespace zor
