// The thin socket API the transports use: IPv4 stream and datagram sockets, always
// non-blocking and closed on exec, with waits done by `PollSocket`. Calls report failure
// through the system error number they return or leave in `error`; the transports decide
// what a failure means with `ClassifySocketError`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

// An IPv4 socket address; both numbers in host byte order.
struct SocketAddress {
  uint32_t Address = 0;
  uint16_t Port = 0;
  bool operator==(const SocketAddress&) const = default;
};

inline constexpr int kNoSocket = -1;

enum class SocketErrorKind {
  None,            // success
  WouldBlock,      // not finished yet: wait and try again
  Interrupted,     // a signal broke in: try again at once
  Aborted,         // the operation was cancelled: end it silently
  ConnectionLoss,  // the link is gone (reset, aborted, shut down, timed out, not a socket)
  Other,
};

SocketErrorKind ClassifySocketError(int error);
std::string SocketErrorText(int error);
// The system's "connection reset by peer" and "connection refused" numbers (for tests).
int SocketErrorConnectionReset();
int SocketErrorConnectionRefused();
int SocketErrorTimedOut();

enum class SocketKind { Stream, Datagram };

// Each returns -1 (or false) on failure with the system error in `error`.
int CreateSocket(SocketKind kind, int& error);
void CloseSocket(int socket);
// Closes so that the peer sees its connection reset rather than ended.
void AbortSocket(int socket);
// Both directions; wakes every thread waiting on the socket.
void ShutdownSocket(int socket);
bool SetSocketKeepAlive(int socket, int& error);
bool SetSocketNoDelay(int socket, int& error);
bool BindSocket(int socket, const SocketAddress& address, int& error);
bool ListenSocket(int socket, int backlog, int& error);
// Starts a connect; true when it is done or under way (wait for writable, then
// `SocketConnectResult`).
bool StartConnect(int socket, const SocketAddress& address, int& error);
int SocketConnectResult(int socket);  // 0 when connected, else the error
int AcceptSocket(int listening, SocketAddress& peer, int& error);
bool SocketLocalAddress(int socket, SocketAddress& address, int& error);
int64_t SocketReceive(int socket, void* buffer, int64_t count, int& error);
int64_t SocketSend(int socket, const void* buffer, int64_t count, int& error);
int64_t SocketSendTo(int socket, const void* buffer, int64_t count, const SocketAddress& to,
                     int& error);
int64_t SocketReceiveFrom(int socket, void* buffer, int64_t count, SocketAddress& from, int& error);
// Bytes waiting to be read, or -1.
int64_t SocketBytesAvailable(int socket, int& error);

inline constexpr int kPollReadable = 1;
inline constexpr int kPollWritable = 2;
inline constexpr int kPollFailed = 4;  // error or hang-up reported on the socket
// Waits up to `milliseconds` (-1 forever) for any of `events`; the events that happened
// (0 = time used up), or -1 with `error`.
int PollSocket(int socket, int events, int milliseconds, int& error);

// A TCP port on 127.0.0.1 that nothing listens on right now (tests, benchmarks); 0 when
// none could be found.
uint16_t FreeLoopbackPort();

// The first IPv4 address of a host name from the system resolver; false when none.
bool ResolveHostName(const std::string& name, uint32_t& address);
// Dotted text of a host-order address.
std::string FormatIPv4(uint32_t address);

}  // namespace zor
