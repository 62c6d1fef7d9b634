// The process-wide list of listening sockets ("SocketListenList"): handlers that listen on
// the same local address share one socket; the last one to let go closes it.
#pragma once

#include <atomic>
#include <memory>

#include "platform/socket.h"

namespace zor {

inline constexpr int kListenBacklog = 5;

struct TListenRecord {
  SocketAddress Address;
  int Socket = kNoSocket;
  std::atomic<int32_t> RefCount{0};
};

// The record for `address`, created (bound and listening, non-blocking) when there is
// none; counts one more user. On failure returns nullptr with the system error.
std::shared_ptr<TListenRecord> AcquireListenRecord(const SocketAddress& address, int& error);
// Counts one user less; the last one closes the socket and removes the record.
void ReleaseListenRecord(std::shared_ptr<TListenRecord>& record);
// Records in the list (for tests).
size_t ListenRecordCount();

}  // namespace zor
