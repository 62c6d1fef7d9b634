// Host discovery: asks the name service (see name_service_settings.h) for the IPv4
// address registered under a short name. One client, one socket, one lookup.
#pragma once

#include <cstdint>
#include <string>

#include "transport/udp_handler.h"

namespace zor {

// A routine that scrambles or unscrambles a whole datagram in place with `key`.
using TDatagramCoder = void (*)(uint8_t* buffer, int32_t length, uint32_t key);
// The fixed key given to the routines.
inline constexpr uint32_t kZORHostCoderKey = 0x0768A5C3;

// Installs the pair (both or neither take effect); nullptr removes them.
void SetZORHostCoders(TDatagramCoder encode, TDatagramCoder decode);

class TZORHostClient : public TUDPHandler {
 public:
  // The address in host byte order; raises one of the discovery texts on failure.
  uint32_t LookupHost(const std::string& name);
};

// A client for one lookup.
uint32_t ResolveZORHost(const std::string& name);

}  // namespace zor
