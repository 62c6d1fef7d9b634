#include "transport/socket_listen_list.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/local_socket.h"

namespace zor {
namespace {

struct ListenList {
  std::mutex Lock;
  std::vector<std::shared_ptr<TListenRecord>> Records;
  // At process end every remaining listening socket is closed.
  ~ListenList() {
    for (auto& record : Records) {
      CloseSocket(record->Socket);
      if (!record->RemovePath.empty()) RemoveLocalName(record->RemovePath);
    }
  }
};

ListenList& SocketListenList() {
  static ListenList list;
  return list;
}

}  // namespace

std::shared_ptr<TListenRecord> AcquireListenRecord(const std::string& key,
                                                   const std::function<int(int&)>& listen,
                                                   int& error, const std::string& removePath) {
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  for (auto& record : list.Records) {
    if (record->Key == key) {
      ++record->RefCount;
      return record;
    }
  }
  const int s = listen(error);
  if (s == kNoSocket) return nullptr;
  auto record = std::make_shared<TListenRecord>();
  record->Key = key;
  record->Socket = s;
  record->RemovePath = removePath;
  record->RefCount = 1;
  list.Records.push_back(record);
  return record;
}

std::shared_ptr<TListenRecord> AcquireListenRecord(const SocketAddress& address, int& error) {
  const std::string key = "tcp:" + FormatIPv4(address.Address) + ":" + std::to_string(address.Port);
  return AcquireListenRecord(
      key,
      [&address](int& err) {
        const int s = CreateSocket(SocketKind::Stream, err);
        if (s == kNoSocket) return kNoSocket;
        if (!BindSocket(s, address, err) || !ListenSocket(s, kListenBacklog, err)) {
          CloseSocket(s);
          return kNoSocket;
        }
        return s;
      },
      error);
}

void ReleaseListenRecord(std::shared_ptr<TListenRecord>& record) {
  if (!record) return;
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  if (--record->RefCount <= 0) {
    CloseSocket(record->Socket);
    record->Socket = kNoSocket;
    if (!record->RemovePath.empty()) RemoveLocalName(record->RemovePath);
    list.Records.erase(std::remove(list.Records.begin(), list.Records.end(), record),
                       list.Records.end());
  }
  record.reset();
}

size_t ListenRecordCount() {
  ListenList& list = SocketListenList();
  std::lock_guard guard(list.Lock);
  return list.Records.size();
}

}  // namespace zor
