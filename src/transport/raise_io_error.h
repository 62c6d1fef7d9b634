// The two shared ways a transport reports a failure: `EConnectBroken` when the link is
// lost, `EConnectIOError` otherwise, each carrying the handler and the system error code.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "base/format.h"

namespace zor {

class TIcIOHandler;

[[noreturn]] void RaiseIOError(TIcIOHandler* handler, std::string_view message, int32_t code,
                               bool broken);
[[noreturn]] void RaiseIOErrorFmt(TIcIOHandler* handler, std::string_view format,
                                  std::initializer_list<FormatArg> args, int32_t code, bool broken);

}  // namespace zor
