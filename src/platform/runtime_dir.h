// The folders of run-time rendezvous files that processes of one machine share: named-mutex
// lock files, and (for the transports) local socket names. $ZOR_RUNTIME_DIR moves them all
// under one folder (tests, several installations side by side); a test in the same process
// substitutes it with `ScopedRuntimeDir` without touching the environment.
#pragma once

#include <string>

namespace zor {

// The override of a `ScopedRuntimeDir`, else $ZOR_RUNTIME_DIR, else "" (not set).
std::string ZorRuntimeDir();

// Lock files of names in the session namespace: <runtime>/session, else
// ${XDG_RUNTIME_DIR:-/tmp}/zor-<uid>. No trailing '/'.
std::string SessionMutexFolder();
// Lock files of "Global\" names, shared by every user: <runtime>/global, else /tmp/zor-global.
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
