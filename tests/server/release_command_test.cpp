#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "server/release_command.h"
#include "server/release_manifest_check.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "update/release_signature.h"

namespace zor {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const std::chrono::system_clock::time_point kNow{std::chrono::seconds(1'765'380'000)};

struct ToolRun {
  int Code;
  std::string Out;
  std::string Err;
};

ToolRun Release(std::vector<std::string> args, std::chrono::system_clock::time_point now = kNow) {
  std::ostringstream out, err;
  const int code = RunReleaseCommand(args, out, err, now);
  return {code, out.str(), err.str()};
}

class ReleaseCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    Keys.WriteFile("placeholder", "");
    SecretPath = (Keys.Dir() / "secret.key").string();
    const ToolRun keygen = Release({"keygen", SecretPath});
    ASSERT_EQ(keygen.Code, 0) << keygen.Err;
    PublicKey = keygen.Out.substr(0, keygen.Out.size() - 1);
    Dir.WriteFile("Client", "launcher");
    Dir.WriteFile("bpls\\Main.bpl", "main library");
    Dir.WriteFile("ZORSys.ini", "[System]\nMainExe=IClient\n");
    ASSERT_EQ(Release({"sign", "--key", SecretPath, "--release", Dir.Dir().string()}).Code, 0);
  }

  TReleaseManifest Manifest() const { return *ReadManifestBody(Dir.Dir()); }

  TempFolder Keys;
  TempFolder Dir;
  std::string SecretPath;
  std::string PublicKey;
};

TEST_F(ReleaseCommand, KeygenWritesAPrivateSecretAndPrintsThePublicKey) {
  EXPECT_EQ(fs::status(SecretPath).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_NO_THROW(DecodePublicKey(PublicKey));
  const ToolRun again = Release({"keygen", SecretPath});
  EXPECT_EQ(again.Code, 1);
  EXPECT_EQ(again.Err, "zorrelease: " + SecretPath + " exists; it is not overwritten\n");
}

TEST_F(ReleaseCommand, KeygenCreatesTheSecretPrivateFromTheFirstByteAndNeverThroughALink) {
  // Whatever the umask, the key is never readable by others, not even for a moment: it is
  // created 0600 in the call that makes it.
  const mode_t old = umask(0);
  const std::string loose = (Keys.Dir() / "loose.key").string();
  const ToolRun made = Release({"keygen", loose});
  umask(old);
  ASSERT_EQ(made.Code, 0) << made.Err;
  EXPECT_EQ(fs::status(loose).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // A link planted at the name (dangling or not) is not followed: its target stays as it was.
  const std::string target = (Keys.Dir() / "victim").string();
  Keys.WriteFile("victim", "precious");
  for (const std::string& pointsTo : {target, (Keys.Dir() / "nothing").string()}) {
    const std::string link = (Keys.Dir() / "planted.key").string();
    fs::remove(link);
    fs::create_symlink(pointsTo, link);
    const ToolRun planted = Release({"keygen", link});
    EXPECT_EQ(planted.Code, 1);
    EXPECT_EQ(planted.Err, "zorrelease: " + link + " exists; it is not overwritten\n");
    EXPECT_FALSE(fs::exists(Keys.Dir() / "nothing"));
  }
  EXPECT_EQ(testing::ReadAll(target), "precious");

  // Another local user cannot read it (run as a throw-away uid where the machine allows it).
  if (geteuid() != 0) GTEST_SKIP() << "Skipped: running as a second user needs root.";
  if (std::system("command -v setpriv >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Skipped: setpriv is not installed.";
  fs::permissions(Keys.Dir(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string command =
      "setpriv --reuid 65534 --regid 65534 --clear-groups cat '" + loose + "' >/dev/null 2>&1";
  EXPECT_NE(std::system(command.c_str()), 0);
}

TEST_F(ReleaseCommand, RefreshSignsTheSameFilesWithTheNextCounterAndANewExpiry) {
  const TReleaseManifest first = Manifest();
  Dir.WriteFile("Client", "changed since");  // refresh reads no file: it re-signs the list
  const auto later = kNow + std::chrono::days(5);
  const ToolRun refreshed = Release(
      {"refresh", "--key", SecretPath, "--release", Dir.Dir().string(), "--expires-days", "7"},
      later);
  ASSERT_EQ(refreshed.Code, 0) << refreshed.Err;
  EXPECT_EQ(refreshed.Out,
            "Signed release 2: 3 files, valid for 7 days, signed by " + PublicKey + "\n");
  const TReleaseManifest second = Manifest();
  EXPECT_EQ(second.Counter, 2u);
  EXPECT_EQ(second.Created, 1'765'380'000 + 5 * 86400);
  EXPECT_EQ(second.Expires, second.Created + 7 * 86400);
  EXPECT_EQ(second.Files, first.Files);

  // Only the key that signed the manifest refreshes it.
  const std::string other = (Keys.Dir() / "other.key").string();
  ASSERT_EQ(Release({"keygen", other}).Code, 0);
  const ToolRun foreign = Release({"refresh", "--key", other, "--release", Dir.Dir().string()});
  EXPECT_EQ(foreign.Code, 1);
  EXPECT_EQ(foreign.Err, "zorrelease: The manifest in " + Dir.Dir().string() +
                             " is not signed with this key; only a manifest of this key is "
                             "refreshed\n");
  EXPECT_EQ(Manifest().Counter, 2u);
  fs::remove(Dir.Dir() / "ZORRelease.manifest");
  const ToolRun none = Release({"refresh", "--key", SecretPath, "--release", Dir.Dir().string()});
  EXPECT_EQ(none.Code, 1);
  EXPECT_EQ(none.Err, "zorrelease: The release folder has no manifest to refresh; sign it first\n");
}

TEST_F(ReleaseCommand, SignRecordsEveryFileAndCountsUp) {
  const TReleaseManifest first = Manifest();
  EXPECT_EQ(first.Counter, 1u);
  EXPECT_EQ(first.Created, 1'765'380'000);
  EXPECT_EQ(first.Expires, 1'765'380'000 + kDefaultExpiryDays * 86400);
  ASSERT_EQ(first.Files.size(), 3u);
  const TManifestFile* main = first.Find("BPLS\\main.bpl");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->Name, "bpls\\Main.bpl");
  EXPECT_EQ(main->Size, 12);
  EXPECT_EQ(main->Version, "0.0.0.0");
  const uint8_t bytes[] = {'m', 'a', 'i', 'n', ' ', 'l', 'i', 'b', 'r', 'a', 'r', 'y'};
  EXPECT_EQ(main->Sha256, Sha256Hex(bytes));

  const std::string next = EncodeBase64(GenerateKeyPair().Public);
  ASSERT_EQ(Release({"sign", "--key", SecretPath, "--release", Dir.Dir().string(), "--expires-days",
                     "2", "--next-public", next})
                .Code,
            0);
  const TReleaseManifest second = Manifest();
  EXPECT_EQ(second.Counter, 2u);
  EXPECT_EQ(second.Expires, second.Created + 2 * 86400);
  EXPECT_EQ(second.NextKey, next);
  EXPECT_EQ(second.Files, first.Files);
}

TEST_F(ReleaseCommand, VerifyListsEveryDifference) {
  const ToolRun clean = Release({"verify", "--public", PublicKey, "--release", Dir.Dir().string()});
  EXPECT_EQ(clean.Code, 0) << clean.Out << clean.Err;
  EXPECT_EQ(clean.Out, "Release 1: all 3 files match\n");

  Dir.WriteFile("Client", "LAUNCHER");  // same size, other bytes
  Dir.WriteFile("Extra.dll", "x");
  fs::remove(Dir.Dir() / "ZORSys.ini");
  const ToolRun changed =
      Release({"verify", "--public", PublicKey, "--release", Dir.Dir().string()});
  EXPECT_EQ(changed.Code, 1);
  EXPECT_EQ(changed.Out,
            "Client: its content differs from the manifest (SHA-256)\n"
            "Extra.dll: not in the manifest\n"
            "ZORSys.ini: in the manifest but not in the folder\n"
            "3 differences from release 1\n");

  const ToolRun expired =
      Release({"verify", "--public", PublicKey, "--release", Dir.Dir().string()},
              kNow + std::chrono::days(kDefaultExpiryDays));
  EXPECT_EQ(expired.Out.substr(0, 25), "the manifest has expired\n");

  const ToolRun otherKey = Release({"verify", "--public", EncodeBase64(GenerateKeyPair().Public),
                                    "--release", Dir.Dir().string()});
  EXPECT_EQ(otherKey.Code, 1);
  EXPECT_EQ(otherKey.Err, "zorrelease: The release manifest is not signed with a trusted key.\n");
}

TEST(ReleaseCommandUsage, HelpAndMistakes) {
  const ToolRun help = Release({"--help"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_EQ(help.Out, kReleaseUsage);
  struct Case {
    std::vector<std::string> Args;
    std::string FirstLine;
  } const kCases[] = {
      {{}, "zorrelease: a command is missing"},
      {{"publish"}, "zorrelease: unknown command publish"},
      {{"sign", "--release", "x"}, "zorrelease: --key is missing"},
      {{"verify", "--public"}, "zorrelease: unexpected argument --public"},
      {{"verify", "--public", "k", "--release", "d", "--key", "s"},
       "zorrelease: unknown option --key"},
  };
  for (const Case& c : kCases) {
    const ToolRun run = Release(c.Args);
    EXPECT_EQ(run.Code, 2);
    EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), c.FirstLine);
  }
}

TEST_F(ReleaseCommand, VerifyNamesAChangedDateAsDateAndTime) {
  const auto at = [](int64_t seconds) {
    return fs::file_time_type::clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds(seconds)});
  };
  fs::last_write_time(Dir.Dir() / "Client", at(1'700'000'000));  // 2023-11-14 22:13:20 UTC
  ASSERT_EQ(Release({"sign", "--key", SecretPath, "--release", Dir.Dir().string()}).Code, 0);
  fs::last_write_time(Dir.Dir() / "Client", at(1'765'380'000));  // 2025-12-10 15:20:00 UTC
  const ToolRun run = Release({"verify", "--public", PublicKey, "--release", Dir.Dir().string()});
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Out,
            "Client: date 2025-12-10 15:20:00 UTC, the manifest says 2023-11-14 22:13:20 UTC\n"
            "1 differences from release 2\n");
}

TEST(ReleaseManifestWatch, LogsTheDifferingFilesOnceEachTimeTheyChange) {
  TempFolder keys, dir;
  const std::string secret = (keys.Dir() / "k").string();
  ASSERT_EQ(Release({"keygen", secret}).Code, 0);
  dir.WriteFile("a.dll", "aaa");
  dir.WriteFile("b.dll", "bbb");
  TServerLog log;
  log.SetUseStdErr(false);
  std::vector<std::string> lines;
  log.AddSink([&](LogLevel level, std::string_view, std::string_view text) {
    lines.push_back((level == LogLevel::Warning ? "W " : "I ") + std::string(text));
  });
  TReleaseFolder folder(dir.Dir(), ReleaseFileVersion, {}, std::chrono::milliseconds(0));
  TReleaseManifestWatch watch;
  folder.Verify = [&](TReleaseSnapshot& s) { watch.Check(s, &log); };

  folder.Rescan();
  ASSERT_EQ(Release({"sign", "--key", secret, "--release", dir.Dir().string()}).Code, 0);
  folder.Rescan();
  folder.Rescan();
  // Only the size changes: the file keeps its time, whatever second the rewrite falls in.
  const auto signedTime = std::filesystem::last_write_time(dir.Dir() / "b.dll");
  dir.WriteFile("b.dll", "bbbb");
  std::filesystem::last_write_time(dir.Dir() / "b.dll", signedTime);
  folder.Rescan();
  folder.Rescan();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "I The release folder has no manifest ZORRelease.manifest: launchers with a "
                       "release key will "
                       "not update",
                       "I The release folder matches its manifest (release 1)",
                       "W The release folder differs from its manifest ZORRelease.manifest, sign "
                       "it again (zorrelease "
                       "sign): b.dll: 4 bytes, the manifest says 3",
                   }));
}

}  // namespace
}  // namespace zor
