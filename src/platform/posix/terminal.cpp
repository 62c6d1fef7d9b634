#include "platform/terminal.h"

#include <unistd.h>

namespace zor {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && isatty(fileno(stream)) == 1;
}

}  // namespace zor
