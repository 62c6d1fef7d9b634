// Helpers of the update tests: file reading and writing as bytes, packing
// bytes into the CPS form, and a file server that answers the file commands over the
// in-memory pipe from a table of files (with faults a test can switch on).
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/ascii_case.h"
#include "intercom/ic_connection.h"
#include "intercom/wire_format.h"
#include "support/connection_fixture.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "transport/memory_pipe_handler.h"
#include "update/cps_format.h"
#include "update/download_client.h"
#include "update/plain_data_stream.h"
#include "update/remote_file.h"

namespace zor::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFileBytes(const std::string& path) {
  return ReadAllBytes(path);
}

inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  WriteAll(path, bytes);
}

inline Bytes TextBytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// Bytes that compress a little, like a program file.
inline Bytes SampleBytes(size_t size, uint32_t seed = 1) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 7 == 0 ? random() : i / 13);
  return bytes;
}

inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct PackOptions {
  uint16_t Marker = kPackedMarker;
  int64_t TotalSizeDelta = 0;  // added to the true total size
  int64_t UnpackedDelta = 0;   // added to the true unpacked size
  uint32_t DataOffset = kPackedHeaderSize;
  size_t CutStream = 0;  // bytes cut from the end of the zlib stream
};

// The CPS form of `content`.
inline Bytes PackBytes(const Bytes& content, uint32_t dosTime, const PackOptions& options = {}) {
  uLongf length = compressBound(content.size());
  Bytes stream(length);
  EXPECT_EQ(compress(stream.data(), &length, content.data(), content.size()), Z_OK);
  stream.resize(length - options.CutStream);
  Bytes packed(options.DataOffset, 0);
  packed.insert(packed.end(), stream.begin(), stream.end());
  packed[kPackedMarkerOffset] = static_cast<uint8_t>(options.Marker);
  packed[kPackedMarkerOffset + 1] = static_cast<uint8_t>(options.Marker >> 8);
  Put32(&packed[kPackedTotalSizeOffset],
        static_cast<uint32_t>(packed.size() + options.TotalSizeDelta));
  Put32(&packed[kPackedDataOffsetOffset], options.DataOffset);
  Put32(&packed[kPackedDosTimeOffset], dosTime);
  Put32(&packed[kPackedSizeOffset], static_cast<uint32_t>(content.size() + options.UnpackedDelta));
  return packed;
}

// 2024-05-06 07:08:10 as a DOS date/time.
inline constexpr uint32_t kSampleDosTime =
    (44u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 5u;

struct FakeFile {
  Bytes Plain;   // served by the plain commands
  Bytes Packed;  // served by the packed commands
  std::string Version = "1.0.0.0";
  int32_t Age = static_cast<int32_t>(kSampleDosTime);
};

// Answers 0xA209/0xA20D (file information), 0xA20A/0xA20E (data) and 0xA215/0xA216 (both in
// one reply) from `Files`, keyed by the lower-case wire name, until the client goes away.
class FakeFileServer {
 public:
  std::map<std::string, FakeFile> Files;
  // Bytes of the next data stream sent before the server drops the connection (-1: all).
  std::atomic<int64_t> BreakAfter{-1};
  // Added to the byte count the next data stream announces (a server that lies).
  std::atomic<int32_t> CountDelta{0};
  // The answer to the file-list command.
  std::string FileList, Second;
  // Most bytes per write of the server's pipe end for the next connections (0: no limit).
  std::atomic<int32_t> WriteLimit{0};
  // Bytes of the next data stream sent before the server waits for `Resume` (-1: none).
  std::atomic<int64_t> PauseAfter{-1};
  // False: an older server, which answers the one-trip commands as unknown.
  std::atomic<bool> KnowsOneTrip{true};
  // Bytes of each data stream sent at once before the rest trickles in pieces of
  // `TricklePiece`, `BeforeTrickle` (set before the link starts) called before each piece
  // with the bytes sent so far (-1: no trickle).
  int64_t TrickleAfter = -1;
  size_t TricklePiece = 1;
  std::function<void(size_t sent)> BeforeTrickle;

  // True while the server holds the rest of a data stream back (see `PauseAfter`).
  bool Paused() {
    std::lock_guard guard(Lock);
    return IsPaused;
  }
  // Lets a paused server send the rest of its data stream.
  void Resume() {
    std::lock_guard guard(Lock);
    IsPaused = false;
    Changed.notify_all();
  }

  void Add(const std::string& name, const Bytes& content, uint32_t dosTime = kSampleDosTime) {
    FakeFile file;
    file.Plain = content;
    file.Packed = PackBytes(content, dosTime);
    file.Age = static_cast<int32_t>(dosTime);
    Files[LowerAscii(name)] = file;
  }

  std::vector<TReceivedRequest> Requests() {
    std::lock_guard guard(Lock);
    return Seen;
  }
  // Where each data stream the server sent began, in the order sent.
  std::vector<int64_t> Starts() {
    std::lock_guard guard(Lock);
    return StreamStarts;
  }
  std::vector<uint32_t> Commands() {
    std::vector<uint32_t> commands;
    for (const TReceivedRequest& r : Requests()) commands.push_back(r.Header.Command);
    return commands;
  }

  // Serves one connection until it closes; a client that goes away in the middle of a
  // reply (a cancelled download closes its connection) ends it quietly.
  void Serve(TIcConnection& server) {
    try {
      ServeRequests(server);
    } catch (const std::exception&) {
    }
  }

 private:
  void ServeRequests(TIcConnection& server) {
    if (auto* pipe = dynamic_cast<TMemoryPipeHandler*>(server.Handler()))
      pipe->SetWriteLimit(WriteLimit);
    for (;;) {
      TReceivedRequest request;
      try {
        request = server.ReceiveRequest(kTimeoutNone);
      } catch (const std::exception&) {
        return;
      }
      {
        std::lock_guard guard(Lock);
        Seen.push_back(request);
      }
      const uint32_t command = request.Header.Command;
      if (command == cmdFileList) {
        server.SendResultData({TVariant(FileList), TVariant(Second)});
        continue;
      }
      const bool oneTrip = command == cmdPlainFileFetch || command == cmdPackedFileFetch;
      if (oneTrip && !KnowsOneTrip) {
        server.SendErrorResult(kErrUnknownCommand, "unknown command");
        continue;
      }
      const std::string name = LowerAscii(request.Args.at(0).AsString());
      const auto it = Files.find(name);
      const bool packed = command == cmdPackedFileInfo || command == cmdPackedFileData ||
                          command == cmdPackedFileFetch;
      if (command == cmdPlainFileInfo || command == cmdPackedFileInfo) {
        if (it == Files.end()) {
          server.SendResultData({TVariant(false), TVariant(""), TVariant(0), TVariant(0)});
        } else {
          const Bytes& data = packed ? it->second.Packed : it->second.Plain;
          server.SendResultData({TVariant(true), TVariant(it->second.Version),
                                 TVariant(static_cast<int32_t>(data.size())),
                                 TVariant(it->second.Age)});
        }
        continue;
      }
      if (oneTrip) {
        if (it == Files.end()) {
          server.SendResultData(
              {TVariant(false), TVariant(""), TVariant(0), TVariant(0), TVariant(0)});
          continue;
        }
        const Bytes& data = packed ? it->second.Packed : it->second.Plain;
        const auto size = static_cast<int32_t>(data.size());
        const int32_t position = request.Args.at(2).AsInteger();
        const bool continues = position > 0 && position <= size &&
                               request.Args.at(3).AsInteger() == size &&
                               request.Args.at(4).AsInteger() == it->second.Age;
        const int32_t start = continues ? position : 0;
        server.SendResultData({TVariant(true), TVariant(it->second.Version), TVariant(size),
                               TVariant(it->second.Age), TVariant(start)});
        if (start < size && !SendStream(server, start,
                                        DataStream(data, static_cast<size_t>(start),
                                                   static_cast<size_t>(size - start), packed)))
          return;
        continue;
      }
      const Bytes& data = packed ? it->second.Packed : it->second.Plain;
      const auto position = static_cast<size_t>(request.Args.at(2).AsInteger());
      const auto count = std::min<size_t>(static_cast<size_t>(request.Args.at(3).AsInteger()),
                                          data.size() - position);
      server.SendResultData({TVariant(static_cast<int32_t>(count))});
      if (!SendStream(server, static_cast<int64_t>(position),
                      DataStream(data, position, count, packed)))
        return;
    }
  }

  // Sends a data stream, cut or paused as the test asked; false when the server then dropped
  // the connection.
  bool SendStream(TIcConnection& server, int64_t start, const Bytes& stream) {
    {
      std::lock_guard guard(Lock);
      StreamStarts.push_back(start);
    }
    const int64_t breakAfter = BreakAfter.exchange(-1);
    TIcIOHandler& handler = *server.Handler();
    const size_t send =
        breakAfter < 0 ? stream.size() : std::min<size_t>(stream.size(), breakAfter);
    size_t sent = 0;
    const int64_t pauseAfter = PauseAfter.exchange(-1);
    if (pauseAfter >= 0) {
      sent = std::min<size_t>(send, static_cast<size_t>(pauseAfter));
      handler.Write(stream.data(), static_cast<int32_t>(sent));
      handler.Flush(true);
      std::unique_lock guard(Lock);
      IsPaused = true;
      // Bounded, so a test that never resumes cannot hang its own tear-down.
      Changed.wait_for(guard, std::chrono::seconds(20), [this] { return !IsPaused; });
    }
    if (TrickleAfter >= 0) {
      const size_t first = std::min<size_t>(send, static_cast<size_t>(TrickleAfter));
      handler.Write(stream.data() + sent, static_cast<int32_t>(first - std::min(first, sent)));
      handler.Flush(true);
      sent = std::max(sent, first);
      while (sent < send) {
        if (BeforeTrickle) BeforeTrickle(sent);
        const size_t piece = std::min(TricklePiece, send - sent);
        handler.Write(stream.data() + sent, static_cast<int32_t>(piece));
        handler.Flush(true);
        sent += piece;
      }
    }
    handler.Write(stream.data() + sent, static_cast<int32_t>(send - sent));
    handler.Flush(true);
    if (breakAfter >= 0) {
      handler.Close();
      return false;
    }
    return true;
  }

  Bytes DataStream(const Bytes& data, size_t position, size_t count, bool packed) {
    Bytes stream;
    const uint32_t announced = static_cast<uint32_t>(count + CountDelta.exchange(0));
    if (packed) {
      stream.resize(4);
      Put32(stream.data(), announced);
      stream.insert(stream.end(), data.begin() + position, data.begin() + position + count);
      return stream;
    }
    size_t read = position;
    WritePlainStream(
        announced,
        [&](void* buffer, size_t n) {
          const size_t take = std::min(n, data.size() - read);
          std::memcpy(buffer, data.data() + read, take);
          std::memset(static_cast<uint8_t*>(buffer) + take, 0, n - take);
          read += take;
        },
        [&](const void* bytes, size_t n) {
          const auto* p = static_cast<const uint8_t*>(bytes);
          stream.insert(stream.end(), p, p + n);
        });
    return stream;
  }

  std::mutex Lock;
  std::condition_variable Changed;
  bool IsPaused = false;
  std::vector<TReceivedRequest> Seen;
  std::vector<int64_t> StreamStarts;
};

// A client connection joined to a server connection that `FakeFileServer` serves on its own
// thread; a new `Connect` replaces both (as after a broken connection).
class FakeFileLink {
 public:
  explicit FakeFileLink(FakeFileServer& files) : Files(files) {}
  ~FakeFileLink() { Stop(); }

  TIcConnection& Connect() {
    Stop();
    Client = std::make_unique<TIcConnection>();
    Server = std::make_unique<TTestServerConnection>();
    auto [a, b] = MakeMemoryPipe();
    Client->SetHandler(std::move(a));
    Server->SetHandler(std::move(b));
    Server->ShortStreamMagic = 1;
    Thread = std::thread([this] { Files.Serve(*Server); });
    return *Client;
  }

  void Stop() {
    if (Client && Client->Handler()) Client->Handler()->Close();
    if (Thread.joinable()) Thread.join();
    Client.reset();
    Server.reset();
  }

  std::unique_ptr<TIcConnection> Client;

 private:
  FakeFileServer& Files;
  std::unique_ptr<TTestServerConnection> Server;
  std::thread Thread;
};

// Installs a download connector whose connections each reach `files` through their own
// in-memory pipe and serving thread; it can refuse a number of connects first.
class FakeConnector {
 public:
  explicit FakeConnector(FakeFileServer& files) : Files(files) {
    SetDownloadConnector([this]() -> std::unique_ptr<TIcConnection> {
      ++Connects;
      if (RefuseNext > 0) {
        --RefuseNext;
        throw Exception("connect refused " + std::to_string(Connects.load()));
      }
      auto client = std::make_unique<TIcConnection>();
      auto server = std::make_unique<TTestServerConnection>();
      auto [a, b] = MakeMemoryPipe();
      client->SetHandler(std::move(a));
      server->SetHandler(std::move(b));
      server->ShortStreamMagic = 1;
      std::lock_guard guard(Lock);
      TTestServerConnection* raw = server.get();
      Servers.push_back(std::move(server));
      Threads.emplace_back([this, raw] { Files.Serve(*raw); });
      return client;
    });
  }
  ~FakeConnector() {
    SetDownloadConnector(nullptr);
    ResetDownloadClient();
    std::lock_guard guard(Lock);
    for (auto& server : Servers)
      if (server->Handler()) server->Handler()->Close();
    for (auto& thread : Threads) thread.join();
  }

  std::atomic<int> Connects{0};
  std::atomic<int> RefuseNext{0};

 private:
  FakeFileServer& Files;
  std::mutex Lock;
  std::vector<std::unique_ptr<TTestServerConnection>> Servers;
  std::vector<std::thread> Threads;
};

}  // namespace zor::testing
