// Feeds arbitrary bytes to a server session as one client's whole request stream (headers
// and payloads, in memory, the client's end closed after them), with the server's limits on:
// a session must answer or close, never crash, hang or allocate past its budgets. Run it with
// -malloc_limit_mb=64 -rss_limit_mb=512 so that an allocation over the budget is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "base/clock.h"
#include "server/file_service.h"
#include "server/session_runner.h"
#include "server/settings_store.h"
#include "server/zor_server.h"
#include "transport/memory_pipe_handler.h"

namespace {

using namespace zor;

// One server for the whole run: unscrambled (so that the fuzzer's headers are read as they
// are), detached sessions dropped at once, a file service over a two-file release.
struct TFuzzServer {
  TFuzzServer() {
    Log.SetUseStdErr(false);
    Folder = std::filesystem::temp_directory_path() /
             ("zor_fuzz_session_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(Folder / "release" / "bpls");
    std::ofstream(Folder / "release" / "a.txt") << "alpha";
    std::ofstream(Folder / "release" / "bpls" / "b.bpl") << std::string(5000, 'b');
    TSessionSettings session;
    session.Scramble = false;
    session.SessionGrace = std::chrono::seconds(0);
    Server = std::make_unique<TZORServer>(Log, Settings, session);
    TFileServiceSettings files;
    files.ReleaseDir = Folder / "release";
    files.CacheDir = Folder / "cache";
    files.PackAhead = false;
    files.VersionReader = [](const std::string&) { return std::string(); };
    Files = std::make_unique<TFileService>(Server.get(), files);
    Files->SetEnabled(true);
  }

  ~TFuzzServer() {
    Files.reset();
    Server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }

  TServerLog Log;
  TMemorySettings Settings;
  std::filesystem::path Folder;
  std::unique_ptr<TZORServer> Server;
  std::unique_ptr<TFileService> Files;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ManualClock clock;  // time-outs and pauses cost nothing
  static ScopedClock scope(clock);
  static TFuzzServer fuzz;
  auto [client, server] = MakeMemoryPipe();
  client->SimulatedTime = true;
  server->SimulatedTime = true;
  if (size > 0) client->WriteBuffer(data, static_cast<int32_t>(size));
  // The client leaves once the server waits for more than it sent; its replies stay unread.
  TMemoryPipeHandler* far = client.get();
  server->OnIdle = [far](TIcIOHandler&) { far->Close(); };
  TSessionRunner(*fuzz.Server, std::move(server)).Run();
  return 0;
}
