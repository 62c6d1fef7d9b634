#include "transport/socket_handler.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "base/clock.h"
#include "base/run_status.h"
#include "transport/handler_scheduler.h"
#include "transport/raise_io_error.h"
#include "transport/tcp_messages.h"

namespace zor {

TSocketHandler::TSocketHandler(std::string_view connectString, TNotifyEvent onIdle)
    : TIcIOHandler(connectString, std::move(onIdle)) {
  DefaultTimeout = kSocketDefaultTimeout;
}

TSocketHandler::~TSocketHandler() {
  CancelSchedule();
  CloseOnDestroy();
  ReleaseListenRecord(ListenEntry);
  if (SocketFd != kNoSocket) CloseSocket(SocketFd);
}

void TSocketHandler::CancelSchedule() {
  if (auto cancel = std::exchange(Scheduled, nullptr)) cancel();
}

int32_t TSocketHandler::CheckError(int error) {
  switch (ClassifySocketError(error)) {
    case SocketErrorKind::None:
    case SocketErrorKind::WouldBlock:
    case SocketErrorKind::Interrupted:
      return -1;
    case SocketErrorKind::Aborted:
      throw EAbort("Operation aborted!");
    case SocketErrorKind::ConnectionLoss:
      SetState(kStateDisconnected);
      RaiseIOErrorFmt(this, ErrorFormat(), {error, SocketErrorText(error)}, error, true);
    default:
      RaiseIOErrorFmt(this, ErrorFormat(), {error, SocketErrorText(error)}, error, false);
  }
}

void TSocketHandler::SetSocket(int socket) {
  SocketFd = socket;
  SetHandle(socket + 1);  // a handle of 0 means closed, and 0 is a valid descriptor
}

int32_t TSocketHandler::Transfer(int direction, uint8_t* buffer, int32_t count) {
  std::shared_lock fd(FdLock);
  if (SocketFd == kNoSocket) {
    SetState(kStateDisconnected);
    RaiseIOError(this, "The handler is disconnected!", -1, true);
  }
  int error = 0;
  const int64_t n = direction == kDirectionRead ? SocketReceive(SocketFd, buffer, count, error)
                                                : SocketSend(SocketFd, buffer, count, error);
  if (n >= 0) return static_cast<int32_t>(n);
  if (CheckError(error) < 0) {
    Pending[direction] = buffer;
    PendingCount[direction] = count;
  }
  return -1;
}

int32_t TSocketHandler::ReadData(uint8_t* buffer, int32_t count) {
  return Transfer(kDirectionRead, buffer, count);
}

int32_t TSocketHandler::WriteData(const uint8_t* buffer, int32_t count) {
  return Transfer(kDirectionWrite, const_cast<uint8_t*>(buffer), count);
}

int32_t TSocketHandler::WaitIO(int direction, int32_t milliseconds) {
  {
    std::shared_lock fd(FdLock);
    if (SocketFd == kNoSocket) return -1;
    int error = 0;
    const int ready = PollSocket(
        SocketFd, direction == kDirectionRead ? kPollReadable : kPollWritable, milliseconds, error);
    if (ready < 0) return CheckError(error);
    if (ready == 0) return -1;
  }
  return Transfer(direction, Pending[direction], PendingCount[direction]);
}

void TSocketHandler::ReadAsync(uint8_t* buffer, int32_t count) {
  AsyncBuffer = buffer;
  AsyncCount = count;
  CompleteAsync(0);
}

bool TSocketHandler::CompleteAsync(int32_t milliseconds) {
  if (AsyncBuffer == nullptr) return false;
  int32_t n = ReadData(AsyncBuffer, AsyncCount);
  if (n < 0) n = WaitIO(kDirectionRead, milliseconds);
  if (n < 0) return false;
  AsyncBuffer = nullptr;
  if (n == 0) {
    const int reset = SocketErrorConnectionReset();
    SetState(kStateDisconnected);
    RaiseIOErrorFmt(this, ErrorFormat(), {reset, SocketErrorText(reset)}, reset, true);
  }
  if (OnReadComplete) OnReadComplete(*this, n);
  return true;
}

void TSocketHandler::ConnectTo(const SocketAddress& address) {
  int error = 0;
  if (SocketFd == kNoSocket) {
    const int s = CreateSocket(SocketKind::Stream, error);
    if (s == kNoSocket)
      throw Exception(Format(kWinSockErrorFormat, {error, SocketErrorText(error)}));
    SetSocket(s);
  }
  if (!StartConnect(SocketFd, address, error)) CheckError(error);
  // The system gives up by itself much later; a connect waits no longer than a read would.
  const int64_t limit = ResolveTimeoutMs(kTimeoutDefault);
  const auto start = GetClock().Now();
  for (;;) {
    const int ready = PollSocket(SocketFd, kPollWritable, kWaitStepMs, error);
    if (ready < 0) CheckError(error);
    if (ready > 0) break;
    if (GetRunStatus() > kRunStatusQuiet) throw EAbort("Operation aborted!");
    if (limit >= 0 && MillisecondsSince(start) >= limit) {
      CheckError(SocketErrorTimedOut());
    }
  }
  if (const int result = SocketConnectResult(SocketFd); result != 0) {
    if (ClassifySocketError(result) == SocketErrorKind::ConnectionLoss) {
      RaiseIOErrorFmt(this, ErrorFormat(), {result, SocketErrorText(result)}, result, true);
    }
    CheckError(result);
  }
  PeerAddress = address;
  SocketLocalAddress(SocketFd, LocalAddress, error);
  SetState(kStateConnected);
}

std::string_view TSocketHandler::ErrorFormat() const {
  return kWinSockErrorFormat;
}

std::shared_ptr<TListenRecord> TSocketHandler::AcquireListener(int& error) {
  ReleaseListenRecord(ListenEntry);
  CheckListenAddress(LocalAddress);
  return AcquireListenRecord(LocalAddress, error);
}

bool TSocketHandler::DoOpen() {
  int error = 0;
  ListenEntry = AcquireListener(error);
  if (!ListenEntry) {
    CheckError(error);
    RaiseIOErrorFmt(this, ErrorFormat(), {error, SocketErrorText(error)}, error, false);
  }
  SetHandle(1);  // waiting: open, but with no socket of its own yet
  SetState(kStateWaiting);
  if (TryAccept()) return true;
  Scheduled = SchedulePeriodic(kAcceptPollInterval, [this] { TryAccept(); });
  return false;
}

bool TSocketHandler::TryAccept() {
  if (GetState() == kStateConnected) return true;
  if (GetState() != kStateWaiting || !ListenEntry) return false;
  for (;;) {
    SocketAddress peer;
    int error = 0;
    const int s = AcceptSocket(ListenEntry->Socket, peer, error);
    if (s == kNoSocket) {
      const SocketErrorKind kind = ClassifySocketError(error);
      if (kind == SocketErrorKind::WouldBlock || kind == SocketErrorKind::Interrupted) return false;
      CancelSchedule();
      ReleaseListenRecord(ListenEntry);
      SetState(kStateDisconnected);
      if (OnConnect) OnConnect(*this);
      return false;
    }
    if (!AcceptPeer(peer)) {  // refused by the filter: keep waiting for another
      CloseSocket(s);
      continue;
    }
    CancelSchedule();
    if (!KeepsListenerWhenConnected()) ReleaseListenRecord(ListenEntry);
    SetSocket(s);
    PeerAddress = peer;
    SocketLocalAddress(s, LocalAddress, error);
    SetState(kStateConnected);
    return true;
  }
}

bool TSocketHandler::WaitForPeer(int32_t seconds) {
  const int64_t limit = ResolveTimeoutMs(seconds);
  const auto start = GetClock().Now();
  for (;;) {
    if (TryAccept()) return true;
    if (GetState() != kStateWaiting || !ListenEntry) return false;
    if (limit >= 0 && MillisecondsSince(start) >= limit) return false;
    int error = 0;
    PollSocket(ListenEntry->Socket, kPollReadable, static_cast<int>(kAcceptPollInterval.count()),
               error);
    IdleStep();
    if (GetRunStatus() == kRunStatusStopNow) return false;
  }
}

void TSocketHandler::DoClose() {
  CancelSchedule();
  ReleaseListenRecord(ListenEntry);
  if (const int socket = SocketFd; socket != kNoSocket)
    ShutdownSocket(socket);  // wakes a thread waiting on it
  std::unique_lock fd(FdLock);
  CloseSocket(SocketFd);
  SocketFd = kNoSocket;
}

void TSocketHandler::Close() {
  if (const int socket = SocketFd; IsConnected() && socket != kNoSocket) ShutdownSocket(socket);
  TIcIOHandler::Close();
}

bool TSocketHandler::WaitReadable(int32_t seconds) {
  const ScopedWaitingStatus waiting;
  const int64_t limit = seconds == 0 ? 0 : ResolveTimeoutMs(seconds);
  const auto start = GetClock().Now();
  for (;;) {
    int ready;
    {
      std::shared_lock fd(FdLock);
      if (SocketFd == kNoSocket) return false;
      int error = 0;
      const int64_t left =
          limit < 0 ? kWaitStepMs
                    : std::clamp<int64_t>(limit - MillisecondsSince(start), 0, kWaitStepMs);
      ready = PollSocket(SocketFd, kPollReadable, static_cast<int>(left), error);
      if (ready < 0) CheckError(error);
    }
    if (ready > 0) return true;
    if (limit >= 0 && MillisecondsSince(start) >= limit) return false;
    IdleStep();
    if (GetRunStatus() == kRunStatusStopNow) return false;
  }
}

bool TSocketHandler::DataAvailable() {
  std::shared_lock fd(FdLock);
  if (SocketFd == kNoSocket) return false;
  int error = 0;
  const int64_t n = SocketBytesAvailable(SocketFd, error);
  if (n >= 0) return n > 0;
  if (ClassifySocketError(error) == SocketErrorKind::ConnectionLoss) {
    SetState(kStateDisconnected);
    return false;
  }
  CheckError(error);
  return false;
}

}  // namespace zor
