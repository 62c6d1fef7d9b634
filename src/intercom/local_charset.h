// What the variant stream needs to know about the character sets of the two ends: whether
// an end runs in the traditional Chinese script (LCID 1028 or 3076; everything else is not
// traditional) and the code page its 8-bit strings (wire type 0x100) are in (936, 950, 1252).
// A connection holds its own end's values and, once known, the peer's code page; the
// launcher's come from the system's locale, the server's from its language setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

struct TStringCharsets {
  bool Traditional = false;
  uint32_t CodePage = 1252;
  uint32_t PeerCodePage = 0;  // the peer's own 8-bit code page; 0 while not known
};

bool IsTraditionalLcid(uint32_t lcid);
TStringCharsets StringCharsetsOf(uint32_t lcid);
// This machine's values (the system default LCID).
TStringCharsets LocalStringCharsets();
bool LocalSystemIsTraditional();

// The code page a reader takes 8-bit strings in: a stream with a charset byte of its own set
// is in its own code page, one of the other set in that set's code page (950 traditional,
// 936 simplified); a stream without the byte is in its writer's code page (the peer's when
// known). `streamTraditional` is empty for a stream without the byte.
uint32_t ReadCodePage(const TStringCharsets& reader, std::optional<bool> streamTraditional);
// The code page a writer must use so that the peer reads what was meant: the mirror of
// `ReadCodePage` as seen from the peer, by what the writer knows of it.
uint32_t WriteCodePage(const TStringCharsets& writer, std::optional<bool> streamTraditional);

std::string Utf8ToWireAnsi(std::string_view utf8, uint32_t codePage);
// Nothing when the code page cannot hold every character of `utf8`.
std::optional<std::string> Utf8ToWireAnsiExact(std::string_view utf8, uint32_t codePage);
std::string WireAnsiToUtf8(std::string_view ansi, uint32_t codePage);

}  // namespace zor
