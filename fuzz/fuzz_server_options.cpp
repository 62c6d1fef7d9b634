// zorserver command lines: the input is split at zero bytes into arguments; parsing either
// gives options within their ranges or refuses with our exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "server/server_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else
      args.back() += static_cast<char>(data[i]);
  }
  try {
    const zor::TServerOptions options = zor::ParseServerOptions(args);
    if (options.Port && *options.Port == 0) std::abort();
    if (options.MaxConnections && *options.MaxConnections < 1) std::abort();
  } catch (const zor::Exception&) {
  }
  return 0;
}
