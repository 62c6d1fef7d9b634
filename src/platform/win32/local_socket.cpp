// Local pipes on Windows are to be named pipes (\\.\pipe\...) with an access list for the
// local users; the socket calls the transports use do not fit them yet. Until they do,
// every use fails with a message instead of quietly finding nothing.
#include "platform/local_socket.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zor {

std::string LocalPipeFolder() {
  return "//./pipe";
}

int CreateLocalListener(const std::string&, int, int&) {
  win32::RaiseNotOnWindowsYet("A local pipe listener");
}

int ConnectLocal(const std::string&, int&) {
  win32::RaiseNotOnWindowsYet("Connecting to a local pipe");
}

int64_t LocalPeerUserId(int) {
  return -1;
}

void RemoveLocalName(const std::string&) {}

bool IsLocalNotFound(int error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsLocalBusy(int error) {
  return error == ERROR_PIPE_BUSY;
}

}  // namespace zor
