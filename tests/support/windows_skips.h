// Test helpers for what the Windows build cannot do yet, or what Wine (on which its tests
// run here) does not do as Windows does: such a test skips with the reason instead of failing.
#pragma once

namespace zor::testing {

// True when the program runs under Wine rather than Windows.
bool RunningUnderWine();

// Whether this build has local pipes (named pipes are still to come on Windows).
inline constexpr bool kHaveLocalPipes =
#ifdef _WIN32
    false;
#else
    true;
#endif

}  // namespace zor::testing

// Skips the test on Windows when local pipes are missing there.
#define ZOR_SKIP_WITHOUT_LOCAL_PIPES()  \
  if (!::zor::testing::kHaveLocalPipes) \
  GTEST_SKIP() << "local pipes are not available on Windows yet"
