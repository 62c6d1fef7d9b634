// Connect strings come from settings and command lines: the TCP string, its host text,
// the accept filter's pattern list and the pipe string must refuse bad text cleanly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "transport/pipe_handler.h"
#include "transport/tcp_connect_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const zor::TTcpConnectSettings settings = zor::ParseTcpConnectString(text);
    if (!settings.HostText.empty()) zor::ParseHostText(settings.HostText);
  } catch (const zor::Exception&) {
  }
  try {
    zor::ParseHostText(text);
  } catch (const zor::Exception&) {
  }
  const auto split = text.find('|');
  if (split != std::string_view::npos) {
    zor::MatchesIPList(text.substr(0, split), text.substr(split + 1));
  }
  try {
    const zor::TPipeAddress address = zor::ParsePipeConnectString(text);
    if (address.Name.empty() || address.Name.find('/') != std::string::npos) __builtin_trap();
  } catch (const zor::Exception&) {
  }
  return 0;
}
