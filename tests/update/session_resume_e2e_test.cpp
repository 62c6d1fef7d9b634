// The launcher's own connections against the real file service: a transport cut in the
// middle of a file transfer is reopened with the stored settings and the session resumed,
// so the server goes on with the same session and the file arrives whole.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "intercom/client_settings.h"
#include "intercom/default_connection.h"
#include "platform/locale.h"
#include "support/live_server.h"
#include "transport/tcp_handler.h"
#include "update/download_client.h"
#include "update/download_jobs.h"
#include "update/download_settings.h"
#include "update/update_test_support.h"

namespace zor {
namespace {

using testing::ReadFileBytes;
using testing::SampleBytes;
using testing::TempFolder;
using testing::WriteFileBytes;

// A TCP transport that breaks after it has read `budget` bytes, as a network that goes
// away in the middle of a reply; a budget below 0 never breaks.
class TCuttingHandler : public TTCPHandler {
 public:
  TCuttingHandler(const std::string& connectString, int64_t budget)
      : TTCPHandler(connectString), Budget(budget) {}
  int32_t ReadData(uint8_t* buffer, int32_t count) override {
    if (Budget == 0) Close();  // the next read finds the link gone
    if (Budget > 0 && count > Budget) count = static_cast<int32_t>(Budget);
    return Count(TTCPHandler::ReadData(buffer, count));
  }
  int32_t WaitIO(int direction, int32_t milliseconds) override {
    const int32_t n = TTCPHandler::WaitIO(direction, milliseconds);
    return direction == kDirectionRead ? Count(n) : n;
  }

 private:
  int32_t Count(int32_t n) {
    if (Budget > 0 && n > 0) Budget -= n;
    return n;
  }
  int64_t Budget;
};

TEST(SessionResumeEndToEnd, ACutInTheMiddleOfATransferResumesTheSameSession) {
  ScopedLcidOverride lcid(kLcidEnglishUs);
  std::mutex logLock;  // before the server, whose log writes here until it stops
  std::string log;
  testing::LiveServer server;
  // Random data does not pack: the reply is as long as the file and far outlasts the cut.
  WriteFileBytes((server.Release / "Data.bin").string(), SampleBytes(3 << 20, 7));
  server.Log.AddSink([&](LogLevel, std::string_view tag, std::string_view text) {
    std::lock_guard guard(logLock);
    log += std::string(tag) + ": " + std::string(text) + "\n";
  });
  server.Start();
  TempFolder client;
  const TDownloadSettings saved = GetDownloadSettings();
  TDownloadSettings settings = saved;
  settings.InstallDir = client.Path();
  SetDownloadSettings(settings);
  SetConnectSettingsReader([&] {
    TConnectSettings s;
    s.ConnectType = kConnectTcp;
    s.NetServer = s.RemoteServer = "127.0.0.1";
    s.TCPPort = server.Port;
    return s;
  });
  std::atomic<int> transports{0};
  SetHandlerClass(TTransportKind::Tcp, [&](const std::string& text, int32_t, int32_t) {
    // The first transport breaks 256 KiB into the transfer; the one that resumes does not.
    return std::unique_ptr<TIcIOHandler>(
        std::make_unique<TCuttingHandler>(text, transports++ == 0 ? 256 * 1024 : -1));
  });
  SetDownloadConnector(nullptr);  // the launcher's own connections

  {
    TDownloadFileClient files;
    TDownLoadJob job(&files, "Data.bin", "Libs", "");
    ASSERT_TRUE(job.Run());
    const TIcConnection* connection = files.GetConnection();
    ASSERT_NE(connection, nullptr);
    const uint32_t session = connection->SessionId.load();
    EXPECT_EQ(transports.load(), 2);
    EXPECT_EQ(ReadFileBytes(client.Path() + "Data.bin"),
              ReadFileBytes((server.Release / "Data.bin").string()));
    // One session all along: the second transport resumed it, and no other one was opened.
    EXPECT_EQ(server.Server->Sessions().Size(), 1u);
    std::lock_guard guard(logLock);
    char id[16];
    std::snprintf(id, sizeof id, "%x", session);
    EXPECT_NE(log.find("Session " + std::string(id) + " resumed from 127.0.0.1"), std::string::npos)
        << log;
  }
  SetHandlerClass(TTransportKind::Tcp, nullptr);
  SetConnectSettingsReader(nullptr);
  SetDownloadSettings(saved);
}

}  // namespace
}  // namespace zor
