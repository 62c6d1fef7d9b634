#include "transport/tcp_connect_string.h"

#include <vector>

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "transport/trim_blanks.h"

namespace zor {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const auto at = text.find(separator, start);
    parts.push_back(
        text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace

bool ParseInteger(std::string_view text, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 0x80000000LL) return false;
  }
  if (negative) v = -v;
  if (v > 0x7FFFFFFFLL) return false;
  value = v;
  return true;
}

bool ParseDottedAddress(std::string_view text, uint32_t& address) {
  const auto parts = Split(text, '.');
  if (parts.size() != 4) return false;
  uint32_t result = 0;
  for (std::string_view part : parts) {
    int64_t v = 0;
    if (part.empty() || part[0] == '+' || part[0] == '-' || !ParseInteger(part, v) || v > 255)
      return false;
    result = result << 8 | static_cast<uint32_t>(v);
  }
  address = result;
  return true;
}

TTcpConnectSettings ParseTcpConnectString(std::string_view text) {
  TTcpConnectSettings settings;
  std::optional<std::string_view> boundIP;
  for (std::string_view pair : Split(text, ';')) {
    if (TrimBlanks(pair).empty()) continue;  // a stray ";" separates nothing
    const auto eq = pair.find('=');
    const std::string_view name =
        eq == std::string_view::npos ? std::string_view{} : TrimBlanks(pair.substr(0, eq));
    if (eq == std::string_view::npos || name.empty())
      throw Exception("Invalid connectstring format!");
    const std::string_view value = TrimBlanks(pair.substr(eq + 1));
    if (SameTextAscii(name, "BoundIP")) {
      boundIP = value == "*" ? std::optional<std::string_view>() : value;
    } else if (SameTextAscii(name, "BoundPort")) {
      int64_t port = 0;
      if (!ParseInteger(value, port) || port < 0 || port > 65535) {
        throw Exception(Format("%s is not a valid port value!", {value}));
      }
      settings.BoundPort = static_cast<uint16_t>(port);
    } else if (SameTextAscii(name, "Host") || SameTextAscii(name, "ZORHost")) {
      if (value.empty()) throw Exception("Invalid value of Host!");
      settings.HostText =
          SameTextAscii(name, "Host") ? std::string(value) : "ZORHost=" + std::string(value);
    } else if (SameTextAscii(name, "IPList")) {
      if (value != "*") settings.IPList = std::string(value);
    } else if (SameTextAscii(name, "AcceptMode")) {
      if (SameTextAscii(value, "Accept")) {
        settings.AcceptMode = TAcceptMode::Accept;
      } else if (SameTextAscii(value, "Deny")) {
        settings.AcceptMode = TAcceptMode::Deny;
      } else {
        throw Exception("Error value of AcceptMode!");
      }
    } else {
      throw Exception(Format("%s is not a valid command vlaue!", {name}));
    }
  }
  if (boundIP) {
    uint32_t address = 0;
    if (!ParseDottedAddress(*boundIP, address))
      throw Exception(Format("'%s' is not a valid ip!", {*boundIP}));
    settings.BoundIP = address;
  }
  if (settings.IPList && !settings.IPList->empty() && settings.AcceptMode == TAcceptMode::All) {
    settings.AcceptMode = TAcceptMode::Accept;
  }
  return settings;
}

THostTarget ParseHostText(std::string_view hostText) {
  THostTarget target;
  std::string_view rest = hostText;
  if (const auto eq = hostText.find('='); eq != std::string_view::npos) {
    const std::string_view kind = TrimBlanks(hostText.substr(0, eq));
    if (SameTextAscii(kind, "ZORHost")) {
      target.ViaDiscovery = true;
    } else if (!SameTextAscii(kind, "Host")) {
      throw Exception(Format("Error connect string '%s'!", {hostText}));
    }
    rest = hostText.substr(eq + 1);
  }
  const auto colon = rest.find(':');
  const std::string_view host = TrimBlanks(rest.substr(0, colon));
  const std::string_view port =
      colon == std::string_view::npos ? std::string_view{} : TrimBlanks(rest.substr(colon + 1));
  if (port.empty()) throw Exception("Must specified the port to connect!");
  int64_t portValue = 0;
  if (!ParseInteger(port, portValue) || portValue < 0 || portValue > 65535) {
    throw Exception(Format("Invalid port value '%s'!", {port}));
  }
  if (host.empty()) throw Exception("Unspecified host name or ip!");
  target.Host = std::string(host);
  target.Port = static_cast<uint16_t>(portValue);
  return target;
}

namespace {

// Part by part at the dots; "*" matches any part; done as soon as either side runs out.
bool MatchesPattern(std::string_view pattern, std::string_view address) {
  if (SameTextAscii(pattern, address)) return true;
  const auto patternParts = Split(pattern, '.');
  const auto addressParts = Split(address, '.');
  for (size_t i = 0; i < patternParts.size() && i < addressParts.size(); ++i) {
    const std::string_view p = TrimBlanks(patternParts[i]);
    if (p != "*" && !SameTextAscii(p, addressParts[i])) return false;
  }
  return true;
}

}  // namespace

bool MatchesIPList(std::string_view list, std::string_view address) {
  for (std::string_view pattern : Split(list, ',')) {
    pattern = TrimBlanks(pattern);
    // An empty pattern (a stray comma) names no peer; it must not match every address.
    if (!pattern.empty() && MatchesPattern(pattern, address)) return true;
  }
  return false;
}

bool AcceptPeerAddress(TAcceptMode mode, std::string_view list, std::string_view address) {
  switch (mode) {
    case TAcceptMode::Accept:
      return MatchesIPList(list, address);
    case TAcceptMode::Deny:
      return !MatchesIPList(list, address);
    default:
      return true;
  }
}

std::string ComposeHostString(bool viaDiscovery, std::string_view host, uint16_t port) {
  std::string text = (viaDiscovery ? "ZORHost=" : "Host=") + std::string(host);
  if (port != 0) text += ":" + std::to_string(port);
  return text;
}

}  // namespace zor
