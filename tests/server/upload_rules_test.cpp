// What an upload may do: never replace a file, stay within the files and bytes of its
// folder, and never land where the release is served from.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "base/format.h"
#include "platform/fault_file_system.h"
#include "server/server_texts.h"
#include "support/file_contents.h"
#include "support/live_server.h"
#include "support/unpack_bytes.h"
#include "transport/ic_errors.h"
#include "update/plain_data_stream.h"

namespace zor {
namespace {

namespace fs = std::filesystem;
using testing::LiveServer;
using testing::TTestClient;

// Uploads `content` as `name` in the "Bpls" area; the error reply when it was refused.
std::optional<EResultError> Upload(uint16_t port, const std::string& name,
                                   const std::string& content) {
  TTestClient client(port);
  try {
    client.Connection.SendCommandData(cmdUploadFile,
                                      {TVariant(name), TVariant("Bpls"), TVariant("")});
    client.Connection.WaitResultDiscard(true);
    size_t pos = 0;
    WritePlainStream(
        static_cast<uint32_t>(content.size()),
        [&](void* buffer, size_t count) {
          std::memcpy(buffer, content.data() + pos, count);
          pos += count;
        },
        [&](const void* data, size_t count) {
          client.Connection.Handler()->Write(data, static_cast<int32_t>(count));
        });
    client.Connection.Handler()->Flush(true);
    client.Connection.WaitResultDiscard(true);
  } catch (const EResultError& e) {
    return e;
  }
  return std::nullopt;
}

void ExpectRefused(const std::optional<EResultError>& error, const std::string& message) {
  ASSERT_TRUE(error.has_value()) << "the upload was stored";
  EXPECT_EQ(error->ErrorCode, kCodeExecuteError);
  EXPECT_EQ(error->Message, message);
}

TEST(UploadRules, AnExistingFileIsNeverReplaced) {
  LiveServer live;
  live.Start();
  const fs::path stored = live.Folder.Dir() / "upload" / "bpls" / "a.bin";
  EXPECT_FALSE(Upload(live.Port, "a.bin", "first").has_value());
  ExpectRefused(Upload(live.Port, "a.bin", "second"), Format(kUploadExistsText, {"a.bin"}));
  EXPECT_EQ(testing::ReadAll(stored), "first");
}

TEST(UploadRules, AFolderTakesOnlyItsFilesAndBytes) {
  struct Case {
    const char* Name;
    int64_t Files;
    int64_t Bytes;
    std::string Third;  // the third upload, after two of 40 bytes
  } const kCases[] = {
      {"number of files", 2, 1000, "x"},
      {"bytes", 10, 100, std::string(21, 'x')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    LiveServer live({}, false, [&](TFileServiceSettings& files) {
      files.UploadFolderFiles = c.Files;
      files.UploadFolderBytes = c.Bytes;
    });
    live.Start();
    EXPECT_FALSE(Upload(live.Port, "one.bin", std::string(40, '1')).has_value());
    EXPECT_FALSE(Upload(live.Port, "two.bin", std::string(40, '2')).has_value());
    ExpectRefused(Upload(live.Port, "three.bin", c.Third),
                  Format(kUploadFolderFullText, {"three.bin", c.Files, c.Bytes}));
    EXPECT_FALSE(fs::exists(live.Folder.Dir() / "upload" / "bpls" / "three.bin"));
    // Another folder has room of its own.
    EXPECT_FALSE(Upload(live.Port, "sub\\three.bin", c.Third).has_value());
  }
}

TEST(UploadRules, TheUploadFolderMayNotOverlapTheRelease) {
  testing::TempFolder folder;
  const fs::path release = folder.Dir() / "release";
  fs::create_directories(release / "bin");
  struct Case {
    fs::path Upload;
    bool Refused;
  } const kCases[] = {
      {release, true},
      {release / "", true},
      {release / "bin", true},
      {release / "uploads" / "new", true},  // inside, not made yet
      {folder.Dir(), true},                 // contains it
      {release / ".." / "release", true},
      {folder.Dir() / "uploads", false},
      {folder.Dir() / "release-uploads", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Upload.string());
    if (c.Refused) {
      try {
        CheckUploadFolder(c.Upload, release);
        ADD_FAILURE() << "accepted";
      } catch (const Exception& e) {
        EXPECT_EQ(e.Message, Format(kUploadInReleaseText, {c.Upload.string(), release.string()}));
      }
    } else {
      EXPECT_NO_THROW(CheckUploadFolder(c.Upload, release));
    }
  }
  // The service refuses to be made with such a folder.
  TServerLog log;
  log.SetUseStdErr(false);
  TMemorySettings settings;
  TZORServer server(log, settings);
  TFileServiceSettings files;
  files.ReleaseDir = release;
  files.CacheDir = folder.Dir() / "cache";
  files.UploadDir = release / "bin";
  EXPECT_THROW(TFileService(&server, files), Exception);
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// An upload goes through the file layer: a failed write (a full disk among them), sync or
// open refuses it with the usual reply, leaves neither the file nor a temporary, and a later
// upload of the same name is stored whole.
TEST(UploadRules, AFailingDiskRefusesTheUploadAndLeavesNothing) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
  } const kCases[] = {
      {"a write fails", [](FaultFileSystem& f) { f.FailWrite(1); }},
      {"the disk fills", [](FaultFileSystem& f) { f.SetFreeSpace(1000); }},
      {"the sync fails", [](FaultFileSystem& f) { f.FailSync(1); }},
      {"the file cannot be made", [](FaultFileSystem& f) { f.FailOpenForWriting(1, EROFS); }},
  };
  LiveServer live;
  live.Start();
  const fs::path folder = live.Folder.Dir() / "upload" / "bpls";
  const std::string content(5000, 'u');
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    const std::string name = "f" + std::to_string(++n) + ".bin";
    {
      FaultFileSystem faults;
      ScopedFileSystem use(faults);
      faults.OnlyFor([&](const std::string& path) {
        return path.rfind((live.Folder.Dir() / "upload").string(), 0) == 0;
      });
      c.Arm(faults);
      ExpectRefused(Upload(live.Port, name, content), Format(kUploadNotStoredText, {name}));
    }
    std::vector<std::string> left;
    if (fs::exists(folder))
      for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    for (const std::string& stored : left)
      EXPECT_EQ(stored.rfind("f", 0), std::string::npos)
          << stored;  // only the earlier cases' stored files ("g…") may be there
    const std::string again = "g" + std::to_string(n) + ".bin";
    EXPECT_FALSE(Upload(live.Port, again, content).has_value());
    EXPECT_EQ(testing::ReadAll(folder / again), content);
  }
}

}  // namespace
}  // namespace zor
