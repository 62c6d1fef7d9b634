#include "transport/socket_listen_list.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace zor {
namespace {

struct ListenList {
  std::mutex Lock;
  std::vector<std::shared_ptr<TListenRecord>> Records;
  // At process end every remaining listening socket is closed.
  ~ListenList() {
    for (auto& record : Records) CloseSocket(record->Socket);
  }
};

ListenList& SocketListenList() {
  static ListenList list;
  return list;
}

}  // namespace

std::shared_ptr<TListenRecord> AcquireListenRecord(const SocketAddress& address, int& error) {
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  for (auto& record : list.Records) {
    if (record->Address == address) {
      ++record->RefCount;
      return record;
    }
  }
  const int s = CreateSocket(SocketKind::Stream, error);
  if (s == kNoSocket) return nullptr;
  if (!BindSocket(s, address, error) || !ListenSocket(s, kListenBacklog, error)) {
    CloseSocket(s);
    return nullptr;
  }
  auto record = std::make_shared<TListenRecord>();
  record->Address = address;
  record->Socket = s;
  record->RefCount = 1;
  list.Records.push_back(record);
  return record;
}

void ReleaseListenRecord(std::shared_ptr<TListenRecord>& record) {
  if (!record) return;
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  if (--record->RefCount <= 0) {
    CloseSocket(record->Socket);
    record->Socket = kNoSocket;
    list.Records.erase(std::remove(list.Records.begin(), list.Records.end(), record), list.Records.end());
  }
  record.reset();
}

size_t ListenRecordCount() {
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  return list.Records.size();
}

}  // namespace zor
