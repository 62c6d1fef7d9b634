#include "server/pack_cache.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "packed_file_reader.h"
#include "server/packed_file_writer.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

struct PackFixture : ::testing::Test {
  PackFixture() {
    Dir = fs::temp_directory_path() / ("zor_pack_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                       "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir / "src");
  }
  ~PackFixture() override { fs::remove_all(Dir); }

  TPackSource Source(const std::string& name, const std::string& content, int64_t modified = 1000) {
    const fs::path path = Dir / "src" / name;
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    TPackSource source;
    source.Name = name;
    source.Path = path;
    source.Size = static_cast<int64_t>(content.size());
    source.ModifiedNs = modified;
    source.DosTime = 0x5A8B6C2D;
    return source;
  }

  static std::string Bytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) data[i] = static_cast<char>(i % 7 == 0 ? random() : i / 1000);
    return data;
  }

  fs::path Dir;
};

TEST_F(PackFixture, PackedFilesUnpackToTheSameBytesWithTheirTime) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{1024}, size_t{256 * 1024}, size_t{700'001}}) {
    SCOPED_TRACE(size);
    TPackCache cache(Dir / "cache");
    const std::string content = Bytes(size, static_cast<uint32_t>(size));
    const TPackedFile packed = cache.Get(Source("f" + std::to_string(size), content));
    const std::string bytes = testing::ReadAll(packed.Path);
    EXPECT_EQ(static_cast<int64_t>(bytes.size()), packed.Size);
    const testing::Unpacked unpacked = testing::UnpackBytes(bytes);
    EXPECT_EQ(unpacked.Data, content);
    EXPECT_EQ(unpacked.DosTime, 0x5A8B6C2Du);
  }
}

TEST_F(PackFixture, ConcurrentRequestsPackOnceAndARestartReusesTheFile) {
  const TPackSource source = Source("big.bin", Bytes(2'000'000, 7));
  std::vector<TPackedFile> results(8);
  {
    TPackCache cache(Dir / "cache");
    std::vector<std::thread> threads;
    for (auto& result : results) threads.emplace_back([&] { result = cache.Get(source); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(cache.PacksDone(), 1);
    for (const auto& result : results) {
      EXPECT_EQ(result.Path, results[0].Path);
      EXPECT_EQ(result.Size, results[0].Size);
    }
  }
  const std::string before = testing::ReadAll(results[0].Path);
  TPackCache restarted(Dir / "cache");
  const TPackedFile again = restarted.Get(source);
  EXPECT_EQ(restarted.PacksDone(), 0);
  EXPECT_EQ(testing::ReadAll(again.Path), before);

  // Another version of the file (a new time) is packed anew.
  const TPackSource changed = Source("big.bin", Bytes(2'000'000, 8), 2000);
  const TPackedFile next = restarted.Get(changed);
  EXPECT_EQ(restarted.PacksDone(), 1);
  EXPECT_NE(next.Path, again.Path);
  EXPECT_EQ(testing::UnpackBytes(testing::ReadAll(next.Path)).Data, Bytes(2'000'000, 8));
}

TEST_F(PackFixture, AFileThatChangedSizeIsNotPackedAndTheNextRequestTriesAgain) {
  TPackSource source = Source("a.bin", Bytes(5000, 1));
  source.Size = 4000;  // what the scan saw
  TPackCache cache(Dir / "cache");
  try {
    cache.Get(source);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The file " + source.Path.string() + " changed while it was packed");
  }
  source.Size = 5000;
  EXPECT_EQ(testing::UnpackBytes(testing::ReadAll(cache.Get(source).Path)).Data, Bytes(5000, 1));
  // The packed file and its side record; no temporary is left.
  std::set<std::string> kinds;
  for (const auto& entry : fs::directory_iterator(Dir / "cache")) kinds.insert(entry.path().extension().string());
  EXPECT_EQ(kinds, (std::set<std::string>{".cps", ".sum"}));
}

TEST_F(PackFixture, ATickThatRaisesStopsPackingAndLeavesNoFile) {
  TPackSource source = Source("b.bin", Bytes(3'000'000, 2));
  TPackCache cache(Dir / "cache");
  EXPECT_THROW(cache.Get(source, [] { throw EAbort("stop"); }), EAbort);
  EXPECT_TRUE(fs::is_empty(Dir / "cache"));
}

}  // namespace
}  // namespace zor
