// The hash cache of local files: its text reads back as written and nothing else is taken;
// a hash is used again only while the file's identity is the recorded one; a cache file
// that is damaged, foreign or too large is ignored as a whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "update/cached_file_digests.h"
#include "update/release_hash_cache.h"

namespace zor {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::WriteAll;

const std::string kShaA(64, 'a');
const std::string kShaB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const FileIdentity kIdentity{65024, 11048060, 7106, 1796953018000000000, 1796953365708712878};

std::string Sha256Of(const std::string& content) {
  return Sha256Hex({reinterpret_cast<const uint8_t*>(content.data()), content.size()});
}

TEST(ReleaseHashCache, WhatItWritesReadsBackAndMatchesOnlyTheWholeIdentity) {
  TReleaseHashCache cache;
  cache.Put("/opt/zor/bpls/ZORMain.bpl", kIdentity, kShaA);
  cache.Put("/opt/zor/Special/With Spaces.ini", {1, 2, 0, -5, -7}, kShaB);
  const std::optional<TReleaseHashCache> read = TReleaseHashCache::Parse(cache.Serialize());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, cache);
  EXPECT_EQ(read->Find("/opt/zor/Special/With Spaces.ini", {1, 2, 0, -5, -7}), kShaB);

  const auto changed = [](auto change) {
    FileIdentity identity = kIdentity;
    change(identity);
    return identity;
  };
  const FileIdentity others[] = {
      changed([](FileIdentity& i) { ++i.Device; }),
      changed([](FileIdentity& i) { ++i.Inode; }),
      changed([](FileIdentity& i) { ++i.Size; }),
      changed([](FileIdentity& i) { ++i.ModifiedNs; }),
      changed([](FileIdentity& i) { ++i.ChangedNs; }),
  };
  EXPECT_EQ(read->Find("/opt/zor/bpls/ZORMain.bpl", kIdentity), kShaA);
  for (const FileIdentity& other : others)
    EXPECT_EQ(read->Find("/opt/zor/bpls/ZORMain.bpl", other), std::nullopt);
  EXPECT_EQ(read->Find("/opt/zor/bpls/zormain.bpl", kIdentity), std::nullopt);
}

TEST(ReleaseHashCache, DamagedOrForeignTextIsRefusedAsAWhole) {
  const std::string header = "zor-release-hashes 1\n";
  const std::string good = kShaA + " 3 10 20 1 2 /a\n";
  ASSERT_TRUE(TReleaseHashCache::Parse(header + good).has_value());
  EXPECT_EQ(TReleaseHashCache::Parse(header)->Size(), 0u);
  const std::string damaged[] = {
      "",
      "zor-release-hashes 2\n" + good,
      "zor-release-hashes 1" + good,
      header + good + kShaA + " 3 10 20 1 2 /b",            // cut off: no line end
      header + std::string(64, 'A') + " 3 10 20 1 2 /a\n",  // upper-case digits
      header + std::string(63, 'a') + " 3 10 20 1 2 /a\n",
      header + kShaA + " -3 10 20 1 2 /a\n",
      header + kShaA + " +3 10 20 1 2 /a\n",
      header + kShaA + " 3 10 20 -1 2 /a\n",
      header + kShaA + " 3 10 20 1 99999999999999999999 /a\n",
      header + kShaA + " 3 10 20 1 2\n",  // no path
      header + kShaA + " 3 10 20 1 2 \n",
      header + kShaA + " 3 1x 20 1 2 /a\n",
      header + kShaA + " 3 10 20 1 2 /a\r\n",
      header + good + kShaB + " 4 11 21 1 3 /a\n",  // the same path twice
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(TReleaseHashCache::Parse(text).has_value());
  }
}

TEST(ReleaseHashCache, OnlyWhatTheFormatCanHoldIsKept) {
  TReleaseHashCache cache;
  cache.Put("/a\nb", kIdentity, kShaA);
  cache.Put("", kIdentity, kShaA);
  cache.Put("/" + std::string(kMaxHashCachePath, 'x'), kIdentity, kShaA);
  cache.Put("/a", kIdentity, "not a hash");
  EXPECT_EQ(cache.Size(), 0u);
}

class CachedFileDigestsTest : public ::testing::Test {
 protected:
  // The hashes a new run gets: the cache file the last run left.
  TCachedFileDigests NextRun(const TCachedFileDigests& last) {
    last.Seen().Save(CacheFile);
    return TCachedFileDigests(TReleaseHashCache::Load(CacheFile));
  }

  testing::TempFolder Folder{"zor-hashes"};
  const std::string File = Folder.WriteFile("bpls/Main.bpl", std::string(5000, 'm'));
  const std::string CacheFile = Folder / "ZORRelease.hashes";
};

TEST_F(CachedFileDigestsTest, AnUnchangedFileIsNotReadAgainAndTheCacheIsPrivate) {
  TCachedFileDigests first{TReleaseHashCache{}};
  const TFileDigest digest = first.Digest(File);
  EXPECT_EQ(digest.Size, 5000);
  EXPECT_EQ(digest.Sha256, Sha256Of(std::string(5000, 'm')));
  EXPECT_EQ(first.FilesHashed(), 1);
  EXPECT_EQ(first.Digest(File).Sha256, digest.Sha256);
  EXPECT_EQ(first.FilesHashed(), 1);  // nor within the run

  TCachedFileDigests second = NextRun(first);
  EXPECT_EQ(fs::status(CacheFile).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(second.Digest(File).Sha256, digest.Sha256);
  EXPECT_EQ(second.FilesHashed(), 0);

  // While the identity matches, the recorded hash is what counts: the file is not read.
  TReleaseHashCache forged;
  forged.Put(File, *ReadFileIdentity(File), kShaB);
  EXPECT_EQ(TCachedFileDigests(forged).Digest(File).Sha256, kShaB);
}

TEST_F(CachedFileDigestsTest, AChangedOrReplacedFileIsHashedAgain) {
  struct Case {
    const char* What;
    std::function<void()> Change;
    std::string Content;
  } const kCases[] = {
      {"new bytes, new time",
       [&] {
         const auto time = fs::last_write_time(File);
         WriteAll(File, std::string(5000, 'n'));
         fs::last_write_time(File, time + std::chrono::seconds(1));
       },
       std::string(5000, 'n')},
      {"replaced by another file of the same size and time",
       [&] {
         const auto time = fs::last_write_time(File);
         const std::string other = Folder.WriteFile("other", std::string(5000, 'o'));
         fs::last_write_time(other, time);
         fs::rename(other, File);
       },
       std::string(5000, 'o')},
      {"removed", [&] { fs::remove(File); }, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.What);
    WriteAll(File, std::string(5000, 'm'));
    TCachedFileDigests first{TReleaseHashCache{}};
    (void)first.Digest(File);
    TCachedFileDigests second = NextRun(first);
    c.Change();
    if (c.Content.empty()) {
      EXPECT_ANY_THROW(second.Digest(File));
      continue;
    }
    EXPECT_EQ(second.Digest(File).Sha256, Sha256Of(c.Content));
    EXPECT_EQ(second.FilesHashed(), 1);
  }
}

TEST_F(CachedFileDigestsTest, ADamagedForeignOrOversizedCacheFileIsIgnored) {
  TCachedFileDigests first{TReleaseHashCache{}};
  (void)first.Digest(File);
  first.Seen().Save(CacheFile);
  const std::string saved = ReadAll(CacheFile);
  ASSERT_EQ(TReleaseHashCache::Load(CacheFile).Size(), 1u);

  const std::function<void()> spoil[] = {
      [&] { WriteAll(CacheFile, saved.substr(0, saved.size() - 1)); },
      [&] { WriteAll(CacheFile, "x" + saved.substr(1)); },
      [&] { WriteAll(CacheFile, "{\"Counter\": 3}\n"); },
      [&] {
        WriteAll(CacheFile, saved);
        fs::resize_file(CacheFile, kMaxHashCacheBytes + 1);
      },
      [&] {
        fs::remove(CacheFile);
        fs::create_directory(CacheFile);
      },
      // A cache another user could have written vouches for nothing: open to others' writes,
      // reached through a link, or owned by someone else (a throw-away uid, as root).
      [&] {
        fs::remove_all(CacheFile);
        WriteAll(CacheFile, saved);
        fs::permissions(CacheFile, fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::add);
      },
      [&] {
        fs::remove_all(CacheFile);
        WriteAll(CacheFile + ".genuine", saved);
        fs::create_symlink(CacheFile + ".genuine", CacheFile);
      },
      [&] {
        fs::remove_all(CacheFile);
        WriteAll(CacheFile, saved);
        if (geteuid() == 0) {
          ASSERT_EQ(chown(CacheFile.c_str(), 65534, 65534), 0);
        } else {
          fs::permissions(CacheFile, fs::perms::others_write, fs::perm_options::add);
        }
      },
  };
  for (size_t i = 0; i < std::size(spoil); ++i) {
    SCOPED_TRACE(i);
    spoil[i]();
    TCachedFileDigests next(TReleaseHashCache::Load(CacheFile));
    EXPECT_EQ(next.Digest(File).Sha256, Sha256Of(std::string(5000, 'm')));
    EXPECT_EQ(next.FilesHashed(), 1);
  }
}

}  // namespace
}  // namespace zor
