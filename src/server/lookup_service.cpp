#include "server/lookup_service.h"

#include "base/clock.h"
#include "platform/socket.h"
#include "server/dotted_address.h"
#include "transport/cloud_lookup_wire.h"
#include "transport/http_client.h"

namespace zor {
namespace {

constexpr int kPollMs = 200;  // how often the accept loop looks at its stop flag
constexpr int kListenBacklog = 32;

HttpResponse TextResponse(int status, std::string text) {
  HttpResponse response;
  response.Status = status;
  response.Headers.push_back(HttpHeader{"Content-Type", "text/plain; charset=utf-8"});
  response.Body = std::move(text);
  return response;
}

}  // namespace

HttpResponse AnswerLookupRequest(const TLookupTable& table, const HttpRequest& request) {
  if (request.Method != "GET") {
    HttpResponse response = TextResponse(405, "only GET is answered");
    response.Headers.push_back(HttpHeader{"Allow", "GET"});
    return response;
  }
  HttpTarget target;
  try {
    target = ParseHttpTarget(request.Target);
  } catch (const EHttpError& error) {
    return TextResponse(400, error.what());
  }
  if (target.Path != kCloudCallPath) return TextResponse(404, "no such service: " + target.Path);
  const std::string* code = target.Parameter(kCloudParamCode);
  if (!code || *code != std::to_string(kCloudFunctionServerInfo)) {
    return TextResponse(400, "unknown function code " + (code ? *code : std::string("(none)")));
  }
  const std::string* id = target.Parameter(kCloudParamSecond);
  if (!id || id->empty()) return TextResponse(400, "no enterprise id");
  const TLookupEntry* entry = table.Find(*id);
  if (!entry) return TextResponse(404, "no server is registered for enterprise id " + *id);
  HttpResponse response;
  response.Status = 200;
  response.Headers.push_back(HttpHeader{"Content-Type", "application/json; charset=utf-8"});
  response.Body = ServerInfoAnswer(*entry);
  return response;
}

TLookupService::TLookupService(TServerLog& log, TLookupTable table)
    : Log(log), Table(std::make_shared<const TLookupTable>(std::move(table))) {}

TLookupService::~TLookupService() {
  Stop();
}

void TLookupService::SetTable(TLookupTable table) {
  auto shared = std::make_shared<const TLookupTable>(std::move(table));
  std::lock_guard guard(TableLock);
  Table = std::move(shared);
}

void TLookupService::Start(const std::string& bindAddress, uint16_t port) {
  if (Listener != kNoSocket) return;
  SocketAddress local = BindAddress(bindAddress, port);
  int error = 0;
  const int s = CreateSocket(SocketKind::Stream, error);
  if (s == kNoSocket)
    throw Exception("Cannot create the lookup service socket: " + SocketErrorText(error));
  if (!BindSocket(s, local, error) || !ListenSocket(s, kListenBacklog, error) ||
      !SocketLocalAddress(s, local, error)) {
    CloseSocket(s);
    throw Exception("Cannot listen for the lookup service on TCP port " + std::to_string(port) +
                    ": " + SocketErrorText(error));
  }
  Listener = s;
  BoundPort = local.Port;
  StopFlag = false;
  AcceptThread = std::thread([this] { AcceptLoop(); });
}

void TLookupService::Stop() {
  StopFlag = true;
  if (Listener != kNoSocket) ShutdownSocket(Listener);  // wakes the accept loop at once
  if (AcceptThread.joinable()) AcceptThread.join();
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

size_t TLookupService::ReapConnections() {
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

size_t TLookupService::OpenFrom(uint32_t address) {
  std::lock_guard guard(ConnectionsLock);
  size_t open = 0;
  for (const Connection& connection : Connections)
    if (connection.Address == address && !connection.Finished.load()) ++open;
  return open;
}

void TLookupService::AcceptLoop() {
  while (!StopFlag) {
    int error = 0;
    const int events = PollSocket(Listener, kPollReadable, kPollMs, error);
    if (events <= 0 || (events & kPollReadable) == 0) continue;
    SocketAddress peer;
    const int s = AcceptSocket(Listener, peer, error);
    if (s == kNoSocket) continue;
    const bool full = ReapConnections() >= kMaxLookupConnections;
    if (full || OpenFrom(peer.Address) >= kMaxLookupsPerAddress) {
      std::string ignored;
      SendAllBefore(s,
                    FormatHttpResponse(TextResponse(
                        503, full ? "too many lookups at once; try again"
                                  : "too many lookups from your address at once; try again")),
                    GetClock().Now() + std::chrono::milliseconds(kLookupRequestTimeoutMs), ignored);
      CloseSocket(s);
      Log.Warning("Lookup", "Refused a lookup from " + FormatIPv4(peer.Address) +
                                (full ? ": too many at once" : ": too many from there at once"));
      continue;
    }
    std::lock_guard guard(ConnectionsLock);
    Connection& connection = Connections.emplace_back();
    connection.Socket = s;
    connection.Address = peer.Address;
    connection.Thread = std::thread([this, &connection, peer] {
      try {
        Serve(connection);
      } catch (const std::exception& e) {
        Log.Warning("Lookup", "A lookup from " + FormatIPv4(peer.Address) + " failed: " + e.what());
      }
      // The peer sees the end at once; the socket itself is closed when the thread is reaped.
      ShutdownSocket(connection.Socket);
      connection.Finished = true;
    });
  }
}

void TLookupService::Serve(Connection& connection) {
  const int s = connection.Socket;
  const auto deadline = GetClock().Now() + std::chrono::milliseconds(kLookupRequestTimeoutMs);
  HttpMessageReader reader(HttpMessageReader::Kind::Request);
  char buffer[4096];
  HttpResponse response;
  try {
    while (!reader.Complete()) {
      int error = 0;
      const int64_t got = SocketReceive(s, buffer, sizeof(buffer), error);
      if (got > 0) {
        reader.Feed(std::string_view(buffer, static_cast<size_t>(got)));
        continue;
      }
      if (got == 0) {
        reader.FeedEnd();
        break;
      }
      const SocketErrorKind kind = ClassifySocketError(error);
      if (kind == SocketErrorKind::Interrupted) continue;
      if (kind != SocketErrorKind::WouldBlock) return;
      const int left = MillisecondsUntil(deadline);
      if (left <= 0 || StopFlag) return;
      PollSocket(s, kPollReadable, std::min(left, kPollMs), error);
    }
    std::shared_ptr<const TLookupTable> table;
    {
      std::lock_guard guard(TableLock);
      table = Table;
    }
    response = AnswerLookupRequest(*table, reader.Request());
  } catch (const EHttpError& error) {
    response = TextResponse(400, error.what());
  }
  ++AnswerCount;  // before sending, so that a client holding the answer sees it counted
  // A peer that stops reading is given up at the request's deadline.
  std::string ignored;
  SendAllBefore(s, FormatHttpResponse(response), deadline, ignored);
  Log.Debug("Lookup", reader.Complete()
                          ? reader.Request().Target + " -> " + std::to_string(response.Status)
                          : "malformed request -> " + std::to_string(response.Status));
}

}  // namespace zor
