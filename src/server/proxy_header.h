// The header a TCP balancer sends before a client's own bytes to say who the client is
// (the PROXY protocol, text form 1 and binary form 2). The server reads it only from the
// balancers its administrator lists, so that limits, logs and messages use the real client
// address instead of the balancer's. Both forms are read byte-exact: never a byte past the
// header, since the client behind it waits for the server's greeting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// ---- the wire forms ---------------------------------------------------------------------------
// Form 1: one line "PROXY TCP4|TCP6|UNKNOWN src dst sport dport\r\n" of at most 107 bytes.
inline constexpr std::string_view kProxyV1Prefix = "PROXY ";
inline constexpr size_t kProxyV1MaxLine = 107;
// Form 2: a 12-byte signature, version and command, family and protocol, a big-endian length
// and that many bytes of addresses (and extensions, which are skipped).
inline constexpr uint8_t kProxyV2Signature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                  0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
inline constexpr size_t kProxyV2FixedSize = 16;
inline constexpr uint8_t kProxyV2Version = 0x2;      // high nibble of byte 12
inline constexpr uint8_t kProxyV2CmdLocal = 0x0;     // low nibble: the balancer's own check
inline constexpr uint8_t kProxyV2CmdProxy = 0x1;     // low nibble: a relayed client
inline constexpr uint8_t kProxyV2FamilyInet = 0x1;   // high nibble of byte 13
inline constexpr uint8_t kProxyV2FamilyInet6 = 0x2;  // high nibble of byte 13
inline constexpr uint8_t kProxyV2Stream = 0x1;       // low nibble of byte 13
inline constexpr size_t kProxyV2InetBlock = 12;      // two IPv4 addresses, two ports
inline constexpr size_t kProxyV2Inet6Block = 36;     // two IPv6 addresses, two ports

// What a header says about the connection.
struct TProxyHeader {
  int Version = 0;            // 1 or 2
  std::string SourceAddress;  // the client's address; empty when the header names none
                              // (a balancer's own check, or a family other than IP)
};

// Reads exactly `count` bytes into `buffer` or raises.
using TReadExact = std::function<void(uint8_t* buffer, size_t count)>;

// Reads one header of either form through `read`. Raises `Exception` naming what is wrong
// with anything else (the connection is then to be closed unserved).
TProxyHeader ReadProxyHeader(const TReadExact& read);

// The two parsers, for the reader and the fuzz target. `line` is form 1 without its CRLF;
// `fixed` is form 2's first 16 bytes and `body` the bytes its length announced.
TProxyHeader ParseProxyV1(std::string_view line);
TProxyHeader ParseProxyV2(std::span<const uint8_t> fixed, std::span<const uint8_t> body);

// The text of an IPv6 address in its shortest form (lower case, the longest run of two or
// more zero groups as "::"); an IPv4-mapped address as the dotted IPv4 address it maps, so
// that one client counts as one whichever form the balancer used.
std::string FormatIPv6(std::span<const uint8_t, 16> address);
// The 16 bytes of an IPv6 address in text (with an optional dotted IPv4 tail); false for
// anything else.
bool ParseIPv6(std::string_view text, std::span<uint8_t, 16> address);

// Whether `peer` is one of the balancers in `trusted` (exact addresses).
bool IsTrustedProxy(const std::vector<std::string>& trusted, std::string_view peer);
// The list of an option or setting: addresses separated by commas or blanks, each a dotted
// IPv4 or an IPv6 address (kept in the form FormatIPv6 gives). Raises `Exception` naming a
// bad entry.
std::vector<std::string> ParseProxyList(std::string_view text);

}  // namespace zor
