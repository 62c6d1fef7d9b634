// The folders of run-time files: named-mutex lock files, local socket names (the transports)
// and the launcher's own temporary files. $ZOR_RUNTIME_DIR moves them all under one folder
// (tests, several installations side by side); a test in the same process substitutes it
// with `ScopedRuntimeDir` without touching the environment.
//
// Three kinds of folder, each with its own rules:
// - private (per user): only its owner may enter it. Created with mode 0700; one that
//   exists already is used only when it is a real folder (not a link), owned by this user
//   and writable by nobody else (see private_folder.h), else the caller gets
//   `EPrivateFolderError` and nothing is written. Session mutexes and every temporary file of the
//   launcher live here.
// - machine-wide for "Global\" mutexes: see named_mutex.h.
// - machine-wide for pipes: owned by the server's user, open for reading (0755), so every
//   user may connect but only that user may create a name; see local_socket.h.
#pragma once

#include <string>

#include "platform/private_folder.h"

namespace zor {

// The override of a `ScopedRuntimeDir`, else $ZOR_RUNTIME_DIR, else "" (not set).
std::string ZorRuntimeDir();

// This user's private folder (not created here): <runtime>/session when a runtime folder
// is set, else $XDG_RUNTIME_DIR/zor, else ${XDG_CACHE_HOME:-~/.cache}/zor. No trailing '/'.
std::string UserPrivateFolder();
// Session mutexes live in the private folder itself.
std::string SessionMutexFolder();
// The staging folder of the launcher's temporary files (the self-update's new launcher and
// library): <private folder>/staging, created and checked (both levels) before it is
// returned, with a trailing '/'. Raises `EPrivateFolderError` or `EWin32ErrorEx`.
std::string PrivateStagingFolder();

// Lock files of "Global\" names: <runtime>/global, else /run/zor/global.
std::string GlobalMutexFolder();

class ScopedRuntimeDir {
 public:
  explicit ScopedRuntimeDir(std::string dir);
  ~ScopedRuntimeDir();
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;

 private:
  std::string Previous;
  bool HadPrevious;
};

}  // namespace zor
