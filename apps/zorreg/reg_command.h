// The registry tool `zorreg`: query, add, delete, import and export on the registry store,
// with the arguments, the output and the messages of the familiar Windows registry tool.
// Questions (overwrite? delete?) are read from `in` unless /f (or /y for export) is given.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zor {

// `args` are the arguments after the program name. Returns the exit code: 0 on success,
// 1 on an error (the message goes to `err`) or when the user declines.
int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);

}  // namespace zor
