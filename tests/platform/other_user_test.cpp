// Another local user acting against this one: putting a pipe name where the server's should
// be, holding or planting mutex lock files, planting the private folder. The other user is
// a child process of this test program under another user id.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/exceptions.h"
#include "platform/local_socket.h"
#include "platform/named_mutex.h"
#include "platform/runtime_dir.h"
#include "platform/system_info.h"
#include "self_child.h"
#include "support/temp_folder.h"
#include "transport/pipe_handler.h"

namespace zor {
namespace {

using zor::testing::kOtherUserId;
using zor::testing::SelfChild;

std::string NotPrivateText(const std::string& folder, int owner, const char* mode) {
  return "The folder " + folder + " is not private to this user (owner " + std::to_string(owner) +
         ", mode " + mode +
         "); the launcher keeps its own files only in a folder that nobody else can enter. Remove "
         "it or give it to "
         "this user with mode 0700.";
}

class OtherUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason = zor::testing::CannotRunAsOtherUser();
    if (!reason.empty()) GTEST_SKIP() << "Skipped: " << reason << ".";
    chmod(Folder.Path().c_str(), 0755);
    // A folder like /tmp: everyone may add to it, nobody removes another user's files.
    ASSERT_EQ(mkdir(Shared.c_str(), 0755), 0);
    chmod(Shared.c_str(), 01777);
  }

  // The other user runs `act` with `argument` and the shared runtime folder; its answer.
  std::unique_ptr<SelfChild> StartOther(const std::string& act, const std::string& argument,
                                        int* answer) {
    auto child = std::make_unique<SelfChild>(
        "OtherUserChild.DISABLED_Act",
        std::vector<std::pair<std::string, std::string>>{
            {"ZOR_TEST_ACT", act}, {"ZOR_TEST_ARG", argument}, {"ZOR_RUNTIME_DIR", Shared}},
        kOtherUserId);
    *answer = child->WaitReady();
    return child;
  }

  zor::testing::TempFolder Folder;
  std::string Shared = Folder.Path() + "shared";
};

TEST_F(OtherUserTest, APipeNamePutThereByAnotherUserIsNeverConnected) {
  ScopedRuntimeDir runtime(Shared);
  const std::string path = LocalPipeFolder() + "/zorserverpipe6x";
  int listening = 0;
  auto other = StartOther("listen", path, &listening);
  ASSERT_EQ(listening, '1');  // the shared folder let it make the pipe folder as its own

  int error = 0;
  EXPECT_EQ(ConnectLocal(path, error), -1);
  EXPECT_TRUE(IsLocalNotTrusted(error));
  try {
    TPipeHandler client("\\\\.\\pipe\\zorserverpipe6x");
    FAIL() << "connected to the other user's pipe";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "无法连接至[" + GetComputerName() + "], 因为：\r\nThe pipe " + path +
                             " does not belong to the server's user, so it was not used (another "
                             "user may have put it "
                             "there).");
  }
}

TEST_F(OtherUserTest, AnotherUserCannotAddANameToTheServersPipeFolder) {
  const std::string runtime = Folder.Path() + "run";
  ASSERT_EQ(mkdir(runtime.c_str(), 0755), 0);
  ScopedRuntimeDir scope(runtime);
  const std::string path = LocalPipeFolder() + "/zorserverpipe6x";
  int error = 0;
  const int server = CreateLocalListener(path, 4, error);  // this user is the server's here
  ASSERT_GE(server, 0) << error;
  struct stat folder {};
  ASSERT_EQ(lstat(LocalPipeFolder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0755u);

  int listening = 0;
  auto other = StartOther("listen", LocalPipeFolder() + "/other", &listening);
  EXPECT_EQ(listening, '0');

  const int client = ConnectLocal(path, error);
  ASSERT_GE(client, 0) << error;
  EXPECT_EQ(LocalPeerUserId(client), static_cast<int64_t>(geteuid()));
  close(client);
  close(server);
}

TEST_F(OtherUserTest, AGlobalMutexInAFolderOfAnotherUserIsNotTrusted) {
  // The other user makes the machine-wide folder its own and holds the upgrade mutex there:
  // the lock is not trusted, so this user's update is neither blocked nor skipped.
  int owned = 0;
  auto other = StartOther("mutex", "Global\\NZORUpgradeKernal", &owned);
  ASSERT_EQ(owned, '1');
  ScopedRuntimeDir runtime(Shared);
  EXPECT_FALSE(ProbeNamedMutex("Global\\NZORUpgradeKernal"));
  NamedMutex upgrade("Global\\NZORUpgradeKernal", true);
  EXPECT_TRUE(upgrade.Owned());
  EXPECT_EQ(upgrade.LockFilePath(), PrivateMutexLockFile("Global\\NZORUpgradeKernal"));
}

TEST_F(OtherUserTest, APrivateFolderTakenByAnotherUserIsRefusedWithAClearError) {
  // The other user's own session mutex makes "<runtime>/session" its private folder first.
  int owned = 0;
  auto other = StartOther("mutex", "NIClient", &owned);
  ASSERT_EQ(owned, '1');
  ScopedRuntimeDir runtime(Shared);
  EXPECT_FALSE(ProbeNamedMutex("NIClient"));  // its lock says nothing about this user
  const std::string expected = NotPrivateText(Shared + "/session", kOtherUserId, "0700");
  for (const auto& attempt : std::vector<std::function<void()>>{[] { NamedMutex mine("NIClient"); },
                                                                [] { PrivateStagingFolder(); }}) {
    try {
      attempt();
      FAIL() << "used the other user's folder";
    } catch (const EPrivateFolderError& e) {
      EXPECT_EQ(e.Message, expected);
    }
  }
}

TEST(PrivateFolder, IsMadeClosedAndUsedOnlyWhenItIsStillOursAndClosed) {
  zor::testing::TempFolder folder;
  ScopedRuntimeDir runtime(folder.Path() + "run");
  const std::string staging = PrivateStagingFolder();
  EXPECT_EQ(staging, folder.Path() + "run/session/staging/");
  for (const std::string& level : {folder.Path() + "run/session", staging}) {
    struct stat info {};
    ASSERT_EQ(lstat(level.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u) << level;
  }
  EXPECT_EQ(PrivateStagingFolder(), staging);  // found again as it was left

  const std::string session = folder.Path() + "run/session";
  const std::string elsewhere = folder.Path() + "elsewhere";
  std::filesystem::create_directory(elsewhere);
  chmod(elsewhere.c_str(), 0700);
  struct Case {
    const char* What;
    std::function<void()> Spoil;
    std::string Folder;
    const char* Mode;
  } const kCases[] = {
      {"open to others", [&] { chmod(session.c_str(), 0755); }, session, "0755"},
      {"staging open to the group", [&] { chmod((session + "/staging").c_str(), 0770); },
       session + "/staging", "0770"},
      {"a link to a folder of ours",
       [&] {
         std::filesystem::remove_all(session);
         std::filesystem::create_directory_symlink(elsewhere, session);
       },
       session, "0777"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    std::filesystem::remove_all(session);
    PrivateStagingFolder();
    c.Spoil();
    try {
      PrivateStagingFolder();
      FAIL() << "used the spoiled folder";
    } catch (const EPrivateFolderError& e) {
      EXPECT_EQ(e.Message, NotPrivateText(c.Folder, static_cast<int>(geteuid()), c.Mode));
    }
  }
}

// Runs only as the other user, in a child started by the tests above.
TEST(OtherUserChild, DISABLED_Act) {
  const std::string act = std::getenv("ZOR_TEST_ACT");
  const std::string argument = std::getenv("ZOR_TEST_ARG");
  if (act == "listen") {
    int error = 0;
    const int s = CreateLocalListener(argument, 4, error);
    zor::testing::ReportReadyAndWaitForInputEnd(s >= 0 ? '1' : '0');
  } else if (act == "mutex") {
    NamedMutex mutex(argument, true);
    zor::testing::ReportReadyAndWaitForInputEnd(mutex.Owned() ? '1' : '0');
  }
}

}  // namespace
}  // namespace zor
