#include "startup/launch/command_line_quote.h"

namespace zor {

// Unlike the platform's `QuoteArgument`, which quotes only when it must, the launcher's own
// command lines always carry the path in quotes.
std::string QuoteCommandLineArgument(std::string_view argument) {
  std::string result = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      result.append(backslashes * 2 + 1, '\\');
    } else {
      result.append(backslashes, '\\');
    }
    backslashes = 0;
    result += c;
  }
  result.append(backslashes * 2, '\\');
  result += '"';
  return result;
}

}  // namespace zor
