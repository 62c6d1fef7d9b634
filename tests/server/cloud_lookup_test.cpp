// The cloud lookup end to end: the real cloud client library, copied into a folder of its
// own and loaded from there, asks the lookup service running in this test on 127.0.0.1;
// and the service's table and answers on their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/socket.h"
#include "server/lookup_service.h"
#include "server/lookup_service_table.h"
#include "startup/server_settings/cloud_client_library.h"
#include "startup/server_settings/cloud_log.h"
#include "startup/server_settings/cloud_lookup.h"
#include "startup/server_settings/server_settings_model.h"
#include "support/expect_error.h"
#include "support/registry_test_dir.h"
#include "support/temp_folder.h"
#include "transport/http_client.h"
#include "update/release_guard.h"
#include "update/release_signature.h"

namespace zor {
namespace {

constexpr const char* kTable = R"({
  "Enterprises": [
    {"EnterpriseID": "80001234", "APPServerName": "app1.example.com", "APPPort": 769, "DBName": "DB01"},
    {"EnterpriseID": " 统编-7 ", "APPServerName": "10.0.0.7", "note": "ignored"}
  ]
})";

class CloudLookupTest : public ::testing::Test {
 protected:
  CloudLookupTest() : Service(Log, TLookupTable::Parse(kTable)) {
    Log.SetUseStdErr(false);
    std::filesystem::copy_file(std::string(ZOR_BIN_DIR) + "/M880CloudClient.dll",
                               Folder.Dir() / "M880CloudClient.dll");
    Service.Start("127.0.0.1", 0);
    Address = "127.0.0.1:" + std::to_string(Service.Port());
  }

  TServerLog Log;
  testing::TempFolder Folder;
  TLookupService Service;
  std::string Address;
};

TEST_F(CloudLookupTest, LibraryLoadedFromItsFolderAsksTheService) {
  const TCloudClientLibrary library(Folder.Dir().string());
  ASSERT_NE(library.Factory(), nullptr) << library.LoadError();
  const TCloudLookupAnswer answer = LookupServerInfo(library.Factory(), Address, "80001234", "");
  EXPECT_EQ(answer.AppServer, "app1.example.com");
  EXPECT_EQ(answer.DbName, "DB01");
  const TCloudLookupAnswer second = LookupServerInfo(library.Factory(), Address, "统编-7", "");
  EXPECT_EQ(second.AppServer, "10.0.0.7");
  EXPECT_EQ(second.DbName, "");
  EXPECT_EQ(Service.Answered(), 2u);
}

TEST_F(CloudLookupTest, FailuresComeBackAsTheDialogShowsThem) {
  const TCloudClientLibrary library(Folder.Dir().string());
  ASSERT_NE(library.Factory(), nullptr) << library.LoadError();
  testing::ExpectError([&] { LookupServerInfo(library.Factory(), Address, "999", ""); },
                       "Exception",
                       "没有查询到统编999的信息(no server is registered for enterprise id 999)");
  testing::ExpectError<ECloudClientError>(
      [&] { LookupServerInfo(library.Factory(), "bad host:x", "1", ""); }, "ECloudClientError",
      "invalid lookup server address \"bad host:x\"");
  Service.Stop();
  testing::ExpectError<ECloudClientError>(
      [&] { LookupServerInfo(library.Factory(), Address, "1", ""); }, "ECloudClientError",
      "cannot connect to " + Address + ": " + SocketErrorText(SocketErrorConnectionRefused()));
}

TEST_F(CloudLookupTest, LibraryLogsIntoTheGivenFolder) {
  const TCloudClientLibrary library(Folder.Dir().string());
  ASSERT_NE(library.Factory(), nullptr) << library.LoadError();
  const std::filesystem::path logs = Folder.Dir() / "cloudlogs";
  LookupServerInfo(library.Factory(), Address, "80001234", logs.string());
  std::ifstream in(logs / "M880CloudClient.log");
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find(" call 1 /M880Cloud/Call?Code=1&P0=0&P1=80001234 -> 200"), std::string::npos)
      << line;
}

// The library runs as the user: it is loaded only from a folder nobody else may write into,
// only when nobody else may write the file, and with a signed release only when it is the
// signed one.
TEST_F(CloudLookupTest, ALibraryOthersCouldHaveWrittenOrThatIsNotSignedIsNotLoaded) {
  namespace fs = std::filesystem;
  const std::string dir = Folder.Dir().string();
  const std::string lib = dir + "/M880CloudClient.dll";
  const auto expectRefused = [&](const std::string& message) {
    TCloudClientLibrary library(dir);
    EXPECT_EQ(library.Factory(), nullptr);
    EXPECT_EQ(library.LoadError(), message);
  };
  fs::permissions(lib, fs::perms::group_write, fs::perm_options::add);
  expectRefused(lib + " belongs to another user or others may write it; it is not loaded");
  fs::permissions(lib, fs::perms::group_write, fs::perm_options::remove);
  fs::permissions(dir, fs::perms::others_write, fs::perm_options::add);
  expectRefused("the folder of " + lib + " may be written by other users; it is not loaded");
  fs::permissions(dir, fs::perms::others_write, fs::perm_options::remove);

  TReleaseManifest manifest;
  manifest.Files = {{"M880CloudClient.dll", 1, std::string(64, 'a'), "0.0.0.0", 0}};
  SetReleaseGuard(std::make_shared<TReleaseGuard>(manifest, 0));
  expectRefused(lib + " is not the library of the signed release; it is not loaded");
  const TFileDigest digest = DigestFile(lib);
  manifest.Files[0].Size = digest.Size;
  manifest.Files[0].Sha256 = digest.Sha256;
  SetReleaseGuard(std::make_shared<TReleaseGuard>(manifest, 0));
  {
    TCloudClientLibrary library(dir);
    EXPECT_NE(library.Factory(), nullptr) << library.LoadError();
  }
  SetReleaseGuard(nullptr);
}

TEST_F(CloudLookupTest, MissingLibraryOrFactoryLeavesItUnset) {
  const TCloudClientLibrary missing((Folder.Dir() / "nowhere").string());
  EXPECT_EQ(missing.Factory(), nullptr);
  EXPECT_FALSE(missing.LoadError().empty());
  // A shared object without the factory: any other library of the system serves.
  testing::TempFolder other;
  std::filesystem::copy_file(std::string(ZOR_BIN_DIR) + "/M880CloudClient.dll",
                             other.Dir() / "x.dll");
  std::ofstream(other.Dir() / "M880CloudClient.dll") << "not a library";
  const TCloudClientLibrary broken(other.Dir().string());
  EXPECT_EQ(broken.Factory(), nullptr);
  EXPECT_FALSE(broken.LoadError().empty());
}

TEST_F(CloudLookupTest, TheDialogStoresWhatTheServiceAnswers) {
  testing::RegistryTestDir registry;
  SetCloudLogSettings({true, (Folder.Dir() / "Logs").string()});
  const TCloudClientLibrary library(Folder.Dir().string());
  TRegistryKeySource source("\\Software\\ZOR\\DK880", true);
  TServerSettingsEnvironment env;
  env.Settings = &source;
  env.CloudFactory = library.Factory();
  env.Lcid = 2052;
  const bool changed = ShowServerSettings(env, [&](TServerSettingsModel& model) {
    model.edtSoapServerName = Address;
    model.edtEnterpriseID = "80001234";
    model.btnOKClick();  // the reachability check is the real TCP connect
  });
  SetCloudLogSettings({false, ""});
  EXPECT_TRUE(changed);
  TZORRegistry reg(RegRoot::LocalMachine, KEY_READ);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\ZOR\\DK880"));
  EXPECT_EQ(reg.ReadStringDef("RemoteServer", "?"), "app1.example.com");
  EXPECT_EQ(reg.ReadStringDef("DBName", "?"), "DB01");
  EXPECT_EQ(reg.ReadIntegerDef("TCPPort", 0), 768);
  EXPECT_EQ(reg.ReadStringDef("SOAPServerName", "?"), Address);
  std::ifstream in(Folder.Dir() / "Logs" / "CloudM880Log-EPID_80001234.Log", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("RW880-SOAP:Begin EPID = 80001234   WebSite = " + Address + " \r\n"),
            std::string::npos);
  EXPECT_NE(text.find("RW880-SOAP:End APP = app1.example.com   DBName = DB01 \r\n"),
            std::string::npos);

  Service.Stop();
  testing::ExpectError(
      [&] {
        TServerSettingsModel model(env);
        model.FormCreate();
        model.edtSoapServerName = Address;
        model.btnOKClick();
      },
      "无法连接到SOAP服务器:" + Address);
}

// One client holding lookups open (sending nothing) keeps only its own address out: others
// are still answered, and the held ones end at the request time-out.
TEST_F(CloudLookupTest, OneAddressGetsNoMoreThanItsShareOfTheLookups) {
  int error = 0;
  const auto connectFrom = [&](uint32_t from) {
    const int s = CreateSocket(SocketKind::Stream, error);
    EXPECT_TRUE(BindSocket(s, SocketAddress{from, 0}, error));
    EXPECT_TRUE(StartConnect(s, SocketAddress{0x7F000001, Service.Port()}, error));
    EXPECT_GT(PollSocket(s, kPollWritable, 5000, error), 0);
    return s;
  };
  const auto exchange = [&](int s, const std::string& request) {
    SocketSend(s, request.data(), static_cast<int64_t>(request.size()), error);
    std::string reply;
    char buffer[512];
    while (PollSocket(s, kPollReadable, 5000, error) > 0) {
      const int64_t got = SocketReceive(s, buffer, sizeof(buffer), error);
      if (got <= 0) break;
      reply.append(buffer, static_cast<size_t>(got));
    }
    CloseSocket(s);
    return reply;
  };
  std::vector<int> held;
  for (size_t i = 0; i < kMaxLookupsPerAddress; ++i) held.push_back(connectFrom(0x7F000001));
  const std::string lookup = "GET /M880Cloud/Call?Code=1&P1=80001234 HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string refused = exchange(connectFrom(0x7F000001), lookup);
  EXPECT_TRUE(refused.starts_with("HTTP/1.1 503 ")) << refused;
  EXPECT_TRUE(refused.ends_with("too many lookups from your address at once; try again"))
      << refused;
  const std::string answered = exchange(connectFrom(0x7F000002), lookup);
  EXPECT_TRUE(answered.starts_with("HTTP/1.1 200 ")) << answered;
  EXPECT_NE(answered.find("app1.example.com"), std::string::npos) << answered;
  // The held ones are given up at the time-out: the server closes them without an answer.
  for (const int s : held) EXPECT_EQ(exchange(s, ""), "");
}

TEST_F(CloudLookupTest, ServiceRefusesMalformedRequests) {
  HttpAddress address;
  ASSERT_TRUE(ParseHttpAddress(Address, address));
  HttpRequest request{"GET", "/M880Cloud/Call?Code=1&P1=%zz", {}, ""};
  const HttpResponse response = HttpExchange(address, request, 5000);
  EXPECT_EQ(response.Status, 400);
  EXPECT_EQ(response.Body, "malformed percent-encoding in \"%zz\"");
  // Bytes that are no HTTP request at all.
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  ASSERT_TRUE(StartConnect(s, SocketAddress{0x7F000001, Service.Port()}, error));
  ASSERT_GT(PollSocket(s, kPollWritable, 5000, error), 0);
  const std::string junk = "\x01\x02 nonsense\r\n\r\n";
  ASSERT_EQ(SocketSend(s, junk.data(), static_cast<int64_t>(junk.size()), error),
            static_cast<int64_t>(junk.size()));
  std::string reply;
  char buffer[512];
  while (PollSocket(s, kPollReadable, 5000, error) > 0) {
    const int64_t got = SocketReceive(s, buffer, sizeof(buffer), error);
    if (got <= 0) break;
    reply.append(buffer, static_cast<size_t>(got));
  }
  CloseSocket(s);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 400 Bad Request\r\n")) << reply;
  EXPECT_TRUE(reply.ends_with("malformed HTTP message: request line")) << reply;
}

TEST(LookupService, Answers) {
  const TLookupTable table = TLookupTable::Parse(kTable);
  struct Case {
    const char* method;
    std::string target;
    int status;
    std::string body;
  } const kCases[] = {
      {"GET", "/M880Cloud/Call?Code=1&P0=0&P1=80001234", 200,
       R"({"ServerInfoData":[{"EnterpriseID":"80001234","APPServerName":"app1.example.com","APPPort":769,"DBName":"DB01"}]})"},
      {"GET", "/M880Cloud/Call?Code=1&P0=0&P1=%20" + PercentEncode("统编-7"), 200,
       R"({"ServerInfoData":[{"EnterpriseID":"统编-7","APPServerName":"10.0.0.7","APPPort":768,"DBName":""}]})"},
      {"GET", "/M880Cloud/Call?Code=1&P0=0&P1=8000", 404,
       "no server is registered for enterprise id 8000"},
      {"GET", "/M880Cloud/Call?Code=2&P1=1", 400, "unknown function code 2"},
      {"GET", "/M880Cloud/Call?P1=1", 400, "unknown function code (none)"},
      {"GET", "/M880Cloud/Call?Code=1&P1=", 400, "no enterprise id"},
      {"GET", "/other?Code=1&P1=1", 404, "no such service: /other"},
      {"POST", "/M880Cloud/Call?Code=1&P1=1", 405, "only GET is answered"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.target);
    const HttpResponse response =
        AnswerLookupRequest(table, HttpRequest{c.method, c.target, {}, ""});
    EXPECT_EQ(response.Status, c.status);
    EXPECT_EQ(response.Body, c.body);
  }
}

TEST(LookupService, TableRules) {
  struct Case {
    std::string json;
    std::string message;
  } const kCases[] = {
      {"[", "t: not valid JSON (at byte 2)"},
      {"[]", "t: the top level must be an object"},
      {"[-1e99999]", "t: not valid JSON (a number out of range)"},
      {R"({"Enterprises":{}})", "t: \"Enterprises\" must be a list"},
      {R"({"Enterprises":[1]})", "t: entry 1 is not an object"},
      {R"({"Enterprises":[{"APPServerName":"a"}]})", "t: entry 1 has no \"EnterpriseID\""},
      {R"({"Enterprises":[{"EnterpriseID":" ","APPServerName":"a"}]})",
       "t: entry 1 has an empty \"EnterpriseID\""},
      {R"({"Enterprises":[{"EnterpriseID":5,"APPServerName":"a"}]})",
       "t: entry 1: \"EnterpriseID\" must be text"},
      {R"({"Enterprises":[{"EnterpriseID":"1"}]})", "t: entry 1 has no \"APPServerName\""},
      {R"({"Enterprises":[{"EnterpriseID":"1","APPServerName":"a","APPPort":0}]})",
       "t: entry 1: \"APPPort\" must be a port number 1..65535"},
      {R"({"Enterprises":[{"EnterpriseID":"1","APPServerName":"a","APPPort":"80"}]})",
       "t: entry 1: \"APPPort\" must be a port number 1..65535"},
      {R"({"Enterprises":[{"EnterpriseID":"1","APPServerName":"a","DBName":1}]})",
       "t: entry 1: \"DBName\" must be text"},
      {R"({"Enterprises":[{"EnterpriseID":"1","APPServerName":"a"},{"EnterpriseID":" 1","APPServerName":"b"}]})",
       "t: entry 2 repeats the enterprise id \"1\""},
      {R"({"Enterprises":[)" + std::string(40, '[') + std::string(40, ']') + "]}",
       "t: nested deeper than 16 levels"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.json.substr(0, 80));
    testing::ExpectError<ELookupTableError>([&] { TLookupTable::Parse(c.json, "t"); },
                                            "ELookupTableError", c.message);
  }
  testing::ExpectError<ELookupTableError>([] { TLookupTable::Load("/nonexistent/table.json"); },
                                          "ELookupTableError",
                                          "/nonexistent/table.json: cannot be read");
  testing::TempFolder folder;
  const std::string path = folder.WriteFile("table.json", kTable);
  EXPECT_EQ(TLookupTable::Load(path).Size(), 2u);
}

}  // namespace
}  // namespace zor
