// Whether an output stream is a terminal: progress can then be redrawn in place on one line.
#pragma once

#include <cstdio>

namespace zor {

bool IsTerminal(std::FILE* stream);

}  // namespace zor
