#include "server/proxy_header.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/exceptions.h"
#include "server/dotted_address.h"

namespace zor {

namespace {

[[noreturn]] void Malformed(std::string_view what) {
  throw Exception("The PROXY header is malformed: " + std::string(what));
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(' ', start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value <= 65535;
}

std::string DottedText(const uint8_t* bytes) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i) text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The canonical text of an address given as an option or a header field.
std::string CanonicalAddress(std::string_view text) {
  if (IsDottedAddress(text)) return std::string(text);
  std::array<uint8_t, 16> bytes{};
  if (ParseIPv6(text, bytes)) return FormatIPv6(bytes);
  return {};
}

}  // namespace

std::string FormatIPv6(std::span<const uint8_t, 16> address) {
  static constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(address.data(), kMappedPrefix, sizeof kMappedPrefix) == 0)
    return DottedText(address.data() + 12);
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
  // The longest run of two or more zero groups (the first of equal runs) becomes "::".
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) bestStart = i, bestLength = j - i;
    i = j;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool leading = true;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = (groups[i] >> shift) & 0xF;
      if (leading && digit == 0 && shift > 0) continue;
      leading = false;
      text += kHex[digit];
    }
  }
  return text;
}

bool ParseIPv6(std::string_view text, std::span<uint8_t, 16> address) {
  if (text.empty() || text.size() > 45) return false;
  std::array<uint16_t, 8> head{}, tail{};
  int headCount = 0, tailCount = 0;
  bool compressed = false;
  size_t pos = 0;
  if (text.starts_with("::")) {
    compressed = true;
    pos = 2;
  } else if (text.front() == ':') {
    return false;
  }
  while (pos < text.size()) {
    std::array<uint16_t, 8>& groups = compressed ? tail : head;
    int& count = compressed ? tailCount : headCount;
    const size_t end = std::min(text.find(':', pos), text.size());
    const std::string_view part = text.substr(pos, end - pos);
    if (end == text.size() && part.find('.') != std::string_view::npos) {
      // A dotted IPv4 address as the last two groups.
      const auto dotted = ParseDottedAddress(part);
      if (!dotted || headCount + tailCount + 2 > 8) return false;
      groups[count++] = static_cast<uint16_t>((*dotted)[0] << 8 | (*dotted)[1]);
      groups[count++] = static_cast<uint16_t>((*dotted)[2] << 8 | (*dotted)[3]);
      pos = end;
      break;
    }
    if (part.empty() || part.size() > 4 || headCount + tailCount >= 8) return false;
    uint16_t value = 0;
    for (char c : part) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = static_cast<uint16_t>(value << 4 | digit);
    }
    groups[count++] = value;
    if (end == text.size()) {
      pos = end;
      break;
    }
    if (text.substr(end).starts_with("::")) {
      if (compressed) return false;
      compressed = true;
      pos = end + 2;
    } else {
      pos = end + 1;
      if (pos == text.size()) return false;  // a single trailing colon
    }
  }
  const int total = headCount + tailCount;
  if (compressed ? total > 7 : total != 8) return false;
  std::array<uint16_t, 8> groups{};
  std::copy_n(head.begin(), headCount, groups.begin());
  std::copy_n(tail.begin(), tailCount, groups.begin() + (8 - tailCount));
  for (int i = 0; i < 8; ++i) {
    address[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    address[2 * i + 1] = static_cast<uint8_t>(groups[i]);
  }
  return true;
}

TProxyHeader ParseProxyV1(std::string_view line) {
  if (!line.starts_with(kProxyV1Prefix)) Malformed("it does not start with \"PROXY \"");
  const std::vector<std::string_view> parts = SplitBlanks(line.substr(kProxyV1Prefix.size()));
  TProxyHeader header;
  header.Version = 1;
  if (parts[0] == "UNKNOWN") return header;  // the balancer could not tell: keep our own
  if (parts[0] != "TCP4" && parts[0] != "TCP6") Malformed("unknown protocol");
  if (parts.size() != 5) Malformed("it needs two addresses and two ports");
  const bool v4 = parts[0] == "TCP4";
  for (int i = 1; i <= 2; ++i) {
    std::array<uint8_t, 16> bytes{};
    const bool valid = v4 ? IsDottedAddress(parts[i]) : ParseIPv6(parts[i], bytes);
    if (!valid) Malformed("a bad address");
  }
  if (!IsPort(parts[3]) || !IsPort(parts[4])) Malformed("a bad port");
  header.SourceAddress = CanonicalAddress(parts[1]);
  return header;
}

TProxyHeader ParseProxyV2(std::span<const uint8_t> fixed, std::span<const uint8_t> body) {
  if (fixed.size() != kProxyV2FixedSize ||
      std::memcmp(fixed.data(), kProxyV2Signature, sizeof kProxyV2Signature) != 0)
    Malformed("a bad signature");
  if (fixed[12] >> 4 != kProxyV2Version) Malformed("an unknown version");
  const size_t length = static_cast<size_t>(fixed[14]) << 8 | fixed[15];
  if (body.size() != length) Malformed("its length does not match");
  TProxyHeader header;
  header.Version = 2;
  const uint8_t command = fixed[12] & 0x0F;
  if (command == kProxyV2CmdLocal) return header;
  if (command != kProxyV2CmdProxy) Malformed("an unknown command");
  const uint8_t family = fixed[13] >> 4;
  const uint8_t protocol = fixed[13] & 0x0F;
  if (protocol != kProxyV2Stream) return header;  // not a TCP client: nothing to use
  if (family == kProxyV2FamilyInet) {
    if (length < kProxyV2InetBlock) Malformed("the addresses are cut short");
    header.SourceAddress = DottedText(body.data());
  } else if (family == kProxyV2FamilyInet6) {
    if (length < kProxyV2Inet6Block) Malformed("the addresses are cut short");
    header.SourceAddress = FormatIPv6(body.first<16>());
  }
  return header;
}

TProxyHeader ReadProxyHeader(const TReadExact& read) {
  // Six bytes tell the forms apart: "PROXY " or the start of form 2's signature.
  uint8_t start[kProxyV2FixedSize];
  read(start, kProxyV1Prefix.size());
  if (std::memcmp(start, kProxyV1Prefix.data(), kProxyV1Prefix.size()) == 0) {
    std::string line(kProxyV1Prefix);
    for (;;) {
      if (line.size() >= kProxyV1MaxLine) Malformed("the line is too long");
      uint8_t byte = 0;
      read(&byte, 1);
      if (byte == '\n') break;
      line += static_cast<char>(byte);
    }
    if (line.back() != '\r') Malformed("the line does not end in CRLF");
    line.pop_back();
    return ParseProxyV1(line);
  }
  if (std::memcmp(start, kProxyV2Signature, kProxyV1Prefix.size()) != 0)
    Malformed("a connection from a listed balancer must start with one");
  read(start + kProxyV1Prefix.size(), kProxyV2FixedSize - kProxyV1Prefix.size());
  if (std::memcmp(start, kProxyV2Signature, sizeof kProxyV2Signature) != 0)
    Malformed("a bad signature");
  if (start[12] >> 4 != kProxyV2Version) Malformed("an unknown version");
  // At most 65535 bytes by the form itself, so the length needs no further bound.
  std::vector<uint8_t> body(static_cast<size_t>(start[14]) << 8 | start[15]);
  if (!body.empty()) read(body.data(), body.size());
  return ParseProxyV2(start, body);
}

bool IsTrustedProxy(const std::vector<std::string>& trusted, std::string_view peer) {
  return std::find(trusted.begin(), trusted.end(), peer) != trusted.end();
}

std::vector<std::string> ParseProxyList(std::string_view text) {
  std::vector<std::string> list;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find_first_of(", \t", pos), text.size());
    const std::string_view entry = text.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    std::string canonical = CanonicalAddress(entry);
    if (canonical.empty())
      throw Exception("'" + std::string(entry) + "' is not a valid balancer address");
    list.push_back(std::move(canonical));
  }
  return list;
}

}  // namespace zor
