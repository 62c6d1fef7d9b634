#include <gtest/gtest.h>

#include <filesystem>

#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "update/release_guard.h"
#include "update/release_signature.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TReleaseManifest OneFile(const std::string& name, const std::string& content) {
  TReleaseManifest manifest;
  manifest.Files = {
      {name, static_cast<int64_t>(content.size()), Sha256Hex(Bytes(content)), "1.0.0.0", 1}};
  return manifest;
}

class ReleaseGuardFiles : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    return Folder.WriteFile(name, content);
  }
  testing::TempFolder Folder{"zor-guard"};
  const fs::path Dir = Folder.Dir();
};

TEST(ReleaseGuard, AnnouncedSizesAndNamesAreCheckedBeforeAnyByte) {
  const TReleaseGuard guard(OneFile("bpls\\Main.bpl", std::string(1000, 'm')), 0);
  const std::string tooLong =
      "The server sent more data for Main.bpl than the signed release allows; it was not "
      "installed.";
  struct Case {
    std::string Name, Area;
    int64_t Announced;
    bool Packed;
    std::string Message;  // empty: allowed
  } const kCases[] = {
      {"Main.bpl", "Bpls", 1000, false, ""},
      {"MAIN.BPL", "bpls", TReleaseGuard::PackedLimit(1000), true, ""},
      {"Main.bpl", "Bpls", TReleaseGuard::PackedLimit(1000) + 1, true, tooLong},
      {"Main.bpl", "Bpls", 1001, false, tooLong},
      {"Main.bpl", "Bpls", 999, false, tooLong},
      {"Main.bpl", "Libs", 10, true,
       "The server offers Main.bpl, which is not part of the signed release; nothing was updated."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name + " " + c.Area + " " + std::to_string(c.Announced));
    const auto check = [&] { guard.CheckAnnounced(c.Name, c.Area, c.Announced, c.Packed); };
    if (c.Message.empty()) {
      EXPECT_NO_THROW(check());
    } else {
      testing::ExpectError<EReleaseRefused>(check, "EReleaseRefused", c.Message);
    }
  }
}

TEST(ReleaseGuard, BeforeTheManifestIsVerifiedOnlyItMayBeFetchedUpToItsLimit) {
  const TReleaseGuard guard(2);
  const int64_t limit = static_cast<int64_t>(kMaxManifestBytes + kMaxSignatureLine);
  EXPECT_NO_THROW(
      guard.CheckAnnounced(kManifestFileName, ".", TReleaseGuard::PackedLimit(limit), true));
  testing::ExpectError<EReleaseRefused>(
      [&] {
        guard.CheckAnnounced(kManifestFileName, ".", TReleaseGuard::PackedLimit(limit) + 1, true);
      },
      "EReleaseRefused",
      "服务器传送的档案 ZORRelease.manifest 超过已签署版本所允许的大小，未安装此档案。");
  testing::ExpectError<EReleaseRefused>(
      [&] { guard.CheckAnnounced("Client", "Libs", 10, true); }, "EReleaseRefused",
      "服务器提供的档案 Client 不属于已签署的版本，未更新任何档案。");
}

TEST_F(ReleaseGuardFiles, FinishedFilesMustHaveTheSignedSizeAndHash) {
  const TReleaseGuard guard(OneFile("Data.dat", "signed bytes"), 1);
  EXPECT_NO_THROW(guard.CheckFile("Data.dat", "Libs", Write("a", "signed bytes")));
  EXPECT_TRUE(guard.Matches("data.DAT", Write("a", "signed bytes")));
  for (const std::string& other :
       {std::string("signed byteS"), std::string("signed bytes!"), std::string()}) {
    testing::ExpectError<EReleaseRefused>(
        [&] { guard.CheckFile("Data.dat", "Libs", Write("b", other)); }, "EReleaseRefused",
        "從伺服器取得的檔案 Data.dat 與已簽署的版本不符，未安裝此檔案。");
    EXPECT_FALSE(guard.Matches("Data.dat", Write("b", other)));
  }
  EXPECT_FALSE(guard.Matches("Other.dat", Write("a", "signed bytes")));
  EXPECT_FALSE(guard.Matches("Data.dat", (Dir / "missing").string()));
}

TEST_F(ReleaseGuardFiles, AFileThatPassedIsKnownByItsIdentityAfterTheRenameIntoPlace) {
  const TReleaseGuard guard(OneFile("Data.dat", "signed bytes"), 1);
  const std::string passed = Write("Data.dat_tmp", "signed bytes");
  const std::string refused = Write("Other.dat_tmp", "signed byteS");
  guard.CheckFile("Data.dat", "Libs", passed);
  EXPECT_ANY_THROW(guard.CheckFile("Data.dat", "Libs", refused));
  fs::rename(passed, Dir / "Data.dat");
  const std::optional<FileIdentity> placed = ReadFileIdentity((Dir / "Data.dat").string());
  ASSERT_TRUE(placed.has_value());
  EXPECT_EQ(guard.VerifiedSha256(*placed), Sha256Hex(Bytes("signed bytes")));
  EXPECT_EQ(guard.VerifiedSha256(*ReadFileIdentity(refused)), std::nullopt);
  FileIdentity grown = *placed;
  ++grown.Size;
  EXPECT_EQ(guard.VerifiedSha256(grown), std::nullopt);
}

}  // namespace
}  // namespace zor
