// The application server under load: N clients (1, 8, 64) fetch a 64 MiB release in the
// packed form at the same time from a running `zorserver`, beside a plain loopback copy of
// the same bytes over N raw TCP streams in the same run. Reports aggregate MB/s of both and
// the server's peak memory (VmHWM). The release is packed once before the timed runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "intercom/ic_connection.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "server/file_service.h"
#include "transport/tcp_handler.h"

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

uint16_t FreePort() {
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  SocketAddress address{0x7F000001, 0};
  BindSocket(s, address, error);
  SocketLocalAddress(s, address, error);
  CloseSocket(s);
  return address.Port;
}

class ServerProcess {
 public:
  ServerProcess() {
    Dir = fs::temp_directory_path() / ("zor_bench_server_" + std::to_string(FreePort()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "release" / "bpls");
    for (int i = 0; i < kFiles; ++i) {
      const std::string content = FileContent(static_cast<uint32_t>(i));
      std::ofstream(Dir / "release" / (i % 2 ? "bpls" : "") / ("file" + std::to_string(i) + ".bpl"),
                    std::ios::binary)
          .write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    Port = FreePort();
    const std::string exe = fs::path(GetExePath()).parent_path() / "zorserver";
    const std::string command =
        "ZOR_REGISTRY_DIR=" + (Dir / "registry").string() + " exec " + exe + " --release " +
        (Dir / "release").string() + " --cache " + (Dir / "cache").string() +
        " --bind 127.0.0.1 --port " + std::to_string(Port) +
        " --max-connections 200 --log-level warning >" + (Dir / "out.txt").string();
    Pid = StartProcess("/bin/sh -c \"" + command + "\"");
    for (int i = 0; i < 3000 && IsProcessRunning(Pid); ++i) {
      std::ifstream out(Dir / "out.txt");
      std::string line;
      if (std::getline(out, line) && line.starts_with("listening on")) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("zorserver did not start");
  }
  ~ServerProcess() {
    WaitForProcessExit(StartProcess("kill -TERM " + std::to_string(Pid)));
    WaitForProcessExit(Pid);
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
  }
  // The server's peak resident memory in MiB.
  double PeakMiB() const {
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    std::string line;
    while (std::getline(status, line))
      if (line.starts_with("VmHWM:")) return std::stod(line.substr(6)) / 1024.0;
    return 0;
  }

  fs::path Dir;
  uint16_t Port = 0;
  ProcessId Pid = 0;
};

ServerProcess& Server() {
  static ServerProcess server;
  return server;
}

// A session opened the way the launcher's connection opens one.
struct Client {
  explicit Client(uint16_t port) : Connection(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt) {
    Connection.SetHandler(std::make_unique<TTCPHandler>("Host=127.0.0.1:" + std::to_string(port)));
    const TVariantArray greeting = Connection.WaitResult(true);
    const uint32_t key = DeriveEnhancedKey(Connection.GetKey());
    Connection.SendCommandData(
        7, {TVariant::Wide("bench"), TVariant::Wide("bench"), TVariant(""), TVariant(-1),
            TVariant(2052), TVariant(0), TVariant(0), TVariant("Client"), TVariant("/"), TVariant(),
            TVariant(static_cast<int32_t>(key))});
    Connection.WaitResultDiscard(true);
    Connection.SetKey(key);
  }
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
  TIcConnection Connection;
};

void BM_ServerPackedRelease(benchmark::State& state) {
  ServerProcess& server = Server();
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
  for (const auto& entry : fs::directory_iterator(Server().Dir / "cache"))
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
