#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "base/byte_order.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/charset_conversion.h"
#include "pe_version_writer.h"
#include "platform/contained_files.h"
#include "platform/file_times.h"
#include "platform/locale.h"
#include "server/server_texts.h"
#include "support/file_contents.h"
#include "support/live_server.h"
#include "support/unpack_bytes.h"
#include "transport/ic_errors.h"
#include "update/plain_data_stream.h"

namespace zor {
namespace {

using testing::LiveServer;
using testing::TTestClient;

std::string Content(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i % 5 == 0 ? random() : (i >> 8));
  return data;
}

// Expects the command to fail with exactly this reply.
void ExpectError(TTestClient& client, uint32_t command, const TVariantArray& args, uint32_t code,
                 const std::string& message) {
  try {
    client.Execute(command, args);
    ADD_FAILURE() << "command 0x" << std::hex << command << " succeeded";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, code) << std::hex << command;
    EXPECT_EQ(e.Message, message);
  }
}

TEST(ServerLoopback, GreetingOffersTheEnhancedLogonAndRoutingReachesOnlyOwningServices) {
  LiveServer live;
  live.Start();
  TTestClient client(live.Port);
  EXPECT_EQ(client.Greeting[0].Text(), "ZOR application server\r\n-EnhancedEncrypt");
  EXPECT_EQ(client.Greeting[1].Text(), "test server");
  EXPECT_NE(client.SessionId, 0u);
  EXPECT_EQ(client.Greeting[4].Type(), kVarBoolean);

  EXPECT_EQ(client.Execute(0x1234)[0].Text(), "0x1234 served by Gate");
  EXPECT_EQ(client.Execute(0x1201, {TVariant("echo")})[0].Text(), "echo");
  struct Case {
    uint32_t Command;
    uint32_t Code;
    const char* Message;
  } const kCases[] = {
      {0x80, 0xFFFFFFFF, "[0x0080] 不是一个合法的命令！"},
      {0x100, 0xFFFFFFFF, "[0x0100] 不是一个合法的命令！"},
      {3, 0xFFFFFFFF, "[0x0003] 不是一个合法的命令！"},
      {0x1299, 0xFFFFFFFF, "[0x1299] 不是一个合法的命令！"},
      {0x5000, 0xFFFFFFFF, "[0x5000] 不是一个合法的命令！"},
      {35, kCodeExecuteError, kTextNoSecurityPackage.data()},
      {36, kCodeExecuteError, kTextNoSecurityPackage.data()},
  };
  for (const Case& c : kCases) ExpectError(client, c.Command, {}, c.Code, c.Message);
  EXPECT_EQ(client.Execute(16)[0].AsInteger(), 0);  // this server is a master

  live.Gate->SetEnabled(false);
  ExpectError(client, 0x1234, {}, kCodeExecuteError, "Gate 服务目前并没有启动！");
}

// A server in the traditional script with conversion tables says so in its greeting and
// converts what a simplified client sends; its replies go in its own code page, read as such.
// (A stand-in for the tables: the system's stay loaded once loaded, and this binary measures
// its peak memory elsewhere.)
TEST(ServerLoopback, ASimplifiedClientsTextReachesATraditionalServerInTraditionalScript) {
  struct TTables : TScriptConverter {
    std::string ToTraditional(std::string_view s) override {
      return s == "客户端报表" ? "客戶端報表" : std::string(s);
    }
    std::string ToSimplified(std::string_view s) override { return std::string(s); }
  } tables;
  SetScriptConverter(&tables);
  struct Uninstall {
    ~Uninstall() { SetScriptConverter(nullptr); }
  } uninstall;
  TSessionSettings session;
  session.Language = kLcidChineseTaiwan;
  LiveServer live(session);
  live.Start();
  ScopedLcidOverride simplified(kLcidChineseChina);
  TTestClient client(live.Port);
  EXPECT_EQ(client.Greeting[3].AsInteger(), 1028);
  EXPECT_EQ(client.Greeting[4], TVariant(true));
  client.Connection.Charsets.PeerCodePage = 950;
  EXPECT_EQ(client.Execute(0x1201, {TVariant("客户端报表")})[0].Text(), "客戶端報表");
  EXPECT_EQ(client.Execute(0x1201, {TVariant::Wide("客户端报表")})[0].Text(), "客戶端報表");
  // Without tables the greeting says so.
  SetScriptConverter(nullptr);
  TTestClient plain(live.Port);
  EXPECT_EQ(plain.Greeting[4], TVariant(false));
}

TEST(ServerLoopback, TCPControlServiceAnswersAndGuardsItsSettings) {
  LiveServer live;
  live.Settings.WriteInteger("TCP Control Service", "Port",
                             99999);  // overridden by the port switch anyway
  live.Start();
  TTestClient client(live.Port);
  EXPECT_EQ(client.Execute(kCmdTCPDefaultPort)[0].AsInteger(), 768);
  const TVariantArray settings = client.Execute(kCmdTCPQuerySettings);
  ASSERT_EQ(settings.size(), 5u);
  EXPECT_TRUE(settings[0].AsBoolean());
  EXPECT_EQ(settings[1].AsInteger(), live.Port);
  EXPECT_EQ(settings[2].Text(), "127.0.0.1");
  const TVariantArray listener = client.Execute(kCmdTCPQueryListener);
  EXPECT_TRUE(listener[0].AsBoolean());
  EXPECT_EQ(listener[1].Text(), "BoundIP=127.0.0.1;BoundPort=" + std::to_string(live.Port));
  ExpectError(client, kCmdTCPSetSettings,
              {TVariant(true), TVariant(static_cast<int32_t>(live.Port)), TVariant(""), TVariant(0),
               TVariant("")},
              kCodeExecuteError, "只有超级用户才能更改服务器的TCP设定！");
}

TEST(ServerLoopback, AnAdministratorMovesTheListenerAndTheNewSettingsAreStored) {
  TSessionSettings session;
  session.LocalAdmin = true;
  LiveServer live(session);
  live.Start();
  TTestClient client(live.Port);
  struct Case {
    TVariantArray Args;
    const char* Message;
  } const kCases[] = {
      {{TVariant(true), TVariant(1000), TVariant("10.0.0.300"), TVariant(0), TVariant("")},
       "Invalid IP address!"},
      {{TVariant(true), TVariant(1000), TVariant(""), TVariant(3), TVariant("")},
       "Invalid accept mode!"},
  };
  for (const Case& c : kCases)
    ExpectError(client, kCmdTCPSetSettings, c.Args, kCodeExecuteError, c.Message);

  const uint16_t newPort = testing::FreePort();
  // The port is taken as its low 16 bits.
  client.Execute(kCmdTCPSetSettings,
                 {TVariant(true), TVariant(static_cast<int32_t>(0x10000 + newPort)),
                  TVariant("127.0.0.1"), TVariant(2), TVariant("10.1.*")});
  EXPECT_EQ(live.Settings.ReadInteger("TCP Control Service", "Port", 0), newPort);
  EXPECT_EQ(live.Settings.ReadInteger("TCP Control Service", "AcceptMode", 0), 2);
  EXPECT_EQ(live.Settings.ReadString("TCP Control Service", "IPList", ""), "10.1.*");
  // The running session stays; new clients use the new port.
  EXPECT_EQ(client.Execute(kCmdTCPDefaultPort)[0].AsInteger(), 768);
  TTestClient moved(newPort);
  EXPECT_NE(moved.SessionId, 0u);
}

struct ReleaseFixture : ::testing::Test {
  ReleaseFixture() {
    Exe = BuildPeWithVersion(5, 2, 0, 17);
    Big = Content(300'000, 1);
    Write("Client.exe", Exe);
    Write("bpls/Main.bpl", Big);
    Write("bpls/Main.CHT", "companion");
    Write("ZORSys.ini", "[System]\r\nMainExe=IClient.exe\r\n");
    Write("empty.txt", "");
    std::filesystem::create_directories(Live.Folder.Dir() / "outside");
    std::ofstream(Live.Folder.Dir() / "outside" / "secret.txt") << "secret";
    std::filesystem::create_symlink(Live.Folder.Dir() / "outside" / "secret.txt",
                                    Live.Release / "secret.txt");
    Live.Start();
  }
  void Write(const std::string& name, const std::string& content) {
    const auto path = Live.Release / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  // The packed form's bytes from `position` on, as the launcher receives them.
  std::string FetchPacked(TTestClient& client, const std::string& name, int32_t position,
                          int32_t count) {
    const TVariantArray reply = client.Execute(
        cmdPackedFileData,
        {TVariant(name), TVariant("Libs"), TVariant(position), TVariant(count), TVariant("CHS")});
    const int32_t announced = reply[0].AsInteger();
    uint8_t header[4];
    client.Connection.Handler()->ReadBuffer(header, 4);
    EXPECT_EQ(static_cast<int32_t>(LoadLE32(header)), announced);
    std::string data(static_cast<size_t>(announced), '\0');
    if (announced > 0) client.Connection.Handler()->ReadBuffer(data.data(), announced);
    return data;
  }
  std::string FetchPlain(TTestClient& client, const std::string& name, int32_t position,
                         int32_t count) {
    const TVariantArray reply = client.Execute(
        cmdPlainFileData,
        {TVariant(name), TVariant("Libs"), TVariant(position), TVariant(count), TVariant("CHS")});
    std::string data;
    const uint32_t received = ReadPlainStream(
        [&](void* buffer, size_t bytes) {
          client.Connection.Handler()->ReadBuffer(buffer, static_cast<int32_t>(bytes));
        },
        1u << 30,
        [&](const void* bytes, size_t n) { data.append(static_cast<const char*>(bytes), n); });
    EXPECT_EQ(static_cast<int32_t>(received), reply[0].AsInteger());
    return data;
  }

  LiveServer Live;
  std::string Exe, Big;
};

TEST_F(ReleaseFixture, FileListAndInformationDescribeEveryFileInBothForms) {
  TTestClient client(Live.Port);
  const TVariantArray list = client.Execute(cmdFileList);
  ASSERT_EQ(list.size(), 2u);
  std::string expected;
  for (const char* name : {"bpls\\Main.bpl", "Client.exe", "empty.txt", "ZORSys.ini"}) {
    const TVariantArray info = client.Execute(
        cmdPackedFileInfo, {TVariant(name), TVariant("Libs"), TVariant("CHS"), TVariant(0)});
    ASSERT_TRUE(info[0].AsBoolean()) << name;
    std::string local = (Live.Release / name).string();
    std::replace(local.begin(), local.end(), '\\', '/');
    EXPECT_EQ(info[3].AsInteger(), GetFileDosTime(local)) << name;
    // The packed size is what the data command of the packed form transfers.
    EXPECT_EQ(static_cast<int32_t>(FetchPacked(client, name, 0, 0x7FFFFFFF).size()),
              info[2].AsInteger());
    if (!expected.empty()) expected += ';';
    expected += std::string(name) + "=" + info[1].Text() + "," +
                std::to_string(info[3].AsInteger()) + "," + std::to_string(info[2].AsInteger());
  }
  EXPECT_EQ(list[0].Text(), expected);
  EXPECT_NE(expected.find("Client.exe=5.2.0.17,"), std::string::npos);
  EXPECT_NE(expected.find("ZORSys.ini=0.0.0.0,"), std::string::npos);

  struct Case {
    const char* Name;
    const char* Area;
    bool Found;
    int32_t Size;
    const char* Version;
  } const kCases[] = {
      {"Client.exe", "Libs", true, static_cast<int32_t>(Exe.size()), "5.2.0.17"},
      {"Main.bpl", "Bpls", true, 300'000, "0.0.0.0"},
      {"\\bpls\\MAIN.bpl", ".", true, 300'000, "0.0.0.0"},
      {"bpls\\Main.CHT", "LangDll", true, 9, "0.0.0.0"},
      {"secret.txt", "Libs", false, 0, ""},
      {"missing.dll", "Libs", false, 0, ""},
  };
  for (const Case& c : kCases) {
    const TVariantArray info =
        client.Execute(cmdPlainFileInfo, {TVariant(c.Name), TVariant(c.Area), TVariant("CHS")});
    ASSERT_EQ(info.size(), 4u);
    EXPECT_EQ(info[0].AsBoolean(), c.Found) << c.Name;
    if (!c.Found) continue;
    EXPECT_EQ(info[1].Text(), c.Version);
    EXPECT_EQ(info[2].AsInteger(), c.Size);
  }
}

TEST_F(ReleaseFixture, BothDataFormsAreByteExactAndResumeFromTheMiddle) {
  TTestClient client(Live.Port);
  for (const std::string& name :
       {std::string("bpls\\Main.bpl"), std::string("Client.exe"), std::string("empty.txt")}) {
    SCOPED_TRACE(name);
    std::string local = name;
    std::replace(local.begin(), local.end(), '\\', '/');
    const std::string original = testing::ReadAll(Live.Release / local);
    EXPECT_EQ(FetchPlain(client, name, 0, 0x7FFFFFFF), original);

    const std::string whole = FetchPacked(client, name, 0, 0x7FFFFFFF);
    const int32_t half = static_cast<int32_t>(whole.size() / 2);
    const std::string head = FetchPacked(client, name, 0, half);
    const std::string tail = FetchPacked(client, name, half, 0x7FFFFFFF);
    EXPECT_EQ(head + tail, whole);
    const testing::Unpacked unpacked = testing::UnpackBytes(head + tail);
    EXPECT_EQ(unpacked.Data, original);
    EXPECT_EQ(static_cast<int32_t>(unpacked.DosTime),
              GetFileDosTime((Live.Release / local).string()));
    if (!original.empty()) {
      EXPECT_EQ(FetchPlain(client, name, 7, 0x7FFFFFFF), original.substr(7));
    }
  }
  // A position past the end sends nothing.
  EXPECT_EQ(FetchPacked(client, "Client.exe", 10'000'000, 100), "");
  EXPECT_EQ(Live.Files->Packs().PacksDone(), 3);
}

// The one-trip command answers the information and streams the data from the client's
// position when its partial copy has the file's size and date, else from 0; an unknown file
// gets "not found" and no stream, and the session stays usable after each answer.
TEST_F(ReleaseFixture, OneTripFetchContinuesOnlyAPartialCopyOfTheSameFile) {
  TTestClient client(Live.Port);
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed);
    const std::string whole = packed ? FetchPacked(client, "bpls\\Main.bpl", 0, 0x7FFFFFFF) : Big;
    const auto size = static_cast<int32_t>(whole.size());
    const int32_t age = GetFileDosTime((Live.Release / "bpls/Main.bpl").string());
    const int32_t half = size / 2;
    struct Case {
      const char* What;
      int32_t Position, Size, Age, Start;
    } const kCases[] = {
        {"no partial copy", 0, 0, 0, 0},
        {"a copy of the same file", half, size, age, half},
        {"a complete copy", size, size, age, size},
        {"a copy of another size", half, size + 1, age, 0},
        {"a copy of another date", half, size, age + 2, 0},
        {"a position past the end", size + 1, size, age, 0},
    };
    for (const Case& c : kCases) {
      SCOPED_TRACE(c.What);
      const TVariantArray reply =
          client.Execute(packed ? cmdPackedFileFetch : cmdPlainFileFetch,
                         {TVariant("bpls\\Main.bpl"), TVariant("Libs"), TVariant(c.Position),
                          TVariant(c.Size), TVariant(c.Age), TVariant("CHS")});
      ASSERT_EQ(reply.size(), 5u);
      EXPECT_TRUE(reply[0].AsBoolean());
      EXPECT_EQ(reply[2].AsInteger(), size);
      EXPECT_EQ(reply[3].AsInteger(), age);
      ASSERT_EQ(reply[4].AsInteger(), c.Start);
      if (c.Start == size) continue;  // nothing follows
      std::string data;
      TIcIOHandler& handler = *client.Connection.Handler();
      if (packed) {
        uint8_t header[4];
        handler.ReadBuffer(header, 4);
        data.resize(LoadLE32(header));
        handler.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
      } else {
        ReadPlainStream(
            [&](void* buffer, size_t bytes) {
              handler.ReadBuffer(buffer, static_cast<int32_t>(bytes));
            },
            1u << 30,
            [&](const void* bytes, size_t n) { data.append(static_cast<const char*>(bytes), n); });
      }
      EXPECT_EQ(data, whole.substr(static_cast<size_t>(c.Start)));
    }
    const TVariantArray missing =
        client.Execute(packed ? cmdPackedFileFetch : cmdPlainFileFetch,
                       {TVariant("nothing.dll"), TVariant("Libs"), TVariant(0), TVariant(0),
                        TVariant(0), TVariant("CHS")});
    EXPECT_FALSE(missing.at(0).AsBoolean());
    ExpectError(client, packed ? cmdPackedFileFetch : cmdPlainFileFetch,
                {TVariant("Client.exe"), TVariant("Libs"), TVariant(-1), TVariant(0), TVariant(0),
                 TVariant("CHS")},
                kErrInvalidArgument, std::string(kCommandArgumentInvalidText));
  }
  EXPECT_EQ(
      client.Execute(cmdPlainFileInfo, {TVariant("Client.exe"), TVariant("Libs")})[0].AsBoolean(),
      true);
}

// A release file swapped for a link after the scan (the race of someone who may write the
// release folder) is not served: the file is opened below the release folder without
// following any link, with openat2 and with the component walk of kernels without it.
TEST_F(ReleaseFixture, AFileSwappedForALinkAfterTheScanIsNotServed) {
  TTestClient client(Live.Port);
  // The scan that lists it as a regular file.
  ASSERT_TRUE(
      client.Execute(cmdPlainFileInfo, {TVariant("ZORSys.ini"), TVariant("Libs")})[0].AsBoolean());
  const auto secret = Live.Folder.Dir() / "outside" / "secret.txt";
  std::filesystem::remove(Live.Release / "ZORSys.ini");
  std::filesystem::create_symlink(secret, Live.Release / "ZORSys.ini");
  // A folder on the way swapped for a link is refused as well.
  std::filesystem::rename(Live.Release / "bpls", Live.Folder.Dir() / "bpls.moved");
  std::filesystem::create_symlink(Live.Folder.Dir() / "bpls.moved", Live.Release / "bpls");
  for (const bool walk : {false, true}) {
    SCOPED_TRACE(walk ? "component walk" : "openat2");
    UseComponentWalkForTests(walk);
    for (const char* name : {"ZORSys.ini", "bpls\\Main.bpl"}) {
      ExpectError(client, cmdPlainFileData,
                  {TVariant(name), TVariant("Libs"), TVariant(0), TVariant(10), TVariant("CHS")},
                  kCodeExecuteError, std::string("服务器上并没有档案 ") + name + "！");
    }
  }
  UseComponentWalkForTests(false);
  EXPECT_EQ(testing::ReadAll(secret), "secret");
}

TEST_F(ReleaseFixture, NamesThatLeaveTheReleaseAreRefused) {
  TTestClient client(Live.Port);
  for (const char* bad : {"..\\outside\\secret.txt", "C:\\Windows\\win.ini", "\\\\server\\share\\x",
                          "a\\..\\..\\x"}) {
    const std::string message = std::string("Invalid file name '") + bad + "'!";
    ExpectError(client, cmdPlainFileInfo, {TVariant(bad), TVariant("Libs"), TVariant("CHS")},
                kCodeExecuteError, message);
    ExpectError(client, cmdPackedFileInfo,
                {TVariant(bad), TVariant("Libs"), TVariant("CHS"), TVariant(0)}, kCodeExecuteError,
                message);
    ExpectError(client, cmdPlainFileData,
                {TVariant(bad), TVariant("Libs"), TVariant(0), TVariant(10), TVariant("CHS")},
                kCodeExecuteError, message);
    ExpectError(client, cmdUploadFile, {TVariant(bad), TVariant("Libs"), TVariant("")},
                kCodeExecuteError, message);
  }
  ExpectError(client, cmdPlainFileData,
              {TVariant("Client.exe"), TVariant("Libs"), TVariant(-1), TVariant(10)},
              kErrInvalidArgument, "The command argument(s) is invalid!");
  // The session is still usable.
  EXPECT_TRUE(
      client.Execute(cmdPlainFileInfo, {TVariant("Client.exe"), TVariant("Libs"), TVariant("")})[0]
          .AsBoolean());
}

TEST_F(ReleaseFixture, UploadsLandInTheUploadFolderWithinTheLimit) {
  TTestClient client(Live.Port);
  auto upload = [&](const std::string& name, const std::string& content) {
    client.Connection.SendCommandData(cmdUploadFile,
                                      {TVariant(name), TVariant("Bpls"), TVariant("note")});
    client.Connection.WaitResultDiscard(true);
    size_t pos = 0;
    WritePlainStream(
        static_cast<uint32_t>(content.size()),
        [&](void* buffer, size_t count) {
          std::memcpy(buffer, content.data() + pos, count);
          pos += count;
        },
        [&](const void* data, size_t count) {
          client.Connection.Handler()->Write(data, static_cast<int32_t>(count));
        });
    client.Connection.Handler()->Flush(true);
    client.Connection.WaitResultDiscard(true);
  };
  const std::string content = Content(50'000, 3);
  upload("sub\\up.bin", content);
  EXPECT_EQ(testing::ReadAll(Live.Folder.Dir() / "upload" / "bpls" / "sub" / "up.bin"), content);
  // Over the limit: refused on the announced size, while the client is still sending. The
  // server reads what still comes, so the client's writes go on and the refusal reaches it
  // instead of a reset connection.
  const std::string big = Content(1 << 20, 4);
  client.Connection.SendCommandData(cmdUploadFile,
                                    {TVariant("new\\big.bin"), TVariant("Bpls"), TVariant("")});
  client.Connection.WaitResultDiscard(true);
  TIcIOHandler& handler = *client.Connection.Handler();
  bool answered = false;
  size_t pos = 0;
  WritePlainStream(
      static_cast<uint32_t>(big.size()),
      [&](void* buffer, size_t count) {
        std::memcpy(buffer, big.data() + pos, count);
        pos += count;
      },
      [&](const void* data, size_t count) {
        handler.Write(data, static_cast<int32_t>(count));
        if (!answered) {
          handler.Flush(true);
          answered = handler.WaitReadable(10);
        }
      });
  handler.Flush(true);
  EXPECT_TRUE(answered);
  try {
    client.Connection.WaitResultDiscard(true);
    ADD_FAILURE() << "the upload was accepted";
  } catch (const EResultError& e) {
    EXPECT_EQ(e.ErrorCode, kCodeExecuteError);
    EXPECT_EQ(e.Message, Format(kUploadTooLargeText, {"new\\big.bin", 1 << 20, 100'000}));
  }
  // Neither the file nor the folder it would have gone into is there.
  EXPECT_FALSE(std::filesystem::exists(Live.Folder.Dir() / "upload" / "bpls" / "new"));
}

}  // namespace
}  // namespace zor
