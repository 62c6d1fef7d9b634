#include "startup/updating/update_source.h"

#include <mutex>

#include "base/exceptions.h"

namespace zor {
namespace {

std::mutex sourceLock;
std::shared_ptr<TUpdateSource> currentSource;

}  // namespace

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
