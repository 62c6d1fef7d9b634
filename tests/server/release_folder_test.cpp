#include "server/release_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "platform/dos_time.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

void SetTime(const fs::path& path, int64_t unixSeconds) {
  fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                std::chrono::sys_seconds(std::chrono::seconds(unixSeconds))));
}

// Versions by file name, so the scan's use of the reader shows.
std::string FakeVersion(const std::string& path, int* calls) {
  ++*calls;
  return path.ends_with(".exe") ? "5.2.0.17" : "";
}

// A release copied in with rsync: the files it is still writing under temporary names are
// not part of the release; names that only look alike are.
TEST(ReleaseFolder, LeavesOutTheTemporariesOfACopyInProgress) {
  testing::TempFolder root;
  struct Case {
    const char* Name;
    bool Listed;
  } const kCases[] = {
      {"Data.bin", true},          {".Data.bin.Ab12Z9", false}, {"bpls/.Main.bpl.q0W9e8", false},
      {".x.123456", false},        {".Data.bin.Ab12Z", true},  // five characters
      {".Data.bin.Ab12Z99", true},                             // seven
      {".Data.bin.Ab-2Z9", true},                              // not a letter or digit
      {"Data.bin.Ab12Z9", true},                               // no leading dot
      {"..abcdef", true},                                      // no name
      {".profile", true},
  };
  for (const Case& c : kCases) root.WriteFile(c.Name, "x");
  TReleaseFolder folder(root.Dir(), {});
  const auto snapshot = folder.Rescan();
  for (const Case& c : kCases) {
    std::string key = c.Name;
    std::replace(key.begin(), key.end(), '/', '\\');
    EXPECT_EQ(snapshot->ByKey.contains(LowerAscii(key)), c.Listed) << c.Name;
  }
}

TEST(ReleaseFolder, ListsEveryFileInAStableOrderWithVersionTimeAndSize) {
  testing::TempFolder root;
  root.WriteFile("Client.exe", "exe");
  root.WriteFile("bpls/Zeta.bpl", "zzzz");
  root.WriteFile("bpls/alpha.bpl", "aa");
  root.WriteFile("bpls/alpha.CHT", "companion");
  root.WriteFile("FR_Zor.cht", "report language file");
  root.WriteFile("Special/Help/a.chm", "help");
  root.WriteFile("cache/x.cps", "cached");
  SetTime(root.Dir() / "Client.exe", 1'700'000'001);
  fs::create_symlink("/etc/passwd", root.Dir() / "passwd");
  fs::create_directory_symlink("/etc", root.Dir() / "etc");

  int calls = 0;
  TReleaseFolder folder(root.Dir(), [&](const std::string& p) { return FakeVersion(p, &calls); },
                        {root.Dir() / "cache"});
  const auto snapshot = folder.Rescan();
  std::vector<std::string> names, listed;
  for (const TReleaseFile& file : snapshot->Files) {
    names.push_back(file.Name);
    if (file.Listed) listed.push_back(file.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"bpls\\alpha.bpl", "bpls\\alpha.CHT", "bpls\\Zeta.bpl",
                                             "Client.exe", "FR_Zor.cht", "Special\\Help\\a.chm"}));
  EXPECT_EQ(listed, (std::vector<std::string>{"bpls\\alpha.bpl", "bpls\\Zeta.bpl", "Client.exe",
                                              "FR_Zor.cht", "Special\\Help\\a.chm"}));
  const TReleaseFile& exe = snapshot->Files[snapshot->ByKey.at("client.exe")];
  EXPECT_EQ(exe.Version, "5.2.0.17");
  EXPECT_EQ(exe.Size, 3);
  EXPECT_EQ(exe.DosTime, UnixTimeToDosDateTime(1'700'000'000));  // odd seconds round down
  EXPECT_EQ(snapshot->Files[0].Version, "0.0.0.0");
  EXPECT_EQ(calls, 6);

  // Unchanged files keep their version without being read again.
  root.WriteFile("bpls/Zeta.bpl", "zzzzz");
  folder.Rescan();
  EXPECT_EQ(calls, 7);
}

TEST(ReleaseFolder, FindsNamesInTheirAreaWithoutCaseAndRefusesEscapes) {
  testing::TempFolder root;
  root.WriteFile("Client.exe", "exe");
  root.WriteFile("bpls/Main.bpl", "bpl");
  root.WriteFile("bpls/Main.cht", "cht");
  root.WriteFile("Special/Help/x.chm", "chm");
  TReleaseFolder folder(root.Dir(), nullptr);
  struct Case {
    const char* Name;
    const char* Area;
    const char* Found;  // nullptr: not found
  } const kCases[] = {
      {"Client.exe", "Libs", "Client.exe"},
      {"\\client.EXE", ".", "Client.exe"},
      {"bpls\\Main.bpl", "libs", "bpls\\Main.bpl"},
      {"Main.bpl", "Bpls", "bpls\\Main.bpl"},
      {"bpls\\Main.CHT", "LangDll", "bpls\\Main.cht"},
      {"x.chm", "Special\\help", "Special\\Help\\x.chm"},
      {"Main.bpl", "Libs", nullptr},
      {"missing.dll", "Libs", nullptr},
  };
  for (const Case& c : kCases) {
    const auto found = folder.Find(c.Name, c.Area);
    if (!c.Found) {
      EXPECT_FALSE(found.has_value()) << c.Name;
      continue;
    }
    ASSERT_TRUE(found.has_value()) << c.Name;
    EXPECT_EQ(found->Name, c.Found);
  }
  for (const char* bad : {"..\\..\\etc\\passwd", "C:\\boot.ini", "/etc/passwd"}) {
    // "/etc/passwd" loses its leading separator and is looked up inside the release.
    if (std::string_view(bad) == "/etc/passwd") {
      EXPECT_FALSE(folder.Find(bad, "Libs").has_value());
      continue;
    }
    try {
      folder.Find(bad, "Libs");
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, std::string("Invalid file name '") + bad + "'!");
    }
  }
}

// A versioned release behind a link: switching the link changes nothing until the folder is
// resolved again, and then every file (and its path for opening) comes from the new target.
TEST(ReleaseFolder, FollowsASwitchedLinkOnlyWhenResolvedAgain) {
  testing::TempFolder root;
  root.WriteFile("v1/Client.exe", "one");
  root.WriteFile("v2/Client.exe", "two!");
  root.WriteFile("v2/Added.dat", "new");
  const fs::path current = root.Dir() / "current";
  const auto pointTo = [&](const char* target) {
    fs::create_directory_symlink(target, root.Dir() / "current.next");
    fs::rename(root.Dir() / "current.next", current);
  };
  pointTo("v1");
  int changes = 0;
  TReleaseFolder folder(current, nullptr, {}, std::chrono::milliseconds(0));
  folder.OnChange = [&](const std::shared_ptr<const TReleaseSnapshot>&) { ++changes; };
  folder.Rescan();
  const fs::path v1 = fs::canonical(root.Dir() / "v1"), v2 = fs::canonical(root.Dir() / "v2");

  pointTo("v2");
  const auto before = folder.Snapshot();
  EXPECT_EQ(folder.Root(), v1);
  EXPECT_EQ(before->Root, v1);
  ASSERT_EQ(before->Files.size(), 1u);
  EXPECT_EQ(before->Files[0].Size, 3);
  EXPECT_EQ(before->Files[0].Path, v1 / "Client.exe");
  EXPECT_FALSE(folder.Find("Added.dat", "").has_value());
  EXPECT_EQ(changes, 1);

  EXPECT_TRUE(folder.ResolveAgain());
  EXPECT_EQ(folder.Root(), v2);
  const auto after = folder.Snapshot();
  EXPECT_EQ(after->Root, v2);
  ASSERT_EQ(after->Files.size(), 2u);
  const std::optional<TReleaseFile> client = folder.Find("Client.exe", "");
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(client->Size, 4);
  EXPECT_EQ(client->Path, v2 / "Client.exe");
  EXPECT_EQ(client->Root, v2);
  EXPECT_EQ(changes, 2);
  EXPECT_FALSE(folder.ResolveAgain());

  // Back to a folder with the same names, sizes and times: still a change, so its manifest
  // is checked again.
  root.WriteFile("v3/Client.exe", "one");
  fs::last_write_time(root.Dir() / "v3/Client.exe", fs::last_write_time(v1 / "Client.exe"));
  folder.Rescan();
  pointTo("v1");
  EXPECT_TRUE(folder.ResolveAgain());
  pointTo("v3");
  EXPECT_TRUE(folder.ResolveAgain());
  EXPECT_EQ(folder.Snapshot()->Files[0].Path, fs::canonical(root.Dir() / "v3") / "Client.exe");
  EXPECT_EQ(changes, 4);
}

}  // namespace
}  // namespace zor
