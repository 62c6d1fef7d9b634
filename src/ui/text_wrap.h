// Breaking a message into lines no wider than a limit, for text that may have no blanks at
// all (Chinese): a line breaks after its last blank when it has one, otherwise between two
// characters. Line breaks in the text ("\n", "\r\n") are kept. Knows nothing of fonts: the
// caller measures.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// `width` answers the drawn width of a piece of text. A character wider than the limit
// still gets a line of its own; no line is ever empty unless the text had an empty line.
std::vector<std::string> WrapText(std::string_view text, int maxWidth,
                                  const std::function<int(std::string_view)>& width);

}  // namespace zor
