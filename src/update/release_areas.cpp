#include "update/release_areas.h"

#include "update/request_name.h"

namespace zor {

namespace {

struct AreaEntry {
  std::string_view Key;  // lower case
  std::string_view Folder;
};

constexpr AreaEntry kAreas[] = {
    {"bpls", "bpls\\"},     {"graphs", "Graphs\\"},
    {"sunrpt", "SunRpt\\"}, {"defines", "Defines\\"},
    {"help", "Help\\"},     {"coms", "Coms\\"},
    {"defrpt", "DefRpt\\"}, {"special\\help", "Special\\Help\\"},
    {"bietl", "BIETL\\"},   {"special\\bietl", "Special\\BIETL\\"},
};

}  // namespace

std::string AreaFolder(std::string_view area) {
  const std::string key = LowerAscii(area);
  for (const AreaEntry& entry : kAreas)
    if (entry.Key == key) return std::string(entry.Folder);
  return {};
}

}  // namespace zor
