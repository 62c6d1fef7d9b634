// The launcher's delta fetch against the real file service on a loopback port: old/new pairs
// of every shape end byte-exact in the client's folder (as deltas where they pay, whole where
// not); a delta cut off in the middle leaves nothing behind and the retry fetches the file
// whole; a delta whose result is not the signed file is refused and the whole file fetched;
// a server without the command gets whole-file requests only.
#include <gtest/gtest.h>

#include <sstream>

#include "intercom/client_connection_ex.h"
#include "intercom/connect_strings.h"
#include "intercom/default_connection.h"
#include "intercom/scrambling.h"
#include "platform/directories.h"
#include "platform/fault_file_system.h"
#include "platform/file_times.h"
#include "platform/locale.h"
#include "server/release_command.h"
#include "server/release_manifest_check.h"
#include "support/live_server.h"
#include "update/download_client.h"
#include "update/download_jobs.h"
#include "update/download_settings.h"
#include "update/release_guard.h"
#include "update/release_manifest.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Edits in place every `stride` bytes, as a rebuilt library changes.
Bytes Edited(Bytes bytes, size_t stride, size_t length) {
  for (size_t at = stride / 2; at + length <= bytes.size(); at += stride)
    for (size_t i = 0; i < length; ++i) bytes[at + i] = static_cast<uint8_t>(bytes[at + i] * 7 + 1);
  return bytes;
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Passes every call on and lets a test act on the delta's two files: `OnPatchWrite` runs
// after each write of the patched file ("<target>_tmp_tmp"), and once that file exists,
// reads of `OldCopy` return damaged bytes when `DamageOldCopy` is set.
class DeltaHooks : public FaultFileSystem {
 public:
  std::function<void()> OnPatchWrite;
  std::string OldCopy;
  bool DamageOldCopy = false;

  using FaultFileSystem::Open;
  std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                       const OpenOptions& options) override {
    std::unique_ptr<PositionedFile> file = FaultFileSystem::Open(path, mode, options);
    const bool patched = EndsWith(path, "_tmp_tmp") && mode == OpenMode::CreateNew;
    if (patched) PatchStarted = true;
    if (patched || path == OldCopy)
      return std::make_unique<Hooked>(std::move(file), *this, patched);
    return file;
  }

 private:
  class Hooked : public PositionedFile {
   public:
    Hooked(std::unique_ptr<PositionedFile> inner, DeltaHooks& hooks, bool patched)
        : PositionedFile(inner->Path()), Inner(std::move(inner)), Hooks(hooks), Patched(patched) {}
    size_t ReadAt(int64_t offset, void* buffer, size_t size) override {
      const size_t n = Inner->ReadAt(offset, buffer, size);
      if (!Patched && Hooks.DamageOldCopy && Hooks.PatchStarted)
        for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buffer)[i] ^= 0x01;
      return n;
    }
    size_t WriteAt(int64_t offset, const void* data, size_t size) override {
      const size_t n = Inner->WriteAt(offset, data, size);
      if (Patched && Hooks.OnPatchWrite) Hooks.OnPatchWrite();
      return n;
    }
    int64_t Size() override { return Inner->Size(); }
    void Truncate(int64_t size) override { Inner->Truncate(size); }
    void Sync() override { Inner->Sync(); }
    void SetPermissions(uint32_t permissions) override { Inner->SetPermissions(permissions); }
    void SetModifiedTime(int64_t utcNs) override { Inner->SetModifiedTime(utcNs); }
    std::optional<FileIdentity> Identity() override { return Inner->Identity(); }
    void Close() override { Inner->Close(); }

   private:
    std::unique_ptr<PositionedFile> Inner;
    DeltaHooks& Hooks;
    bool Patched;
  };
  bool PatchStarted = false;
};

class DeltaFetchEndToEnd : public ::testing::Test {
 protected:
  DeltaFetchEndToEnd() : Lcid(kLcidEnglishUs), Saved(GetDownloadSettings()) {}
  ~DeltaFetchEndToEnd() override {
    SetReleaseGuard(nullptr);
    ResetDownloadClient();
    SetDownloadConnector(nullptr);
    SetDownloadSettings(Saved);
  }

  // Serves `files` (name -> new content) and puts the old copies into the client's folder.
  // With `signed_`, the release is signed before the server starts, as a publisher does.
  void Start(const std::vector<std::pair<std::string, std::pair<Bytes, Bytes>>>& files,
             bool serveDeltas = true, bool signed_ = false) {
    Server = std::make_unique<testing::LiveServer>(
        TSessionSettings{}, false,
        [&](TFileServiceSettings& settings) { settings.ServeDeltas = serveDeltas; });
    for (const auto& [name, contents] : files) {
      if (!contents.first.empty() || name.find("empty") != std::string::npos)
        WriteFileBytes(Client.Path() + name, contents.first);
      WriteFileBytes((Server->Release / name).string(), contents.second);
    }
    if (signed_) {
      const std::string key = (Keys.Dir() / "release.key").string();
      for (const std::vector<std::string>& args :
           {std::vector<std::string>{"keygen", key},
            std::vector<std::string>{"sign", "--key", key, "--release",
                                     Server->Release.string()}}) {
        std::ostringstream out, err;
        ASSERT_EQ(RunReleaseCommand(args, out, err, std::chrono::system_clock::now()), 0)
            << err.str();
      }
    }
    Server->Start();
    TDownloadSettings settings = Saved;
    settings.InstallDir = Client.Path();
    SetDownloadSettings(settings);
    SetDownloadConnector([this]() -> std::unique_ptr<TIcConnection> {
      ++Connects;
      auto connection = std::make_unique<TClientConnectionEx>(DefaultEncrypt, kDefaultScrambleKey,
                                                              DefaultDecrypt);
      connection->Connect(GetHandlerClass(TTransportKind::Tcp),
                          ComposeHostString(false, "127.0.0.1", Server->Port));
      return connection;
    });
    ResetDownloadClient();
  }

  std::string Local(const std::string& name) const { return Client.Path() + name; }

  void ExpectNoLeftovers(const std::string& name) const {
    EXPECT_FALSE(FileExists(Local(name) + "_tmp")) << name;
    EXPECT_FALSE(FileExists(Local(name) + "_tmp_tmp")) << name;
    EXPECT_FALSE(TDownloadInfoFile(Client.Path() + "DownLoadInfo.dat").Read(name).has_value());
  }

  ScopedLcidOverride Lcid;
  TempFolder Client;
  TempFolder Keys;
  TDownloadSettings Saved;
  std::unique_ptr<testing::LiveServer> Server;
  std::atomic<int> Connects{0};
};

TEST_F(DeltaFetchEndToEnd, EveryShapeOfChangeEndsByteExactAsADeltaWhereItPays) {
  const Bytes base = SampleBytes(400000, 1);
  struct Case {
    const char* Name;
    Bytes Old, New;
    bool AsDelta;
  } const kCases[] = {
      {"identical.bin", base, base, true},
      {"appended.bin", base, Concat(base, SampleBytes(20000, 2)), true},
      {"prepended.bin", base, Concat(SampleBytes(3000, 3), base), true},
      {"edited.bin", base, Edited(base, 100000, 40), true},
      {"shrunk.bin", base, Bytes(base.begin(), base.begin() + 250000), true},
      {"grown.bin", base,
       Concat(Concat(Bytes(base.begin(), base.begin() + 200000), SampleBytes(60000, 4)),
              Bytes(base.begin() + 200000, base.end())),
       true},
      // The server declines: the delta would be about as large as the packed file.
      {"unrelated.bin", base, SampleBytes(400000, 5), false},
      // Below the size where a delta pays, or nothing to patch: fetched whole.
      {"small.bin", SampleBytes(20000, 6), Edited(SampleBytes(20000, 6), 5000, 8), false},
      {"old-empty.bin", {}, base, false},
      {"new-empty.bin", base, {}, true},
  };
  std::vector<std::pair<std::string, std::pair<Bytes, Bytes>>> files;
  for (const Case& c : kCases) files.push_back({c.Name, {c.Old, c.New}});
  Start(files);

  TDownloadFileClient& client = GetDownloadClient();
  int64_t credited = 0;
  client.Events.OnStart = [&](const std::string&, int32_t, int32_t pos) { credited += pos; };
  client.Events.OnProgress = [&](const std::string&, int32_t, int32_t, int32_t count) {
    credited += count;
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    const int before = client.Delta.Delivered;
    ASSERT_TRUE(DownloadFiles(client, c.Name, "Libs", ""));
    EXPECT_EQ(ReadFileBytes(Local(c.Name)), c.New);
    EXPECT_EQ(client.Delta.Delivered - before, c.AsDelta ? 1 : 0);
    EXPECT_EQ(GetFileDosTime(Local(c.Name)), GetFileDosTime((Server->Release / c.Name).string()));
    ExpectNoLeftovers(c.Name);
  }
  EXPECT_EQ(client.Delta.Refused, 0);
  EXPECT_EQ(Server->Files->DeltaFetch().Declined(), 1);  // the unrelated file
  // A file that came as a delta counts its packed size, as the list does.
  int64_t packedTotal = 0;
  for (const Case& c : kCases) {
    int32_t age = 0, size = 0;
    std::string version;
    ASSERT_TRUE(GetRemoteFileInfo(client, c.Name, "Libs", age, size, version));
    packedTotal += size;
  }
  EXPECT_EQ(credited, packedTotal);
}

TEST_F(DeltaFetchEndToEnd, ADeltaCutInTheMiddleLeavesNothingAndTheRetryFetchesTheFileWhole) {
  const Bytes old = SampleBytes(1 << 20, 11);
  const Bytes fresh = Edited(old, 4096, 16);  // a delta of many pieces
  Start({{"lib.bin", {old, fresh}}});
  DeltaHooks hooks;
  ScopedFileSystem use(hooks);
  TDownloadFileClient client;
  bool cut = false;
  hooks.OnPatchWrite = [&] {
    if (cut) return;
    cut = true;  // the network goes away after the first patched piece
    client.GetConnection()->Handler()->Close();
  };
  TDownLoadJob job(&client, "lib.bin", "Libs", "");
  const int before = Connects;
  ASSERT_TRUE(job.Run());
  EXPECT_TRUE(cut);
  EXPECT_EQ(Connects - before, 2);
  EXPECT_EQ(ReadFileBytes(Local("lib.bin")), fresh);
  EXPECT_EQ(Server->Files->DeltaFetch().Sent(), 1);
  EXPECT_EQ(client.Delta.Delivered, 0);
  ExpectNoLeftovers("lib.bin");
}

TEST_F(DeltaFetchEndToEnd, ADeltaThatDoesNotMakeTheSignedFileIsRefusedAndTheWholeFileFetched) {
  const Bytes old = SampleBytes(300000, 21);
  const Bytes fresh = Edited(old, 50000, 32);
  Start({{"lib.bin", {old, fresh}}}, true, /*signed_=*/true);
  SetReleaseGuard(std::make_shared<TReleaseGuard>(*ReadManifestBody(Server->Release), 0));
  // The old copy reads differently once the patch has begun: the patched file is not the
  // one the release signs.
  DeltaHooks hooks;
  hooks.OldCopy = Local("lib.bin");
  hooks.DamageOldCopy = true;
  ScopedFileSystem use(hooks);

  TDownloadFileClient client;
  ASSERT_TRUE(DownloadFiles(client, "lib.bin", "Libs", ""));
  EXPECT_EQ(ReadFileBytes(Local("lib.bin")), fresh);
  EXPECT_EQ(client.Delta.Refused, 1);
  EXPECT_EQ(client.Delta.Delivered, 0);
  EXPECT_EQ(Server->Files->DeltaFetch().Sent(), 1);
  ExpectNoLeftovers("lib.bin");
}

TEST_F(DeltaFetchEndToEnd, AServerWithoutTheCommandGetsWholeFileRequests) {
  const Bytes old = SampleBytes(200000, 31);
  Start({{"a.bin", {old, Edited(old, 50000, 8)}}, {"b.bin", {old, Edited(old, 70000, 8)}}},
        /*serveDeltas=*/false);
  TDownloadFileClient client;
  ASSERT_TRUE(DownloadFiles(client, "a.bin", "Libs", ""));
  EXPECT_FALSE(client.Delta.Enabled);
  ASSERT_TRUE(DownloadFiles(client, "b.bin", "Libs", ""));
  EXPECT_EQ(ReadFileBytes(Local("a.bin")), Edited(old, 50000, 8));
  EXPECT_EQ(ReadFileBytes(Local("b.bin")), Edited(old, 70000, 8));
  EXPECT_EQ(client.Delta.Delivered, 0);
  ExpectNoLeftovers("a.bin");
  ExpectNoLeftovers("b.bin");
}

}  // namespace
}  // namespace zor
