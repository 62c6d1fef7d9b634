#include "server/ic_server_connection.h"

namespace zor {

TIcServerConnection::TIcServerConnection(TScrambleRoutine encrypt, uint32_t key,
                                         TScrambleRoutine decrypt)
    : TIcConnection(encrypt, key, decrypt) {
  ShortStreamMagic = 1;
}

void TIcServerConnection::AdoptTransport(TIcServerConnection& other) {
  std::unique_ptr<TIcIOHandler> handler;
  {
    std::lock_guard guard(other.ObjectLock);
    handler = std::move(other.HandlerPtr);
  }
  if (HandlerPtr) HandlerPtr->Close();
  SetHandler(std::move(handler));
  SetKey(other.GetKey());
  BadHeaderCount = 0;
}

bool TIcServerConnection::PeerHasLeft() {
  TIcIOHandler* handler = Handler();
  if (!handler || !handler->IsConnected()) return true;
  try {
    return handler->PollReadable() && !handler->DataAvailable();
  } catch (const std::exception&) {
    return true;
  }
}

}  // namespace zor
