// Local stream sockets that stand for named pipes: a pipe named N lives as the socket file
// N in the pipe folder. Descriptors are non-blocking and closed on exec; the socket calls of
// socket.h (receive, send, poll, accept) work on them.
//
// Pipes connect different users (the server runs as its own user), so the folder is
// machine-wide but belongs to the server's user: made by the package or by the server with
// mode 0755, every user may connect, only its owner may create a name. A client connects
// only when nobody else can have put the name there: the folder is a real folder that only
// its owner may write to, and that owner is root, this user, or was the only one who could
// make it (its parent folder is writable by root or that owner alone); the socket belongs to
// the folder's owner, and so does the process at the other end (SO_PEERCRED). Otherwise the
// connect fails with `kLocalNotTrusted`. A listener refuses a folder of another user.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

// $ZOR_RUNTIME_DIR/pipe when a runtime folder is set, else /run/zor/pipe.
std::string LocalPipeFolder();

// The error of a connect refused because the name may have been put there by someone else.
inline constexpr int kLocalNotTrusted = -1000;

// Listens on `path`, replacing a stale socket file that nobody listens on. -1 with `error`
// on failure (EADDRINUSE when a live listener has the name).
int CreateLocalListener(const std::string& path, int backlog, int& error);
// Connects to `path`; -1 with `error` on failure (see the tests below).
int ConnectLocal(const std::string& path, int& error);
// The user id of the process at the other end of a connected local socket; -1 when unknown.
int64_t LocalPeerUserId(int socket);
void RemoveLocalName(const std::string& path);

// Nobody listens on the name.
bool IsLocalNotFound(int error);
// The listener's queue is full: try again later.
bool IsLocalBusy(int error);
// The name is there, but nothing says it is the server's (see above).
inline bool IsLocalNotTrusted(int error) {
  return error == kLocalNotTrusted;
}

}  // namespace zor
