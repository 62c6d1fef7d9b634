#include "startup/download_progress_model.h"

#include <algorithm>

#include "startup/lang_messages.h"

namespace zor {

TDownloadProgressModel::TDownloadProgressModel() : CaptionText(GetLangMessage(kMsgDownloading)) {}

int TDownloadProgressModel::PercentDone() const {
  if (Max <= 0) return 0;
  // Bytes times 100 stays far inside 64 bits for any file list a 32-bit size can describe.
  const int64_t percent = std::clamp<int64_t>(Value, 0, Max) * 100 / Max;
  return static_cast<int>(percent);
}

}  // namespace zor
