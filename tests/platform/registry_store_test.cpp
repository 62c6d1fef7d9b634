// The hive files behind the registry: where they live, atomic and locked writes, several
// processes writing at once, a writer that dies half-way, and damaged hives.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/fault_file_system.h"
#include "platform/registry_error.h"
#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "support/registry_test_dir.h"

namespace zor {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs `body` in a child process and returns its exit status (the child never returns).
template <typename Body>
pid_t Spawn(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 0;
    try {
      code = body();
    } catch (...) {
      code = 100;
    }
    _exit(code);
  }
  return pid;
}

// The hive folder's entries, joined by ",".
std::string FolderNames(const std::string& dir) {
  std::string joined;
  for (const std::string& name : OsFileSystem().List(dir))
    joined += (joined.empty() ? "" : ",") + name;
  return joined;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (Old)
      setenv(Name, Old->c_str(), 1);
    else
      unsetenv(Name);
  }

 private:
  const char* Name;
  std::optional<std::string> Old;
};

TEST(RegistryStore, FoldersFollowOverrideEnvironmentAndDefaults) {
  EnvVar dir("ZOR_REGISTRY_DIR", nullptr);
  EnvVar xdg("XDG_CONFIG_HOME", nullptr);
  EnvVar home("HOME", "/home/someone");
  EXPECT_EQ(RegistryHivePath(RegRoot::LocalMachine), "/etc/zor/HKLM.reg");
  EXPECT_EQ(RegistryHivePath(RegRoot::ClassesRoot), "/etc/zor/HKCR.reg");
  EXPECT_EQ(RegistryHivePath(RegRoot::CurrentUser), "/home/someone/.config/zor/HKCU.reg");
  {
    EnvVar xdgSet("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(RegistryHivePath(RegRoot::CurrentUser), "/cfg/zor/HKCU.reg");
    EnvVar dirSet("ZOR_REGISTRY_DIR", "/reg");
    for (RegRoot root : kAllRegRoots) EXPECT_EQ(RegistryDir(root), "/reg");
    ScopedRegistryDir scoped("/tests");
    for (RegRoot root : kAllRegRoots) EXPECT_EQ(RegistryDir(root), "/tests");
  }
  EXPECT_EQ(RegistryDir(RegRoot::LocalMachine), "/etc/zor");
}

TEST(RegistryStore, WritesGoToTheRootsOwnFileAndLeaveNoTemporaryFile) {
  testing::RegistryTestDir dir;
  UpdateHive(RegRoot::CurrentUser, [](RegHive& hive) {
    hive.SetValue("Software\\ZOR", "N", RegValue::Dword(1));
    return true;
  });
  EXPECT_EQ(ReadFile(dir.Path + "/HKCU.reg"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\ZOR]\r\n\"N\"=dword:00000001\r\n\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Path + "/HKLM.reg"));
  EXPECT_EQ(FolderNames(dir.Path), "HKCU.reg,HKCU.reg.lock");
  // A change that changes nothing does not rewrite the file.
  WriteFile(dir.Path + "/HKCU.reg", ReadFile(dir.Path + "/HKCU.reg") + "; mine\r\n");
  UpdateHive(RegRoot::CurrentUser, [](RegHive&) { return false; });
  EXPECT_NE(ReadFile(dir.Path + "/HKCU.reg").find("; mine"), std::string::npos);
}

TEST(RegistryStore, ConcurrentProcessesLoseNoWrite) {
  testing::RegistryTestDir dir;
  constexpr int kProcesses = 4, kWrites = 20;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(Spawn([p] {
      TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
      if (!reg.OpenKey("\\Software\\ZOR\\DK880", true)) return 1;
      for (int i = 0; i < kWrites; ++i)
        reg.WriteInteger("P" + std::to_string(p) + "_" + std::to_string(i), i);
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(WaitExit(child), 0);
  TZORRegistry reg(RegRoot::LocalMachine, KEY_READ);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR\\DK880", false));
  EXPECT_EQ(reg.GetValueNames().size(), static_cast<size_t>(kProcesses * kWrites));
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(reg.ReadIntegerDef("P" + std::to_string(p) + "_" + std::to_string(i), -1), i);
}

TEST(RegistryStore, WriterKilledBeforeTheRenameLeavesTheOldHive) {
  testing::RegistryTestDir dir;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKey("Software\\ZOR", true));
  reg.WriteString("Server", "old");
  const std::string before = ReadFile(dir.Path + "/HKLM.reg");

  const pid_t child = Spawn([] {
    FaultFileSystem faults;
    ScopedFileSystem use(faults);
    faults.OnRename([](const std::string&, const std::string&) { _exit(9); });
    TZORRegistry writer(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    writer.OpenKey("Software\\ZOR", false);
    writer.WriteString("Server", std::string(100000, 'n'));
    return 0;
  });
  EXPECT_EQ(WaitExit(child), 9);
  const std::vector<std::string> left = OsFileSystem().List(dir.Path);
  ASSERT_EQ(left.size(), 3u);  // the hive, its lock and the complete new file
  EXPECT_TRUE(IsReplacementTemporaryOf(left[2], "HKLM.reg"));
  EXPECT_EQ(ReadFile(dir.Path + "/HKLM.reg"), before);
  EXPECT_EQ(reg.ReadStringDef("Server", ""), "old");
  // The lock died with the writer; the next writer goes ahead and clears the leftover.
  reg.WriteString("Server", "new");
  EXPECT_EQ(reg.ReadStringDef("Server", ""), "new");
  EXPECT_EQ(FolderNames(dir.Path), "HKLM.reg,HKLM.reg.lock");
}

TEST(RegistryStore, DiskFaultsKeepTheOldHiveAndLeaveNoTemporaryFile) {
  struct Case {
    const char* Name;
    std::function<void(FaultFileSystem&)> Arm;
    std::string Text;
  } const kCases[] = {
      {"write fails", [](FaultFileSystem& f) { f.FailWrite(1, EIO); }, "Input/output error (5)"},
      {"disk fills mid-file", [](FaultFileSystem& f) { f.SetFreeSpace(100); },
       "No space left on device (28)"},
      {"fsync fails", [](FaultFileSystem& f) { f.FailSync(1, EIO); }, "Input/output error (5)"},
      {"rename fails", [](FaultFileSystem& f) { f.FailRename(1, EROFS); },
       "Read-only file system (30)"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    testing::RegistryTestDir dir;
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey("Software\\ZOR", true));
    reg.WriteString("Server", "old");
    const std::string before = ReadFile(dir.Path + "/HKLM.reg");
    {
      FaultFileSystem faults;
      ScopedFileSystem use(faults);
      c.Arm(faults);
      try {
        reg.WriteString("Server", std::string(1000, 'n'));
        ADD_FAILURE() << "no error";
      } catch (const ERegistryError& e) {
        EXPECT_EQ(e.Message,
                  "Cannot write the registry file \"" + dir.Path + "/HKLM.reg\": " + c.Text);
      }
    }
    EXPECT_EQ(ReadFile(dir.Path + "/HKLM.reg"), before);
    EXPECT_EQ(reg.ReadStringDef("Server", ""), "old");
    EXPECT_EQ(FolderNames(dir.Path), "HKLM.reg,HKLM.reg.lock");
  }
}

TEST(RegistryStore, DamagedHiveIsReportedWithFileAndLineAndNeverOverwritten) {
  testing::RegistryTestDir dir;
  const std::string path = dir.Path + "/HKLM.reg";
  const std::string damaged =
      "Windows Registry Editor Version "
      "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\ZOR]\r\n\"N\"=dword:xyz\r\n";
  WriteFile(path, damaged);
  const std::string expected =
      "Damaged registry file \"" + path + "\", line 4: a dword value needs one to eight hex digits";
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  const auto expectDamaged = [&](auto&& action) {
    try {
      action();
      ADD_FAILURE() << "no error";
    } catch (const ERegistryFileError& e) {
      EXPECT_EQ(e.Message, expected);
    }
  };
  expectDamaged([&] { reg.OpenKey("Software\\ZOR", false); });
  expectDamaged([&] { reg.OpenKey("Software\\New", true); });
  expectDamaged([&] { reg.KeyExists("Software"); });
  expectDamaged([&] { LoadHive(RegRoot::LocalMachine); });
  EXPECT_EQ(ReadFile(path), damaged);
  // Another root's hive is unaffected.
  TZORRegistry user(RegRoot::CurrentUser, KEY_ALL_ACCESS);
  EXPECT_TRUE(user.OpenKey("Software\\ZOR", true));
}

TEST(RegistryStore, HiveFolderThatCannotBeCreatedIsNotWritable) {
  testing::RegistryTestDir dir;
  WriteFile(dir.Path + "/file", "x");
  ScopedRegistryDir blocked(dir.Path + "/file/zor");  // a folder under a plain file
  EXPECT_FALSE(CanWriteHive(RegRoot::LocalMachine));
  EXPECT_FALSE(TZORRegistry::CanWriteHKLM());
  TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
  EXPECT_FALSE(reg.OpenKey("SoftWare", false));  // full access refused
  EXPECT_TRUE(reg.OpenKeyReadOnly("SoftWare"));  // the standard key is there to read
  EXPECT_EQ(reg.Access(), KEY_READ);
  try {
    UpdateHive(RegRoot::LocalMachine, [](RegHive&) { return true; });
    FAIL() << "no error";
  } catch (const ERegistryError& e) {
    EXPECT_EQ(e.Message,
              "Cannot create the registry folder \"" + dir.Path + "/file\": File exists (17)");
  }
}

TEST(RegistryStore, WritableFolderIsCreatedOnDemand) {
  testing::RegistryTestDir dir;
  ScopedRegistryDir nested(dir.Path + "/a/b");
  EXPECT_TRUE(TZORRegistry::CanWriteHKLM());
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path + "/a/b"));
}

}  // namespace
}  // namespace zor
