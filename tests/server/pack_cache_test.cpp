#include "server/pack_cache.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "platform/fault_file_system.h"
#include "server/content_hash.h"
#include "server/packed_file_writer.h"
#include "support/expect_error.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/unpack_bytes.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

struct PackFixture : ::testing::Test {
  PackFixture() { fs::create_directories(Dir / "src"); }

  TPackSource Source(const std::string& name, const std::string& content, int64_t modified = 1000) {
    const fs::path path = Dir / "src" / name;
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
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
    for (size_t i = 0; i < count; ++i)
      data[i] = static_cast<char>(i % 7 == 0 ? random() : i / 1000);
    return data;
  }

  static std::string Noise(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(count, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
  }

  testing::TempFolder Folder{"zor-pack"};
  const fs::path Dir = Folder.Dir();
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

// A streamed file whose data does not shrink is stored after its first MiB, compressible
// data stays packed; both unpack to the same bytes, also when the data changes kind after
// the switch. (Files packed in memory are left to libdeflate's own choice.)
TEST_F(PackFixture, IncompressibleDataIsStoredAndEveryMixUnpacksWhole) {
  const size_t big = static_cast<size_t>(kPackInMemoryLimit) + 1;
  uint32_t seed = 5;
  const auto noise = [&](size_t count) { return Noise(count, ++seed); };
  const std::string text = [] {
    std::string data;
    for (int i = 0; data.size() < 10'000'000; ++i) data += "line " + std::to_string(i % 977) + "\n";
    return data;
  }();
  struct Case {
    const char* What;
    std::string Content;
    double MaxRatio;  // packed size against the content's
  } const kCases[] = {
      {"random", noise(big), 1.01},
      {"text", text, 0.5},
      {"text in memory", text.substr(0, 1'000'000), 0.5},
      {"random, then text", noise(big) + text, 1.01},
      {"text, then random", text + noise(big), 0.7},
  };
  TPackCache cache(Dir / "cache");
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    const TPackedFile packed = cache.Get(Source("m" + std::to_string(++n), c.Content));
    const std::string bytes = testing::ReadAll(packed.Path);
    EXPECT_LT(static_cast<double>(bytes.size()),
              c.MaxRatio * static_cast<double>(c.Content.size()));
    EXPECT_EQ(testing::UnpackBytes(bytes).Data, c.Content);
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
  for (const auto& entry : fs::directory_iterator(Dir / "cache"))
    kinds.insert(entry.path().extension().string());
  EXPECT_EQ(kinds, (std::set<std::string>{".cps", ".sum"}));
}

// A source the release's manifest vouches for is packed under its content's key only while
// it still has that content: a copy that replaced it since the scan makes the pack fail
// (nothing is left in the cache), and the next request with the scanned content packs it.
TEST_F(PackFixture, AContentKeyedSourceThatChangedSinceItsScanIsNotPacked) {
  TPackCache cache(Dir / "cache");
  TPackSource source = Source("a.dll", "the scanned content");
  source.Sha256 = Sha256OfFile(source.Path);
  Source("a.dll", "the copied  content");  // same size, other bytes
  testing::ExpectError<ESourceChanged>(
      [&] { cache.Get(source); }, "ESourceChanged",
      "The content of a.dll changed since the release was scanned");
  EXPECT_TRUE(fs::is_empty(cache.Folder()));
  Source("a.dll", "the scanned content");
  EXPECT_EQ(testing::UnpackBytes(testing::ReadAll(cache.Get(source).Path)).Data,
            "the scanned content");
}

TEST_F(PackFixture, ATickThatRaisesStopsPackingAndLeavesNoFile) {
  TPackSource source = Source("b.bin", Bytes(3'000'000, 2));
  TPackCache cache(Dir / "cache");
  EXPECT_THROW(cache.Get(source, [] { throw EAbort("stop"); }), EAbort);
  EXPECT_TRUE(fs::is_empty(Dir / "cache"));
}

TEST_F(PackFixture, APackedFileThatDoesNotMatchItsRecordIsPackedAgain) {
  const std::string real = Bytes(300'000, 11);
  const std::string other = Bytes(300'000, 12);  // same size: the header cannot tell them apart
  struct Case {
    const char* Name;
    std::function<void(const TPackedFile& packed, const TPackSource& source)> Tamper;
    const std::string* Served;
  } const kCases[] = {
      {"a planted packed file with a header that fits",
       [&](const TPackedFile& packed, const TPackSource& source) {
         TPackSource planted = source;
         planted.Path = Dir / "src" / "planted.bin";
         std::ofstream(planted.Path, std::ios::binary) << other;
         TPackCache elsewhere(Dir / "elsewhere");
         fs::copy_file(elsewhere.Get(planted).Path, packed.Path,
                       fs::copy_options::overwrite_existing);
       },
       &real},
      {"a source changed without a new size or time",
       [&](const TPackedFile&, const TPackSource& source) {
         std::ofstream(source.Path, std::ios::binary) << other;
       },
       &other},
      {"no side record",
       [&](const TPackedFile& packed, const TPackSource&) {
         fs::remove(fs::path(packed.Path).replace_extension(".sum"));
       },
       &real},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(Dir / "cache");
    fs::remove_all(Dir / "elsewhere");
    const TPackSource source = Source("app.exe", real);
    TPackedFile packed;
    {
      TPackCache cache(Dir / "cache");
      packed = cache.Get(source);
    }
    c.Tamper(packed, source);
    TPackCache restarted(Dir / "cache");
    const TPackedFile served = restarted.Get(source);
    EXPECT_EQ(restarted.Rejected(), 1);
    EXPECT_EQ(restarted.PacksDone(), 1);
    EXPECT_EQ(testing::UnpackBytes(testing::ReadAll(served.Path)).Data, *c.Served);
    // Checked once per process: the next request takes the verified file.
    restarted.Get(source);
    EXPECT_EQ(restarted.PacksDone(), 1);
  }
}

TEST_F(PackFixture, ACacheFolderThatOthersMayChangeIsRefused) {
  const fs::path folder = Dir / "shared";
  struct Case {
    const char* Name;
    std::function<void()> Prepare;
    std::string Message;
  } const kCases[] = {
      {"another user's",
       [&] {
         fs::create_directories(folder);
         ASSERT_EQ(chown(folder.c_str(), 4321, 4321), 0);
       },
       "The folder " + folder.string() +
           " belongs to another user (uid 4321), not to this one (uid " +
           std::to_string(geteuid()) + ")"},
      {"writable by everyone",
       [&] {
         fs::create_directories(folder);
         fs::permissions(folder, fs::perms::all);
       },
       "The folder " + folder.string() + " may be changed by other users (mode 0777)"},
      {"writable by the group",
       [&] {
         fs::create_directories(folder);
         fs::permissions(folder, fs::perms(0770));
       },
       "The folder " + folder.string() + " may be changed by other users (mode 0770)"},
      {"a link to a folder",
       [&] {
         fs::create_directories(Dir / "real");
         fs::create_directory_symlink(Dir / "real", folder);
       },
       folder.string() + " is not a folder"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(folder);
    c.Prepare();
    try {
      TPackCache cache(folder);
      ADD_FAILURE() << "the folder was accepted";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      EXPECT_EQ(e.Message, c.Message);
    }
  }
  // A folder of our own that others may read is narrowed to the server's user.
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms(0755));
  TPackCache cache(folder);
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
}

// Two servers over one cache folder: each keeps to its own temporaries, a start removes only
// those too old to be anyone's running pack, and both packing one file at once serve it whole.
TEST_F(PackFixture, ServersSharingACacheFolderLeaveEachOthersTemporariesAlone) {
  const fs::path cache = Dir / "cache";
  fs::create_directories(cache);
  fs::permissions(cache, fs::perms::owner_all);
  const auto temp = [&](const std::string& name, std::chrono::hours age) {
    std::ofstream(cache / name) << "partial";
    fs::last_write_time(cache / name, fs::file_time_type::clock::now() - age);
    return cache / name;
  };
  const fs::path stale = temp("00aa.0123456789abcdef-1.tmp", kStaleTempAge + std::chrono::hours(1));
  const fs::path staleRecord = temp("00aa.sum.~0011223344556677.tmp", kStaleTempAge * 2);
  const fs::path running =
      temp("00bb.fedcba9876543210-1.tmp", kStaleTempAge - std::chrono::hours(1));
  auto first = std::make_unique<TPackCache>(cache);
  TPackCache second(cache);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_FALSE(fs::exists(staleRecord));
  EXPECT_TRUE(fs::exists(running));
  EXPECT_NE(first->InstanceMark(), second.InstanceMark());
  EXPECT_EQ(first->InstanceMark().size(), 16u);

  const std::string content = Bytes(600'000, 11);
  const TPackSource source = Source("shared.bin", content);
  TPackedFile packedByFirst, packedBySecond;
  std::thread other([&] { packedBySecond = second.Get(source); });
  packedByFirst = first->Get(source);
  other.join();
  EXPECT_EQ(packedByFirst.Path, packedBySecond.Path);
  EXPECT_EQ(testing::UnpackBytes(testing::ReadAll(packedByFirst.Path)).Data, content);

  // At its end a server removes what it left, and only that.
  const fs::path firstsOwn =
      temp("00cc." + first->InstanceMark() + "-7.tmp", std::chrono::hours(0));
  const fs::path secondsOwn =
      temp("00cc." + second.InstanceMark() + "-7.tmp", std::chrono::hours(0));
  first.reset();
  EXPECT_FALSE(fs::exists(firstsOwn));
  EXPECT_TRUE(fs::exists(secondsOwn));
  EXPECT_TRUE(fs::exists(running));
  // The first server's packed file still serves a new instance.
  TPackCache third(cache);
  EXPECT_EQ(third.Get(source).Path, packedByFirst.Path);
  EXPECT_EQ(third.PacksDone(), 0);
}

TEST_F(PackFixture, ALinkAtTheTemporaryNameIsNotFollowed) {
  const fs::path victim = Dir / "victim.txt";
  std::ofstream(victim) << "keep me";
  const fs::path link = Dir / "0123.1.tmp";
  fs::create_symlink(victim, link);
  TPackRequest request;
  request.Source = Source("v.bin", Bytes(1000, 3)).Path;
  request.Target = link;
  request.ExpectedSize = 1000;
  try {
    PackFile(request);
    ADD_FAILURE() << "packed through the link";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Cannot create the packed file " + link.string());
  }
  EXPECT_EQ(testing::ReadAll(victim), "keep me");
  EXPECT_TRUE(fs::is_symlink(link));
}

}  // namespace
}  // namespace zor

namespace zor {
namespace {

// A cache write that fails (a full disk, a failing sync or rename) fails the request: no
// packed file, side record or temporary is left in the cache, so nothing short is ever
// served, and the next request packs the file whole. Both ways of packing: a file packed in
// memory (written in two pieces) and a larger one streamed (written in many).
TEST_F(PackFixture, AFailingDiskFailsThePackAndLeavesNothingToServe) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
    bool StreamedOnly = false;  // needs more writes than a pack in memory makes
  } const kCases[] = {
      {"the first write", [](FaultFileSystem& f) { f.FailWrite(1); }},
      {"the header's write", [](FaultFileSystem& f) { f.FailWrite(2); }},
      {"a later write", [](FaultFileSystem& f) { f.FailWrite(3); }, true},
      {"a short write, then a failure",
       [](FaultFileSystem& f) {
         f.ShortWrite(2, 7);
         f.FailWrite(3);
       },
       true},
      {"a full disk midway", [](FaultFileSystem& f) { f.SetFreeSpace(300'000); }},
      {"ENOSPC on a later write", [](FaultFileSystem& f) { f.FailWrite(5, ENOSPC); }, true},
      {"the packed file's sync", [](FaultFileSystem& f) { f.FailSync(1); }},
      {"the side record's sync", [](FaultFileSystem& f) { f.FailSync(2); }},
      {"the side record's rename", [](FaultFileSystem& f) { f.FailRename(1); }},
      {"the packed file's rename", [](FaultFileSystem& f) { f.FailRename(2); }},
  };
  for (const size_t size : {size_t{1'500'000}, static_cast<size_t>(kPackInMemoryLimit) + 1}) {
    const std::string content = size > static_cast<size_t>(kPackInMemoryLimit)
                                    ? Noise(size, 41)  // stored after its first MiB: quick
                                    : Bytes(size, 41);
    for (const Case& c : kCases) {
      if (c.StreamedOnly && size <= static_cast<size_t>(kPackInMemoryLimit)) continue;
      SCOPED_TRACE(::testing::Message() << c.What << ", " << size << " bytes");
      fs::remove_all(Dir / "cache");
      TPackCache cache(Dir / "cache");
      const TPackSource source = Source("big.dll", content);
      {
        FaultFileSystem faults;
        ScopedFileSystem use(faults);
        faults.OnlyFor([&](const std::string& path) { return path.rfind(cache.Folder(), 0) == 0; });
        c.Arm(faults);
        EXPECT_THROW(cache.Get(source), Exception);
      }
      std::vector<std::string> left;
      for (const auto& entry : fs::directory_iterator(cache.Folder()))
        left.push_back(entry.path().filename().string());
      // A side record may stay from a pack whose file then failed: without the packed file it
      // vouches for nothing, and the next pack replaces it.
      for (const std::string& name : left) EXPECT_EQ(fs::path(name).extension(), ".sum") << name;
      const TPackedFile packed = cache.Get(source);
      const std::string bytes = testing::ReadAll(packed.Path);
      EXPECT_EQ(static_cast<int64_t>(bytes.size()), packed.Size);
      EXPECT_EQ(testing::UnpackBytes(bytes).Data, content);
    }
  }
}

// The source is read through the file layer too, whether opened by its path or below its
// release folder: a failing open or read fails the pack naming the source, and the packed
// file begun for it is removed.
TEST_F(PackFixture, AFailingReadOfTheSourceFailsThePackAndLeavesNoPackedFile) {
  struct Case {
    const char* What;
    std::function<void(FaultFileSystem&)> Arm;
    std::string Message;        // before the source's path
    bool StreamedOnly = false;  // a pack in memory reads the file in one piece
  } const kCases[] = {
      {"the open", [](FaultFileSystem& f) { f.FailOpen(1); }, "Cannot open "},
      {"the first read", [](FaultFileSystem& f) { f.FailRead(1); }, "Cannot read "},
      {"a later read", [](FaultFileSystem& f) { f.FailRead(3); }, "Cannot read ", true},
  };
  for (const size_t size : {size_t{300'000}, static_cast<size_t>(kPackInMemoryLimit) + 1}) {
    const TPackSource source = Source("read.bin", Noise(size, 7));
    for (const bool below : {false, true}) {
      for (const Case& c : kCases) {
        if (c.StreamedOnly && size <= static_cast<size_t>(kPackInMemoryLimit)) continue;
        SCOPED_TRACE(::testing::Message()
                     << c.What << ", " << size << " bytes" << (below ? ", below its folder" : ""));
        TPackRequest request;
        request.Source = source.Path;
        if (below) request.SourceRoot = Dir / "src";
        request.Target = Dir / "packed.tmp";
        request.ExpectedSize = static_cast<int64_t>(size);
        FaultFileSystem faults;
        ScopedFileSystem use(faults);
        faults.OnlyFor([&](const std::string& path) { return path == source.Path.string(); });
        c.Arm(faults);
        try {
          PackFile(request);
          ADD_FAILURE() << "packed";
        } catch (const Exception& e) {
          EXPECT_EQ(e.Message, c.Message + source.Path.string());
        }
        EXPECT_FALSE(fs::exists(request.Target));
      }
    }
  }
}

}  // namespace
}  // namespace zor
