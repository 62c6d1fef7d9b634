// The process-wide elapsed-time log: timing lines by category, handed in batches to an
// installed sink (normally a database writer). A batch goes when the log holds more than
// 100 lines, or on a forced flush (at the end) when it holds any. Unless plain text output
// is chosen, each batch comes with the script that drops and re-creates its table, and the
// lines are insert statements for it; in plain text they are tab-separated fields.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

enum class WasteTimeCategory { Action, DownLoad, Login, SelView, Report, Other };
std::string_view CategoryName(WasteTimeCategory category);

inline constexpr size_t kWasteTimeFlushLines = 100;  // a batch goes when the log holds more

class TZORWasteTimeLog {
 public:
  // Gets the batch and, unless plain text is chosen, the table script (else empty). It is
  // called under the log's lock, so it must not add to the log itself.
  using Sink =
      std::function<void(const std::vector<std::string>& lines, const std::string& script)>;

  TZORWasteTimeLog() = default;
  ~TZORWasteTimeLog();  // forced flush
  TZORWasteTimeLog(const TZORWasteTimeLog&) = delete;
  TZORWasteTimeLog& operator=(const TZORWasteTimeLog&) = delete;

  void SetSink(Sink sink);
  void SetPlainText(bool plainText);
  // The two names of the table: "LogTime_" + first (with "." as "_") + "_" + second.
  void SetTableNames(std::string firstName, std::string secondName);
  // Filled from the system by the platform layer.
  void SetSystemInfo(std::string computerName, std::string windowsUser, std::string version,
                     std::string servicePack);

  void Add(WasteTimeCategory category, std::string_view senderName, std::string_view title,
           std::string_view detail, int64_t diffTimeMs);
  // Sends the lines to the sink (or discards them without one) when there are more than
  // 100, or when `force` is set and there are any; then empties the list.
  void Flush(bool force);

  size_t Count();
  std::string TableName();

 private:
  std::string TableNameLocked() const;
  std::string TableScriptLocked() const;
  std::string NewGuid();

  std::mutex Lock;
  std::string FirstName, SecondName;
  std::string ComputerName, WindowsUser, Version, ServicePack;
  std::vector<std::string> Entries;
  bool PlainText = false;
  Sink Output;
  std::mt19937_64 Random{std::random_device{}()};
};

// The log of the process, created on first use; flushed (forced) at process end.
TZORWasteTimeLog& WasteTimeLog();

}  // namespace zor
