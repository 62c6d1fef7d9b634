// Which part the launcher plays in the machine-wide client copy: none outside the folder the
// administrator named or in one others may write into; its keeper updates it; every other
// user starts from it without updating.
#include "startup/updating/machine_copy.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(MachineCopy, TheRoleFollowsTheNamedFolderItsKeeperAndTheUser) {
  constexpr uint32_t kKeeper = 990;
  constexpr uint32_t kUser = 1000;
  struct Case {
    const char* ExeDir;
    const char* Named;
    std::optional<uint32_t> Keeper;
    uint32_t User;
    TMachineCopyRole Role;
  } const kCases[] = {
      {"/var/lib/zor-client/client/", "", kKeeper, kUser, TMachineCopyRole::None},
      {"/home/u/.local/share/zor/client/", "/var/lib/zor-client/client", kKeeper, kUser,
       TMachineCopyRole::None},
      {"/var/lib/zor-client/client/", "/var/lib/zor-client/client", kKeeper, kUser,
       TMachineCopyRole::User},
      {"/var/lib/zor-client/client/", "/var/lib/zor-client/client//", kKeeper, kKeeper,
       TMachineCopyRole::Keeper},
      // Anyone else may write into it: no machine copy, so it meets the shared-folder refusal.
      {"/var/lib/zor-client/client/", "/var/lib/zor-client/client", std::nullopt, kUser,
       TMachineCopyRole::None},
      {"/var/lib/zor-client/client-old/", "/var/lib/zor-client/client", kKeeper, kUser,
       TMachineCopyRole::None},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.ExeDir) + " named " + c.Named);
    EXPECT_EQ(DecideMachineCopyRole(c.ExeDir, c.Named, c.Keeper, c.User), c.Role);
  }
}

}  // namespace
}  // namespace zor
