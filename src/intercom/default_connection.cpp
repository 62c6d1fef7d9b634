#include "intercom/default_connection.h"

#include <mutex>

#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/connect_strings.h"
#include "intercom/result_types.h"
#include "intercom/wrap_connection.h"
#include "transport/pipe_handler.h"
#include "transport/tcp_connect_string.h"
#include "transport/tcp_handler.h"

namespace zor {
namespace {

std::unique_ptr<TIcIOHandler> DefaultPipeHandler(const std::string& connectString, int32_t,
                                                 int32_t) {
  return std::make_unique<TPipeHandler>(connectString);
}
std::unique_ptr<TIcIOHandler> DefaultTcpHandler(const std::string& connectString, int32_t,
                                                int32_t) {
  return std::make_unique<TTCPHandler>(connectString);
}

std::mutex gHandlerLock;
THandlerClass gPipeHandler = DefaultPipeHandler;
THandlerClass gTcpHandler = DefaultTcpHandler;

thread_local std::unique_ptr<TIcConnection> tCurrent;

}  // namespace

void SetHandlerClass(TTransportKind kind, THandlerClass handlerClass) {
  std::lock_guard guard(gHandlerLock);
  if (!handlerClass)
    handlerClass = kind == TTransportKind::Pipe ? DefaultPipeHandler : DefaultTcpHandler;
  (kind == TTransportKind::Pipe ? gPipeHandler : gTcpHandler) = std::move(handlerClass);
}

THandlerClass GetHandlerClass(TTransportKind kind) {
  std::lock_guard guard(gHandlerLock);
  return kind == TTransportKind::Pipe ? gPipeHandler : gTcpHandler;
}

void ConnectWithSettings(TIcClientConnection& connection) {
  const TConnectSettings settings = ReadConnectSettings();
  const TClientConnectEnvironment environment = GetClientConnectEnvironment();
  const std::string server = settings.ServerName(environment.NetMode);
  const bool pipe =
      settings.ConnectType < kConnectTcp || settings.ConnectType > kConnectTcpDiscovery;
  // No server name means this computer's pipe: the setup without any settings reaches the
  // server installed beside the launcher.
  const std::string connectString =
      pipe ? ComposePipeString(server.empty() ? "." : server, ServerPipeName(environment.Arguments),
                               false)
           : ComposeHostString(settings.ConnectType == kConnectTcpDiscovery, server,
                               static_cast<uint16_t>(settings.TCPPort));
  const THandlerClass handlerClass =
      GetHandlerClass(pipe ? TTransportKind::Pipe : TTransportKind::Tcp);
  if (!handlerClass)
    throw EIcError(pipe ? "No local pipe transport is available."
                        : "No TCP transport is available.");
  try {
    connection.Connect(handlerClass, connectString, 0, 0);
  } catch (Exception& e) {
    // The system's text of a failed connect ("WinSock Error. Code: 111. ...") does not say
    // what was tried: a second line names the server and port. The pipe's own text names
    // its server already.
    if (!pipe)
      e.Message += Format("\r\nTCP %s:%d", {server, static_cast<uint16_t>(settings.TCPPort)});
    throw;
  }
  if (environment.ClientKind == kClientKindWithFlag)
    connection.ExecuteCommandData(
        cmdClientKind, {TVariant(kClientKindWithFlag), TVariant(int32_t{environment.ClientFlag})});
}

TIcConnection& NewClientConnection(TScrambleRoutine encrypt, TScrambleRoutine decrypt) {
  if (!encrypt && !decrypt && ReadConnectSettings().Scramble) {
    encrypt = DefaultEncrypt;
    decrypt = DefaultDecrypt;
  }
  auto connection = std::make_unique<TClientConnectionEx>(encrypt, kDefaultScrambleKey, decrypt);
  ConnectWithSettings(*connection);
  TIcConnection& result = *connection;
  SetCurrentConnection(std::move(connection));
  return result;
}

void CheckMasterServer(TIcConnection& connection, std::string_view serverName) {
  static constexpr uint16_t kTypes[] = {kVarInteger};
  const TVariantArray answer = connection.ExecuteQuery(cmdQueryProxy, kTypes);
  if (answer[0].AsInt64() == 0) return;
  if (CurrentConnection() == &connection) ClearCurrentConnection();
  throw Exception(Format(kNotMasterServerText, {serverName}));
}

TIcConnection& GetDefaultConnection() {
  if (TIcConnection* current = CurrentConnection(); current && current->Connected())
    return *current;
  if (ProcessConnectionPool()) {
    auto wrapper = std::make_unique<TWrapConnection>();
    TIcConnection& result = *wrapper;
    SetCurrentConnection(std::move(wrapper));
    return result;
  }
  const TClientConnectEnvironment environment = GetClientConnectEnvironment();
  TIcConnection& connection = NewClientConnection();
  if (!environment.NetMode)
    CheckMasterServer(connection, ReadConnectSettings().ServerName(environment.NetMode));
  return connection;
}

TIcConnection* CurrentConnection() {
  return tCurrent.get();
}

void SetCurrentConnection(std::unique_ptr<TIcConnection> connection) {
  tCurrent = std::move(connection);
}

void ClearCurrentConnection() {
  tCurrent.reset();
}

}  // namespace zor
