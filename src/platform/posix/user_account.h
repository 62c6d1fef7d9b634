// The password-database entry of the user this process runs as (its effective user id),
// looked up thread-safely; the one place the programs read that database.
#pragma once

#include <optional>
#include <string>

namespace zor {

struct UserAccount {
  std::string Name;  // empty when the entry has none
  std::string Home;  // empty when the entry has none
};

// Nullopt when the database has no entry for the user.
std::optional<UserAccount> CurrentUserAccount();

}  // namespace zor
