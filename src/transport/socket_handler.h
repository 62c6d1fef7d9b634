// An I/O handler on a non-blocking stream socket: reads and writes that would block are
// pending and completed by waiting on the socket; a server end listens on a shared
// listening socket and accepts one peer. Subclasses say which peers are welcome.
#pragma once

#include <atomic>

#include <functional>
#include <memory>
#include <shared_mutex>

#include "platform/socket.h"
#include "transport/io_handler.h"
#include "transport/socket_listen_list.h"

namespace zor {

inline constexpr int32_t kSocketDefaultTimeout = 60;  // seconds
inline constexpr auto kAcceptPollInterval = std::chrono::milliseconds(50);

class TSocketHandler : public TIcIOHandler {
 public:
  ~TSocketHandler() override;

  int32_t ReadData(uint8_t* buffer, int32_t count) override;
  int32_t WriteData(const uint8_t* buffer, int32_t count) override;
  // Completes at once when input is waiting, else on a later `CompleteAsync`; an ended
  // stream counts as a reset link.
  void ReadAsync(uint8_t* buffer, int32_t count) override;
  int32_t WaitIO(int direction, int32_t milliseconds) override;
  // Listens (sharing the socket with other handlers on the same address) and tries to
  // accept at once; true when a peer was accepted.
  bool DoOpen() override;
  void DoClose() override;
  const char* ClassName() const override { return "TSocketHandler"; }
  void Close() override;
  bool WaitReadable(int32_t seconds) override;
  bool DataAvailable() override;

  virtual void CheckListenAddress(const SocketAddress&) {}
  // The shared listening socket a server end accepts from (the TCP address by default).
  virtual std::shared_ptr<TListenRecord> AcquireListener(int& error);
  // How a failed system call reads: "<kind> Error. Code: %d. %s".
  virtual std::string_view ErrorFormat() const;
  virtual void SetSocket(int socket);
  virtual bool AcceptPeer(const SocketAddress&) { return true; }
  // Whether a connected server end keeps its listening socket: a TCP connection does not
  // (the address stops taking connections when its listeners stop); a pipe name lives
  // while any of its ends does.
  virtual bool KeepsListenerWhenConnected() const { return false; }

  // One accept attempt of a waiting server end; true once connected.
  bool TryAccept();
  // Waits up to `seconds` (special values as for reads) for a peer, running idle steps.
  bool WaitForPeer(int32_t seconds);
  // Delivers a pending asynchronous read when input has arrived; true when it did.
  bool CompleteAsync(int32_t milliseconds = 0);

  SocketAddress LocalAddress;
  SocketAddress PeerAddress;

 protected:
  TSocketHandler(std::string_view connectString, TNotifyEvent onIdle);
  // Applies the error rules to a failed call: -1 when it is only not finished yet; raises
  // otherwise (`EConnectBroken` with state 3 for a lost link).
  int32_t CheckError(int error);
  // Connects to `address`, waiting at most the default time-out.
  void ConnectTo(const SocketAddress& address);
  int Socket() const { return SocketFd; }
  std::shared_ptr<TListenRecord> ListenEntry;
  std::function<void()> Scheduled;

 private:
  int32_t Transfer(int direction, uint8_t* buffer, int32_t count);
  void CancelSchedule();

  // Read without the lock by a thread that closes the handler while its own thread uses it.
  std::atomic<int> SocketFd{kNoSocket};
  std::shared_mutex FdLock;  // a close waits until no call is inside the socket
  uint8_t* Pending[2] = {nullptr, nullptr};
  int32_t PendingCount[2] = {0, 0};
  uint8_t* AsyncBuffer = nullptr;
  int32_t AsyncCount = 0;
};

}  // namespace zor
