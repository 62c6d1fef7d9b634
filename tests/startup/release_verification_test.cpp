#include <gtest/gtest.h>
#include <unistd.h>

#include "startup/updating/release_verification.h"
#include "startup_test_util.h"
#include "support/expect_error.h"
#include "update/release_signature.h"

namespace zor {
namespace {

constexpr int64_t kNow = 1'765'380'000;

std::string SignedManifest(const TKeyPair& key, uint64_t counter, std::string nextKey = {}) {
  TReleaseManifest manifest;
  manifest.Counter = counter;
  manifest.Created = kNow;
  manifest.Expires = kNow + 86400;
  manifest.NextKey = std::move(nextKey);
  manifest.Files = {{"ZORCore.dll", 3, std::string(64, 'a'), "5.0.6.18", 100}};
  return SignManifestBody(SerializeManifestBody(manifest), key.Secret);
}

class ReleaseVerificationTest : public ::testing::Test {
 protected:
  void TearDown() override { SetReleaseGuard(nullptr); }

  TReleaseVerification For(const TKeyPair& key) {
    return TReleaseVerification(EncodeBase64(key.Public), State, 0);
  }
  void ExpectRefused(TReleaseVerification& verification, const std::string& manifest,
                     const std::string& message) {
    testing::ExpectError<EReleaseRefused>([&] { verification.Accept(manifest, kNow); },
                                          "EReleaseRefused", message);
  }

  test::TempFolder Dir;
  std::string State = Dir / "ZORRelease.state";
  TKeyPair First = GenerateKeyPair();
  TKeyPair Second = GenerateKeyPair();
};

TEST_F(ReleaseVerificationTest, TheCounterOnlyGrowsAndIsKeptOnlyAfterASuccessfulPass) {
  TReleaseVerification verification = For(First);
  verification.Accept(SignedManifest(First, 3), kNow);
  EXPECT_EQ(ReadReleaseState(State).Counter, 0u);  // not before the pass has succeeded
  verification.Commit();
  const TReleaseState state = ReadReleaseState(State);
  EXPECT_EQ(state.Counter, 3u);
  EXPECT_EQ(state.CurrentKey, EncodeBase64(First.Public));
  EXPECT_EQ(std::filesystem::status(State).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  ExpectRefused(
      verification, SignedManifest(First, 2),
      "The server offers release 2, older than release 3 installed before; nothing was updated.");
  // The guard left behind lets nothing but the manifest through.
  testing::ExpectError<EReleaseRefused>(
      [] { GetReleaseGuard()->CheckAnnounced("ZORCore.dll", "Libs", 3, true); }, "EReleaseRefused",
      "The server offers ZORCore.dll, which is not part of the signed release; nothing was "
      "updated.");
  EXPECT_NO_THROW(verification.Accept(SignedManifest(First, 3), kNow));  // the same release again
  testing::ExpectError<EReleaseRefused>(
      [&] { verification.Accept(SignedManifest(First, 4), kNow + 86400); }, "EReleaseRefused",
      "The release manifest on the server expired on 2025-12-11 15:20 (UTC); nothing was "
      "updated.");
}

TEST_F(ReleaseVerificationTest, AChangedReleaseKeyStartsOverFromTheNewKeyAndCounter) {
  // A compromised key signed a release far ahead; the administrator's new "ReleaseKey"
  // starts the counter again, so the publisher's next genuine release installs.
  TReleaseVerification first = For(First);
  first.Accept(SignedManifest(First, 1'000'000'000'000), kNow);
  first.Commit();
  TReleaseVerification second = For(Second);
  ExpectRefused(second, SignedManifest(First, 1'000'000'000'001),
                "The release manifest on the server is not signed with the trusted key; nothing "
                "was updated.");
  EXPECT_NO_THROW(second.Accept(SignedManifest(Second, 2), kNow));
  second.Commit();
  EXPECT_EQ(ReadReleaseState(State).Counter, 2u);
  EXPECT_EQ(ReadReleaseState(State).RootKey, EncodeBase64(Second.Public));
  // From then on the counter guards against rollback again.
  ExpectRefused(
      second, SignedManifest(Second, 1),
      "The server offers release 1, older than release 2 installed before; nothing was updated.");

  TReleaseVerification broken("not a key", State, 2);
  ExpectRefused(broken, SignedManifest(First, 6),
                "\"ReleaseKey\" 设定不是有效的公开密钥，未更新任何档案。");
  test::WriteFile(State, "{\"Counter\": \"garbage\"");
  EXPECT_EQ(ReadReleaseState(State).Counter, 0u);
}

TEST_F(ReleaseVerificationTest, TheFileListMustAgreeWithTheManifest) {
  TReleaseVerification verification = For(First);
  verification.Accept(SignedManifest(First, 1), kNow);
  TFileList list{{"ZORCore.dll", {"5.0.6.18", 100, 999}},
                 {"ZORRelease.manifest", {"0.0.0.0", 7, 9}}};
  verification.CheckList(list);
  ASSERT_EQ(list.size(), 1u);  // the manifest itself was fetched first
  struct Case {
    TFileEntry Entry;
    std::string Message;
  } const kCases[] = {
      {{"Evil.dll", {"5.0.6.18", 100, 3}},
       "The server offers Evil.dll, which is not part of the signed release; nothing was updated."},
      {{"ZORCore.dll", {"5.0.6.19", 100, 3}},
       "The server lists ZORCore.dll other than the signed release does; nothing was updated."},
      {{"zorcore.DLL", {"5.0.6.18", 101, 3}},
       "The server lists zorcore.DLL other than the signed release does; nothing was updated."},
  };
  for (const Case& c : kCases) {
    TFileList one{c.Entry};
    testing::ExpectError<EReleaseRefused>([&] { verification.CheckList(one); }, "EReleaseRefused",
                                          c.Message);
  }
  // The other way round: a signed file the list leaves out.
  TFileList empty;
  testing::ExpectError<EReleaseRefused>(
      [&] { verification.CheckList(empty); }, "EReleaseRefused",
      "The server's file list leaves out ZORCore.dll, which is part of the signed release; "
      "nothing was updated.");
}

TEST_F(ReleaseVerificationTest, TheStateIsTrustedOnlyWhenItIsThisUsersOwnAndClosedToOthers) {
  TReleaseVerification verification = For(First);
  verification.Accept(SignedManifest(First, 7), kNow);
  verification.Commit();
  ASSERT_EQ(ReadReleaseState(State).Counter, 7u);
  const std::string copy = Dir / "copy.state";
  std::filesystem::copy_file(State, copy);
  // Open to others' writes, reached through a link, or another user's: taken as no state.
  std::filesystem::permissions(copy, std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add);
  EXPECT_EQ(ReadReleaseState(copy).Counter, 0u);
  const std::string link = Dir / "link.state";
  std::filesystem::create_symlink(State, link);
  EXPECT_EQ(ReadReleaseState(link).Counter, 0u);
  if (geteuid() == 0) {
    std::filesystem::permissions(copy, std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    ASSERT_EQ(ReadReleaseState(copy).Counter, 7u);
    ASSERT_EQ(chown(copy.c_str(), 65534, 65534), 0);
    EXPECT_EQ(ReadReleaseState(copy).Counter, 0u);
  }
}

TEST_F(ReleaseVerificationTest, TheStateIsWrittenNeverThroughALinkSomeonePlanted) {
  const std::string victim = Dir / "victim";
  test::WriteFile(victim, "the victim's file");
  for (const char* planted : {"ZORRelease.state", "ZORRelease.state.new"})
    std::filesystem::create_symlink(victim, Dir / planted);
  TReleaseVerification verification = For(First);
  verification.Accept(SignedManifest(First, 3), kNow);
  verification.Commit();
  EXPECT_EQ(test::ReadFile(victim), "the victim's file");
  EXPECT_FALSE(std::filesystem::is_symlink(State));
  EXPECT_EQ(ReadReleaseState(State).Counter, 3u);
}

TEST_F(ReleaseVerificationTest, FilesTheNewReleaseDropsAreRemovedButNotTheLaunchersOwn) {
  const std::string client = Dir / "client";
  for (const char* name : {"ZORCore.dll", "Old.dll", "sub/Gone.dat", "Client"})
    test::WriteFile(client + "/" + name, "x");
  TReleaseManifest manifest;
  manifest.Counter = 1;
  manifest.Created = kNow;
  manifest.Expires = kNow + 86400;
  manifest.Files = {{"ZORCore.dll", 1, std::string(64, 'a'), "0.0.0.0", 100},
                    {"Old.dll", 1, std::string(64, 'a'), "0.0.0.0", 100},
                    {"sub\\Gone.dat", 1, std::string(64, 'a'), "0.0.0.0", 100},
                    {"Client", 1, std::string(64, 'a'), "0.0.0.0", 100}};
  TReleaseVerification verification = For(First);
  verification.Accept(SignManifestBody(SerializeManifestBody(manifest), First.Secret), kNow);
  EXPECT_TRUE(verification.RemoveDroppedFiles(client, {"Client"}).empty());  // nothing before
  verification.Commit();
  manifest.Counter = 2;
  manifest.Files.resize(1);
  verification.Accept(SignManifestBody(SerializeManifestBody(manifest), First.Secret), kNow);
  EXPECT_EQ(verification.RemoveDroppedFiles(client, {"Client"}),
            (std::vector<std::string>{"Old.dll", "sub\\Gone.dat"}));
  EXPECT_TRUE(std::filesystem::exists(client + "/ZORCore.dll"));
  EXPECT_TRUE(std::filesystem::exists(client + "/Client"));
  EXPECT_FALSE(std::filesystem::exists(client + "/Old.dll"));
  EXPECT_FALSE(std::filesystem::exists(client + "/sub/Gone.dat"));
}

// A pass of release 1 that failed after it had installed some of its files (a roll-out moved
// on meanwhile), then a pass of release 2 that succeeds: what release 1 held and release 2
// drops goes, so the folder ends as exactly release 2.
TEST_F(ReleaseVerificationTest, FilesOfAFailedPassAreRemovedWhenTheNextReleaseDropsThem) {
  const std::string client = Dir / "client";
  for (const char* name : {"ZORCore.dll", "bpls/part4.bpl", "bpls/part3.bpl"})
    test::WriteFile(client + "/" + name, "x");
  TReleaseManifest manifest;
  manifest.Counter = 1;
  manifest.Created = kNow;
  manifest.Expires = kNow + 86400;
  manifest.Files = {{"ZORCore.dll", 1, std::string(64, 'a'), "0.0.0.0", 100},
                    {"bpls\\part4.bpl", 1, std::string(64, 'a'), "0.0.0.0", 100}};
  TReleaseVerification verification = For(First);
  verification.Accept(SignManifestBody(SerializeManifestBody(manifest), First.Secret), kNow);
  // The pass fails: nothing is committed.
  manifest.Counter = 2;
  manifest.Files[1].Name = "bpls\\part3.bpl";
  verification.Accept(SignManifestBody(SerializeManifestBody(manifest), First.Secret), kNow);
  EXPECT_EQ(verification.RemoveDroppedFiles(client, {}),
            (std::vector<std::string>{"bpls\\part4.bpl"}));
  EXPECT_TRUE(std::filesystem::exists(client + "/bpls/part3.bpl"));
  EXPECT_TRUE(std::filesystem::exists(client + "/ZORCore.dll"));
  verification.Commit();
  // Once release 2 is committed, the next run starts from its state alone.
  EXPECT_EQ(ReadReleaseState(State).Files,
            (std::vector<std::string>{"ZORCore.dll", "bpls\\part3.bpl"}));
}

TEST_F(ReleaseVerificationTest, ALocalFileIsReadAgainOnlyWhenItChangedSinceTheLastPass) {
  const std::string content(3000, 'c');
  const std::string path = Dir / "ZORCore.dll";
  test::WriteFile(path, content);
  TReleaseManifest manifest;
  manifest.Counter = 1;
  manifest.Created = kNow;
  manifest.Expires = kNow + 86400;
  manifest.Files = {{"ZORCore.dll", 3000,
                     Sha256Hex({reinterpret_cast<const uint8_t*>(content.data()), content.size()}),
                     "5.0.6.18", 100}};
  const std::string signedText = SignManifestBody(SerializeManifestBody(manifest), First.Secret);
  const std::string cache = Dir / "ZORRelease.hashes";
  // One start: the manifest accepted, the file checked, the pass committed when `commit`.
  const auto start = [&](bool commit) {
    TReleaseVerification run(EncodeBase64(First.Public), State, 0, cache);
    run.Accept(signedText, kNow);
    const bool matches = run.LocalFileMatches("ZORCore.dll", path);
    if (commit) run.Commit();
    return std::make_pair(matches, run.FilesHashed());
  };
  EXPECT_EQ(start(false), std::make_pair(true, 1));
  EXPECT_FALSE(std::filesystem::exists(cache));  // only a successful pass leaves the cache
  EXPECT_EQ(start(true), std::make_pair(true, 1));
  EXPECT_EQ(start(true), std::make_pair(true, 0));

  const auto time = std::filesystem::last_write_time(path);
  test::WriteFile(path, std::string(3000, 'x'));
  std::filesystem::last_write_time(path, time + std::chrono::seconds(2));
  EXPECT_EQ(start(true), std::make_pair(false, 1));

  // A download verified on its way in is recorded without reading it again.
  const std::string downloaded = Dir / "ZORCore.dll_tmp";
  test::WriteFile(downloaded, content);
  {
    TReleaseVerification run(EncodeBase64(First.Public), State, 0, cache);
    run.Accept(signedText, kNow);
    GetReleaseGuard()->CheckFile("ZORCore.dll", "Libs", downloaded);
    std::filesystem::rename(downloaded, path);
    run.NoteDownloaded(path);
    run.Commit();
    EXPECT_EQ(run.FilesHashed(), 0);
  }
  EXPECT_EQ(start(true), std::make_pair(true, 0));
}

// The installed release counts only through the manifest kept at its commit, verified again
// with the kept key and matching the kept counter; anything else is no installed release.
TEST_F(ReleaseVerificationTest, TheInstalledReleaseIsKnownOnlyByTheManifestKeptAtItsCommit) {
  const std::string content = "abc";
  test::WriteFile(Dir / "ZORCore.dll", content);
  const auto manifest = [&](uint64_t counter) {
    TReleaseManifest release;
    release.Counter = counter;
    release.Created = kNow;
    release.Expires = kNow + 86400;
    release.Files = {{"ZORCore.dll", 3,
                      Sha256Hex({reinterpret_cast<const uint8_t*>(content.data()), 3}), "1.0.0.0",
                      100}};
    return SignManifestBody(SerializeManifestBody(release), First.Secret);
  };
  TReleaseVerification committing = For(First);
  committing.Accept(manifest(3), kNow);
  committing.Commit();
  const std::string kept = Dir / "ZORRelease.installed";
  // Whatever the umask, as the launcher writes it: only a file nobody else may write counts.
  constexpr auto kOwnerOnly =
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  const std::string keptText = test::ReadFile(kept);
  EXPECT_EQ(keptText, manifest(3));  // as it was signed
  // Its expiry has passed long since: what is installed still counts.
  EXPECT_EQ(For(First).InstalledRelease(Dir.Path(), {}), std::optional<uint64_t>(3));

  std::string damaged = keptText;
  damaged[damaged.find("ZORCore")] = 'X';
  struct Case {
    const char* Label;
    std::function<void()> Change;
    std::string Key;
  } const kCases[] = {
      {"a byte of the kept manifest changed", [&] { test::WriteFile(kept, damaged); },
       EncodeBase64(First.Public)},
      {"a kept manifest of another release than the state's",
       [&] { test::WriteFile(kept, manifest(2)); }, EncodeBase64(First.Public)},
      {"no kept manifest (committed by a launcher that kept none)",
       [&] { std::filesystem::remove(kept); }, EncodeBase64(First.Public)},
      {"another \"ReleaseKey\" since", [] {}, EncodeBase64(Second.Public)},
      {"no \"ReleaseKey\"", [] {}, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    c.Change();
    if (std::filesystem::exists(kept)) std::filesystem::permissions(kept, kOwnerOnly);
    TReleaseVerification run(c.Key, State, 0);
    EXPECT_EQ(run.InstalledRelease(Dir.Path(), {}), std::nullopt);
    test::WriteFile(kept, keptText);
    std::filesystem::permissions(kept, kOwnerOnly);
    EXPECT_EQ(For(First).InstalledRelease(Dir.Path(), {}), std::optional<uint64_t>(3));
  }
}

}  // namespace
}  // namespace zor
