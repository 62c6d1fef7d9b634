#include "startup/updating/update_source.h"

#include <mutex>

#include "base/exceptions.h"

namespace zor {
namespace {

std::mutex sourceLock;
std::shared_ptr<TUpdateSource> currentSource;

}  // namespace

std::vector<TFetchOutcome> TUpdateSource::DownloadEach(const std::vector<std::string>& names,
                                                       const std::string& area,
                                                       const std::string& baseDir) {
  std::vector<TFetchOutcome> outcomes(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    outcomes[i] = FetchOutcomeOf([&] { return DownloadOne(names[i], area, false, baseDir); });
  return outcomes;
}

void SetUpdateSource(std::shared_ptr<TUpdateSource> source) {
  std::lock_guard guard(sourceLock);
  currentSource = std::move(source);
}

std::shared_ptr<TUpdateSource> GetUpdateSource() {
  std::lock_guard guard(sourceLock);
  if (!currentSource) throw Exception("No update source is installed!");
  return currentSource;
}

}  // namespace zor
