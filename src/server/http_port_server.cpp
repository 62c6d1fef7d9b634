#include "server/http_port_server.h"

#include "base/clock.h"
#include "platform/socket.h"
#include "server/dotted_address.h"
#include "transport/http_client.h"

namespace zor {
namespace {

constexpr int kPollMs = 200;  // how often the accept loop looks at its stop flag
constexpr int kListenBacklog = 32;

}  // namespace

HttpResponse TextHttpResponse(int status, std::string text) {
  HttpResponse response;
  response.Status = status;
  response.Headers.push_back(HttpHeader{"Content-Type", "text/plain; charset=utf-8"});
  response.Body = std::move(text);
  return response;
}

std::variant<HttpTarget, HttpResponse> ParseGetRequest(const HttpRequest& request) {
  if (request.Method != "GET") {
    HttpResponse response = TextHttpResponse(405, "only GET is answered");
    response.Headers.push_back(HttpHeader{"Allow", "GET"});
    return response;
  }
  try {
    return ParseHttpTarget(request.Target);
  } catch (const EHttpError& error) {
    return TextHttpResponse(400, error.what());
  }
}

THttpPortServer::THttpPortServer(TServerLog& log, THttpPortNames names, THttpPortLimits limits,
                                 Handler handler)
    : Log(log), Names(std::move(names)), Limits(limits), Answer(std::move(handler)) {}

THttpPortServer::~THttpPortServer() {
  Stop();
}

void THttpPortServer::Start(const std::string& bindAddress, uint16_t port) {
  if (Listener != kNoSocket) return;
  SocketAddress local = BindAddress(bindAddress, port);
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  if (s == kNoSocket)
    throw Exception("Cannot create the " + Names.Request +
                    " service socket: " + SocketErrorText(error));
  if (!BindSocket(s, local, error) || !ListenSocket(s, kListenBacklog, error) ||
      !SocketLocalAddress(s, local, error)) {
    CloseSocket(s);
    throw Exception("Cannot listen for the " + Names.Request + " service on TCP port " +
                    std::to_string(port) + ": " + SocketErrorText(error));
  }
  Listener = s;
  BoundPort = local.Port;
  AcceptWorker.Start([this](std::stop_token stop) { AcceptLoop(stop); });
}

void THttpPortServer::Stop() {
  AcceptWorker.RequestStop();
  if (Listener != kNoSocket) ShutdownSocket(Listener);  // wakes the accept loop at once
  AcceptWorker.Stop();
  {
    std::lock_guard guard(ConnectionsLock);
    for (Connection& connection : Connections) ShutdownSocket(connection.Socket);
  }
  for (Connection& connection : Connections) {
    if (connection.Thread.joinable()) connection.Thread.join();
    CloseSocket(connection.Socket);
  }
  Connections.clear();
  if (Listener != kNoSocket) CloseSocket(Listener);
  Listener = kNoSocket;
}

size_t THttpPortServer::ReapConnections() {
  std::list<Connection> ended;
  {
    std::lock_guard guard(ConnectionsLock);
    for (auto it = Connections.begin(); it != Connections.end();) {
      auto next = std::next(it);
      if (it->Finished.load()) ended.splice(ended.end(), Connections, it);
      it = next;
    }
  }
  for (Connection& connection : ended) {
    connection.Thread.join();
    CloseSocket(connection.Socket);
  }
  std::lock_guard guard(ConnectionsLock);
  return Connections.size();
}

size_t THttpPortServer::OpenFrom(uint32_t address) {
  std::lock_guard guard(ConnectionsLock);
  size_t open = 0;
  for (const Connection& connection : Connections)
    if (connection.Address == address && !connection.Finished.load()) ++open;
  return open;
}

void THttpPortServer::AcceptLoop(const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    int error = 0;
    const int events = PollSocket(Listener, kPollReadable, kPollMs, error);
    if (events <= 0 || (events & kPollReadable) == 0) continue;
    SocketAddress peer;
    const int s = AcceptSocket(Listener, peer, error);
    if (s == kNoSocket) continue;
    const bool full = ReapConnections() >= Limits.MaxConnections;
    if (full || OpenFrom(peer.Address) >= Limits.MaxPerAddress) {
      std::string ignored;
      SendAllBefore(
          s,
          FormatHttpResponse(TextHttpResponse(
              503, full ? "too many " + Names.Requests + " at once; try again"
                        : "too many " + Names.Requests + " from your address at once; try again")),
          GetClock().Now() + std::chrono::milliseconds(Limits.RequestTimeoutMs), ignored);
      CloseSocket(s);
      Log.Warning(Names.Tag, "Refused a " + Names.Request + " from " + FormatIPv4(peer.Address) +
                                 (full ? ": too many at once" : ": too many from there at once"));
      continue;
    }
    std::lock_guard guard(ConnectionsLock);
    Connection& connection = Connections.emplace_back();
    connection.Socket = s;
    connection.Address = peer.Address;
    connection.Thread = std::thread([this, &connection, peer, stop] {
      try {
        Serve(connection, stop);
      } catch (const std::exception& e) {
        Log.Warning(Names.Tag, "A " + Names.Request + " from " + FormatIPv4(peer.Address) +
                                   " failed: " + e.what());
      }
      // The peer sees the end at once; the socket itself is closed when the thread is reaped.
      ShutdownSocket(connection.Socket);
      connection.Finished = true;
    });
  }
}

void THttpPortServer::Serve(Connection& connection, const std::stop_token& stop) {
  const int s = connection.Socket;
  const auto deadline = GetClock().Now() + std::chrono::milliseconds(Limits.RequestTimeoutMs);
  HttpMessageReader reader(HttpMessageReader::Kind::Request);
  HttpResponse response;
  try {
    int error = 0;
    const auto stopping = [&stop] { return stop.stop_requested(); };
    if (ReceiveHttpMessage(s, reader, deadline, error, stopping, kPollMs) !=
        HttpReceiveEnd::Complete)
      return;
    response = Answer(reader.Request());
  } catch (const EHttpError& error) {
    response = TextHttpResponse(400, error.what());
  }
  ++AnswerCount;  // before sending, so that a client holding the answer sees it counted
  // A peer that stops reading is given up at the request's deadline.
  std::string ignored;
  SendAllBefore(s, FormatHttpResponse(response), deadline, ignored);
  // Below info: a balancer's checks come every few seconds and would bury the log.
  Log.Debug(Names.Tag, reader.Complete()
                           ? reader.Request().Target + " -> " + std::to_string(response.Status)
                           : "malformed request -> " + std::to_string(response.Status));
}

}  // namespace zor
