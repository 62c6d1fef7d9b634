// Stand-ins for the start window's and the update worker's surroundings: a file service
// answering from a table and writing the files it "downloads", an owner that records the
// worker's hooks, a message-box catcher, and a private folder per test.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "startup/launch/application_state.h"
#include "startup/launch/message_box.h"
#include "startup/updating/file_list.h"
#include "startup/updating/sync_thread.h"
#include "startup/updating/update_source.h"
#include "startup_test_util.h"
#include "update/disk_full.h"

namespace zor::test {

// A private folder per test.
using LaunchFolder = testing::TempFolder;

// A server file: what the info request answers and what a download writes.
struct FakeServerFile {
  TFileObject Info;
  std::string Content;
};

class FakeUpdateSource : public TUpdateSource {
 public:
  void EnsureClient() override {
    std::lock_guard guard(Lock);
    Calls.push_back("EnsureClient");
    if (!ConnectError.empty()) throw Exception(ConnectError);
  }
  void ResetClient() override { Record("ResetClient"); }
  bool GetServerFileList(std::string& fileList, std::string& second) override {
    Record("GetServerFileList");
    fileList = ListText;
    second = "unused";
    return true;
  }
  bool GetRemoteFileInfo(const std::string& name, const std::string& area,
                         TFileObject& info) override {
    Record("Info " + name + " " + area);
    std::lock_guard guard(Lock);
    const auto found = Files.find(name);
    if (found == Files.end()) return false;
    info = found->second.Info;
    return true;
  }
  bool DownloadOne(const std::string& name, const std::string& area, bool deleteFirst,
                   const std::string& baseDir) override {
    Record("DownloadOne " + name + " " + area + (deleteFirst ? " delete " : " keep ") + baseDir);
    const std::string path = baseDir + LocalFileName(name);
    if (deleteFirst) std::filesystem::remove(path);
    std::lock_guard guard(Lock);
    const auto found = Files.find(name);
    if (found == Files.end()) return false;
    WriteFile(path, found->second.Content);
    return true;
  }
  void DownloadList(const TFileList& list) override {
    std::string names;
    for (const TFileEntry& entry : list) names += (names.empty() ? "" : ",") + entry.Name;
    Record("DownloadList " + names);
    if (!DownloadError.empty()) throw Exception(DownloadError);
    if (!DiskFullPath.empty()) throw EDiskFull("disk full", DiskFullPath);
    for (const TFileEntry& entry : list) {
      WriteFile(InstallDir + LocalFileName(entry.Name), Files[entry.Name].Content);
      Downloaded += entry.File.FileSize;
    }
  }
  int64_t DownloadTotal() override { return Total.load(); }
  int64_t DownloadedBytes() override { return Downloaded.load(); }
  std::string CurrentFileName() override {
    std::lock_guard guard(Lock);
    return CurrentFile;
  }
  void StartCounters(int64_t total) override {
    Record("StartCounters " + std::to_string(total));
    Total = total;
    Downloaded = 0;
  }

  void Record(const std::string& call) {
    std::lock_guard guard(Lock);
    Calls.push_back(call);
  }
  std::vector<std::string> TakeCalls() {
    std::lock_guard guard(Lock);
    return std::exchange(Calls, {});
  }

  std::mutex Lock;
  std::vector<std::string> Calls;
  std::map<std::string, FakeServerFile> Files;
  std::string ListText;
  std::string InstallDir;
  std::string ConnectError;
  std::string DownloadError;
  std::string DiskFullPath;  // the download list fails as a full disk writing this file
  std::atomic<int64_t> Total{0};
  std::atomic<int64_t> Downloaded{0};
  std::string CurrentFile;  // what `CurrentFileName` answers (under Lock)
};

// Records the worker's hooks in order; the start event is always open.
class RecordingOwner : public TSyncThreadOwner {
 public:
  void CheckZorInfo() override {
    Record("CheckZorInfo");
    if (Source) Source->EnsureClient();
  }
  void StartMainExe() override { Record("StartMainExe"); }
  void StartingInstalledRelease(const std::string& notice) override {
    Record("StartingInstalledRelease " + notice);
  }
  void ChangeSettings(bool force) override {
    Record(force ? "ChangeSettings(true)" : "ChangeSettings(false)");
  }
  void ShowDownloadWindow() override { Record("ShowDownloadWindow"); }
  void HideDownloadWindow() override { Record("HideDownloadWindow"); }
  void WaitStartEvent() override { Record("WaitStartEvent"); }
  void ClearSettingsChanged() override { ++Cleared; }
  void SetWorkerElapsed(int64_t) override {}
  void UpdateAbandoned(int failedPasses) override {
    Record("UpdateAbandoned " + std::to_string(failedPasses));
  }
  void SetDone() override { Record("SetDone"); }

  void Record(const std::string& call) {
    std::lock_guard guard(Lock);
    Calls.push_back(call);
  }

  std::mutex Lock;
  std::vector<std::string> Calls;
  std::atomic<int> Cleared{0};
  TUpdateSource* Source = nullptr;
};

// Catches message boxes for the lifetime of the object.
class MessageCatcher : public MessageBoxHandler {
 public:
  MessageCatcher() { SetMessageBoxHandler(this); }
  ~MessageCatcher() override { SetMessageBoxHandler(nullptr); }
  MessageResult ShowMessageBox(const MessageBoxRequest& request) override {
    std::lock_guard guard(Lock);
    Lines.push_back(FormatMessageBoxLine(request));
    return MessageResult::Ok;
  }
  std::vector<std::string> Take() {
    std::lock_guard guard(Lock);
    return std::exchange(Lines, {});
  }
  std::mutex Lock;
  std::vector<std::string> Lines;
};

// Leaves the application "running" again after a test that ended it.
struct ApplicationStateReset {
  ApplicationStateReset() { ResetApplicationState(); }
  ~ApplicationStateReset() { ResetApplicationState(); }
};

}  // namespace zor::test
