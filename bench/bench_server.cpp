// The application server under load: N clients (1, 8, 64) fetch a 64 MiB release in the
// packed form at the same time from a running `zorserver`, beside a plain loopback copy of
// the same bytes over N raw TCP streams in the same run. Reports aggregate MB/s of both and
// the server's peak memory (VmHWM). The release is packed once before the timed runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "intercom/ic_connection.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "server/file_service.h"
#include "support/file_contents.h"
#include "support/free_port.h"
#include "support/server_process.h"
#include "support/temp_folder.h"
#include "support/test_client.h"

namespace {

using namespace zor;
namespace fs = std::filesystem;

constexpr int kFiles = 16;
constexpr size_t kFileSize = 4 * 1024 * 1024;  // 16 x 4 MiB = 64 MiB

// Like program files: stretches of code-like repetition with random bytes in between.
std::string FileContent(uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(kFileSize, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] =
        (i / 64) % 3 == 0 ? static_cast<char>(random()) : static_cast<char>((i * 7) ^ (i >> 9));
  return data;
}

// The server program beside this benchmark over a release of its own, packed on first use.
class BenchServer {
 public:
  BenchServer() {
    const fs::path dir = Folder.Dir();
    for (int i = 0; i < kFiles; ++i)
      testing::WriteAll(
          dir / "release" / (i % 2 ? "bpls" : "") / ("file" + std::to_string(i) + ".bpl"),
          FileContent(static_cast<uint32_t>(i)));
    Port = testing::FreePort();
    Process = std::make_unique<testing::ServerProcess>(
        (fs::path(GetExePath()).parent_path() / "zorserver").string(),
        "--release '" + (dir / "release").string() + "' --cache '" + (dir / "cache").string() +
            "' --bind 127.0.0.1 --port " + std::to_string(Port) +
            " --max-connections 200 --log-level warning",
        dir, "ZOR_REGISTRY_DIR='" + (dir / "registry").string() + "'");
    if (!Process->WaitListening(std::chrono::seconds(30)))
      throw std::runtime_error("zorserver did not start: " + Process->Err());
  }
  // The server's peak resident memory in MiB.
  double PeakMiB() const {
    std::ifstream status("/proc/" + std::to_string(Process->Pid()) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
    return 0;
  }
  fs::path Dir() const { return Folder.Dir(); }

  testing::TempFolder Folder{"zor-bench-server"};
  uint16_t Port = 0;
  std::unique_ptr<testing::ServerProcess> Process;
};

BenchServer& Server() {
  static BenchServer server;
  return server;
}

// A session opened the way the launcher's connection opens one.
struct Client {
  explicit Client(uint16_t port) : Session(port, {"bench", "bench", "Client", "/"}) {}
  // The release's file names from the list.
  std::vector<std::string> Names() {
    Connection.SendCommand(cmdFileList);
    const std::string list = Connection.WaitResult(true)[0].Text();
    std::vector<std::string> names;
    for (size_t pos = 0; pos < list.size();) {
      const size_t end = std::min(list.find(';', pos), list.size());
      const std::string entry = list.substr(pos, end - pos);
      names.push_back(entry.substr(0, entry.find('=')));
      pos = end + 1;
    }
    return names;
  }
  int64_t FetchPacked(const std::string& name, std::vector<uint8_t>& buffer) {
    Connection.SendCommandData(cmdPackedFileData, {TVariant(name), TVariant("Libs"), TVariant(0),
                                                   TVariant(0x7FFFFFFF), TVariant("CHS")});
    Connection.WaitResultDiscard(false);
    uint8_t header[4];
    Connection.Handler()->ReadBuffer(header, 4);
    const int64_t count = static_cast<int64_t>(header[0] | header[1] << 8 | header[2] << 16 |
                                               uint32_t(header[3]) << 24);
    for (int64_t done = 0; done < count;) {
      const int32_t piece = static_cast<int32_t>(
          std::min<int64_t>(count - done, static_cast<int64_t>(buffer.size())));
      Connection.Handler()->ReadBuffer(buffer.data(), piece);
      done += piece;
    }
    return count;
  }
  testing::TTestClient Session;
  TIcConnection& Connection = Session.Connection;
};

void BM_ServerPackedRelease(benchmark::State& state) {
  BenchServer& server = Server();
  const int clients = static_cast<int>(state.range(0));
  const std::vector<std::string> names = Client(server.Port).Names();  // packs the release once
  std::atomic<int64_t> bytes{0};
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&] {
        Client client(server.Port);
        std::vector<uint8_t> buffer(64 * 1024);
        for (const std::string& name : names) bytes += client.FetchPacked(name, buffer);
      });
    }
    for (auto& t : threads) t.join();
  }
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(bytes.load()) / 1e6, benchmark::Counter::kIsRate);
  state.counters["server_peak_MiB"] = server.PeakMiB();
}

// The same number of bytes over N plain loopback TCP streams, without any protocol.
void BM_PlainLoopbackCopy(benchmark::State& state) {
  const int streams = static_cast<int>(state.range(0));
  int64_t perStream = 0;
  for (const auto& entry : fs::directory_iterator(Server().Dir() / "cache"))
    if (entry.path().extension() == ".cps") perStream += static_cast<int64_t>(entry.file_size());
  std::atomic<int64_t> bytes{0};
  for (auto _ : state) {
    int error = 0;
    const int listener = CreateSocket(SocketKind::Stream, error);
    SocketAddress address{0x7F000001, 0};
    BindSocket(listener, address, error);
    SocketLocalAddress(listener, address, error);
    ListenSocket(listener, 128, error);
    std::vector<std::thread> threads;
    for (int s = 0; s < streams; ++s) {
      threads.emplace_back([&] {  // receiver
        int e = 0;
        const int socket = CreateSocket(SocketKind::Stream, e);
        StartConnect(socket, address, e);
        PollSocket(socket, kPollWritable, -1, e);
        std::vector<uint8_t> buffer(64 * 1024);
        int64_t got = 0;
        while (got < perStream) {
          PollSocket(socket, kPollReadable, -1, e);
          const int64_t n =
              SocketReceive(socket, buffer.data(), static_cast<int64_t>(buffer.size()), e);
          if (n > 0) got += n;
          if (n == 0) break;
        }
        bytes += got;
        CloseSocket(socket);
      });
    }
    for (int s = 0; s < streams; ++s) {
      int e = 0;
      SocketAddress peer;
      int socket = kNoSocket;
      while ((socket = AcceptSocket(listener, peer, e)) == kNoSocket)
        PollSocket(listener, kPollReadable, -1, e);
      threads.emplace_back([socket, perStream] {  // sender
        int e2 = 0;
        std::vector<uint8_t> buffer(64 * 1024, 0x5A);
        for (int64_t sent = 0; sent < perStream;) {
          PollSocket(socket, kPollWritable, -1, e2);
          const int64_t n = SocketSend(
              socket, buffer.data(),
              std::min<int64_t>(perStream - sent, static_cast<int64_t>(buffer.size())), e2);
          if (n > 0) sent += n;
        }
        CloseSocket(socket);
      });
    }
    for (auto& t : threads) t.join();
    CloseSocket(listener);
  }
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(bytes.load()) / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ServerPackedRelease)
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLoopbackCopy)
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
