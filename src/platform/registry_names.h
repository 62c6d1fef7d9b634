// How key and value names compare: without case (ASCII letters fold; other characters
// compare as they are), keeping the stored spelling. Key paths order as a tree: the
// separator sorts before every other character, so a key's subtree follows it directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr char kRegPathSeparator = '\\';

bool RegNamesEqual(std::string_view a, std::string_view b);

// Strict weak order of key paths: case folded, separator lowest.
struct RegPathLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// Whether `path` is `prefix` itself or a key below it (`prefix` "" holds every path).
bool RegPathIsWithin(std::string_view path, std::string_view prefix);

// The parts of a key path ("" gives none). Raises nothing; see `RegPathProblem`.
std::vector<std::string_view> SplitRegPath(std::string_view path);

// Why a key path cannot be stored (an empty part, a control character), or "" when it can.
// `path` has no leading separator.
std::string RegPathProblem(std::string_view path);
// Why a value name cannot be stored (a control character), or "" when it can.
std::string RegValueNameProblem(std::string_view name);

}  // namespace zor
