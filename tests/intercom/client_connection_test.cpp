// The client connection: greeting and logon (plain and enhanced, with the key change on both
// ends), the greeting's shape and character-set checks, the logoff notice, user logon,
// integrated authentication through a fake security package, message-centre registration,
// connecting from the settings and the default connection of a thread.
#include "intercom/client_connection.h"

#include <gtest/gtest.h>

#include "intercom/charset_conversion.h"
#include "intercom/client_connection_ex.h"
#include "intercom/connect_strings.h"
#include "intercom/default_connection.h"
#include "intercom/security_package.h"
#include "platform/locale.h"
#include "support/connection_fixture.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

using testing::ConnectionFixture;
using testing::ExpectError;
using testing::TTestServerConnection;

TVariantArray Greeting(std::string info, int32_t session = 4321, int32_t lang = kLcidChineseChina,
                       bool canConvert = false) {
  return {TVariant(std::move(info)), TVariant("Server text"), TVariant(session), TVariant(lang),
          TVariant(canConvert)};
}

// A client whose machine values are fixed, so the logon payload can be checked exactly.
class TFixedClient : public TClientConnectionEx {
 public:
  using TClientConnectionEx::TClientConnectionEx;
  std::string GetComputerName() override { return "PC-01"; }
  std::string GetLogonUserName() override { return "张三"; }
  std::string GetAdapterText() override { return "eth0 00-11-22-33-44-55"; }
  int32_t GetOSCode() override { return -1; }
  uint32_t GetTerminalSessionId() override { return 0; }
  std::pair<std::string, std::string> GetProgramNameAndFolder() override {
    return {"Client", "/opt/zor/"};
  }
};

class ClientConnectionTest : public ConnectionFixture {
 protected:
  ClientConnectionTest() : Lcid(kLcidChineseChina) { UseServer(DefaultEncrypt, DefaultDecrypt); }
  // The server thread uses members of this class: it ends before they go.
  ~ClientConnectionTest() override { JoinServer(); }

  void UseServer(TScrambleRoutine encrypt, TScrambleRoutine decrypt) {
    ServerPtr = std::make_unique<TTestServerConnection>(encrypt, kDefaultScrambleKey, decrypt);
    ServerPtr->ShortStreamMagic = 1;
  }
  TTestServerConnection& Srv() { return *ServerPtr; }

  // A handler class that hands out a fresh memory pipe; the server takes the other end.
  THandlerClass PipeClass() {
    return [this](const std::string& connectString, int32_t,
                  int32_t) -> std::unique_ptr<TIcIOHandler> {
      LastConnectString = connectString;
      auto [a, b] = MakeMemoryPipe();
      ClientEnd = a.get();
      ServerEnd = b.get();
      Srv().SetHandler(std::move(b));
      RunServer(Script);
      return std::move(a);
    };
  }

  // Greets, takes the logon, answers it, and switches to the key the logon named.
  void GreetAndLogon(TVariantArray greeting) {
    Srv().SendResultData(greeting);
    LogonRequest = Srv().ReceiveRequest();
    Srv().SendEmptyResult();
    if (LogonRequest.Header.Command == cmdLogonEx)
      Srv().SetKey(static_cast<uint32_t>(LogonRequest.Args[10].AsInteger()));
  }

  ScopedLcidOverride Lcid;
  std::unique_ptr<TTestServerConnection> ServerPtr;
  std::function<void()> Script;
  TReceivedRequest LogonRequest;
  std::string LastConnectString;
};

TEST_F(ClientConnectionTest, PlainLogonSendsThisMachinesValues) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] { GreetAndLogon(Greeting("ZOR Server\r\n-Other")); };
  client.Connect(PipeClass(), "memory");
  JoinServer();
  EXPECT_EQ(LogonRequest.Header.Command, cmdLogon);
  EXPECT_EQ(LogonRequest.Header.Sequence, 0u);
  const TVariantArray& a = LogonRequest.Args;
  ASSERT_EQ(a.size(), 10u);
  EXPECT_EQ(a[0], TVariant::Wide("PC-01"));
  EXPECT_EQ(a[1], TVariant::Wide("张三"));
  EXPECT_EQ(a[2], TVariant("eth0 00-11-22-33-44-55"));
  EXPECT_EQ(a[3], TVariant(-1));
  EXPECT_EQ(a[4], TVariant(static_cast<int32_t>(kLcidChineseChina)));
  EXPECT_EQ(a[5], TVariant(0));
  EXPECT_EQ(a[6].Type(), kVarInteger);
  EXPECT_EQ(a[7], TVariant("Client"));
  EXPECT_EQ(a[8], TVariant("/opt/zor/"));
  EXPECT_TRUE(a[9].IsEmpty());
  EXPECT_EQ(client.SessionId.load(), 4321u);
  EXPECT_EQ(client.ServerText, "Server text");
  EXPECT_EQ(client.ServerLangId, static_cast<int32_t>(kLcidChineseChina));
  EXPECT_EQ(client.GetKey(), kDefaultScrambleKey);
  EXPECT_EQ(client.ConvertCharset, 0);
}

TEST_F(ClientConnectionTest, EnhancedLogonChangesTheKeyOnBothEnds) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] {
    GreetAndLogon(Greeting("ZOR Server\r\n-EnhancedEncrypt"));
    const TReceivedRequest r = Srv().ReceiveRequest();  // read with the new key
    Srv().SendResultData(r.Args);
  };
  client.Connect(PipeClass(), "memory");
  EXPECT_EQ(client.ExecuteQueryData(0x1000, {}, {TVariant("after")}),
            TVariantArray{TVariant("after")});
  JoinServer();
  EXPECT_EQ(LogonRequest.Header.Command, cmdLogonEx);
  ASSERT_EQ(LogonRequest.Args.size(), 11u);
  const uint32_t newKey = static_cast<uint32_t>(LogonRequest.Args[10].AsInteger());
  EXPECT_EQ(client.GetKey(), newKey);
  EXPECT_NE(newKey, kDefaultScrambleKey);
  EXPECT_LE(__builtin_popcount(newKey ^ kDefaultScrambleKey), 8);
}

TEST_F(ClientConnectionTest, OptionLinesCountFromTheSecondLineOn) {
  struct Case {
    const char* Info;
    uint32_t Command;
  } const kCases[] = {
      {"-EnhancedEncrypt", cmdLogon},
      {"-EnhancedEncrypt\r\nServer", cmdLogon},
      {"Server\r\n-EnhancedEncryptX", cmdLogon},
      {"Server\r\n-A\r\n-EnhancedEncrypt", cmdLogonEx},
      {"Server\n-EnhancedEncrypt", cmdLogonEx},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Info);
    TFixedClient client;
    TTestServerConnection plain;
    client.Connect(
        [&](const std::string&, int32_t, int32_t) -> std::unique_ptr<TIcIOHandler> {
          auto [a, b] = MakeMemoryPipe();
          plain.SetHandler(std::move(b));
          plain.ShortStreamMagic = 1;
          RunServer([&] {
            plain.SendResultData(Greeting(c.Info));
            LogonRequest = plain.ReceiveRequest();
            plain.SendEmptyResult();
          });
          return std::move(a);
        },
        "memory");
    JoinServer();
    EXPECT_EQ(LogonRequest.Header.Command, c.Command);
    // Without scrambling the enhanced logon keeps the key it has.
    if (c.Command == cmdLogonEx) {
      EXPECT_EQ(LogonRequest.Args[10], TVariant(0));
    }
  }
}

TEST_F(ClientConnectionTest, AMalformedGreetingIsInvalidServerInformation) {
  const TVariantArray kGreetings[] = {
      {TVariant("a"), TVariant("b"), TVariant(1), TVariant(2052)},
      {TVariant("a"), TVariant("b"), TVariant(1), TVariant(2052), TVariant(1)},
      {TVariant(1), TVariant("b"), TVariant(1), TVariant(2052), TVariant(true)},
      {TVariant("a"), TVariant("b"), TVariant("1"), TVariant(2052), TVariant(true)},
      {TVariant("a"), TVariant("b"), TVariant(1), TVariant(2052), TVariant(true), TVariant(0)},
  };
  for (const TVariantArray& greeting : kGreetings) {
    TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    client.SessionId = 55;
    Script = [&] { Srv().SendResultData(greeting); };
    ExpectError<EServerError>([&] { client.Connect(PipeClass(), "memory"); },
                              "Invalid server information");
    JoinServer();
    EXPECT_EQ(client.SessionId.load(), 55u);   // restored on failure
    EXPECT_FALSE(ServerEnd->DataAvailable());  // no logon was sent
  }
}

TEST_F(ClientConnectionTest, AServerOfTheOtherScriptIsRefusedWithoutConversionTables) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] { Srv().SendResultData(Greeting("S", 1, kLcidChineseTaiwan, false)); };
  ExpectError<EIcError>(
      [&] { client.Connect(PipeClass(), "memory"); },
      "连接的服务器与本机的语系不同，而服务器或本机并不具备简繁转换的功能，无法建立连线。");
  JoinServer();
  EXPECT_FALSE(ServerEnd->DataAvailable());
}

TEST_F(ClientConnectionTest, WithTablesOrAConvertingServerTheConnectionIsMade) {
  struct TIdentity : TScriptConverter {
    std::string ToTraditional(std::string_view s) override { return std::string(s); }
    std::string ToSimplified(std::string_view s) override { return std::string(s); }
  } tables;
  struct Case {
    bool Tables;
    bool ServerConverts;
    uint8_t Expected;
  } const kCases[] = {{true, false, 1}, {false, true, 0}};
  for (const Case& c : kCases) {
    SetScriptConverter(c.Tables ? &tables : nullptr);
    TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
    Script = [&] { GreetAndLogon(Greeting("S", 1, kLcidChineseTaiwan, c.ServerConverts)); };
    client.Connect(PipeClass(), "memory");
    JoinServer();
    EXPECT_EQ(client.ConvertCharset, c.Expected);
  }
  SetScriptConverter(nullptr);
}

// Only ends in different Chinese sets (traditional = 1028, 3076) need conversion: the server
// converts when it says it can, else the client with its tables; with neither, the refusal.
TEST(CharsetDecisionTest, OnlyDifferentChineseSetsNeedConversionOrAreRefused) {
  enum Outcome { kPlain, kClientConverts, kRefused };
  const uint32_t kLanguages[] = {kLcidEnglishUs, kLcidChineseChina, kLcidChineseTaiwan,
                                 kLcidChineseHongKong};
  const auto traditional = [](uint32_t lcid) { return lcid == 1028 || lcid == 3076; };
  for (const uint32_t client : kLanguages) {
    for (const uint32_t server : kLanguages) {
      for (const bool serverConverts : {false, true}) {
        for (const bool clientTables : {false, true}) {
          SCOPED_TRACE(::testing::Message() << client << " -> " << server << " server converts "
                                            << serverConverts << " client tables " << clientTables);
          const bool differ = traditional(client) != traditional(server);
          const Outcome expected = !differ || serverConverts ? kPlain
                                   : clientTables            ? kClientConverts
                                                             : kRefused;
          bool asked = false;
          const auto tables = [&] {
            asked = true;
            return clientTables;
          };
          if (expected == kRefused) {
            ExpectError<EIcError>(
                [&] {
                  DecideCharsetConversion(traditional(client), server, serverConverts, tables);
                },
                "连接的服务器与本机的语系不同，而服务器或本机并不具备简繁转换的功能，无法建立连线"
                "。");
          } else {
            EXPECT_EQ(DecideCharsetConversion(traditional(client), server, serverConverts, tables),
                      expected == kClientConverts);
          }
          // The client's tables are looked at only when they are needed.
          EXPECT_EQ(asked, differ && !serverConverts);
        }
      }
    }
  }
}

TEST_F(ClientConnectionTest, AnEnglishServerServesASimplifiedClientWithoutTables) {
  SetScriptConverter(nullptr);
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] { GreetAndLogon(Greeting("S", 1, kLcidEnglishUs, false)); };
  client.Connect(PipeClass(), "memory");
  JoinServer();
  EXPECT_EQ(client.ConvertCharset, 0);
  EXPECT_EQ(client.Charsets.PeerCodePage, 1252u);  // its 8-bit strings go in the server's code page
}

TEST_F(ClientConnectionTest, ConnectOnAnActiveConnectionFailsAndAClosedOneIsReplaced) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] { GreetAndLogon(Greeting("S")); };
  client.Connect(PipeClass(), "memory");
  JoinServer();
  ExpectError<Exception>([&] { client.Connect(PipeClass(), "memory"); },
                         "This connection is actived!");
  client.Handler()->Close();
  Script = [&] { GreetAndLogon(Greeting("S", 999)); };
  client.Connect(PipeClass(), "memory");
  JoinServer();
  EXPECT_EQ(client.SessionId.load(), 999u);
}

TEST_F(ClientConnectionTest, DisconnectSendsTheLogoffNotice) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] { GreetAndLogon(Greeting("S")); };
  client.Connect(PipeClass(), "memory");
  JoinServer();
  client.AuthExpiry = 99999;
  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.AuthExpiry, 0);
  const TReceivedRequest bye = Srv().ReceiveRequest();
  EXPECT_EQ(bye.Header.Command, cmdLogoff);
  EXPECT_EQ(bye.Header.Options, 1);
  EXPECT_EQ(bye.Header.PayloadSize, 0u);
  EXPECT_EQ(client.Options, 0);
}

TEST_F(ClientConnectionTest, UserLogonSendsTheNameAndThreeTexts) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  TReceivedRequest logon;
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    logon = Srv().ReceiveRequest();
    Srv().SendEmptyResult();
  };
  client.Connect(PipeClass(), "memory");
  client.Logon("王五", "a", "b", "c");
  JoinServer();
  EXPECT_EQ(logon.Header.Command, cmdUserLogon);
  EXPECT_EQ(logon.Args,
            (TVariantArray{TVariant::Wide("王五"), TVariant("a"), TVariant("b"), TVariant("c")}));
}

// A package that sends two tokens and expects one answer between them.
class TFakePackage : public TSecurityPackage {
 public:
  struct TContext : TSecurityContext {
    TFakePackage& Owner;
    explicit TContext(TFakePackage& owner) : Owner(owner) {}
    TSecurityStep Step(std::span<const uint8_t> input) override {
      Owner.Inputs.emplace_back(input.begin(), input.end());
      if (Owner.Inputs.size() == 1) return {{1, 2, 3}, true};
      return {{9, 8}, false};
    }
  };
  std::unique_ptr<TSecurityContext> Begin(std::string_view name) override {
    PackageName = std::string(name);
    return std::make_unique<TContext>(*this);
  }
  std::string PackageName;
  std::vector<std::vector<uint8_t>> Inputs;
};

class AuthenticationTest : public ClientConnectionTest {
 protected:
  void TearDown() override { SetSecurityPackage(nullptr); }

  // The server side of the token exchange, after it has received command 35.
  void ServeTokenExchange(const TReceivedRequest& first) {
    EXPECT_EQ(first.Header.Command, cmdSecurityToken);
    Srv().SendResultData({TVariant::Wide("Negotiate")});
    for (int round = 0; round < 2; ++round) {
      THeaderBytes bytes;
      Srv().Handler()->ReadBuffer(bytes.data(), 32);
      DefaultDecrypt(bytes.data(), 32, Srv().GetKey());
      const RequestHeader h = RequestHeader::Decode(bytes);
      TokenHeaders.push_back(h);
      std::vector<uint8_t> token;
      Srv().Handler()->ReadStream(token);
      Tokens.push_back(token);
      if (round == 0) {
        Srv().SendEmptyResult();
        const std::vector<uint8_t> answer = {7, 7};
        Srv().Handler()->WriteStream(answer.data(), 2);
      }
    }
    Srv().SendResultData({TVariant::Wide("ok"), TVariant(Expiry)});
  }

  TFakePackage Package;
  std::vector<RequestHeader> TokenHeaders;
  std::vector<std::vector<uint8_t>> Tokens;
  double Expiry = ToDateTime(Clock.UtcNow()) + 1.0;
};

TEST_F(AuthenticationTest, LogonWithoutANameRunsTheTokenExchange) {
  SetSecurityPackage(&Package);
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    ServeTokenExchange(Srv().ReceiveRequest());
  };
  client.Connect(PipeClass(), "memory");
  client.Logon("");
  JoinServer();
  EXPECT_EQ(Package.PackageName, "Negotiate");
  ASSERT_EQ(Package.Inputs.size(), 2u);
  EXPECT_TRUE(Package.Inputs[0].empty());
  EXPECT_EQ(Package.Inputs[1], (std::vector<uint8_t>{7, 7}));
  EXPECT_EQ(Tokens, (std::vector<std::vector<uint8_t>>{{1, 2, 3}, {9, 8}}));
  for (const RequestHeader& h : TokenHeaders) {
    EXPECT_EQ(h.Command, cmdSecurityToken);
    EXPECT_EQ(h.Options, 1);
    EXPECT_EQ(h.PayloadSize, 0u);
  }
  EXPECT_EQ(TokenHeaders[1].Sequence, TokenHeaders[0].Sequence + 1);
  EXPECT_DOUBLE_EQ(client.AuthExpiry, Expiry);
  // Still valid: a second logon without a name sends nothing.
  client.Logon("");
  EXPECT_FALSE(ServerEnd->DataAvailable());
}

TEST_F(AuthenticationTest, AnAuthenticationRequestIsDeclinedWhileStillValid) {
  SetSecurityPackage(&Package);
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  TReceivedRequest decline;
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    Srv().ReceiveRequest();
    Srv().SendReply(kReplyAuthRequest, 0, {});
    decline = Srv().ReceiveRequest();
    Srv().SendResultData({TVariant(1)});
  };
  client.Connect(PipeClass(), "memory");
  client.AuthExpiry = ToDateTime(Clock.UtcNow()) + 0.5;
  EXPECT_EQ(client.ExecuteQuery(0x1000, {}), TVariantArray{TVariant(1)});
  JoinServer();
  EXPECT_EQ(decline.Header.Command, cmdSecurityDecline);
}

TEST_F(AuthenticationTest, WithoutAPackageAnAuthenticationRequestFailsClearly) {
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    Srv().ReceiveRequest();
    Srv().SendReply(kReplyAuthRequest, 0, {});
  };
  client.Connect(PipeClass(), "memory");
  ExpectError<EIcError>([&] { client.ExecuteCommand(0x1000); }, kNoSecurityPackageText);
  JoinServer();
  EXPECT_FALSE(client.Connected());  // out of step with the server: closed, not reconnected
  ExpectError<EIcError>([&] { client.Logon(""); }, kNoSecurityPackageText);
}

TEST_F(ClientConnectionTest, MessageCentreRegistrationAroundLogon) {
  // The memory pipe carries no message centre: a connection asked to register does not try.
  TFixedClient client(DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt);
  std::vector<uint32_t> commands;
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    for (int i = 0; i < 2; ++i) {
      const TReceivedRequest r = Srv().ReceiveRequest();
      commands.push_back(r.Header.Command);
      EXPECT_EQ(r.Header.Options, r.Header.Command == cmdMessageUnsubscribe ? 1 : 0);
      Srv().SendEmptyResult();
    }
  };
  client.Connect(PipeClass(), "memory");
  client.MessageCentre = true;
  client.Subscribed = true;  // registered earlier: a new logon leaves the centre first
  client.Logon("x");
  JoinServer();
  EXPECT_EQ(commands, (std::vector<uint32_t>{cmdMessageUnsubscribe, cmdUserLogon}));
  EXPECT_FALSE(client.Subscribed.load());
}

// ---- settings, connect strings, default connection ----

TEST(ConnectStringsTest, ThePipeNameTakesTheFirstPipeArgument) {
  EXPECT_EQ(ServerPipeName({"/x", "/pipe:Test", "/PIPE:other"}), "zorserverpipe6xTest");
  EXPECT_EQ(ServerPipeName({"/PIPE:"}), "zorserverpipe6x");
  EXPECT_EQ(ServerPipeName({}), "zorserverpipe6x");
}

class DefaultConnectionTest : public ClientConnectionTest {
 protected:
  void SetUp() override {
    SetHandlerClass(TTransportKind::Pipe, [this](const std::string& s, int32_t a, int32_t b) {
      Kinds.push_back("pipe");
      return PipeClass()(s, a, b);
    });
    SetHandlerClass(TTransportKind::Tcp, [this](const std::string& s, int32_t a, int32_t b) {
      Kinds.push_back("tcp");
      return PipeClass()(s, a, b);
    });
  }
  void TearDown() override {
    ClearCurrentConnection();
    JoinServer();
    SetHandlerClass(TTransportKind::Pipe, nullptr);
    SetHandlerClass(TTransportKind::Tcp, nullptr);
    SetConnectSettingsReader(nullptr);
    SetClientConnectEnvironment({});
  }
  std::vector<std::string> Kinds;
};

TEST_F(DefaultConnectionTest, TheSettingsChooseTransportAndConnectString) {
  struct Case {
    int32_t Type;
    bool NetMode;
    const char* Net;
    const char* Remote;
    std::vector<std::string> Args;
    const char* Kind;
    const char* ConnectString;
  } const kCases[] = {
      {0, true, "lan", "far", {}, "pipe", "\\\\far\\pipe\\zorserverpipe6x"},
      {5, true, "lan", "", {"/PIPE:2"}, "pipe", "\\\\lan\\pipe\\zorserverpipe6x2"},
      {1, true, "lan", "far", {}, "tcp", "Host=far:768"},
      {1, false, "lan", "far", {}, "tcp", "Host=lan:768"},
      {2, false, "", "far", {}, "tcp", "ZORHost=far:768"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ConnectString);
    SetConnectSettingsReader([&] {
      TConnectSettings s;
      s.ConnectType = c.Type;
      s.NetServer = c.Net;
      s.RemoteServer = c.Remote;
      return s;
    });
    TClientConnectEnvironment env;
    env.NetMode = c.NetMode;
    env.Arguments = c.Args;
    SetClientConnectEnvironment(env);
    Kinds.clear();
    Script = [&] { GreetAndLogon(Greeting("S")); };
    TIcConnection& connection = NewClientConnection();
    JoinServer();
    EXPECT_EQ(&connection, CurrentConnection());
    EXPECT_EQ(Kinds, std::vector<std::string>{c.Kind});
    EXPECT_EQ(LastConnectString, c.ConnectString);
    ClearCurrentConnection();
  }
}

TEST_F(DefaultConnectionTest, AFailedTcpConnectNamesTheServerAndPortItTried) {
  SetHandlerClass(TTransportKind::Tcp,
                  [](const std::string&, int32_t, int32_t) -> std::unique_ptr<TIcIOHandler> {
                    throw EConnectIOError("WinSock Error. Code: 111. Connection refused", nullptr,
                                          111);
                  });
  SetConnectSettingsReader([] {
    TConnectSettings s;
    s.ConnectType = 1;
    s.NetServer = "app1.example.com";
    s.TCPPort = 7680;
    return s;
  });
  TClientConnectEnvironment env;
  env.NetMode = false;
  SetClientConnectEnvironment(env);
  ExpectError<EConnectIOError>([] { NewClientConnection(); }, "EConnectIOError",
                               "WinSock Error. Code: 111. Connection refused\r\n"
                               "TCP app1.example.com:7680");
}

TEST_F(DefaultConnectionTest, TheDefaultConnectionIsReusedAndCheckedForAMasterServer) {
  SetConnectSettingsReader([] {
    TConnectSettings s;
    s.ConnectType = 1;
    s.NetServer = "lan";
    return s;
  });
  TClientConnectEnvironment env;
  env.NetMode = false;
  SetClientConnectEnvironment(env);
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    EXPECT_EQ(Srv().ReceiveRequest().Header.Command, cmdQueryProxy);
    Srv().SendResultData({TVariant(0)});
  };
  TIcConnection& first = GetDefaultConnection();
  JoinServer();
  EXPECT_EQ(&GetDefaultConnection(), &first);
  // A proxy answers not 0: refused, and the thread has no connection any more.
  ClearCurrentConnection();
  Script = [&] {
    GreetAndLogon(Greeting("S"));
    Srv().ReceiveRequest();
    Srv().SendResultData({TVariant(1)});
  };
  ExpectError<Exception>([] { GetDefaultConnection(); }, "服务器[lan]并不是主服务器，请重新设定！");
  JoinServer();
  EXPECT_EQ(CurrentConnection(), nullptr);
}

TEST_F(DefaultConnectionTest, ScramblingFollowsTheScrambleSetting) {
  for (bool scramble : {true, false}) {
    SetConnectSettingsReader([&] {
      TConnectSettings s;
      s.Scramble = scramble;
      return s;
    });
    UseServer(scramble ? DefaultEncrypt : nullptr, scramble ? DefaultDecrypt : nullptr);
    Script = [&] { GreetAndLogon(Greeting("S")); };
    TIcConnection& c = NewClientConnection();
    JoinServer();
    EXPECT_EQ(c.GetEncrypt() != nullptr, scramble);
    ClearCurrentConnection();
  }
}

}  // namespace
}  // namespace zor
