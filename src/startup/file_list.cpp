#include "startup/file_list.h"

#include "base/exceptions.h"
#include "base/format.h"
#include "base/number_strings.h"
#include "base/string_routines.h"

namespace zor {
namespace {

constexpr const char* kInvalidFileName = "Invalid file name '%s'!";

// The file list comes from the network: nothing in it may name a file outside the folder.
void CheckListName(const std::string& name) {
  bool bad = name.find(':') != std::string::npos || name[0] == '\\' || name[0] == '/';
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) bad = true;
  }
  std::string rest = LocalFileName(name);
  while (!bad && !rest.empty()) {
    if (FetchToken(rest, "/") == "..") bad = true;
  }
  if (bad) throw Exception(Format(kInvalidFileName, {name}));
}

int32_t IntOr(const std::string& text, int32_t fallback) {
  if (!IsIntStr(text)) return fallback;
  try {
    return StrToIntStrict(text);
  } catch (const EConvertError&) {
    return fallback;  // beyond 32 bits
  }
}

}  // namespace

std::string LocalFileName(std::string_view name) {
  std::string result(name);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

TFileList ParseServerFileList(std::string_view text, const TFileInfoLookup& lookup) {
  TFileList list;
  std::vector<std::string> entries;
  SplitToStrings(text, entries, ";");
  for (std::string& entry : entries) {
    std::string name = FetchToken(entry, "=");
    if (name.empty()) continue;
    CheckListName(name);
    const std::string version = FetchToken(entry, ",");
    const std::string age = FetchToken(entry, ",");
    const std::string size = FetchToken(entry, ",");
    TFileObject file;
    if (age.empty() || size.empty()) {
      TFileObject info;
      if (lookup && lookup(name, info)) file = info;
    } else {
      if (!version.empty()) file.Version = version;
      file.FileAge = IntOr(age, -1);
      file.FileSize = IntOr(size, 0);
    }
    list.push_back({std::move(name), std::move(file)});
  }
  return list;
}

int64_t TotalFileSize(const TFileList& list) {
  int64_t total = 0;
  for (const TFileEntry& entry : list) total += entry.File.FileSize;
  return total;
}

}  // namespace zor
