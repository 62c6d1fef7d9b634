// The cloud lookup's log: its file names, its line format, its size limit, and where its
// settings come from.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/thread_id.h"
#include "platform/zor_registry.h"
#include "startup/server_settings/cloud_log.h"
#include "startup_test_util.h"
#include "support/file_contents.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

using testing::ReadAll;

// Points the process's cloud log at a folder for one test and restores "off" afterwards.
class ScopedCloudLog {
 public:
  ScopedCloudLog(bool enabled, const std::string& folder) {
    SetCloudLogSettings({enabled, folder});
  }
  ~ScopedCloudLog() { SetCloudLogSettings({false, ""}); }
};

TEST(CloudLog, FileNamesFollowTheTag) {
  struct Case {
    const char* tag;
    const char* name;
  } const kCases[] = {
      {"EPID_80001234", "/logs/CloudM880Log-EPID_80001234.Log"},
      {"  EPID_7 ", "/logs/CloudM880Log-EPID_7.Log"},
      {"", "/logs/CloudM880Log.Log"},
      {"   ", "/logs/CloudM880Log.Log"},
      // What the user typed as the id cannot lead out of the log folder.
      {"EPID_../../etc/x", "/logs/CloudM880Log-EPID_.._.._etc_x.Log"},
      {"EPID_a\\b\tc", "/logs/CloudM880Log-EPID_a_b_c.Log"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(CloudLogFileName("/logs/", c.tag), c.name);
  }
}

TEST(CloudLog, LineFormat) {
  const LocalDateTime time{2024, 3, 7, 9, 5, 2, 45};
  EXPECT_EQ(FormatCloudLogLine(time, 4711, "RW880-SOAP:Begin EPID = 1", false),
            "2024-03-07 09:05:02:045(4711): RW880-SOAP:Begin EPID = 1 \r\n");
  EXPECT_EQ(FormatCloudLogLine(time, 1, "broken", true),
            "2024-03-07 09:05:02:045(1): [Error] broken \r\n");
}

TEST(CloudLog, WritesOnlyWhenEnabledOrForErrors) {
  test::TempFolder folder;
  const std::string logs = (std::filesystem::path(folder.Path()) / "Logs").string();
  const std::filesystem::path file =
      std::filesystem::path(folder.Path()) / "Logs" / "CloudM880Log-T.Log";
  {
    ScopedCloudLog scope(false, logs);
    WriteCloudLog("quiet", "T", false);
    EXPECT_FALSE(std::filesystem::exists(file));
    WriteCloudLog("loud", "T", true);
    const std::string text = ReadAll(file);
    const std::string tail = "(" + std::to_string(CurrentThreadId()) + "): [Error] loud \r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.size(), std::string("yyyy-mm-dd hh:nn:ss:zzz").size() + tail.size());
  }
  {
    ScopedCloudLog scope(true, logs);
    WriteCloudLog("second", "T", false);
    const std::string text = ReadAll(file);
    EXPECT_NE(text.find("[Error] loud \r\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("): second \r\n")) << text;
  }
  // The log is this user's alone, and a link put at its name is never written through.
  EXPECT_EQ(std::filesystem::status(file).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::filesystem::path linked =
      std::filesystem::path(folder.Path()) / "Logs" / "CloudM880Log-L.Log";
  const std::filesystem::path victim = std::filesystem::path(folder.Path()) / "victim";
  { std::ofstream(victim) << "keep"; }
  std::filesystem::create_symlink(victim, linked);
  ScopedCloudLog scope(true, logs);
  WriteCloudLog("through the link?", "L", true);
  EXPECT_EQ(ReadAll(victim), "keep");
}

TEST(CloudLog, FileAtTheLimitIsEmptiedFirst) {
  struct Case {
    int64_t size;
    bool emptied;
  } const kCases[] = {{kCloudLogLimitBytes, true},
                      {kCloudLogLimitBytes - 1, false},
                      {kCloudLogLimitBytes + 9, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.size);
    test::TempFolder folder;
    ScopedCloudLog scope(true, folder.Path());
    const std::filesystem::path file = std::filesystem::path(folder.Path()) / "CloudM880Log.Log";
    { std::ofstream(file, std::ios::binary) << "old"; }
    std::filesystem::resize_file(file, static_cast<uintmax_t>(c.size));
    WriteCloudLog("new", "", false);
    const auto size = static_cast<int64_t>(std::filesystem::file_size(file));
    const std::string text = ReadAll(file);
    const std::string line = "(" + std::to_string(CurrentThreadId()) + "): new \r\n";
    const int64_t lineSize =
        static_cast<int64_t>(std::string("yyyy-mm-dd hh:nn:ss:zzz").size() + line.size());
    EXPECT_TRUE(text.ends_with(line));
    if (c.emptied) {
      EXPECT_EQ(size, lineSize);  // only the new line is left
    } else {
      EXPECT_EQ(text.substr(0, 3), "old");
      EXPECT_EQ(size, c.size + lineSize);
    }
  }
}

TEST(CloudLog, SettingsFromTheMachineKey) {
  testing::RegistryTestDir registry;
  test::TempFolder folder;
  const std::string data = folder / "data";
  struct Case {
    const char* name;
    bool setLog;
    const char* logPath;
    const char* zorPath;
    bool enabled;
    std::string folder;
  } const kCases[] = {
      {"path given", true, "/var/log/zor", "", true, "/var/log/zor/"},
      {"path from the data folder", true, "", data.c_str(), true, data + "/Logs/"},
      {"nothing set", false, "", "", false, std::filesystem::current_path().string() + "/Logs/"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    reg.DeleteKey("\\Software\\ZOR");
    if (c.setLog) {
      ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR", true));
      reg.WriteBool("WriteLogEnable", c.enabled);
      reg.WriteString("WriteLogPath", c.logPath);
    }
    if (*c.zorPath) {
      ASSERT_TRUE(reg.OpenKey("\\Software\\ZOR\\DK880", true));
      reg.WriteString("ZORPath", c.zorPath);
    }
    const TCloudLogSettings settings = ReadCloudLogSettings();
    EXPECT_EQ(settings.Enabled, c.enabled);
    EXPECT_EQ(settings.Folder, c.folder);
  }
}

}  // namespace
}  // namespace zor
