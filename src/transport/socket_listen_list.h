// The process-wide list of listening sockets ("SocketListenList"): handlers that listen on
// the same local address share one socket; the last one to let go closes it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/socket.h"

namespace zor {

inline constexpr int kListenBacklog = 5;

struct TListenRecord {
  std::string Key;  // what the handlers share: a TCP address, a local socket name
  int Socket = kNoSocket;
  std::string RemovePath;  // a socket file removed with the last user, or empty
  std::atomic<int32_t> RefCount{0};
};

// The record for `key`, created with `listen` (returns the listening socket, or -1 with
// the system error) when there is none; counts one more user. On failure returns nullptr
// with the system error.
std::shared_ptr<TListenRecord> AcquireListenRecord(const std::string& key,
                                                   const std::function<int(int&)>& listen,
                                                   int& error, const std::string& removePath = {});
// The TCP form: a non-blocking socket bound to `address`, listening with the usual backlog.
std::shared_ptr<TListenRecord> AcquireListenRecord(const SocketAddress& address, int& error);
// Counts one user less; the last one closes the socket and removes the record.
void ReleaseListenRecord(std::shared_ptr<TListenRecord>& record);
// Records in the list (for tests).
size_t ListenRecordCount();

}  // namespace zor
