// One release per update pass, against two live file services in the middle of a roll-out:
// one still on release 1, one on release 2, signed with one key. Every new connection of the
// launcher goes to the other server, as a round-robin balancer sends it.
#include <gtest/gtest.h>

#include <sstream>

#include "intercom/client_connection_ex.h"
#include "intercom/connect_strings.h"
#include "intercom/default_connection.h"
#include "platform/locale.h"
#include "server/release_command.h"
#include "server/release_manifest_check.h"
#include "startup/updating/download_client_source.h"
#include "startup/updating/release_verification.h"
#include "support/expect_error.h"
#include "support/file_contents.h"
#include "support/live_server.h"
#include "update/download_client.h"
#include "update/download_jobs.h"
#include "update/download_settings.h"
#include "update/release_guard.h"
#include "update/release_pass.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::WriteFileBytes;

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class OneReleasePerPass : public ::testing::Test {
 protected:
  OneReleasePerPass() : Lcid(kLcidEnglishUs), Saved(GetDownloadSettings()) {
    KeyFile = (Keys.Dir() / "release.key").string();
    PublicKey = Tool({"keygen", KeyFile});
    PublicKey.pop_back();  // the line's end
    // Release 1 on the old server; release 2 changes Data.bin and adds New.dat.
    WriteFileBytes((Old.Release / "Data.bin").string(), SampleBytes(150000, 1));
    WriteFileBytes((Old.Release / "Same.dll").string(), SampleBytes(20000, 3));
    Tool({"sign", "--key", KeyFile, "--release", Old.Release.string()});
    WriteFileBytes((New.Release / "Data.bin").string(), SampleBytes(150000, 2));
    WriteFileBytes((New.Release / "Same.dll").string(), SampleBytes(20000, 3));
    WriteFileBytes((New.Release / "New.dat").string(), SampleBytes(30000, 4));
    std::filesystem::copy_file(Old.Release / "ZORRelease.manifest",
                               New.Release / "ZORRelease.manifest");
    Tool({"sign", "--key", KeyFile, "--release", New.Release.string()});
    Old.Start();
    New.Start();
    TDownloadSettings settings = Saved;
    settings.InstallDir = Client.Path();
    SetDownloadSettings(settings);
    SetDownloadConnector([this]() -> std::unique_ptr<TIcConnection> {
      const uint16_t port = Ports[Connects++ % Ports.size()];
      auto connection = std::make_unique<TClientConnectionEx>(DefaultEncrypt, kDefaultScrambleKey,
                                                              DefaultDecrypt);
      connection->Connect(GetHandlerClass(TTransportKind::Tcp),
                          ComposeHostString(false, "127.0.0.1", port));
      return connection;
    });
    ResetDownloadClient();
  }
  ~OneReleasePerPass() override {
    SetReleaseGuard(nullptr);
    ResetDownloadClient();
    SetDownloadConnector(nullptr);
    SetDownloadSettings(Saved);
  }

  std::string Tool(std::vector<std::string> args) {
    std::ostringstream out, err;
    EXPECT_EQ(RunReleaseCommand(args, out, err, std::chrono::system_clock::now()), 0) << err.str();
    return out.str();
  }
  void GuardWith(const testing::LiveServer& server) {
    SetReleaseGuard(std::make_shared<TReleaseGuard>(*ReadManifestBody(server.Release), 0));
  }
  Bytes ClientFile(const std::string& name) { return ReadFileBytes(Client.Path() + name); }
  int64_t OtherReleaseRefusals(testing::LiveServer& server) {
    return server.Server->Counters().RefusedFor(RefusalReason::OtherRelease);
  }

  ScopedLcidOverride Lcid;
  testing::TempFolder Keys;
  std::string KeyFile;
  std::string PublicKey;
  testing::LiveServer Old;
  testing::LiveServer New;
  testing::TempFolder Client;
  TDownloadSettings Saved;
  std::vector<uint16_t> Ports{Old.Port, New.Port};
  std::atomic<size_t> Connects{0};
};

TEST_F(OneReleasePerPass, EveryFileComesFromAServerOfThePassesRelease) {
  GuardWith(New);
  TDownLoadExecutor executor;
  executor.Run({"Data.bin", "Same.dll", "New.dat"});
  EXPECT_EQ(ClientFile("Data.bin"), SampleBytes(150000, 2));
  EXPECT_EQ(ClientFile("Same.dll"), SampleBytes(20000, 3));
  EXPECT_EQ(ClientFile("New.dat"), SampleBytes(30000, 4));
  // The old server was asked and said "other release" rather than serving release 1 (or
  // "no such file" for New.dat).
  EXPECT_GE(OtherReleaseRefusals(Old), 1);
  EXPECT_EQ(OtherReleaseRefusals(New), 0);
}

TEST_F(OneReleasePerPass, AClientWithoutAManifestIsServedAsBefore) {
  Ports = {Old.Port};
  TDownLoadExecutor executor;
  executor.Run({"Data.bin"});
  EXPECT_EQ(ClientFile("Data.bin"), SampleBytes(150000, 1));
  EXPECT_EQ(OtherReleaseRefusals(Old), 0);
}

TEST_F(OneReleasePerPass, ServersThatStayOnAnotherReleaseFailTheFileAfterTheBound) {
  TDownloadSettings settings = GetDownloadSettings();
  settings.OtherReleaseAttempts = 3;
  SetDownloadSettings(settings);
  Ports = {Old.Port};
  GuardWith(New);
  TDownLoadExecutor executor;
  testing::ExpectError(
      [&] { executor.Run({"Data.bin"}); }, "Exception",
      "下载档案时发生错误 This server serves release 1, not release 2 of this update");
  EXPECT_EQ(OtherReleaseRefusals(Old), 3);
  EXPECT_FALSE(std::filesystem::exists(Client.Path() + "Data.bin"));
}

TEST_F(OneReleasePerPass, AnOlderManifestIsAskedForAgainOnANewConnection) {
  // The launcher accepted release 2 before; its next pass first reaches the old server.
  const std::string state = Client.Path() + "ZORRelease.state";
  TReleaseVerification earlier(PublicKey, state, 0);
  earlier.Accept(testing::ReadAll(New.Release / "ZORRelease.manifest"), NowSeconds());
  earlier.Commit();
  TDownloadClientSource source;
  testing::TempFolder staging;
  TReleaseVerification verification(PublicKey, state, 0);
  verification.Prepare(source, staging.Path(), NowSeconds());
  ASSERT_TRUE(verification.HasManifest());
  EXPECT_EQ(GetReleaseGuard()->Manifest().Counter, 2u);
  EXPECT_GE(Connects.load(), 2u);

  // Only servers of the older release: the pass is refused as before, after the bound.
  ResetDownloadClient();
  Ports = {Old.Port};
  Connects = 0;
  testing::ExpectError<EReleaseRefused>(
      [&] { verification.Prepare(source, staging.Path(), NowSeconds()); }, "EReleaseRefused",
      "The server offers release 1, older than release 2 installed before; nothing was updated.");
  EXPECT_EQ(Connects.load(), static_cast<size_t>(kOlderReleaseAttempts));
}

// A release copied over the served one in place: while the copy is incomplete the server keeps
// serving release 1 as it was scanned, a file the copy already replaced is left to servers that
// still have it ("other release"), and readiness says the folder differs; once the copy is
// complete and matches its manifest, release 2 is served.
TEST_F(OneReleasePerPass, ACopyInPlaceIsServedOnlyOnceItMatchesItsManifest) {
  TDownloadSettings settings = GetDownloadSettings();
  settings.OtherReleaseAttempts = 3;
  SetDownloadSettings(settings);
  Ports = {Old.Port};
  GuardWith(Old);
  const auto copyIn = [&](const char* name) {
    std::filesystem::copy_file(New.Release / name, Old.Release / name,
                               std::filesystem::copy_options::overwrite_existing);
    Old.Files->Release().Rescan();
  };
  copyIn("Data.bin");
  EXPECT_EQ(Old.Files->Manifest().State, ManifestState::Differs);
  EXPECT_EQ(Old.Files->Release().Snapshot()->Manifest.Counter, 1u);
  {
    TDownLoadExecutor executor;
    executor.Run({"Same.dll"});
    EXPECT_EQ(ClientFile("Same.dll"), SampleBytes(20000, 3));
    testing::ExpectError([&] { executor.Run({"Data.bin"}); }, "Exception",
                         "下载档案时发生错误 This server's release folder is being changed "
                         "(release 1 is asked for)");
    EXPECT_EQ(OtherReleaseRefusals(Old), 3);
    EXPECT_FALSE(std::filesystem::exists(Client.Path() + "Data.bin"));
  }
  copyIn("ZORRelease.manifest");
  copyIn("New.dat");
  EXPECT_EQ(Old.Files->Manifest().State, ManifestState::Matches);
  EXPECT_EQ(Old.Files->Release().Snapshot()->Manifest.Counter, 2u);
  GuardWith(New);
  TDownLoadExecutor executor;
  executor.Run({"Data.bin", "New.dat"});
  EXPECT_EQ(ClientFile("Data.bin"), SampleBytes(150000, 2));
  EXPECT_EQ(ClientFile("New.dat"), SampleBytes(30000, 4));
}

// A delta request names no release. One that reaches a server of another release gets a
// delta of that release's file (here larger than the signed one): the launcher does not take
// it, and fetches the file whole by a request that names the release, which that server
// answers "other release", so the file comes from a server of the pass's release.
TEST_F(OneReleasePerPass, ADeltaOfAnotherReleasesFileIsNotTakenAndTheFileComesWhole) {
  WriteFileBytes((New.Release / "Data.bin").string(), SampleBytes(140000, 5));
  Tool({"sign", "--key", KeyFile, "--release", New.Release.string()});
  New.Files->Release().Rescan();
  GuardWith(New);
  WriteFileBytes(Client.Path() + "Data.bin", SampleBytes(150000, 1));  // release 1's copy
  TDownLoadExecutor executor;
  executor.Run({"Data.bin"});  // the first connection reaches the old server
  EXPECT_EQ(ClientFile("Data.bin"), SampleBytes(140000, 5));
  EXPECT_EQ(Old.Files->DeltaFetch().Sent(), 1);
  EXPECT_GE(OtherReleaseRefusals(Old), 1);
}

}  // namespace
}  // namespace zor
