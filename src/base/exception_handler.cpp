#include "base/exception_handler.h"

#include <mutex>

#include "base/exceptions.h"

namespace zor {

namespace {
std::mutex gHandlerLock;
ExceptionHandler& Handler() {
  static auto* handler = new ExceptionHandler;  // may be used by callbacks during exit
  return *handler;
}
}  // namespace

ExceptionHandler SetApplicationExceptionHandler(ExceptionHandler handler) {
  std::lock_guard guard(gHandlerLock);
  ExceptionHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

void HandleApplicationException(std::exception_ptr error) {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;
  } catch (...) {
  }
  ExceptionHandler handler;
  {
    std::lock_guard guard(gHandlerLock);
    handler = Handler();
  }
  if (!handler) return;
  try {
    handler(error);
  } catch (...) {
    // The error display failed: nothing more can be reported from here.
  }
}

}  // namespace zor
