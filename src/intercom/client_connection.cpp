#include "intercom/client_connection.h"

#include "base/clock.h"
#include "intercom/charset_conversion.h"
#include "intercom/execute_scope.h"
#include "intercom/local_charset.h"
#include "intercom/result_types.h"
#include "intercom/security_package.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "platform/system_info.h"
#include "transport/ic_errors.h"

namespace zor {

bool DecideCharsetConversion(bool clientTraditional, uint32_t serverLcid, bool serverCanConvert,
                             const std::function<bool()>& clientCanConvert) {
  if (clientTraditional == IsTraditionalLcid(serverLcid)) return false;
  if (serverCanConvert) return false;  // the server converts what it reads
  if (!clientCanConvert()) throw EIcError(std::string(kCharsetMismatchText));
  return true;
}

TIcClientConnection::TIcClientConnection(TScrambleRoutine encrypt, uint32_t key,
                                         TScrambleRoutine decrypt)
    : TIcConnection(encrypt, key, decrypt), InitialKey(key) {
  // A client never waits without end: a server that says nothing, or only keeps the wait
  // alive, is given up on with a message.
  ReplyWait.SilenceSeconds = kClientReplySilenceSeconds;
  ReplyWait.MaxKeepAlives = kClientMaxKeepAlives;
}

TIcClientConnection::~TIcClientConnection() {
  try {
    if (Connected()) TIcClientConnection::Disconnect();
  } catch (...) {
  }
}

bool TIcClientConnection::IsValidReplyKind(uint32_t kind) {
  return kind == kReplyAuthRequest || TIcConnection::IsValidReplyKind(kind);
}

bool TIcClientConnection::AuthStillValid() const {
  return AuthExpiry != 0 && AuthExpiry > ToDateTime(GetClock().UtcNow());
}

void TIcClientConnection::HandleAuthRequest() {
  if (AuthStillValid())
    SendCommand(cmdSecurityDecline);
  else
    Authenticate();
}

void TIcClientConnection::Disconnect() {
  TIcIOHandler* handler = Handler();
  if (handler && handler->IsConnected() && !handler->HasPendingIO()) {
    // The logoff notice is a courtesy: nothing is awaited and a failure changes nothing.
    try {
      WithOptions(1, [&] { SendCommand(cmdLogoff); });
    } catch (const std::exception&) {
    }
  }
  TIcConnection::Disconnect();
  AuthExpiry = 0;
}

std::string TIcClientConnection::GetComputerName() {
  return zor::GetComputerName();
}
std::string TIcClientConnection::GetLogonUserName() {
  return zor::GetUserName();
}
std::string TIcClientConnection::GetAdapterText() {
  return GetNetworkAdapterText();
}
int32_t TIcClientConnection::GetOSCode() {
  return zor::GetOSCode();
}
uint32_t TIcClientConnection::GetTerminalSessionId() {
  return GetCurrentSessionId();
}

std::pair<std::string, std::string> TIcClientConnection::GetProgramNameAndFolder() {
  const std::string path = GetExePath();
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {path, {}};
  return {path.substr(slash + 1), path.substr(0, slash + 1)};
}

bool TIcClientConnection::HasServerOption(std::string_view name) const {
  size_t start = ServerInfo.find('\n');
  while (start != std::string::npos) {
    ++start;
    size_t end = ServerInfo.find('\n', start);
    std::string_view line(ServerInfo.data() + start,
                          (end == std::string::npos ? ServerInfo.size() : end) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() == name.size() + 1 && line[0] == '-' && line.substr(1) == name) return true;
    start = end;
  }
  return false;
}

void TIcClientConnection::Connect(const THandlerClass& handlerClass,
                                  const std::string& connectString, int32_t p3, int32_t p4) {
  std::lock_guard guard(ObjectLock);
  if (Handler() && Handler()->IsConnected()) throw Exception(std::string(kConnectionActiveText));
  SetHandler(nullptr);
  SetHandler(handlerClass(connectString, p3, p4));
  OpenSession();
}

void TIcClientConnection::OpenSession() {
  const uint32_t oldSession = SessionId.load();
  TVerbatimStrings usual(false);  // the logon's texts are converted like any other
  SessionId = 0;
  if (InitialKey != 0) SetKey(InitialKey);
  try {
    const TVariantArray greeting = WaitResult(true);
    const bool shapeOk = greeting.size() == 5 && greeting[0].IsString() && greeting[1].IsString() &&
                         ResultTypeMatches(kVarInteger, greeting[2].Type()) &&
                         ResultTypeMatches(kVarInteger, greeting[3].Type()) &&
                         greeting[4].Type() == kVarBoolean;
    if (!shapeOk) throw EServerError(std::string(kInvalidServerInfoText));
    ServerInfo = greeting[0].Text();
    ServerText = greeting[1].Text();
    ServerLangId = greeting[3].AsInteger();
    ServerCanConvert = greeting[4].AsBoolean();

    ConvertCharset =
        DecideCharsetConversion(Charsets.Traditional, static_cast<uint32_t>(ServerLangId),
                                ServerCanConvert, ScriptTablesReady)
            ? 1
            : 0;
    Charsets.PeerCodePage = AnsiCodePageForLcid(static_cast<uint32_t>(ServerLangId));

    const auto [programName, programFolder] = GetProgramNameAndFolder();
    TVariantArray logon;
    logon.reserve(11);
    logon.push_back(TVariant::Wide(GetComputerName()));
    logon.push_back(TVariant::Wide(GetLogonUserName()));
    logon.push_back(TVariant(GetAdapterText()));
    logon.push_back(TVariant(GetOSCode()));
    logon.push_back(TVariant(static_cast<int32_t>(GetSystemDefaultLCID())));
    logon.push_back(TVariant(static_cast<int32_t>(GetTerminalSessionId())));
    logon.push_back(TVariant(static_cast<int32_t>(reinterpret_cast<uintptr_t>(this))));
    logon.push_back(TVariant(programName));
    logon.push_back(TVariant(programFolder));
    logon.push_back(GetLogonExtra());
    uint32_t newKey = GetKey();
    if (HasServerOption(kEnhancedEncryptOption)) {
      if (GetEncrypt()) newKey = DeriveEnhancedKey(GetKey());
      logon.push_back(TVariant(static_cast<int32_t>(newKey)));
      SendCommandData(cmdLogonEx, logon);
    } else {
      SendCommandData(cmdLogon, logon);
    }
    WaitResultDiscard(true);
    SetKey(newKey);
    SessionId = static_cast<uint32_t>(greeting[2].AsInt64());
  } catch (...) {
    SessionId = oldSession;
    throw;
  }
}

void TIcClientConnection::Logon(const std::string& userName, const std::string& s2,
                                const std::string& s3, const std::string& s4) {
  if (!userName.empty()) {
    TVariantArray args;
    args.push_back(TVariant::Wide(userName));
    for (const std::string* s : {&s2, &s3, &s4}) args.push_back(TVariant(*s));
    ExecuteCommandData(cmdUserLogon, args);
    return;
  }
  if (AuthStillValid()) return;
  TExecuteScope scope(*this);
  Authenticate();
}

void TIcClientConnection::SendToken(const std::vector<uint8_t>& token) {
  if (!Connected()) throw Exception(std::string(kNotConnectedText));
  RequestHeader header;
  header.Command = cmdSecurityToken;
  header.Options = 1;
  header.Sequence = ++Counter;
  THeaderBytes bytes = header.Encode();
  if (GetEncrypt()) GetEncrypt()(bytes.data(), bytes.size(), GetKey());
  // The token block is raw and never scrambled; header and block leave in one flush.
  Handler()->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  Handler()->WriteStream(token.data(), static_cast<int32_t>(token.size()));
}

void TIcClientConnection::Authenticate() {
  TSecurityPackage* package = GetSecurityPackage();
  if (!package) throw EIcError(std::string(kNoSecurityPackageText));
  static constexpr uint16_t kPackageTypes[] = {kVarOleStr};
  static constexpr uint16_t kDoneTypes[] = {kVarOleStr, kVarDouble};
  SendCommand(cmdSecurityToken);
  TVariantArray answer = WaitResult(true);
  CheckResultTypes(answer, kPackageTypes);
  std::unique_ptr<TSecurityContext> context = package->Begin(answer[0].Text());
  std::vector<uint8_t> input;
  for (;;) {
    const TSecurityStep step = context->Step(input);
    if (!step.Output.empty()) SendToken(step.Output);
    if (!step.Continue) break;
    WaitResultDiscard(false);
    input.clear();
    Handler()->ReadStream(input);
  }
  answer = WaitResult(true);
  CheckResultTypes(answer, kDoneTypes);
  AuthExpiry = answer[1].AsDouble();
}

}  // namespace zor
