// A download that stopped because the disk, or the user's quota, is full. The update ends
// there: the old files stay, the replacements it had begun are removed, and each partial
// download keeps exactly the bytes its resume record vouches for, so the next start after
// space is freed goes on from the saved positions. The worker shows it in the user's
// language (update_fault_texts.h); `what()` is the English form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "platform/file_system.h"

namespace zor {

inline constexpr std::string_view kDiskFullText =
    "There is not enough disk space to write %s; the update stopped and the old files were kept.";

class EDiskFull : public Exception {
 public:
  EDiskFull(std::string message, std::string path)
      : Exception(std::move(message)), Path(std::move(path)) {}
  const char* ClassName() const noexcept override { return "EDiskFull"; }
  Exception* Clone() const override { return new EDiskFull(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  std::string Path;  // the file that could not be written or updated
};

// True for a full disk or an exhausted quota.
inline bool IsNoSpaceError(const EFileSystemError& error) {
  return error.Kind == FileErrorKind::NoSpace;
}

}  // namespace zor
