// Uploads through `TRemoteFile` to the real file service on a loopback port, over the
// launcher's own client connection: files arrive byte for byte whatever their size, and
// every refusal or failure (over the limit, a name that leaves the upload folder, a missing
// local file, a file that shrinks or grows while it is sent) reaches the caller wrapped in
// the upload message, ends the execute, gives the transfer slot back, and leaves nothing
// in the server's upload folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "base/format.h"
#include "intercom/client_connection_ex.h"
#include "intercom/default_connection.h"
#include "intercom/scrambling.h"
#include "platform/last_error.h"
#include "platform/locale.h"
#include "platform/open_or_fail.h"
#include "support/live_server.h"
#include "transport/tcp_connect_string.h"
#include "update/remote_file.h"
#include "update/transfer_slots.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::Bytes;
using testing::ReadFileBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

namespace fs = std::filesystem;

constexpr uint32_t kLimit = 100000;  // the live server's upload limit

Bytes RandomBytes(size_t size, uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::string Wrapped(const std::string& message) {
  return Format(kUploadErrorText, {message});
}

// A remote file that runs `DuringSend` once, when the file's data first goes out to the
// transport: by then some pieces of the file have been read and more are still to come.
class TWatchedUpload : public TRemoteFile {
 public:
  using TRemoteFile::TRemoteFile;
  std::function<void()> DuringSend;

 protected:
  int64_t SendData(PositionedFile& stream, int64_t position, int32_t count) override {
    TIcIOHandler* handler = Connection->Handler();
    bool ran = false;
    handler->OnActivity = [&](TIcIOHandler& sender) {
      if (ran || sender.GetActivity() != kActivityWriting || !DuringSend) return;
      ran = true;
      DuringSend();
    };
    struct Reset {
      TIcIOHandler* Handler;
      ~Reset() { Handler->OnActivity = nullptr; }
    } reset{handler};
    return TRemoteFile::SendData(stream, position, count);
  }
};

class RemoteFileUpload : public ::testing::Test {
 protected:
  RemoteFileUpload() : Lcid(kLcidEnglishUs) {
    Server.Start();
    Connection = Connect();
  }

  std::unique_ptr<TClientConnectionEx> Connect() {
    auto connection =
        std::make_unique<TClientConnectionEx>(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    connection->Connect(GetHandlerClass(TTransportKind::Tcp),
                        ComposeHostString(false, "127.0.0.1", Server.Port));
    return connection;
  }

  std::string Local(const std::string& name, const Bytes& content) const {
    WriteFileBytes(Dir.Path() + name, content);
    return Dir.Path() + name;
  }

  fs::path UploadFolder() const { return Server.Folder.Dir() / "upload"; }

  // Every file and folder below the upload folder, relative to it.
  std::set<std::string> UploadFolderContent() const {
    std::set<std::string> content;
    if (!fs::exists(UploadFolder())) return content;
    for (const auto& entry : fs::recursive_directory_iterator(UploadFolder()))
      content.insert(fs::relative(entry.path(), UploadFolder()).string());
    return content;
  }

  // Runs `upload`, which must fail with exactly `message` (already wrapped); the execute
  // must have ended and the transfer slot be back.
  void ExpectUploadError(const std::function<void()>& upload, const std::string& message) {
    const int32_t slots = TransferSemaphore().Available();
    try {
      upload();
      ADD_FAILURE() << "the upload succeeded";
    } catch (const EAbort&) {
      ADD_FAILURE() << "silent abort";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, message);
    }
    EXPECT_EQ(Connection->ExecutingThread(), 0u);
    EXPECT_EQ(TransferSemaphore().Available(), slots);
  }

  ScopedLcidOverride Lcid;
  testing::LiveServer Server;
  TempFolder Dir;
  std::unique_ptr<TClientConnectionEx> Connection;
};

TEST_F(RemoteFileUpload, FilesArriveByteForByteInTheirAreaFolder) {
  struct Case {
    const char* Name;
    const char* Area;
    size_t Size;
    const char* Stored;  // below the upload folder
  } const kCases[] = {
      {"empty.dat", "Libs", 0, "empty.dat"},
      {"raw.dat", "Libs", 1024, "raw.dat"},                                  // travels raw
      {"\\one.bpl", "Bpls", 1025, "bpls/one.bpl"},                           // one compressed block
      {"two.bin", "", 18433, "two.bin"},                                     // 16384 + 2049
      {"sub\\dir\\odd.bin", "Bpls", 3 * 16384 + 1, "bpls/sub/dir/odd.bin"},  // 16384 * 2 + 16385
      {"limit.bin", "Libs", kLimit, "limit.bin"},                            // exactly the limit
  };
  TRemoteFile file(Connection.get(), Dir.Path());
  uint32_t seed = 1;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    const Bytes content = RandomBytes(c.Size, seed++);
    EXPECT_TRUE(file.UploadFile(Local("local.bin", content), c.Name, c.Area, "a note"));
    ASSERT_TRUE(fs::exists(UploadFolder() / c.Stored));
    EXPECT_EQ(ReadFileBytes((UploadFolder() / c.Stored).string()), content);
    EXPECT_EQ(Connection->ExecutingThread(), 0u);
  }
  // A second upload of a name is refused before its data; the first one stays.
  const Bytes first = ReadFileBytes((UploadFolder() / "two.bin").string());
  ExpectUploadError(
      [&] {
        file.UploadFile(Local("again.bin", testing::SampleBytes(50000, 9)), "two.bin", "", "");
      },
      Wrapped(Format(kUploadExistsText, {"two.bin"})));
  EXPECT_EQ(ReadFileBytes((UploadFolder() / "two.bin").string()), first);
  // Nothing else was left behind.
  EXPECT_EQ(
      UploadFolderContent(),
      (std::set<std::string>{"empty.dat", "raw.dat", "bpls", "bpls/one.bpl", "two.bin", "bpls/sub",
                             "bpls/sub/dir", "bpls/sub/dir/odd.bin", "limit.bin"}));
}

TEST_F(RemoteFileUpload, RefusalsBeforeTheDataKeepTheConnection) {
  TRemoteFile file(Connection.get(), Dir.Path());
  const std::string local = Local("small.bin", RandomBytes(3000, 5));
  for (const char* bad : {"..\\outside.bin", "a\\..\\..\\outside.bin", "C:\\outside.bin",
                          "\\\\server\\share\\x", "sub/../../outside.bin"}) {
    SCOPED_TRACE(bad);
    ExpectUploadError([&] { file.UploadFile(local, bad, "Bpls", ""); },
                      Wrapped(std::string("Invalid file name '") + bad + "'!"));
  }
  const std::string missing = Dir.Path() + "missing.bin";
  ExpectUploadError(
      [&] { file.UploadFile(missing, "missing.bin", "", ""); },
      Wrapped(Format(kCannotOpenFile, {missing}) + " (2)" + SystemErrorMessage(ENOENT)));
  EXPECT_FALSE(fs::exists(Server.Folder.Dir() / "outside.bin"));
  EXPECT_EQ(UploadFolderContent(), std::set<std::string>{});
  // The same connection still serves the next upload.
  EXPECT_TRUE(file.UploadFile(local, "good.bin", "", ""));
  EXPECT_EQ(ReadFileBytes((UploadFolder() / "good.bin").string()), ReadFileBytes(local));
}

TEST_F(RemoteFileUpload, AnUploadOverTheLimitIsRefusedAndLeavesNothing) {
  struct Case {
    const char* Name;
    Bytes Content;
    bool StopsEarly;  // the refusal arrives long before the client could have sent it all
  } const kCases[] = {
      {"deep\\er\\big.bin", RandomBytes(kLimit + 1, 7), false},
      {"huge.bin", RandomBytes(8 << 20, 8), true},
      {"packs-well.bin", Bytes(kLimit + 5000, 'x'), false},  // all of it leaves in one write
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    TRemoteFile file(Connection.get(), Dir.Path());
    ExpectUploadError(
        [&] { file.UploadFile(Local("big.bin", c.Content), c.Name, "Bpls", ""); },
        Wrapped(Format(kUploadTooLargeText, {std::string(c.Name), c.Content.size(), kLimit})));
    EXPECT_EQ(UploadFolderContent(), std::set<std::string>{});
    if (c.StopsEarly) {
      EXPECT_LT(Connection->Handler()->BytesWritten.load(),
                static_cast<int64_t>(c.Content.size() / 2));
    }
    // The connection carried an unfinished stream and was closed; a new one works.
    EXPECT_FALSE(Connection->Connected());
    Connection = Connect();
  }
  TRemoteFile file(Connection.get(), Dir.Path());
  EXPECT_TRUE(file.UploadFile(Local("fits.bin", RandomBytes(kLimit, 9)), "fits.bin", "", ""));
}

TEST_F(RemoteFileUpload, AFileChangedWhileItIsSentFailsAndTheServerKeepsNothing) {
  constexpr size_t kSize = 90000;  // pieces 5 x 16384 + 8080; the first flush comes after four
  struct Case {
    const char* Label;
    std::function<void(const std::string& path)> Change;
    std::string Message;
  } const kCases[] = {
      {"shrinks", [](const std::string& path) { fs::resize_file(path, 70000); },
       Format(kUploadEndedEarlyText, {70000, static_cast<int>(kSize)})},
      {"grows",
       [](const std::string& path) {
         std::ofstream(path, std::ios::binary | std::ios::app).write("more", 4);
       },
       std::string(kUploadChangedText)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    const std::string local = Local("changing.bin", RandomBytes(kSize, 11));
    TWatchedUpload file(Connection.get(), Dir.Path());
    bool changed = false;
    file.DuringSend = [&] {
      // Others may read the file but not lock it for writing while it is sent.
      const int fd = ::open(local.c_str(), O_RDWR | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &lock), -1);
      lock.l_type = F_RDLCK;
      EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
      ::close(fd);
      c.Change(local);  // a writer that does not lock
      changed = true;
    };
    ExpectUploadError([&] { file.UploadFile(local, "mid\\changing.bin", "Bpls", ""); },
                      Wrapped(c.Message));
    EXPECT_TRUE(changed);
    EXPECT_FALSE(Connection->Connected());
    Connection = Connect();
  }
  // Once the server has seen the broken streams to their end, nothing of them is left.
  Server.Stop();
  EXPECT_EQ(UploadFolderContent(), std::set<std::string>{});
}

}  // namespace
}  // namespace zor
