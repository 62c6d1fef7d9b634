#include "transport/pipe_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "base/clock.h"
#include "platform/local_socket.h"
#include "platform/runtime_dir.h"
#include "platform/system_info.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"
#include "support/windows_skips.h"
#include "transport/socket_listen_list.h"

namespace zor {
namespace {

using testing::ExpectError;

// A runtime folder of its own, so that pipe names of parallel runs never meet.
class PipeTest : public ::testing::Test {
 protected:
  std::string ConnectError(const std::string& server, std::string_view reason) {
    return "无法连接至[" + server + "], 因为：\r\n" + std::string(reason);
  }

  testing::TempFolder Folder{"zp"};  // short: local socket names live below it
  const std::filesystem::path Dir = Folder.Dir();
  ScopedRuntimeDir Runtime{Dir.string()};
};

TEST_F(PipeTest, ConnectStringsAreCheckedBeforeAnythingOpens) {
  ZOR_SKIP_WITHOUT_LOCAL_PIPES();
  struct Case {
    const char* text;
    const char* className;
    std::string message;
  } const kCases[] = {
      {"   ", "EConnectStringError", "Connect string is not allow empty!"},
      {"\\\\.\\", "EConnectStringError", "Error format of pipe connect string!"},
      {"//./pipe/x", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\pipe\\x;Client", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\srv1\\pipe\\x;Server", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\pipe\\", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\pipe\\..", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\pipe\\a/b", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\tube\\x", "EConnectStringError", "Error format of pipe connect string!"},
      {"\\\\.\\pipe\\nobody", "Exception", ""},  // filled below: not found on this computer
      {"\\\\srv1\\pipe\\x", "Exception", ""},    // another computer: not reachable
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::string message = c.message;
    if (message.empty()) {
      const std::string server =
          std::string(c.text).find("srv1") != std::string::npos ? "srv1" : GetComputerName();
      message = ConnectError(server, kPipeNotFoundReason);
    }
    try {
      TPipeHandler handler(c.text);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.className);
      EXPECT_EQ(e.Message, message);
    }
  }
}

TEST_F(PipeTest, ComposePipeString) {
  const std::string me = GetComputerName();
  EXPECT_EQ(ComposePipeString("srv1", "zorserverpipe6x", false), "\\\\srv1\\pipe\\zorserverpipe6x");
  EXPECT_EQ(ComposePipeString(me, "p", false), "\\\\.\\pipe\\p");
  std::string upper = me;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(ComposePipeString(upper, "p", true), "\\\\.\\pipe\\p;Server");
  EXPECT_EQ(ComposePipeString(".", "p", true), "\\\\.\\pipe\\p;Server");
  EXPECT_EQ(ComposePipeString("127.0.0.1", "p", false), "\\\\.\\pipe\\p");
  EXPECT_EQ(ComposePipeString("LocalHost", "p", false), "\\\\.\\pipe\\p");
  ExpectError<Exception>([] { ComposePipeString("srv1", "", false); }, "Exception",
                         "The pipe name is not allow empty!");
  ExpectError<Exception>([] { ComposePipeString("srv1", "p", true); }, "Exception",
                         "Error server name!");
}

TEST_F(PipeTest, ServerAndClientExchangeBytes) {
  ZOR_SKIP_WITHOUT_LOCAL_PIPES();
  TPipeHandler server(ComposePipeString(".", "zorserverpipe6x", true));
  EXPECT_TRUE(server.IsServer());
  EXPECT_EQ(server.DefaultTimeout, kTimeoutNone);
  EXPECT_TRUE(std::filesystem::exists(Dir / "pipe" / "zorserverpipe6x"));
  server.Open();
  EXPECT_EQ(server.GetState(), kStateWaiting);
  TPipeHandler client(ComposePipeString(GetComputerName(), "zorserverpipe6x", false));
  EXPECT_TRUE(client.IsConnected());
  ASSERT_TRUE(server.WaitForClient(5));
  EXPECT_EQ(client.GetDescription(), "PIPE");
  EXPECT_EQ(client.GetRemoteAddress(), ".");
  EXPECT_TRUE(client.SupportsMessageCentre());

  std::vector<uint8_t> data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
  std::thread writer([&] { server.WriteStream(data.data(), static_cast<int32_t>(data.size())); });
  std::vector<uint8_t> got;
  client.ReadStream(got);
  writer.join();
  EXPECT_EQ(got, data);

  server.Close();
  EXPECT_FALSE(std::filesystem::exists(Dir / "pipe" / "zorserverpipe6x"));
  const uint8_t byte = 1;
  // The server is gone: the write finds a broken pipe (or the read its end).
  try {
    for (int i = 0; i < 100; ++i) client.WriteBuffer(&byte, 1);
    uint8_t in;
    client.Read(&in, 1, 5);
    ADD_FAILURE() << "no exception";
  } catch (const EConnectBroken& e) {
    EXPECT_EQ(client.GetState(), kStateDisconnected);
  }
}

TEST_F(PipeTest, RemoteAddressIsTheServerPart) {
  ZOR_SKIP_WITHOUT_LOCAL_PIPES();
  TPipeHandler server("\\\\.\\pipe\\x;Server");
  EXPECT_EQ(server.GetRemoteAddress(), ".");
  EXPECT_EQ(server.ConnectString, "\\\\.\\pipe\\x");
}

TEST_F(PipeTest, ABusyServerIsWaitedForTenSeconds) {
  ZOR_SKIP_WITHOUT_LOCAL_PIPES();
  // A listener that accepts nobody, with its queue full.
  const std::string path = (Dir / "pipe" / "busy").string();
  std::filesystem::create_directories(Dir / "pipe");
  int error = 0;
  const int listener = CreateLocalListener(path, 0, error);
  ASSERT_GE(listener, 0) << error;
  std::vector<int> queued;
  for (int i = 0; i < 8; ++i) {
    const int s = ConnectLocal(path, error);
    if (s < 0) break;
    queued.push_back(s);
  }
  ASSERT_TRUE(IsLocalBusy(error));
  ManualClock clock;
  ScopedClock scoped(clock);
  const auto start = clock.Now();
  ExpectError<Exception>([] { TPipeHandler client("\\\\.\\pipe\\busy"); }, "Exception",
                         ConnectError(GetComputerName(), kPipeTimedOutReason));
  EXPECT_GT(clock.Now() - start, std::chrono::milliseconds(kPipeBusyLimitMs));
  for (int s : queued) CloseSocket(s);
  CloseSocket(listener);
}

TEST_F(PipeTest, TwoServerEndsShareOneName) {
  ZOR_SKIP_WITHOUT_LOCAL_PIPES();
  const size_t before = ListenRecordCount();
  auto first = std::make_unique<TPipeHandler>("\\\\.\\pipe\\shared;Server");
  TPipeHandler second("\\\\.\\pipe\\shared;SERVER");
  EXPECT_EQ(ListenRecordCount(), before + 1);
  first->Open();
  second.Open();
  TPipeHandler a("\\\\.\\pipe\\shared");
  EXPECT_TRUE(first->WaitForClient(5));
  TPipeHandler b("\\\\.\\pipe\\shared");
  EXPECT_TRUE(second.WaitForClient(5));
  first.reset();
  EXPECT_EQ(ListenRecordCount(), before + 1);
}

}  // namespace
}  // namespace zor
