// The health port: the verdicts and metrics from a set of figures, and the port of a live
// server over a signed release, which a balancer asks while the release is changed under
// it, while clients use it and while it drains.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "base/format.h"
#include "intercom/client_connection.h"
#include "server/health_service.h"
#include "server/release_command.h"
#include "server/server_texts.h"
#include "support/expect_error.h"
#include "support/live_server.h"
#include "support/wait_for.h"
#include "transport/http_client.h"
#include "update/remote_file.h"

namespace zor {
namespace {

THealthFigures Healthy() {
  THealthFigures figures;
  figures.Active = true;
  figures.LoopSilence = std::chrono::seconds(1);
  figures.FileService = true;
  figures.Manifest = TManifestStatus{ManifestState::Matches, 7, 0};
  return figures;
}

TEST(HealthReport, LivenessAndReadinessSayWhy) {
  struct Case {
    const char* Name;
    std::function<void(THealthFigures&)> Change;
    bool Live;
    const char* LiveText;
    bool Ready;
    const char* ReadyText;
  } const kCases[] = {
      {"healthy", [](THealthFigures&) {}, true, "live", true, "ready (release 7)"},
      {"no manifest",
       [](THealthFigures& f) {
         f.Manifest = {ManifestState::None, 0, 0};
       },
       true, "live", true, "ready (no release manifest)"},
      {"stopped", [](THealthFigures& f) { f.Active = false; }, false, "the server is not running",
       false, "the server is not running"},
      {"loop silent just long enough", [](THealthFigures& f) { f.LoopSilence = kMaxLoopSilence; },
       true, "live", true, "ready (release 7)"},
      {"loop silent too long",
       [](THealthFigures& f) { f.LoopSilence = kMaxLoopSilence + std::chrono::seconds(1); }, false,
       "the server's loop has not gone round for 31 s", false,
       "the server's loop has not gone round for 31 s"},
      {"draining", [](THealthFigures& f) { f.Draining = true; }, true, "live", false,
       "draining: no new clients"},
      {"no file service", [](THealthFigures& f) { f.FileService = false; }, true, "live", false,
       "the file service is not running"},
      {"not scanned", [](THealthFigures& f) { f.Manifest = {}; }, true, "live", false,
       "the release folder was not scanned yet"},
      {"differs",
       [](THealthFigures& f) {
         f.Manifest = {ManifestState::Differs, 7, 2};
       },
       true, "live", false,
       "the release folder differs from its manifest (the log names the files)"},
      {"unreadable",
       [](THealthFigures& f) {
         f.Manifest = {ManifestState::Unreadable, 0, 0};
       },
       true, "live", false, "the release manifest cannot be read"},
      {"packing", [](THealthFigures& f) { f.Packing = true; }, true, "live", false,
       "the release is being packed"},
      // A folder that differs is reported before the packing of it.
      {"differs while packing",
       [](THealthFigures& f) {
         f.Packing = true;
         f.Manifest = {ManifestState::Differs, 7, 1};
       },
       true, "live", false,
       "the release folder differs from its manifest (the log names the files)"},
  };
  for (const Case& c : kCases) {
    THealthFigures figures = Healthy();
    c.Change(figures);
    const THealthVerdict live = LivenessOf(figures);
    const THealthVerdict ready = ReadinessOf(figures);
    EXPECT_EQ(live.Ok, c.Live) << c.Name;
    EXPECT_EQ(live.Text, c.LiveText) << c.Name;
    EXPECT_EQ(ready.Ok, c.Ready) << c.Name;
    EXPECT_EQ(ready.Text, c.ReadyText) << c.Name;
  }
}

TEST(HealthReport, AnswersTheThreePathsAndNothingElse) {
  THealthFigures draining = Healthy();
  draining.Draining = true;
  struct Case {
    std::string Method;
    std::string Target;
    THealthFigures Figures;
    int Status;
    std::string Body;  // "" for the metrics, checked apart
  } const kCases[] = {
      {"GET", "/live", Healthy(), 200, "live\n"},
      {"GET", "/ready", Healthy(), 200, "ready (release 7)\n"},
      {"GET", "/ready?from=haproxy", Healthy(), 200, "ready (release 7)\n"},
      {"GET", "/ready", draining, 503, "draining: no new clients\n"},
      {"GET", "/live", draining, 200, "live\n"},
      {"GET", "/", Healthy(), 404, "no such check: /"},
      {"GET", "/ready/../metrics", Healthy(), 404, "no such check: /ready/../metrics"},
      {"POST", "/ready", Healthy(), 405, "only GET is answered"},
      {"OPTIONS", "/", Healthy(), 405, "only GET is answered"},
      {"GET", "/ready?%zz", Healthy(), 400, "malformed percent-encoding in \"%zz\""},
  };
  for (const Case& c : kCases) {
    const HttpResponse response =
        AnswerHealthRequest(c.Figures, HttpRequest{c.Method, c.Target, {}, ""});
    EXPECT_EQ(response.Status, c.Status) << c.Method << " " << c.Target;
    EXPECT_EQ(response.Body, c.Body) << c.Method << " " << c.Target;
  }
  const HttpResponse metrics =
      AnswerHealthRequest(Healthy(), HttpRequest{"GET", "/metrics", {}, ""});
  EXPECT_EQ(metrics.Status, 200);
  EXPECT_EQ(metrics.Body, MetricsText(Healthy()));
  ASSERT_EQ(metrics.Headers.size(), 1u);
  EXPECT_EQ(metrics.Headers[0].Value, "text/plain; version=0.0.4; charset=utf-8");
}

// Every sample line belongs to a family announced before it, with its HELP and TYPE, and
// reads "name value" or "name{label="value"} value".
void ExpectWellFormedMetrics(const std::string& text) {
  static const std::regex kSample(R"(([a-z_]+)(\{[a-z]+="[a-z_]+"\})? (-?[0-9]+))");
  static const std::regex kComment(R"(# (HELP|TYPE) ([a-z_]+) (.+))");
  std::set<std::string> helped, typed;
  std::istringstream lines(text);
  std::string line;
  int samples = 0;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_match(line, match, kComment)) {
      (match[1] == "HELP" ? helped : typed).insert(match[2]);
      if (match[1] == "TYPE") {
        EXPECT_TRUE(match[3] == "gauge" || match[3] == "counter") << line;
      }
      continue;
    }
    ASSERT_TRUE(std::regex_match(line, match, kSample)) << "not a sample: " << line;
    EXPECT_TRUE(helped.contains(match[1]) && typed.contains(match[1])) << line;
    ++samples;
  }
  EXPECT_GT(samples, 0);
}

TEST(HealthReport, MetricsCarryEveryFigureUnderItsName) {
  THealthFigures figures = Healthy();
  figures.Manifest = TManifestStatus{ManifestState::Differs, 12, 3};
  figures.Packing = true;
  figures.Sessions = 6;
  figures.Reading = 1;
  figures.Executing = 2;
  figures.Detached = 3;
  figures.Connections = 3;
  figures.BytesServed = 123456789012;
  figures.Packs = 40;
  figures.PacksRejected = 2;
  figures.Refusals[static_cast<size_t>(RefusalReason::AddressFull)] = 5;
  figures.Refusals[static_cast<size_t>(RefusalReason::ProxyHeader)] = 1;
  const std::string text = MetricsText(figures);
  ExpectWellFormedMetrics(text);
  for (const char* line : {
           "zor_live 1",
           "zor_ready 0",
           "zor_draining 0",
           "zor_sessions 6",
           "zor_session_state{state=\"reading\"} 1",
           "zor_session_state{state=\"executing\"} 2",
           "zor_session_state{state=\"detached\"} 3",
           "zor_connections 3",
           "zor_served_bytes_total 123456789012",
           "zor_packs_total 40",
           "zor_packs_rejected_total 2",
           "zor_packing 1",
           "zor_refusals_total{reason=\"server_full\"} 0",
           "zor_refusals_total{reason=\"address_full\"} 5",
           "zor_refusals_total{reason=\"proxy_header\"} 1",
           "zor_refusals_total{reason=\"logon_first\"} 0",
           "zor_refusals_total{reason=\"logon_refused\"} 0",
           "zor_refusals_total{reason=\"request_too_large\"} 0",
           "zor_refusals_total{reason=\"resume_refused\"} 0",
           "zor_refusals_total{reason=\"other_release\"} 0",
           "zor_release_counter 12",
           "zor_manifest_state{state=\"unchecked\"} 0",
           "zor_manifest_state{state=\"none\"} 0",
           "zor_manifest_state{state=\"matches\"} 0",
           "zor_manifest_state{state=\"differs\"} 1",
           "zor_manifest_state{state=\"unreadable\"} 0",
           "zor_manifest_differences 3",
       })
    EXPECT_NE(text.find(std::string("\n") + line + "\n"), std::string::npos) << line;
}

// A live server over a signed release with its health port on loopback.
class HealthPortTest : public ::testing::Test {
 protected:
  HealthPortTest() : Live(TSessionSettings{}, /*packAhead=*/true) {
    Live.Log.SetLevel(LogLevel::Debug);
    Live.Log.AddSink([this](LogLevel level, std::string_view tag, std::string_view text) {
      std::lock_guard guard(LinesLock);
      if (tag == "Health") HealthLines.emplace_back(level, std::string(text));
    });
    std::mt19937 random(28);
    std::string data(kDataSize, '\0');
    for (char& c : data) c = static_cast<char>(random());
    Data = data;
    Live.Folder.WriteFile("release/Data.bin", Data);
    Live.Folder.WriteFile("release/ZORSys.ini", "[System]\r\nMainExe=IClient\r\n");
    Sign();
    Live.Start();
    Health = std::make_unique<THealthService>(*Live.Server, Live.Files.get());
    Health->Start("127.0.0.1", 0);
    Address = HttpAddress{"127.0.0.1", Health->Port(), true, ""};
  }
  ~HealthPortTest() override {
    Health->Stop();
    Live.Stop();
  }

  void Sign() {
    const std::string key = (Live.Folder.Dir() / "release.key").string();
    std::ostringstream out, err;
    if (!std::filesystem::exists(key)) {
      ASSERT_EQ(RunReleaseCommand({"keygen", key}, out, err, std::chrono::system_clock::now()), 0)
          << err.str();
    }
    ASSERT_EQ(RunReleaseCommand({"sign", "--key", key, "--release", Live.Release.string()}, out,
                                err, std::chrono::system_clock::now()),
              0)
        << err.str();
  }

  HttpResponse Get(const std::string& target) {
    return HttpExchange(Address, HttpRequest{"GET", target, {}, ""}, 5000);
  }
  // The value of the sample line that starts with `name` + " ", or -1.
  int64_t Metric(const std::string& name) {
    const std::string text = "\n" + Get("/metrics").Body;
    const size_t at = text.find("\n" + name + " ");
    if (at == std::string::npos) return -1;
    return std::stoll(text.substr(at + name.size() + 2));
  }
  bool ReadyIs(int status, const std::string& body) {
    const HttpResponse response = Get("/ready");
    return response.Status == status && response.Body == body;
  }

  static constexpr size_t kDataSize = 60'000;
  testing::LiveServer Live;
  std::string Data;
  std::unique_ptr<THealthService> Health;
  HttpAddress Address;
  std::mutex LinesLock;
  std::vector<std::pair<LogLevel, std::string>> HealthLines;
};

TEST_F(HealthPortTest, ReadyOnlyWhileTheFolderMatchesItsManifestAndMetricsMoveWithUse) {
  ASSERT_TRUE(testing::WaitFor([&] { return ReadyIs(200, "ready (release 1)\n"); }))
      << Get("/ready").Body;
  EXPECT_EQ(Get("/live").Status, 200);
  EXPECT_EQ(Metric("zor_release_counter"), 1);
  EXPECT_EQ(Metric("zor_manifest_state{state=\"matches\"}"), 1);
  EXPECT_EQ(Metric("zor_served_bytes_total"), 0);
  EXPECT_EQ(Metric("zor_sessions"), 0);

  // A command before the logon is refused and counted; a launcher's download is served.
  {
    testing::TTestClient early(Live.Port, {}, true, /*logOn=*/false);
    const auto refused = testing::Catch([&] { early.Execute(cmdFileList); });
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->Message, Format(kTextLogonFirst, {cmdFileList}));
  }
  EXPECT_EQ(Metric("zor_refusals_total{reason=\"logon_first\"}"), 1);
  auto connection =
      std::make_unique<TIcClientConnection>(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  connection->Connect(
      [](const std::string& text, int32_t, int32_t) { return std::make_unique<TTCPHandler>(text); },
      "Host=127.0.0.1:" + std::to_string(Live.Port));
  const std::filesystem::path client = Live.Folder.Dir() / "client";
  std::filesystem::create_directories(client);
  TRemoteCPSFile remote(connection.get(), client.string());
  std::string local;
  ASSERT_TRUE(remote.Download("Data.bin", "libs", nullptr, &local, "CHS", client.string()));
  // Random bytes do not shrink: the packed form carries at least all of them.
  EXPECT_GE(Metric("zor_served_bytes_total"), static_cast<int64_t>(kDataSize));
  EXPECT_GE(Metric("zor_session_state{state=\"reading\"}"), 1);

  // One byte changed in place (same size): not ready until the folder matches again.
  std::string changed = Data;
  changed[100] = static_cast<char>(changed[100] ^ 1);
  Live.Folder.WriteFile("release/Data.bin", changed);
  Live.Files->Release().Rescan();
  const HttpResponse differs = Get("/ready");
  EXPECT_EQ(differs.Status, 503);
  EXPECT_EQ(differs.Body,
            "the release folder differs from its manifest (the log names the files)\n");
  EXPECT_EQ(Metric("zor_manifest_state{state=\"differs\"}"), 1);
  EXPECT_EQ(Metric("zor_ready"), 0);
  EXPECT_EQ(Get("/live").Status, 200);

  // The publisher signs the new content: ready again, on the next release, once packed.
  Sign();
  Live.Files->Release().Rescan();
  ASSERT_TRUE(testing::WaitFor([&] { return ReadyIs(200, "ready (release 2)\n"); }))
      << Get("/ready").Body;
  EXPECT_EQ(Metric("zor_release_counter"), 2);

  // A balancer's checks are not logged at info.
  std::lock_guard guard(LinesLock);
  ASSERT_FALSE(HealthLines.empty());
  for (const auto& [level, text] : HealthLines) EXPECT_EQ(level, LogLevel::Debug) << text;
}

TEST_F(HealthPortTest, ADrainingServerIsLiveButNotReadyUntilItStops) {
  ASSERT_TRUE(testing::WaitFor([&] { return ReadyIs(200, "ready (release 1)\n"); }))
      << Get("/ready").Body;
  testing::TTestClient held(Live.Port);
  Live.Gate->Close();
  std::thread command([&] { held.Execute(0x1201, {TVariant("x")}); });
  Live.Gate->WaitEntered(1);
  EXPECT_EQ(Metric("zor_session_state{state=\"executing\"}"), 1);
  bool drained = false;
  std::thread drain([&] { drained = Live.Server->Drain(std::chrono::seconds(60)); });
  ASSERT_TRUE(testing::WaitFor([&] { return ReadyIs(503, "draining: no new clients\n"); }))
      << Get("/ready").Body;
  EXPECT_EQ(Get("/live").Status, 200);
  EXPECT_EQ(Metric("zor_draining"), 1);
  Live.Gate->Release();
  command.join();
  drain.join();
  EXPECT_TRUE(drained);
  const HttpResponse stopped = Get("/live");
  EXPECT_EQ(stopped.Status, 503);
  EXPECT_EQ(stopped.Body, "the server is not running\n");
}

}  // namespace
}  // namespace zor
