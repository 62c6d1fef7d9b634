#include "server/release_name_check.h"

#include "base/format.h"
#include "platform/code_page.h"

namespace zor {

std::vector<std::string> NamesOutsideCodePage(const TReleaseSnapshot& snapshot, uint32_t codePage) {
  std::vector<std::string> names;
  for (const TReleaseFile& file : snapshot.Files)
    if (file.Listed && !Utf8ToAnsiExact(file.Name, codePage)) names.push_back(file.Name);
  return names;
}

std::string NameOutsideCodePageText(const std::string& name, uint32_t language) {
  return Format(
      "The name of the release file %s cannot be written in code page %u of the server's "
      "language %u: launchers that ask for files by 8-bit names cannot fetch it (ours ask by "
      "wide names; a language whose code page holds the name avoids it)",
      {name, AnsiCodePageForLcid(language), language});
}

}  // namespace zor
