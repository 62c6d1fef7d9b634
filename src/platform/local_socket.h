// Local stream sockets that stand for named pipes: a pipe named N lives as the socket file
// N in the pipe folder, open to every local user. Descriptors are non-blocking and closed
// on exec; the socket calls of socket.h (receive, send, poll, accept) work on them.
#pragma once

#include <string>

namespace zor {

// $ZOR_RUNTIME_DIR/pipe when a runtime folder is set, else /tmp/zor-pipe.
std::string LocalPipeFolder();

// Listens on `path`, replacing a stale socket file that nobody listens on. -1 with `error`
// on failure (EADDRINUSE when a live listener has the name).
int CreateLocalListener(const std::string& path, int backlog, int& error);
// Connects to `path`; -1 with `error` on failure (see the two tests below).
int ConnectLocal(const std::string& path, int& error);
void RemoveLocalName(const std::string& path);

// Nobody listens on the name.
bool IsLocalNotFound(int error);
// The listener's queue is full: try again later.
bool IsLocalBusy(int error);

}  // namespace zor
