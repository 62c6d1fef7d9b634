// The total time of a fetch's data stream, on the injected clock: a server that sends a
// piece now and then, each in time for the per-read limit, is stopped once the stream's time
// is up, with our message, while a slow but honest one finishes; what arrived is kept and
// the next fetch resumes from it.
#include "update/fetch_deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "base/clock.h"
#include "base/format.h"
#include "platform/locale.h"
#include "support/expect_error.h"
#include "update/remote_file.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::FakeFileLink;
using testing::FakeFileServer;
using testing::ReadFileBytes;
using testing::TempFolder;

constexpr std::string_view kName = "Big.dat";

// Bytes that do not compress, so the packed form is as long as the file.
Bytes NoiseBytes(size_t size) {
  Bytes bytes(size);
  std::mt19937 random(11);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

class FetchDeadlineTest : public ::testing::Test {
 protected:
  FetchDeadlineTest() : Lcid(kLcidEnglishUs), Scope(Clock), Link(Server) {
    Clock.Advance(std::chrono::hours(2 * 365 * 24));
    Server.Add(std::string(kName), Content);
  }

  // Fetches the file; the server's trickle waits until the client has started the stream
  // (its deadline is set then) and written `blocksFirst` blocks before its first piece. The
  // previous fetch's serving thread reads the server's settings, so it is ended first.
  void Fetch(int blocksFirst) {
    Link.Stop();
    Server.BeforeTrickle = [this, blocksFirst, first = true](size_t sent) mutable {
      if (first) {
        first = false;
        for (int i = 0; i < 2000 && (!Started || Blocks < blocksFirst); ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      Step(sent);
    };
    TRemoteCPSFile file(&Link.Connect(), Dir.Path());
    file.OnStart = [this](const std::string&, int32_t, int32_t) { Started = true; };
    file.OnProgress = [this](const std::string&, int32_t, int32_t, int32_t) { ++Blocks; };
    file.Download(kName, "Libs", nullptr, nullptr, "", Dir.Path() + "client");
  }

  size_t PackedSize() { return Server.Files["big.dat"].Packed.size(); }
  std::string TooSlow() {
    const auto size = static_cast<int64_t>(PackedSize());
    return Format(kDownloadErrorText,
                  {Format(kFetchTooSlowText, {FetchTimeLimit(size).count(), size, kName})});
  }

  ScopedLcidOverride Lcid;
  ManualClock Clock;
  ScopedClock Scope;
  TempFolder Dir;
  FakeFileServer Server;
  FakeFileLink Link;
  const Bytes Content = NoiseBytes(64 * 1024);
  std::function<void(size_t sent)> Step;
  std::atomic<bool> Started{false};
  std::atomic<int> Blocks{0};
};

TEST_F(FetchDeadlineTest, TheLimitIsTheAllowanceAndTheBytesAtFourKibASecond) {
  EXPECT_EQ(FetchTimeLimit(0), std::chrono::seconds(120));
  EXPECT_EQ(FetchTimeLimit(4096), std::chrono::seconds(121));
  EXPECT_EQ(FetchTimeLimit(4097), std::chrono::seconds(122));
  EXPECT_EQ(FetchTimeLimit(int64_t{100} << 20), std::chrono::seconds(120 + 25600));
}

// 4 KiB a second after a slow start: within the limit the file arrives whole, ten seconds
// more and the stream is stopped.
TEST_F(FetchDeadlineTest, AStreamAtTheMinimumRateFinishesOnlyWithinItsLimit) {
  const int64_t limit = FetchTimeLimit(static_cast<int64_t>(PackedSize())).count();
  const int64_t trickled = (static_cast<int64_t>(PackedSize()) + 4095) / 4096;
  struct Case {
    int64_t SlowStart;
    bool Arrives;
  } const kCases[] = {
      {limit - trickled - 1, true},
      {limit - trickled + 10, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.SlowStart);
    Link.Stop();  // the last fetch's serving thread reads the trickle settings
    std::filesystem::remove_all(Dir.Path() + "client");
    std::filesystem::remove(Dir.Path() + "DownLoadInfo.dat");
    Started = false;
    Server.TrickleAfter = 0;
    Server.TricklePiece = 4096;
    Step = [this, &c](size_t sent) {
      Clock.Advance(std::chrono::seconds(sent == 0 ? c.SlowStart : 1));
    };
    if (c.Arrives) {
      Fetch(0);
      EXPECT_EQ(ReadFileBytes(Dir.Path() + "client/" + std::string(kName)), Content);
    } else {
      testing::ExpectError([&] { Fetch(0); }, TooSlow());
      EXPECT_FALSE(std::filesystem::exists(Dir.Path() + "client/" + std::string(kName)));
    }
  }
}

// A byte every ten seconds never trips the per-read limit (a minute) but the stream's time
// runs out; the block that arrived whole stays, and the next fetch continues from it.
TEST_F(FetchDeadlineTest, ATrickleIsStoppedAndTheNextFetchResumesWhereItGot) {
  Server.TrickleAfter = 20000;
  Server.TricklePiece = 1;
  // Each byte is read before the clock moves on: a server that ran ahead would have many
  // ten-second steps arrive in one read, and the block they complete would count as in time.
  Step = [this](size_t) {
    TIcIOHandler* client = Link.Client->Handler();
    for (int i = 0; i < 2000 && client->IsConnected() && client->DataAvailable(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Clock.Advance(std::chrono::seconds(10));
  };
  testing::ExpectError([&] { Fetch(1); }, TooSlow());
  const std::optional<TResumeRecord> record =
      TDownloadInfoFile(Dir.Path() + "DownLoadInfo.dat").Read(std::string(kName));
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->FilePos, static_cast<int32_t>(kPackedReceivePiece));

  Link.Stop();  // the first fetch's serving thread reads the trickle settings
  Server.TrickleAfter = -1;
  Fetch(0);
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "client/" + std::string(kName)), Content);
  EXPECT_EQ(Server.Starts(), (std::vector<int64_t>{0, static_cast<int64_t>(kPackedReceivePiece)}));
}

}  // namespace
}  // namespace zor
