#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/exceptions.h"

namespace zor {
namespace {

TEST(RaiseLastWin32ErrorEx, PutsContextNumberAndSystemTextTogether) {
  SetLastOsError(ENOENT);
  try {
    RaiseLastWin32ErrorEx("Error occures when create pipe instance!");
    FAIL();
  } catch (const EWin32ErrorEx& e) {
#ifdef _WIN32
    const std::string text = SystemErrorMessage(ENOENT);  // 2: the system's "file not found"
    EXPECT_FALSE(text.empty());
#else
    const std::string text = "No such file or directory";
#endif
    EXPECT_EQ(e.Message, "Error occures when create pipe instance! (2)" + text);
    EXPECT_EQ(e.ErrorCode, static_cast<uint32_t>(ENOENT));
    EXPECT_NE(std::string(e.Where.file_name()).find("last_error_test"), std::string::npos);
  }
}

TEST(RaiseLastWin32ErrorEx, ReturnsWhenThereIsNoError) {
  SetLastOsError(0);
  EXPECT_NO_THROW(RaiseLastWin32ErrorEx("Accquire sync lock:"));
  EXPECT_NO_THROW(RaiseLastWin32ErrorExRes("x %s", {"y"}));
  EXPECT_NO_THROW(RaiseOsErrorEx("spawn", 0));
}

TEST(RaiseLastWin32ErrorExRes, FormatsTheContextAndKeepsTheErrorNumber) {
  SetLastOsError(EACCES);
  try {
    RaiseLastWin32ErrorExRes("无法创建 %s 路径!", {"/opt/a"});
    FAIL();
  } catch (const EWin32ErrorEx& e) {
    EXPECT_EQ(e.Message, "无法创建 /opt/a 路径! (13)" + SystemErrorMessage(EACCES));
    EXPECT_EQ(e.ErrorCode, 13u);
  }
  try {
    RaiseOsErrorEx("spawn", ENOEXEC);
    FAIL();
  } catch (const EWin32ErrorEx& e) {
#ifdef _WIN32
    EXPECT_EQ(e.Message, "spawn (8)" + SystemErrorMessage(ENOEXEC));
#else
    EXPECT_EQ(e.Message, "spawn (8)Exec format error");
#endif
  }
}

}  // namespace
}  // namespace zor
