#include "platform/posix/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace zor {

std::optional<UserAccount> CurrentUserAccount() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size < 1024) size = 16384;
  std::vector<char> buffer(static_cast<size_t>(size));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return std::nullopt;
  UserAccount account;
  if (found->pw_name != nullptr) account.Name = found->pw_name;
  if (found->pw_dir != nullptr) account.Home = found->pw_dir;
  return account;
}

}  // namespace zor
