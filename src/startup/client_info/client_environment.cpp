#include "startup/client_info/client_environment.h"

#include <exception>
#include <filesystem>

#include "platform/file_times.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/zor_registry.h"
#include "startup/client_info/client_edition.h"
#include "startup/client_info/zor_info_base.h"

namespace zor {

std::string MutexName(std::string_view name) {
  return NetModeMutexName(name, GetZorInfo().NetMode());
}

bool ProbeMutex(std::string_view name) {
  try {
    return ProbeNamedMutex(name);
  } catch (const std::exception&) {
    return false;
  }
}

bool IsMainAppRunning() {
  return ProbeMutex(MutexName(RunMutexBaseName(GetZorInfo().ExeName())));
}

bool NeedComputerRestart() {
  try {
    TZORRegistry machine(RegRoot::LocalMachine, KEY_READ);
    return machine.OpenKeyReadOnly(kRunOnceKey) && machine.ValueExists(kRestartPendingValue);
  } catch (const std::exception&) {
    return false;
  }
}

std::string DefaultMainExeName() {
  return DefaultMainExeName(GetZorInfo().ExeName());
}

int64_t TryStartProcess(const std::string& commandLine) {
  try {
    return StartProcess(commandLine);
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t GetFileDosDateTime(const std::string& fileName) {
  return GetFileDosTime(fileName);
}

void ForceDeleteFile(const std::string& fileName) {
  std::error_code ignored;
  // A link is removed as a link: its target (maybe outside the client's folder) keeps its mode.
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(fileName, ignored)))
    std::filesystem::permissions(fileName, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
  std::filesystem::remove(fileName, ignored);
}

}  // namespace zor
