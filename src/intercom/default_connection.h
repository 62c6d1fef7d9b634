// How a thread finds its connection: one current connection per thread (owned by the thread's
// slot), a new client connection built from the settings, and the default connection, which
// in a client process is checked to reach a master server when not in network mode.
#pragma once

#include <memory>
#include <string_view>

#include "intercom/client_connection_ex.h"
#include "intercom/client_settings.h"

namespace zor {

inline constexpr std::string_view kNotMasterServerText = "服务器[%s]并不是主服务器，请重新设定！";

// The transports a client connects with: `TPipeHandler` and `TTCPHandler` unless replaced
// (tests put in-memory pipes here; nullptr restores the default).
enum class TTransportKind { Pipe, Tcp };
void SetHandlerClass(TTransportKind kind, THandlerClass handlerClass);
THandlerClass GetHandlerClass(TTransportKind kind);

// Connects `connection` as the settings say (pipe for type 0, TCP for 1 and 2), then sends the
// client kind when it is 1005.
void ConnectWithSettings(TIcClientConnection& connection);

// A `TClientConnectionEx` with the given routines (the default scrambling routines when none
// are given and "Scramble" is not 0), connected with the settings and made the calling
// thread's current connection in place of the previous one (which is freed).
TIcConnection& NewClientConnection(TScrambleRoutine encrypt = nullptr,
                                   TScrambleRoutine decrypt = nullptr);

// The calling thread's current connection when connected; else, in a process that hosts
// the server (one with a registered connection pool), a new `TWrapConnection`; else a new
// client connection followed, unless in network mode, by the master-server check. The
// connection stays the thread's current one.
TIcConnection& GetDefaultConnection();

// The master-server check: command 16 answering not 0 clears the thread's connection and
// raises "服务器[%s]并不是主服务器，请重新设定！" with the configured server name.
void CheckMasterServer(TIcConnection& connection, std::string_view serverName);

TIcConnection* CurrentConnection();
// Makes `connection` the thread's current one; the previous one is freed.
void SetCurrentConnection(std::unique_ptr<TIcConnection> connection);
// Frees the thread's current connection and empties the slot.
void ClearCurrentConnection();

}  // namespace zor
