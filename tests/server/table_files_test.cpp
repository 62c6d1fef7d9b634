// The server's table files (the names file of the name service, the lookup service's table)
// as the disk hands them over: a read that fails, a file that is missing or a folder, and a
// file over the table's limit each refuse the table with a message naming the file.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/fault_file_system.h"
#include "server/lookup_service_table.h"
#include "server/name_table.h"
#include "support/expect_error.h"
#include "support/temp_folder.h"

namespace zor {
namespace {
using testing::TempFolder;

// A sparse file of `size` bytes: over a limit without writing that much.
void MakeFileOfSize(const std::string& path, int64_t size) {
  auto file = OsFileSystem().Open(path, OpenMode::CreateOrTruncate);
  file->Truncate(size);
  file->Close();
}

TEST(TableFiles, AFailingReadAMissingFileAndAnOversizedOneRefuseTheTable) {
  TempFolder dir;
  const std::string names = dir.WriteFile("names.txt", "shop1 = 10.1.2.3\n");
  const std::string table =
      dir.WriteFile("lookup.json", R"({"Enterprises":[{"EnterpriseID":"1","APPServerName":"a"}]})");
  const std::string bigNames = dir / "big-names.txt";
  MakeFileOfSize(bigNames, static_cast<int64_t>(kMaxNamesFileSize) + 1);
  const std::string bigTable = dir / "big-lookup.json";
  MakeFileOfSize(bigTable, static_cast<int64_t>(kMaxLookupTableBytes) + 1);
  const std::string folder = dir.Path() + "sub";
  OsFileSystem().CreateFolder(folder, 0700);

  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  struct Case {
    std::string Name;
    std::function<void()> Load;
    std::function<void(FaultFileSystem&)> Arm;
    std::string ClassName;
    std::string Message;
  } const kCases[] = {
      {"names: the read fails", [&] { TNameTable::Load(names); },
       [](FaultFileSystem& f) { f.FailRead(1); }, "Exception",
       "Cannot read the names file " + names},
      {"names: missing", [&] { TNameTable::Load(dir / "none.txt"); }, nullptr, "Exception",
       "Cannot read the names file " + (dir / "none.txt")},
      {"names: a folder", [&] { TNameTable::Load(folder); }, nullptr, "Exception",
       "Cannot read the names file " + folder},
      {"names: too large", [&] { TNameTable::Load(bigNames); }, nullptr, "Exception",
       "The names file " + bigNames + " is too large"},
      {"lookup: the read fails", [&] { TLookupTable::Load(table); },
       [](FaultFileSystem& f) { f.FailRead(1, FileErrorKind::AccessDenied); }, "ELookupTableError",
       table + ": cannot be read"},
      {"lookup: missing", [&] { TLookupTable::Load(dir / "none.json"); }, nullptr,
       "ELookupTableError", (dir / "none.json") + ": cannot be read"},
      {"lookup: too large", [&] { TLookupTable::Load(bigTable); }, nullptr, "ELookupTableError",
       bigTable + ": larger than 16777216 bytes"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    faults.Reset();
    if (c.Arm) c.Arm(faults);
    testing::ExpectError(c.Load, c.ClassName, c.Message);
  }
  // Without a fault both load.
  faults.Reset();
  EXPECT_EQ(TNameTable::Load(names).Size(), 1u);
  EXPECT_EQ(TLookupTable::Load(table).Size(), 1u);
}

}  // namespace
}  // namespace zor
