#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "base/exceptions.h"
#include "platform/runtime_dir.h"
#include "self_child.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

class NamedMutexTest : public ::testing::Test {
 protected:
  zor::testing::TempFolder Folder;
  ScopedRuntimeDir Runtime{Folder.Path() + "rt"};

  // A child process that opens `name` (owning it when `own`); answers whether it owns it.
  std::unique_ptr<zor::testing::SelfChild> StartHolder(const std::string& name, bool own,
                                                       int* owned) {
    auto child = std::make_unique<zor::testing::SelfChild>(
        "NamedMutexChild.DISABLED_HoldUntilInputEnds",
        std::vector<std::pair<std::string, std::string>>{{"ZOR_RUNTIME_DIR", Folder.Path() + "rt"},
                                                         {"ZOR_TEST_MUTEX", name},
                                                         {"ZOR_TEST_OWN", own ? "1" : "0"}});
    *owned = child->WaitReady();
    return child;
  }
};

TEST_F(NamedMutexTest, ExistsWhileOpenAndHasOneOwner) {
  EXPECT_FALSE(ProbeNamedMutex("IClient"));
  {
    NamedMutex first("IClient", true);
    EXPECT_FALSE(first.AlreadyExisted());
    EXPECT_TRUE(first.Owned());
    EXPECT_TRUE(ProbeNamedMutex("IClient"));
    NamedMutex second("IClient", true);
    EXPECT_TRUE(second.AlreadyExisted());
    EXPECT_FALSE(second.Owned());
    first.Release();
    EXPECT_TRUE(second.TryAcquire());
    EXPECT_FALSE(first.TryAcquire());
    second.Release();
    first.Acquire();
    EXPECT_TRUE(first.Owned());
  }
  // Nothing open any more: the lock file stays, but nobody holds it.
  EXPECT_FALSE(ProbeNamedMutex("IClient"));
  {
    NamedMutex notOwned("IClient");
    EXPECT_FALSE(notOwned.Owned());
    EXPECT_TRUE(ProbeNamedMutex("IClient"));
  }
  EXPECT_FALSE(ProbeNamedMutex("IClient"));
}

TEST_F(NamedMutexTest, NamespacesAndCaseOfNames) {
  NamedMutex global("Global\\NZORUpgradeKernal");
  EXPECT_TRUE(ProbeNamedMutex("global\\NZORUpgradeKernal"));
  EXPECT_FALSE(ProbeNamedMutex("NZORUpgradeKernal"));          // the session namespace is another
  EXPECT_FALSE(ProbeNamedMutex("Global\\nzorupgradekernal"));  // names keep their case
  NamedMutex session("NIClient");
  EXPECT_TRUE(ProbeNamedMutex("Local\\NIClient"));
  EXPECT_FALSE(ProbeNamedMutex("Global\\NIClient"));
  EXPECT_EQ(global.LockFilePath(), Folder.Path() + "rt/global/NZORUpgradeKernal.lock");
  EXPECT_EQ(session.LockFilePath(), Folder.Path() + "rt/session/NIClient.lock");
}

TEST_F(NamedMutexTest, NamesNeverLeaveTheirFolderAndNeverCollide) {
  const std::string folder = Folder.Path() + "rt/session/";
  struct Case {
    std::string name;
    std::string file;
  } const kCases[] = {
      {"..\\..\\etc\\passwd", "..%5C..%5Cetc%5Cpasswd.lock"},
      {"../../x", "..%2F..%2Fx.lock"},
      {"..", "...lock"},
      {"a/b", "a%2Fb.lock"},
      {"a%2Fb", "a%252Fb.lock"},
      {"启动", "%E5%90%AF%E5%8A%A8.lock"},
      {std::string("nul\0byte", 8), "nul%00byte.lock"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(NamedMutexLockFile(c.name), folder + c.file) << c.name;
    NamedMutex mutex(c.name);
    EXPECT_TRUE(ProbeNamedMutex(c.name)) << c.name;
  }
  // Very long names stay under the file-name limit and stay distinct.
  const std::string longA(400, '\\');
  const std::string longB = longA + "x";
  const std::string fileA = NamedMutexLockFile(longA);
  EXPECT_LE(fileA.size() - folder.size(), 255u);
  EXPECT_NE(fileA, NamedMutexLockFile(longB));
  NamedMutex a(longA);
  EXPECT_TRUE(ProbeNamedMutex(longA));
  EXPECT_FALSE(ProbeNamedMutex(longB));
}

TEST_F(NamedMutexTest, EmptyNamesAreRefused) {
  try {
    NamedMutex mutex("Global\\");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "A named mutex needs a name.");
  }
  EXPECT_FALSE(ProbeNamedMutex(""));
}

TEST_F(NamedMutexTest, AnotherProcessHoldsItUntilItEnds) {
  int owned = 0;
  auto child = StartHolder("Global\\NGlobal_EB880", true, &owned);
  ASSERT_EQ(owned, '1');
  EXPECT_TRUE(ProbeNamedMutex("Global\\NGlobal_EB880"));
  NamedMutex mine("Global\\NGlobal_EB880", true);
  EXPECT_TRUE(mine.AlreadyExisted());
  EXPECT_FALSE(mine.Owned());
  // A second process cannot own it either.
  int secondOwned = 0;
  auto second = StartHolder("Global\\NGlobal_EB880", true, &secondOwned);
  EXPECT_EQ(secondOwned, '0');
  second->CloseInput();
  EXPECT_EQ(second->Wait(), 0);

  // Waiting without time-out ends when the holder ends.
  std::thread waiter([&] { mine.Acquire(); });
  child->CloseInput();
  EXPECT_EQ(child->Wait(), 0);
  waiter.join();
  EXPECT_TRUE(mine.Owned());
}

TEST_F(NamedMutexTest, AKilledHolderLeavesNothingHeld) {
  int owned = 0;
  auto child = StartHolder("NIClient", true, &owned);
  ASSERT_EQ(owned, '1');
  EXPECT_TRUE(ProbeNamedMutex("NIClient"));
  child->Kill();
  EXPECT_EQ(child->Wait(), 128 + 9);
  EXPECT_FALSE(ProbeNamedMutex("NIClient"));
  NamedMutex mine("NIClient", true);
  EXPECT_TRUE(mine.Owned());
}

// Runs only in a child started by the tests above.
TEST(NamedMutexChild, DISABLED_HoldUntilInputEnds) {
  const char* name = std::getenv("ZOR_TEST_MUTEX");
  ASSERT_NE(name, nullptr);
  NamedMutex mutex(name, std::string(std::getenv("ZOR_TEST_OWN")) == "1");
  zor::testing::ReportReadyAndWaitForInputEnd(mutex.Owned() ? '1' : '0');
}

}  // namespace
}  // namespace zor
