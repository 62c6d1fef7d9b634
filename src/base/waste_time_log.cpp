#include "base/waste_time_log.h"

#include <cstdio>

#include "base/finalization.h"
#include "base/format.h"

namespace zor {

namespace {

// Column widths of the log table, in characters.
constexpr size_t kGuidWidth = 38, kPcNameWidth = 20, kWindowUserWidth = 20, kVersionWidth = 24,
                 kServicePackWidth = 10, kSenderNameWidth = 30, kCategoryWidth = 40,
                 kTitleWidth = 40, kDetailWidth = 100;

// At most `width` UTF-8 characters of the text, so an insert never overflows a column.
std::string_view Clip(std::string_view text, size_t width) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == width) return text.substr(0, i);
  }
  return text;
}

std::string SqlText(std::string_view text, size_t width) {
  std::string out = "'";
  for (char c : Clip(text, width)) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string PlainField(std::string_view text, size_t width) {
  std::string out(Clip(text, width));
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

std::string QuoteName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    if (c == ']') out += ']';
    out += c;
  }
  return out + "]";
}

}  // namespace

std::string_view CategoryName(WasteTimeCategory category) {
  switch (category) {
    case WasteTimeCategory::Action:
      return "Action";
    case WasteTimeCategory::DownLoad:
      return "DownLoad";
    case WasteTimeCategory::Login:
      return "Login";
    case WasteTimeCategory::SelView:
      return "SelView";
    case WasteTimeCategory::Report:
      return "Report";
    case WasteTimeCategory::Other:
      return "Other";
  }
  return "Other";
}

TZORWasteTimeLog::~TZORWasteTimeLog() {
  Flush(true);
}

void TZORWasteTimeLog::SetSink(Sink sink) {
  std::lock_guard guard(Lock);
  Output = std::move(sink);
}

void TZORWasteTimeLog::SetPlainText(bool plainText) {
  std::lock_guard guard(Lock);
  PlainText = plainText;
}

void TZORWasteTimeLog::SetTableNames(std::string firstName, std::string secondName) {
  std::lock_guard guard(Lock);
  FirstName = std::move(firstName);
  SecondName = std::move(secondName);
}

void TZORWasteTimeLog::SetSystemInfo(std::string computerName, std::string windowsUser,
                                     std::string version, std::string servicePack) {
  std::lock_guard guard(Lock);
  ComputerName = std::move(computerName);
  WindowsUser = std::move(windowsUser);
  Version = std::move(version);
  ServicePack = std::move(servicePack);
}

std::string TZORWasteTimeLog::NewGuid() {
  const uint64_t a = Random(), b = Random();
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF),
                static_cast<unsigned>((a & 0x0FFF) | 0x4000),
                static_cast<unsigned>(((b >> 48) & 0x3FFF) | 0x8000),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
  return buf;
}

void TZORWasteTimeLog::Add(WasteTimeCategory category, std::string_view senderName,
                           std::string_view title, std::string_view detail, int64_t diffTimeMs) {
  {
    std::lock_guard guard(Lock);
    const std::string guid = NewGuid();
    const std::string_view cat = CategoryName(category);
    if (PlainText) {
      Entries.push_back(guid + '\t' + PlainField(ComputerName, kPcNameWidth) + '\t' +
                        PlainField(WindowsUser, kWindowUserWidth) + '\t' +
                        PlainField(Version, kVersionWidth) + '\t' +
                        PlainField(ServicePack, kServicePackWidth) + '\t' +
                        PlainField(senderName, kSenderNameWidth) + '\t' + std::string(cat) + '\t' +
                        PlainField(title, kTitleWidth) + '\t' + PlainField(detail, kDetailWidth) +
                        '\t' + std::to_string(diffTimeMs));
    } else {
      Entries.push_back(
          "INSERT INTO " + QuoteName(TableNameLocked()) +
          " (GUID, PCName, WindowUser, Version, ServicePack, SenderName, Category, Title, Detail, "
          "DiffTime) VALUES (" +
          SqlText(guid, kGuidWidth) + ", " + SqlText(ComputerName, kPcNameWidth) + ", " +
          SqlText(WindowsUser, kWindowUserWidth) + ", " + SqlText(Version, kVersionWidth) + ", " +
          SqlText(ServicePack, kServicePackWidth) + ", " + SqlText(senderName, kSenderNameWidth) +
          ", " + SqlText(cat, kCategoryWidth) + ", " + SqlText(title, kTitleWidth) + ", " +
          SqlText(detail, kDetailWidth) + ", " + std::to_string(static_cast<int32_t>(diffTimeMs)) +
          ")");
    }
  }
  Flush(false);
}

void TZORWasteTimeLog::Flush(bool force) {
  std::lock_guard guard(Lock);
  if (!(Entries.size() > kWasteTimeFlushLines || (force && !Entries.empty()))) return;
  if (Output) {
    const std::string script = PlainText ? std::string() : TableScriptLocked();
    Output(Entries, script);
  }
  Entries.clear();
}

size_t TZORWasteTimeLog::Count() {
  std::lock_guard guard(Lock);
  return Entries.size();
}

std::string TZORWasteTimeLog::TableNameLocked() const {
  std::string first = FirstName;
  for (char& c : first)
    if (c == '.') c = '_';
  return "LogTime_" + first + "_" + SecondName;
}

std::string TZORWasteTimeLog::TableName() {
  std::lock_guard guard(Lock);
  return TableNameLocked();
}

std::string TZORWasteTimeLog::TableScriptLocked() const {
  const std::string name = QuoteName(TableNameLocked());
  return "IF OBJECT_ID(" + SqlText(name, name.size()) + ") IS NOT NULL DROP TABLE " + name +
         "\r\n" + "CREATE TABLE " + name +
         " (GUID char(38) NOT NULL PRIMARY KEY, PCName varchar(20), WindowUser varchar(20), "
         "Version varchar(24), "
         "ServicePack varchar(10), SenderName varchar(30), Category varchar(40), Title "
         "varchar(40), "
         "Detail varchar(100), DiffTime int)\r\n";
}

TZORWasteTimeLog& WasteTimeLog() {
  static auto* log = [] {
    AddFinalizeProc([] { WasteTimeLog().Flush(true); });
    return new TZORWasteTimeLog;
  }();
  return *log;
}

}  // namespace zor
