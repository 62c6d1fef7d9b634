#include "transport/pipe_handler.h"

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "platform/local_socket.h"
#include "platform/system_info.h"
#include "transport/trim_blanks.h"

namespace zor {
namespace {

constexpr std::string_view kPipeErrorFormat = "Win32 Error. Code: %d. %s";

// This computer: ".", its own name, or a loopback name or address (a TCP setting whose kind
// was switched to the pipe keeps pointing at the same server).
bool IsLocalComputer(std::string_view server) {
  return server == "." || SameTextAscii(server, GetComputerName()) ||
         SameTextAscii(server, "localhost") || server.starts_with("127.");
}

// The computer part of a pipe path: after the leading backslashes, up to the next one.
std::string_view ServerPart(std::string_view path) {
  const auto start = path.find_first_not_of('\\');
  if (start == std::string_view::npos) return {};
  const auto end = path.find('\\', start);
  return path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

[[noreturn]] void FormatError() {
  throw EConnectStringError("Error format of pipe connect string!");
}

}  // namespace

std::string ComposePipeString(std::string_view server, std::string_view pipeName, bool asServer) {
  if (pipeName.empty()) throw Exception("The pipe name is not allow empty!");
  const std::string host = IsLocalComputer(server) ? std::string(".") : std::string(server);
  std::string text = "\\\\" + host + "\\pipe\\" + std::string(pipeName);
  if (asServer) {
    if (host != ".") throw Exception("Error server name!");
    text += ";Server";
  }
  return text;
}

TPipeHandler::TPipeHandler(std::string_view connectString, TNotifyEvent onIdle)
    : TSocketHandler(connectString, std::move(onIdle)) {
  DefaultTimeout = kTimeoutNone;  // only a caller's explicit time-out applies to a pipe
  SetConnectString(ConnectString);
}

TPipeHandler::~TPipeHandler() {
  CloseOnDestroy();
}

std::string_view TPipeHandler::ErrorFormat() const {
  return kPipeErrorFormat;
}

std::string TPipeHandler::LocalPath() const {
  return LocalPipeFolder() + "/" + PipeName;
}

std::string TPipeHandler::GetRemoteAddress() {
  std::string address(ServerPart(ConnectString));
  if (Server && PeerUid >= 0) address += " (uid " + std::to_string(PeerUid) + ")";
  return address;
}

void TPipeHandler::SetSocket(int socket) {
  TSocketHandler::SetSocket(socket);
  PeerUid = Server && socket != kNoSocket ? LocalPeerUserId(socket) : -1;
}

TPipeAddress ParsePipeConnectString(std::string_view text) {
  const std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty()) throw EConnectStringError("Connect string is not allow empty!");
  if (trimmed.size() < 5 || trimmed.substr(0, 2) != "\\\\") FormatError();
  const auto semicolon = trimmed.find(';');
  const std::string_view path = TrimBlanks(trimmed.substr(0, semicolon));
  TPipeAddress address;
  if (semicolon != std::string_view::npos) {
    const std::string_view rest = TrimBlanks(trimmed.substr(semicolon + 1));
    if (!rest.empty()) {
      if (!SameTextAscii(rest, "Server") || path.size() < 3 || path[2] != '.') FormatError();
      address.Server = true;
    }
  }
  // "\\<server>\pipe\<name>"; the name becomes a file name, so it may not leave the folder.
  const std::string_view host = ServerPart(path);
  const size_t afterHost = 2 + host.size();
  if (host.empty() || path.size() <= afterHost + 6 ||
      !SameTextAscii(path.substr(afterHost, 6), "\\pipe\\")) {
    FormatError();
  }
  const std::string_view name = path.substr(afterHost + 6);
  if (name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    FormatError();
  }
  if (address.Server && host != ".") FormatError();
  address.Path = std::string(path);
  address.Host = std::string(host);
  address.Name = std::string(name);
  return address;
}

void TPipeHandler::SetConnectString(const std::string& text) {
  TPipeAddress address = ParsePipeConnectString(text);  // copies: `text` may be `ConnectString`
  ConnectString = std::move(address.Path);
  PipeName = std::move(address.Name);
  Server = address.Server;
  if (Server) {
    CreateInstance();
  } else {
    OpenPipe();
  }
}

std::shared_ptr<TListenRecord> TPipeHandler::AcquireListener(int& error) {
  if (ListenEntry) return ListenEntry;
  const std::string path = LocalPath();
  return AcquireListenRecord(
      "pipe:" + path, [&path](int& err) { return CreateLocalListener(path, kListenBacklog, err); },
      error, path);
}

void TPipeHandler::CreateInstance() {
  int error = 0;
  ListenEntry = AcquireListener(error);
  if (!ListenEntry)
    RaiseWin32ErrorEx("Error occures when create pipe instance!", static_cast<uint32_t>(error),
                      SocketErrorText(error));
}

void TPipeHandler::RaiseConnectError(std::string_view reason, int error) {
  std::string text(reason);
  if (text.empty()) text = Format(kPipeErrorFormat, {error, SocketErrorText(error)});
  std::string server(ServerPart(ConnectString));
  if (server == ".") server = GetComputerName();
  throw Exception(Format(kPipeConnectErrorFormat, {server, text}));
}

void TPipeHandler::OpenPipe() {
  // Only this computer's pipes can be reached.
  if (!IsLocalComputer(ServerPart(ConnectString))) RaiseConnectError(kPipeNotFoundReason);
  const auto start = GetClock().Now();
  for (;;) {
    int error = 0;
    const int s = ConnectLocal(LocalPath(), error);
    if (s != kNoSocket) {
      SetSocket(s);
      SetState(kStateConnected);
      return;
    }
    if (IsLocalNotFound(error)) RaiseConnectError(kPipeNotFoundReason);
    if (IsLocalNotTrusted(error)) RaiseConnectError(Format(kPipeNotTrustedFormat, {LocalPath()}));
    if (!IsLocalBusy(error)) RaiseConnectError({}, error);
    if (MillisecondsSince(start) > kPipeBusyLimitMs) RaiseConnectError(kPipeTimedOutReason);
    GetClock().SleepFor(std::chrono::milliseconds(kPipeBusyRetryMs));
  }
}

}  // namespace zor
