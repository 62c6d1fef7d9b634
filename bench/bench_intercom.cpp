// Round trips of a small command on one intercom connection over loopback TCP, next to a raw
// TCP ping-pong of the same sizes in the same run, and the throughput of a 16 MiB payload with
// and without compression. Prints the ratios at the end.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "intercom/ic_connection.h"
#include "intercom/payload_codec.h"
#include "transport/memory_pipe_handler.h"

namespace {

using namespace zor;

std::map<std::string, double> gRates;  // per second, from the last (measured) run of each

// Times a benchmark loop and records its rate under `name`.
class TRate {
 public:
  explicit TRate(const char* name) : Name(name), Start(std::chrono::steady_clock::now()) {}
  void Done(double units) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    if (seconds > 0) gRates[Name] = units / seconds;
  }

 private:
  const char* Name;
  std::chrono::steady_clock::time_point Start;
};

// A connected pair of loopback TCP sockets with TCP_NODELAY.
std::pair<int, int> SocketPair() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  listen(listener, 1);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  const int server = accept(listener, nullptr, nullptr);
  close(listener);
  const int one = 1;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return {client, server};
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A handler over a connected socket, written with plain blocking calls: enough for measuring
// the protocol's own cost until the TCP transport is wired in.
class TSocketBenchHandler : public TIcIOHandler {
 public:
  explicit TSocketBenchHandler(int fd) : TIcIOHandler("bench", nullptr), Fd(fd) {
    SetHandle(fd);
    SetState(kStateConnected);
  }
  ~TSocketBenchHandler() override { CloseOnDestroy(); }
  void SetConnectString(const std::string&) override {}
  int32_t ReadData(uint8_t* buffer, int32_t count) override {
    return static_cast<int32_t>(read(Fd, buffer, static_cast<size_t>(count)));
  }
  int32_t WriteData(const uint8_t* buffer, int32_t count) override {
    return static_cast<int32_t>(write(Fd, buffer, static_cast<size_t>(count)));
  }
  void ReadAsync(uint8_t*, int32_t) override {}
  int32_t WaitIO(int, int32_t) override { return -1; }
  bool DoOpen() override { return true; }
  void DoClose() override { close(Fd); }
  bool WaitReadable(int32_t) override { return true; }
  bool DataAvailable() override { return false; }

 private:
  int Fd;
};

// Small request [integer, 16-byte string], answered with [integer].
void BM_IntercomRoundTrip(benchmark::State& state) {
  auto [c, s] = SocketPair();
  TIcConnection client;
  TIcConnection server;
  client.SetHandler(std::make_unique<TSocketBenchHandler>(c));
  server.SetHandler(std::make_unique<TSocketBenchHandler>(s));
  server.ShortStreamMagic = 1;
  std::atomic<bool> stop{false};
  std::thread serve([&] {
    try {
      while (!stop) {
        server.ReceiveRequest(kTimeoutNone);
        server.SendResultData({TVariant(1)});
      }
    } catch (const std::exception&) {
    }
  });
  const TVariantArray args = {TVariant(7), TVariant(std::string(16, 'x'))};
  TRate rate("intercom");
  for (auto _ : state) benchmark::DoNotOptimize(client.ExecuteQueryData(0x1000, {}, args));
  rate.Done(static_cast<double>(state.iterations()));
  stop = true;
  client.Handler()->Close();
  server.Handler()->Close();
  serve.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IntercomRoundTrip)->UseRealTime()->MinTime(1.0);

// The same sizes as one intercom round trip (request 32 + 4 + payload, reply 32 + 4 + payload).
void BM_RawTcpPingPong(benchmark::State& state) {
  const size_t request =
      32 + 4 + EncodeVariantStream({TVariant(7), TVariant(std::string(16, 'x'))}).size();
  const size_t reply = 32 + 4 + EncodeVariantStream({TVariant(1)}, {.ShortMagic = true}).size();
  auto [c, s] = SocketPair();
  std::thread serve([&, s = s] {
    std::vector<uint8_t> in(request), out(reply, 1);
    while (ReadAll(s, in.data(), in.size())) {
      if (write(s, out.data(), out.size()) <= 0) break;
    }
  });
  std::vector<uint8_t> out(request, 2), in(reply);
  TRate rate("raw");
  for (auto _ : state) {
    if (write(c, out.data(), out.size()) <= 0 || !ReadAll(c, in.data(), in.size()))
      state.SkipWithError("io");
  }
  rate.Done(static_cast<double>(state.iterations()));
  shutdown(c, SHUT_RDWR);
  serve.join();
  close(c);
  close(s);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawTcpPingPong)->UseRealTime()->MinTime(1.0);

// A 16 MiB byte array through a connection over loopback TCP, echoed back empty.
void BM_Payload16MiB(benchmark::State& state) {
  const bool compress = state.range(0) != 0;
  struct TBenchConnection : TIcConnection {
    bool Compress = true;
    bool UseCompression() override { return Compress; }
  };
  auto [c, s] = SocketPair();
  TBenchConnection client;
  TBenchConnection server;
  client.Compress = compress;
  client.SetHandler(std::make_unique<TSocketBenchHandler>(c));
  server.SetHandler(std::make_unique<TSocketBenchHandler>(s));
  std::thread serve([&] {
    try {
      for (;;) {
        server.ReceiveRequest(kTimeoutNone);
        server.SendEmptyResult();
      }
    } catch (const std::exception&) {
    }
  });
  // Half random, half repetitive: like program files, neither incompressible nor trivial.
  std::vector<uint8_t> data(16 << 20);
  std::mt19937 rng(1);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = (i / 4096) % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i / 64);
  const TVariantArray args = {TVariant::Bytes(std::move(data))};
  TRate rate(compress ? "compressed" : "plain");
  for (auto _ : state) client.ExecuteCommandData(0x1000, args);
  rate.Done(static_cast<double>(state.iterations()) * 16.0);  // MiB
  client.Handler()->Close();
  server.Handler()->Close();
  serve.join();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (16 << 20));
}
BENCHMARK(BM_Payload16MiB)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto rate = [](const char* name) { return gRates.count(name) ? gRates[name] : 0.0; };
  std::printf("\nintercom round trips/s %.0f, raw TCP ping-pongs/s %.0f, ratio %.3f\n",
              rate("intercom"), rate("raw"),
              rate("raw") > 0 ? rate("intercom") / rate("raw") : 0.0);
  std::printf(
      "16 MiB payload: plain %.1f MiB/s, compressed %.1f MiB/s, ratio compressed/plain %.3f\n",
      rate("plain"), rate("compressed"),
      rate("plain") > 0 ? rate("compressed") / rate("plain") : 0.0);
  return 0;
}
