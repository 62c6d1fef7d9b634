#include "server/zor_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/exceptions.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "support/wait_for.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

// A service that records the commands it executed and answers 0x?01 itself.
class TRecordingService : public TZORService {
 public:
  TRecordingService(TZORServer* server, uint32_t base, std::string name,
                    uint32_t flags = kServiceMayStop)
      : TZORService(server, flags, base, "test", std::move(name)) {
    RegisterCommand(base + 1, [this](TServiceMessage& m) {
      Seen.push_back(m.Command);
      BusyInside = Busy();
      m.Result = 1;
    });
  }
  ~TRecordingService() override { LeaveServer(); }
  const char* ClassName() const override { return "TRecordingService"; }
  void DoStart() override {
    if (StartError == 1) throw Exception("port in use");
    if (StartError == 2) throw EAbort("aborted");
    if (StartError == 3) throw 42;
  }
  std::vector<uint32_t> Seen;
  int32_t BusyInside = 0;
  int StartError = 0;
};

struct ServerFixture : ::testing::Test {
  ServerFixture() {
    Log.SetUseStdErr(false);
    Log.SetLevel(LogLevel::Debug);
    Log.AddSink([this](LogLevel level, std::string_view tag, std::string_view text) {
      Lines.push_back(std::string(tag) + "|" + std::string(text));
      if (level <= LogLevel::Info) InfoLines.push_back(Lines.back());
      if (level == LogLevel::Debug) DebugLines.push_back(Lines.back());
    });
  }
  TServerLog Log;
  TMemorySettings Settings;
  std::vector<std::string> Lines;
  std::vector<std::string> InfoLines;   // info and above
  std::vector<std::string> DebugLines;  // debug only
};

// The settings of a service user: readable, never writable.
struct TReadOnlySettings : TMemorySettings {
  void WriteInteger(std::string_view, std::string_view, int64_t) override {
    throw Exception("HKLM cannot be written");
  }
};

// A service whose timer runs every millisecond and counts its runs.
class TTickingService : public TZORService {
 public:
  TTickingService(TZORServer* server, uint32_t base, std::string name)
      : TZORService(server, kServiceMayStop, base, "test", std::move(name)) {
    SetTimerInterval(1);
  }
  ~TTickingService() override { LeaveServer(); }
  void DoTimer() override { ++Ticks; }
  std::atomic<int> Ticks{0};
};

TEST(CommandBase, AcceptsAlignedBasesInRangeAndNamesTheRule) {
  struct Case {
    uint32_t Base;
    const char* Error;  // nullptr: accepted
  } const kCases[] = {
      {0x100, nullptr},
      {0xAF00, nullptr},
      {0x1200, nullptr},
      {0xFF, "The command base can't smaller than 0x100!"},
      {0, "The command base can't smaller than 0x100!"},
      {0x1F0, "The command base must offset by hexadecimal value 0x100!"},
      {0xB000, "The command base can't bigger than 0xb000"},
      {0xFFFFFF00, "The command base can't bigger than 0xb000"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Base);
    if (!c.Error) {
      EXPECT_NO_THROW(TRecordingService(nullptr, c.Base, "s"));
      continue;
    }
    try {
      TRecordingService service(nullptr, c.Base, "s");
      ADD_FAILURE() << "accepted";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      EXPECT_EQ(e.Message, c.Error);
    }
  }
}

TEST_F(ServerFixture, ServicesJoinOnlyWithDistinctBasesAndNames) {
  TZORServer server(Log, Settings);
  TRecordingService a(&server, 0x1000, "Alpha");
  TRecordingService b(&server, 0x1100, "Beta");
  EXPECT_EQ(server.Services().size(), 2u);

  try {
    TRecordingService sameBase(&server, 0x1000, "Gamma");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The command base of this service is the same with Alpha service");
  }
  try {
    TRecordingService sameName(&server, 0x1200, "ALPHA");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The server already include a service named ALPHA!");
  }

  // A service of another server leaves it when it joins this one.
  TZORServer other(Log, Settings);
  TRecordingService c(&other, 0x2000, "Gamma");
  server.AddService(&c);
  EXPECT_EQ(c.Server(), &server);
  EXPECT_TRUE(other.Services().empty());
  try {
    other.RemoveService(&c);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "This service does not belong this server!");
  }
}

TEST(CommandRouting, BuiltInsServicesAndTheRest) {
  struct Case {
    uint32_t Command;
    CommandRoute Route;
  } const kCases[] = {
      {0, CommandRoute::Logon},        {7, CommandRoute::Logon},
      {1, CommandRoute::BuiltIn},      {2, CommandRoute::BuiltIn},
      {5, CommandRoute::BuiltIn},      {16, CommandRoute::BuiltIn},
      {35, CommandRoute::BuiltIn},     {36, CommandRoute::BuiltIn},
      {41, CommandRoute::BuiltIn},     {3, CommandRoute::Invalid},
      {68, CommandRoute::Invalid},     {0x80, CommandRoute::Invalid},
      {0x100, CommandRoute::Invalid},  {0x101, CommandRoute::Service},
      {0x1234, CommandRoute::Service},
  };
  for (const Case& c : kCases) EXPECT_EQ(RouteOf(c.Command), c.Route) << c.Command;
}

TEST_F(ServerFixture, DispatchFindsTheOwningServiceAndNeverServesBelow257) {
  TZORServer server(Log, Settings);
  TRecordingService low(&server, 0x100, "Low");
  TRecordingService owner(&server, 0x1200, "Owner");
  TRecordingService next(&server, 0x1300, "Next");
  low.SetEnabled(true);
  owner.SetEnabled(true);
  next.SetEnabled(true);
  EXPECT_EQ(server.ServiceFor(0x1234), &owner);
  EXPECT_EQ(server.ServiceFor(0x12FF), &owner);
  EXPECT_EQ(server.ServiceFor(0x1300), &next);
  EXPECT_EQ(server.ServiceFor(0x100), nullptr);
  EXPECT_EQ(server.ServiceFor(0x80), nullptr);
  EXPECT_EQ(server.ServiceFor(0x101), &low);

  struct Case {
    uint32_t Command;
    const char* Error;
    uint32_t Code;
  } const kCases[] = {
      {0x1201, nullptr, 0},
      {0x1234, "[0x1234] 不是一个合法的命令！", 0xFFFFFFFF},  // the owner's default handler
      {0x80, "[0x0080] 不是一个合法的命令！", 0xFFFFFFFF},
      {0x100, "[0x0100] 不是一个合法的命令！", 0xFFFFFFFF},
      {0x5000, "[0x5000] 不是一个合法的命令！", 0xFFFFFFFF},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Command);
    TServiceMessage message;
    message.Command = c.Command;
    if (!c.Error) {
      server.Dispatch(message);
      EXPECT_EQ(message.Result, 1);
      continue;
    }
    try {
      server.Dispatch(message);
      ADD_FAILURE() << "served";
    } catch (const EExecuteError& e) {
      EXPECT_EQ(e.Message, c.Error);
      EXPECT_EQ(e.ErrorCode, c.Code);
    }
  }
  EXPECT_EQ(owner.Seen, std::vector<uint32_t>{0x1201});
  EXPECT_EQ(owner.BusyInside, 1);
  EXPECT_EQ(owner.Busy(), 0);
  EXPECT_TRUE(low.Seen.empty());

  owner.SetEnabled(false);
  TServiceMessage message;
  message.Command = 0x1201;
  try {
    server.Dispatch(message);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Owner 服务目前并没有启动！");
  }
}

TEST_F(ServerFixture, EnablingAnActiveServerReportsStartAndStopAndStoresTheValue) {
  TZORServer server(Log, Settings);
  TRecordingService service(&server, 0x1000, "Files");
  server.Activate();
  Lines.clear();
  service.SetEnabled(true);
  service.SetEnabled(true);  // no change: nothing reported
  EXPECT_TRUE(Settings.ReadBool("Files", "Enabled", false));
  service.SetEnabled(false);
  EXPECT_FALSE(Settings.ReadBool("Files", "Enabled", true));
  const std::vector<std::string> expected = {
      "SrvStartAndStop|TZORService.SetEnabled_begin",
      "SrvStartAndStop|  Service - Files[TRecordingService] started.",
      "SrvStartAndStop|TZORService.SetEnabled_end",
      "SrvStartAndStop|TZORService.SetEnabled_begin",
      "SrvStartAndStop|  Service - Files[TRecordingService] before stop begin.",
      "SrvStartAndStop|  Service - Files[TRecordingService] before stop end.",
      "SrvStartAndStop|  Service - Files[TRecordingService] stopped begin.",
      "SrvStartAndStop|  Service - Files[TRecordingService] stopped end.",
      "SrvStartAndStop|TZORService.SetEnabled_end",
  };
  EXPECT_EQ(Lines, expected);
  server.Deactivate();
  EXPECT_THROW(server.CheckActive(true), Exception);
  server.CheckActive(false);
}

TEST_F(ServerFixture, StartingServicesIsTracedBelowInfoAndUnwritableSettingsNotedOnce) {
  TReadOnlySettings readOnly;
  TZORServer server(Log, readOnly);
  TRecordingService files(&server, 0x1000, "Files");
  TRecordingService tcp(&server, 0x2000, "TCP");
  server.Activate();
  Lines.clear();
  InfoLines.clear();
  DebugLines.clear();
  files.SetEnabled(true);
  tcp.SetEnabled(true);
  EXPECT_TRUE(files.Enabled() && tcp.Enabled());
  EXPECT_EQ(InfoLines, (std::vector<std::string>{
                           "SrvStartAndStop|  Service - Files[TRecordingService] started.",
                           "SrvStartAndStop|  Service - TCP[TRecordingService] started.",
                       }));
  EXPECT_EQ(
      DebugLines,
      (std::vector<std::string>{
          "SrvStartAndStop|TZORService.SetEnabled_begin",
          "SrvStartAndStop|Files: the setting Enabled cannot be stored: HKLM cannot be written",
          "SrvStartAndStop|TZORService.SetEnabled_end",
          "SrvStartAndStop|TZORService.SetEnabled_begin",
          "SrvStartAndStop|TZORService.SetEnabled_end",
      }));
  server.Deactivate();
}

TEST_F(ServerFixture, FailedStartsAreReportedWithTheirReasonAndLeaveTheServiceStopped) {
  struct Case {
    int Error;
    const char* Reason;
  } const kCases[] = {
      {1, "port in use"},
      {2, "Start is aborted! See the event logs for more information!"},
      {3, "Start is aborted! See the event logs for more information!"},
  };
  TZORServer server(Log, Settings);
  server.Activate();
  for (const Case& c : kCases) {
    TRecordingService service(&server, 0x1000, "Files");
    service.StartError = c.Error;
    Lines.clear();
    service.SetEnabled(true);
    EXPECT_FALSE(service.Enabled());
    EXPECT_FALSE(Settings.ReadInteger("Files", "Enabled").has_value());
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[1],
              std::string("SrvStartAndStop|  Service - Files[TRecordingService] start failed! ") +
                  c.Reason);
  }
  server.Deactivate();
}

TEST_F(ServerFixture, ServicesJoinAndLeaveAnActiveServerWhileItsTimerRunsThem) {
  TZORServer server(Log, Settings);
  server.Activate();
  TTickingService witness(&server, 0x1100, "Witness");
  witness.SetEnabled(true);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    // Each service leaves (and is freed) right after its timer ran: the timer thread is busy
    // with the list at that moment, and the next one is built at the same address.
    TTickingService service(&server, 0x1000, "Ticking");
    service.SetEnabled(true);
    ASSERT_TRUE(testing::WaitFor([&] { return service.Ticks.load() > 0; }));
  }
  // A service that left is never run again, while the timer goes on running the others.
  TTickingService gone(&server, 0x1000, "Gone");
  gone.SetEnabled(true);
  ASSERT_TRUE(testing::WaitFor([&] { return gone.Ticks.load() > 0; }));
  server.RemoveService(&gone);
  const int ticksWhenRemoved = gone.Ticks.load();
  const int witnessTicks = witness.Ticks.load();
  ASSERT_TRUE(testing::WaitFor([&] { return witness.Ticks.load() >= witnessTicks + 3; }));
  EXPECT_EQ(gone.Ticks.load(), ticksWhenRemoved);
  server.Deactivate();
}

TEST_F(ServerFixture, RemovingAServiceWaitsForItsRunningCommandAndItMayRemoveItself) {
  // Command base+1 waits until its removal has been asked for, then ends; base+2 removes
  // its own service from inside the handler.
  class TBlockingService : public TZORService {
   public:
    explicit TBlockingService(TZORServer* server)
        : TZORService(server, kServiceMayStop, 0x2000, "test", "Blocking") {
      RegisterCommand(0x2001, [this](TServiceMessage&) {
        std::unique_lock guard(Lock);
        Entered = true;
        Changed.notify_all();
        Changed.wait(guard, [this] { return Removing; });
        guard.unlock();
        Note("command ended");
      });
      RegisterCommand(0x2002, [this](TServiceMessage&) {
        Server()->RemoveService(this);
        Note("removed itself");
      });
    }
    ~TBlockingService() override { LeaveServer(); }
    void Note(const std::string& what) {
      std::lock_guard guard(Lock);
      Order.push_back(what);
    }
    std::mutex Lock;
    std::condition_variable Changed;
    bool Entered = false, Removing = false;
    std::vector<std::string> Order;
  };

  TZORServer server(Log, Settings);
  TBlockingService service(&server);
  service.SetEnabled(true);
  std::thread command([&] {
    TServiceMessage message;
    message.Command = 0x2001;
    server.Dispatch(message);
  });
  {
    std::unique_lock guard(service.Lock);
    service.Changed.wait(guard, [&] { return service.Entered; });
    service.Removing = true;
    service.Changed.notify_all();
  }
  server.RemoveService(&service);
  service.Note("removal returned");
  command.join();
  EXPECT_EQ(service.Order, (std::vector<std::string>{"command ended", "removal returned"}));
  EXPECT_EQ(service.Server(), nullptr);
  EXPECT_TRUE(server.Services().empty());

  server.AddService(&service);
  TServiceMessage message;
  message.Command = 0x2002;
  server.Dispatch(message);  // returns: a handler does not wait for itself
  EXPECT_EQ(service.Order.back(), "removed itself");
  EXPECT_EQ(service.Server(), nullptr);
}

TEST_F(ServerFixture, AServiceThatMayNotStopRefusesToBeDisabled) {
  TZORServer server(Log, Settings);
  TRecordingService service(&server, 0x1000, "Core", 0);
  service.SetEnabled(true);
  try {
    service.SetEnabled(false);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "这个服务禁止被停止运行！");
  }
  EXPECT_TRUE(service.Enabled());
}

TEST_F(ServerFixture, ActivationGuardsAndListenersThatAreAlreadyThere) {
  struct TFakeListener : TServerListener {
    explicit TFakeListener(std::string text, int* starts) : Text(std::move(text)), Starts(starts) {}
    const char* ClassName() const override { return "TFakeListener"; }
    std::string ConnectString() const override { return Text; }
    void Start(TZORServer&) override { ++*Starts, IsRunning = true; }
    void Stop() override { IsRunning = false; }
    bool Running() const override { return IsRunning; }
    std::string Text;
    int* Starts;
    bool IsRunning = false;
  };
  int starts = 0;
  TZORServer server(Log, Settings);
  server.AddListener(std::make_unique<TFakeListener>("BoundPort=768", &starts));
  EXPECT_EQ(starts, 0);
  try {
    server.AddListener(std::make_unique<TFakeListener>("BoundPort=768", &starts));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The handler with connect string [BoundPort=768] is already on server!");
  }
  try {
    server.CheckActive(true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The server is not actived!");
  }
  server.Activate();
  EXPECT_EQ(starts, 1);
  server.AddListener(std::make_unique<TFakeListener>("BoundPort=769", &starts));  // starts at once
  EXPECT_EQ(starts, 2);
  try {
    server.Activate();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "The server is actived!");
  }
  server.Deactivate();
  for (TServerListener* listener : server.Listeners()) EXPECT_FALSE(listener->Running());
}

}  // namespace
}  // namespace zor
