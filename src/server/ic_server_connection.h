// The server's end of one client session: a connection that answers requests (payloads with
// the short stream magic) and can take over the transport of another connection when its
// client comes back after a broken link.
#pragma once

#include "intercom/ic_connection.h"

namespace zor {

class TIcServerConnection : public TIcConnection {
 public:
  TIcServerConnection(TScrambleRoutine encrypt, uint32_t key, TScrambleRoutine decrypt);
  const char* ClassName() const override { return "TIcServerConnection"; }
  bool IsServerSide() override { return true; }

  // Takes `other`'s transport and its current scrambling key; `other` is left without one.
  void AdoptTransport(TIcServerConnection& other);
  // True when the client has closed its end: the transport reports input but none is there.
  bool PeerHasLeft();
};

}  // namespace zor
