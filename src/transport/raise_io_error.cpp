#include "transport/raise_io_error.h"

#include <string>

#include "transport/ic_errors.h"

namespace zor {

void RaiseIOError(TIcIOHandler* handler, std::string_view message, int32_t code, bool broken) {
  if (broken) throw EConnectBroken(std::string(message), handler, code);
  throw EConnectIOError(std::string(message), handler, code);
}

void RaiseIOErrorFmt(TIcIOHandler* handler, std::string_view format,
                     std::initializer_list<FormatArg> args, int32_t code, bool broken) {
  RaiseIOError(handler, Format(format, args), code, broken);
}

}  // namespace zor
