#include "platform/terminal.h"

#include <io.h>
#include <windows.h>

namespace zor {

bool IsTerminal(std::FILE* stream) {
  if (stream == nullptr) return false;
  // A console answers GetConsoleMode; a pipe or file does not.
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace zor
