#include "startup/updating/file_list.h"

#include "update/server_file_list.h"

namespace zor {

std::string LocalFileName(std::string_view name) {
  std::string result(name);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

TFileList BuildFileList(std::string_view text, const TFileInfoLookup& lookup) {
  TFileList list;
  for (TServerFileEntry& entry : ParseServerFileList(text)) {
    TFileObject file;
    if (entry.NeedsInfo) {
      TFileObject info;
      if (lookup && lookup(entry.Name, info)) file = info;
    } else {
      file = {std::move(entry.Version), entry.FileAge, entry.FileSize};
    }
    list.push_back({std::move(entry.Name), std::move(file)});
  }
  return list;
}

int64_t TotalFileSize(const TFileList& list) {
  int64_t total = 0;
  for (const TFileEntry& entry : list) total += entry.File.FileSize;
  return total;
}

}  // namespace zor
