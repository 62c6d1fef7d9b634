#include "transport/ic_errors.h"

#include <gtest/gtest.h>

#include <memory>

namespace zor {
namespace {

TEST(IcErrors, CallersCatchByFamilyAndKeepFields) {
  try {
    throw EConnectBroken("closed", nullptr, 104);
  } catch (const EConnectIOError& e) {
    EXPECT_STREQ(e.ClassName(), "EConnectBroken");
    EXPECT_EQ(e.ErrorCode, 104);
  }
  try {
    throw EResultError("server says no", 0x74000003);
  } catch (const EExecuteError& e) {
    EXPECT_STREQ(e.ClassName(), "EResultError");
    EXPECT_EQ(e.ErrorCode, 0x74000003u);
  }
  // A clone keeps the most derived class, so a context can be added without losing it.
  const EConnectBroken original("lost", nullptr, 32);
  std::unique_ptr<Exception> copy(original.Clone());
  EXPECT_THROW(copy->Throw(), EConnectBroken);
}

}  // namespace
}  // namespace zor
