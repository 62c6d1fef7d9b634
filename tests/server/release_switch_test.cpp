// Switching the served release: each scan carries its own verdict against the manifest, a
// copy over the served release is held back until it matches its manifest, and replicas
// that differ only in file times list and pack the same thing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <sstream>

#include "base/clock.h"
#include "platform/dos_time.h"
#include "server/pack_cache.h"
#include "server/pack_scheduler.h"
#include "server/release_command.h"
#include "server/release_folder.h"
#include "server/release_manifest_check.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "update/release_manifest.h"

namespace zor {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr std::chrono::milliseconds kRescan{2000};

void SetTime(const fs::path& path, int64_t unixSeconds) {
  fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                std::chrono::sys_seconds(std::chrono::seconds(unixSeconds))));
}

// A key and the publisher's tool.
class Publisher {
 public:
  Publisher() {
    std::ostringstream out, err;
    Key = (Keys.Dir() / "release.key").string();
    EXPECT_EQ(RunReleaseCommand({"keygen", Key}, out, err, std::chrono::system_clock::now()), 0)
        << err.str();
  }
  void Sign(const fs::path& release) {
    std::ostringstream out, err;
    EXPECT_EQ(RunReleaseCommand({"sign", "--key", Key, "--release", release.string()}, out, err,
                                std::chrono::system_clock::now()),
              0)
        << err.str();
  }

 private:
  TempFolder Keys;
  std::string Key;
};

// A release folder judged by the server's manifest watch, on a clock the test moves.
struct WatchedFolder {
  explicit WatchedFolder(const fs::path& root) : Folder(root, nullptr, {}, kRescan) {
    Folder.Verify = [this](TReleaseSnapshot& s) { Watch.Check(s, nullptr); };
    Folder.OnChange = [this](const std::shared_ptr<const TReleaseSnapshot>&) { ++Changes; };
    Folder.OnHold = [this](const TReleaseSnapshot&, const TReleaseSnapshot&) { ++Holds; };
  }
  int64_t SizeOf(const char* name) {
    const std::optional<TReleaseFile> file = Folder.Find(name, "");
    return file ? file->Size : -1;
  }

  TReleaseManifestWatch Watch;
  TReleaseFolder Folder;
  int Changes = 0;
  int Holds = 0;
};

class ReleaseSwitch : public ::testing::Test {
 protected:
  ReleaseSwitch() : Scoped(Clock) {
    // Release 1 is served; release 2 waits in a staging folder: a.dll changed, c.dll new.
    Served.WriteFile("a.dll", "aaa");
    Served.WriteFile("b.dll", "bbb");
    Key.Sign(Served.Dir());
    Staged.WriteFile("a.dll", "AAAA");
    Staged.WriteFile("b.dll", "bbb");
    Staged.WriteFile("c.dll", "new");
    fs::copy_file(Served.Dir() / "ZORRelease.manifest", Staged.Dir() / "ZORRelease.manifest");
    Key.Sign(Staged.Dir());
  }
  // Copies one file of release 2 over the served folder, as a copy in place does (with the
  // copy's own file time).
  void CopyIn(const char* name) {
    fs::copy_file(Staged.Dir() / name, Served.Dir() / name, fs::copy_options::overwrite_existing);
  }
  // The automatic rescan: the next look at the folder after the interval.
  std::shared_ptr<const TReleaseSnapshot> Later(TReleaseFolder& folder) {
    Clock.Advance(kRescan);
    return folder.Snapshot();
  }

  ManualClock Clock;
  ScopedClock Scoped;
  Publisher Key;
  TempFolder Served;
  TempFolder Staged;
};

TEST_F(ReleaseSwitch, ACopyOverTheServedReleaseIsHeldBackUntilItMatchesItsManifest) {
  WatchedFolder watched(Served.Dir());
  const auto first = watched.Folder.Snapshot();
  EXPECT_EQ(first->Manifest.State, ManifestState::Matches);
  EXPECT_EQ(first->Manifest.Counter, 1u);

  struct Step {
    const char* Copied;  // copied in before the rescan
    ManifestState Latest;
    uint64_t LatestCounter;
    bool Switched;  // release 2 is served after the rescan
  } const kSteps[] = {
      {"a.dll", ManifestState::Differs, 1, false},                // new file, old manifest
      {"ZORRelease.manifest", ManifestState::Differs, 2, false},  // c.dll still missing
      {"c.dll", ManifestState::Matches, 2, true},                 // complete
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.Copied);
    CopyIn(step.Copied);
    // Nothing is looked at again before the interval has passed.
    EXPECT_EQ(watched.Folder.Snapshot(), watched.Folder.Snapshot());
    const auto served = Later(watched.Folder);
    EXPECT_EQ(watched.Folder.LatestVerdict().State, step.Latest);
    EXPECT_EQ(watched.Folder.LatestVerdict().Counter, step.LatestCounter);
    EXPECT_EQ(watched.Folder.Holding(), !step.Switched);
    if (!step.Switched) {
      // Release 1 as it was scanned: its list, its verdict and its file facts.
      EXPECT_EQ(served, first);
      EXPECT_EQ(watched.SizeOf("a.dll"), 3);
      EXPECT_EQ(watched.SizeOf("c.dll"), -1);
    } else {
      EXPECT_EQ(served->Manifest.State, ManifestState::Matches);
      EXPECT_EQ(served->Manifest.Counter, 2u);
      EXPECT_EQ(watched.SizeOf("a.dll"), 4);
      EXPECT_EQ(watched.SizeOf("c.dll"), 3);
    }
  }
  // One notice when the copy was first held back, one change when release 2 came in.
  EXPECT_EQ(watched.Holds, 1);
  EXPECT_EQ(watched.Changes, 2);
}

// Without a verified release to keep, nothing is held back: a folder that never matched its
// manifest is served as it is.
TEST_F(ReleaseSwitch, OnlyAVerifiedReleaseIsKept) {
  CopyIn("a.dll");  // release 1's manifest, release 2's a.dll: never matched
  WatchedFolder watched(Served.Dir());
  EXPECT_EQ(watched.Folder.Snapshot()->Manifest.State, ManifestState::Differs);
  CopyIn("ZORRelease.manifest");
  const auto served = Later(watched.Folder);
  EXPECT_EQ(served->Manifest.State, ManifestState::Differs);
  EXPECT_EQ(served->Manifest.Counter, 2u);
  EXPECT_FALSE(watched.Folder.Holding());
  EXPECT_EQ(watched.Holds, 0);
}

// A release path that is a link, switched by the administrator and resolved again, serves the
// new folder whatever its verdict: the administrator asked for that folder.
TEST_F(ReleaseSwitch, AFolderResolvedAgainIsServedWhateverItsVerdict) {
  TempFolder links;
  const fs::path current = links.Dir() / "current";
  fs::create_directory_symlink(Served.Dir(), current);
  WatchedFolder watched(current);
  EXPECT_EQ(watched.Folder.Snapshot()->Manifest.State, ManifestState::Matches);
  fs::remove(Staged.Dir() / "c.dll");  // release 2 without one of its files
  fs::remove(current);
  fs::create_directory_symlink(Staged.Dir(), current);
  EXPECT_TRUE(watched.Folder.ResolveAgain());
  EXPECT_FALSE(watched.Folder.Holding());
  EXPECT_EQ(watched.Folder.Snapshot()->Manifest.State, ManifestState::Differs);
  EXPECT_EQ(watched.SizeOf("a.dll"), 4);
  EXPECT_EQ(watched.Holds, 0);
}

// A request looks up its file and reads the verdict in one scan: while a new scan of release
// 2 is being judged, another thread still gets release 1's list with release 1's verdict,
// and does not wait for the judging either.
TEST_F(ReleaseSwitch, ARequestReadsTheListAndTheVerdictOfOneScan) {
  TReleaseManifestWatch watch;
  TReleaseFolder folder(Served.Dir(), nullptr, {}, kRescan);
  struct Seen {
    uint64_t Counter;
    int64_t ADllSize;
  };
  const auto look = [&folder] {
    const std::shared_ptr<const TReleaseSnapshot> snapshot = folder.Snapshot();
    const TReleaseFile* file = snapshot->Find("a.dll", "");
    return Seen{snapshot->Manifest.Counter, file ? file->Size : -1};
  };
  std::optional<Seen> duringJudging;
  folder.Verify = [&](TReleaseSnapshot& s) {
    watch.Check(s, nullptr);
    if (s.Manifest.Counter != 2) return;
    std::future<Seen> other = std::async(std::launch::async, look);
    // Bounded so that a reader blocked behind this scan fails the test instead of hanging it.
    if (other.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
      duringJudging = other.get();
  };
  EXPECT_EQ(look().Counter, 1u);
  for (const char* name : {"a.dll", "c.dll", "ZORRelease.manifest"}) CopyIn(name);
  Clock.Advance(kRescan);
  const Seen after = look();
  ASSERT_TRUE(duringJudging.has_value());
  EXPECT_EQ(duringJudging->Counter, 1u);
  EXPECT_EQ(duringJudging->ADllSize, 3);
  EXPECT_EQ(after.Counter, 2u);
  EXPECT_EQ(after.ADllSize, 4);
}

// Two replicas of one release, one copied without file times and one with a damaged file:
// every file whose content is the signed one lists the manifest's date and packs to the same
// bytes, whatever the copy's times; the damaged one keeps its own date and is not vouched for.
TEST(ReleaseReplicas, SameContentListsTheSameDatesAndPacksTheSameBytes) {
  Publisher key;
  TempFolder original, copy, caches;
  original.WriteFile("Main.exe", std::string(70000, 'm') + "main");
  original.WriteFile("data/Table.dat", "table of the release");
  original.WriteFile("Damaged.dll", "signed bytes");
  SetTime(original.Dir() / "Main.exe", 1'600'000'000);
  SetTime(original.Dir() / "data/Table.dat", 1'600'000'100);
  key.Sign(original.Dir());
  fs::create_directories(copy.Dir() / "data");
  for (const char* name : {"Main.exe", "data/Table.dat", "ZORRelease.manifest"})
    fs::copy_file(original.Dir() / name, copy.Dir() / name);  // new file times
  copy.WriteFile("Damaged.dll", "signed bytez");
  SetTime(copy.Dir() / "Main.exe", 1'700'000'000);
  SetTime(copy.Dir() / "data/Table.dat", 1'700'000'000);
  SetTime(copy.Dir() / "Damaged.dll", 1'700'000'000);

  const TReleaseManifest manifest = *ReadManifestBody(original.Dir());
  TReleaseManifestWatch watchA, watchB;
  TReleaseFolder a(original.Dir(), nullptr), b(copy.Dir(), nullptr);
  a.Verify = [&](TReleaseSnapshot& s) { watchA.Check(s, nullptr); };
  b.Verify = [&](TReleaseSnapshot& s) { watchB.Check(s, nullptr); };
  const auto listA = a.Snapshot(), listB = b.Snapshot();
  EXPECT_EQ(listA->Manifest.State, ManifestState::Matches);
  EXPECT_EQ(listB->Manifest.State, ManifestState::Differs);
  EXPECT_EQ(listB->Manifest.Differences, 2u);  // the damaged file's content and its own date

  TPackCache cacheA(caches.Dir() / "a"), cacheB(caches.Dir() / "b");
  for (const char* name : {"Main.exe", "data\\Table.dat"}) {
    SCOPED_TRACE(name);
    const TReleaseFile& fileA = *listA->Find(name, "");
    const TReleaseFile& fileB = *listB->Find(name, "");
    EXPECT_EQ(fileB.DosTime, static_cast<uint32_t>(manifest.Find(name)->Age));
    EXPECT_EQ(fileA.DosTime, fileB.DosTime);
    EXPECT_NE(fileB.DosTime, UnixTimeToDosDateTime(1'700'000'000));
    EXPECT_EQ(fileA.Sha256, fileB.Sha256);
    EXPECT_EQ(testing::ReadAll(cacheA.Get(PackSourceOf(fileA)).Path),
              testing::ReadAll(cacheB.Get(PackSourceOf(fileB)).Path));
  }
  const TReleaseFile& damaged = *listB->Find("Damaged.dll", "");
  EXPECT_EQ(damaged.DosTime, UnixTimeToDosDateTime(1'700'000'000));
  EXPECT_TRUE(damaged.Sha256.empty());
}

}  // namespace
}  // namespace zor
