#include "update/update_notice.h"

#include <iostream>
#include <mutex>
#include <utility>

namespace zor {
namespace {

std::mutex gLock;
TUpdateNoticeSink gSink;

}  // namespace

void UpdateNotice(std::string_view text) {
  std::lock_guard guard(gLock);
  if (gSink) {
    gSink(std::string(text));
  } else {
    std::cerr << "Client: " << text << '\n';
  }
}

TUpdateNoticeSink SetUpdateNoticeSink(TUpdateNoticeSink sink) {
  std::lock_guard guard(gLock);
  return std::exchange(gSink, std::move(sink));
}

}  // namespace zor
