// Throughput of the TCP handler on loopback: stream blocks of 64 KiB and 1 MiB through
// WriteStream/ReadStream, next to a plain non-blocking socket loop that moves the same
// length-prefixed blocks. The last lines print handler/plain for each size.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "transport/tcp_handler.h"

namespace {

using namespace zor;

// A writer thread that sends one block each time it is released.
class BlockWriter {
 public:
  explicit BlockWriter(std::function<void()> writeOne) : WriteOne(std::move(writeOne)) {
    Worker = std::thread([this] {
      for (;;) {
        Go.acquire();
        if (Stop) return;
        WriteOne();
      }
    });
  }
  ~BlockWriter() {
    Stop = true;
    Go.release();
    Worker.join();
  }
  void Release() { Go.release(); }

 private:
  std::function<void()> WriteOne;
  std::counting_semaphore<1 << 20> Go{0};
  std::atomic<bool> Stop{false};
  std::thread Worker;
};

void BM_HandlerStream(benchmark::State& state) {
  const auto size = static_cast<int32_t>(state.range(0));
  const std::vector<uint8_t> block(static_cast<size_t>(size), 0x5A);
  const uint16_t port = FreeLoopbackPort();
  TTCPHandler server("BoundIP=127.0.0.1;BoundPort=" + std::to_string(port));
  server.Open();
  TTCPHandler client("Host=127.0.0.1:" + std::to_string(port));
  server.WaitForPeer(5);
  BlockWriter writer([&] { client.WriteStream(block.data(), size); });
  TMemoryStream in;
  for (auto _ : state) {
    writer.Release();
    in.Clear();
    server.ReadStream(in);
    benchmark::DoNotOptimize(in.Data.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// Moves all of `count` bytes, waiting for the socket whenever it would block.
void SendAll(int s, const uint8_t* data, int64_t count) {
  while (count > 0) {
    int error = 0;
    const int64_t n = SocketSend(s, data, count, error);
    if (n > 0) {
      data += n;
      count -= n;
    } else {
      PollSocket(s, kPollWritable, 100, error);
    }
  }
}

void ReceiveAll(int s, uint8_t* data, int64_t count) {
  while (count > 0) {
    int error = 0;
    const int64_t n = SocketReceive(s, data, count, error);
    if (n > 0) {
      data += n;
      count -= n;
    } else {
      PollSocket(s, kPollReadable, 100, error);
    }
  }
}

void BM_PlainSocket(benchmark::State& state) {
  const auto size = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> block(static_cast<size_t>(size) + 4, 0x5A);
  std::memcpy(block.data(), &size, 4);
  const uint16_t port = FreeLoopbackPort();
  int error = 0;
  const int listener = CreateSocket(SocketKind::Stream, error);
  BindSocket(listener, SocketAddress{0x7F000001, port}, error);
  ListenSocket(listener, 5, error);
  const int sender = CreateSocket(SocketKind::Stream, error);
  StartConnect(sender, SocketAddress{0x7F000001, port}, error);
  PollSocket(listener, kPollReadable, 5000, error);
  SocketAddress peer;
  const int receiver = AcceptSocket(listener, peer, error);
  PollSocket(sender, kPollWritable, 5000, error);
  SetSocketNoDelay(sender, error);
  BlockWriter writer([&] { SendAll(sender, block.data(), static_cast<int64_t>(block.size())); });
  std::vector<uint8_t> in;
  for (auto _ : state) {
    writer.Release();
    int32_t length = 0;
    ReceiveAll(receiver, reinterpret_cast<uint8_t*>(&length), 4);
    in.resize(static_cast<size_t>(length));
    ReceiveAll(receiver, in.data(), length);
    benchmark::DoNotOptimize(in.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
  CloseSocket(receiver);
  CloseSocket(sender);
  CloseSocket(listener);
}

BENCHMARK(BM_HandlerStream)->Arg(64 << 10)->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_PlainSocket)->Arg(64 << 10)->Arg(1 << 20)->UseRealTime();

// Remembers each run's bytes per second so that the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) Rates[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> Rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* size : {"65536", "1048576"}) {
    const auto handler =
        reporter.Rates.find(std::string("BM_HandlerStream/") + size + "/real_time");
    const auto plain = reporter.Rates.find(std::string("BM_PlainSocket/") + size + "/real_time");
    if (handler == reporter.Rates.end() || plain == reporter.Rates.end() || plain->second <= 0)
      continue;
    std::printf("block %s bytes: handler %.0f MB/s, plain socket %.0f MB/s, ratio %.2f\n", size,
                handler->second / 1e6, plain->second / 1e6, handler->second / plain->second);
  }
  benchmark::Shutdown();
  return 0;
}
