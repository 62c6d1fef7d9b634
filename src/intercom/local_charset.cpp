#include "intercom/local_charset.h"

namespace zor {

// Until the platform's code-page layer is wired in, 8-bit strings travel as UTF-8 and the
// system counts as not traditional.
bool LocalSystemIsTraditional() { return false; }
std::string Utf8ToWireAnsi(std::string_view utf8) { return std::string(utf8); }
std::string WireAnsiToUtf8(std::string_view ansi) { return std::string(ansi); }

}  // namespace zor
