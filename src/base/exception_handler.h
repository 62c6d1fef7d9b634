// The process's handler for exceptions that escape a callback with nobody to catch them
// (timer callbacks, posted calls): normally the user interface's error display installs
// itself here. Without a handler such exceptions are dropped.
#pragma once

#include <exception>
#include <functional>

namespace zor {

using ExceptionHandler = std::function<void(std::exception_ptr)>;

// Installs the handler (an empty one removes it) and answers the previous one.
ExceptionHandler SetApplicationExceptionHandler(ExceptionHandler handler);

// Hands the exception to the installed handler. A silent abort (EAbort) is not handed on:
// it only ends the operation. A handler that throws itself is ignored.
void HandleApplicationException(std::exception_ptr error);

}  // namespace zor
