// The TCP connect string, "Name=value;Name=value", and the pieces a TCP handler reads from
// it: the host to connect to, the local address to listen on, and the accept filter.
// Parsing is kept apart from the handler so that every rule can be checked on text alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

enum class TAcceptMode : uint8_t { All = 0, Accept = 1, Deny = 2 };

struct TTcpConnectSettings {
  std::optional<uint32_t> BoundIP;    // "BoundIP", host byte order
  std::optional<uint16_t> BoundPort;  // "BoundPort"
  std::optional<std::string> IPList;  // "IPList"
  TAcceptMode AcceptMode = TAcceptMode::All;
  std::string HostText;  // "h:p" for Host, "ZORHost=n:p" for ZORHost, or empty
};

// Raises the plain exception of the first rule the text breaks (see the handler's rules).
TTcpConnectSettings ParseTcpConnectString(std::string_view text);

// A host text split into its parts: "Host=h:p", "ZORHost=n:p" or "h:p".
struct THostTarget {
  bool ViaDiscovery = false;
  std::string Host;
  uint16_t Port = 0;
};
THostTarget ParseHostText(std::string_view hostText);

// Four dot-separated integers 0..255; the address in host byte order.
bool ParseDottedAddress(std::string_view text, uint32_t& address);
// A decimal integer, with an optional sign, that fits in 32 bits.
bool ParseInteger(std::string_view text, int64_t& value);

// Whether `address` matches one pattern of the comma-separated `list`.
bool MatchesIPList(std::string_view list, std::string_view address);
// The accept decision of a listening handler for a peer.
bool AcceptPeerAddress(TAcceptMode mode, std::string_view list, std::string_view address);

// "Host=" (or "ZORHost=") + host, then ":" + port when the port is not 0.
std::string ComposeHostString(bool viaDiscovery, std::string_view host, uint16_t port);

}  // namespace zor
