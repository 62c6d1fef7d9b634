// The ANSI code page of this machine and conversions between it and UTF-8. Inside the
// program every string is UTF-8; ANSI text appears only where the wire or a datagram
// carries single/double-byte strings. The code page follows the system default LCID.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

inline constexpr uint32_t kCodePageSimplifiedChinese = 936;   // GBK
inline constexpr uint32_t kCodePageTraditionalChinese = 950;  // Big5
inline constexpr uint32_t kCodePageWesternEurope = 1252;
inline constexpr uint32_t kCodePageUtf8 = 65001;

// The ANSI code page for an LCID: 936 for 2052/4100, 950 for 1028/3076, 1252 otherwise.
uint32_t AnsiCodePageForLcid(uint32_t lcid);
// The ANSI code page of the system default LCID.
uint32_t AnsiCodePage();

// Converts between UTF-8 and a code page (936, 950, 1252, 65001, or any "CP<n>" the C
// library knows). A character the target cannot hold, and malformed input, becomes '?'.
// An unknown code page raises `Exception`.
std::string Utf8ToAnsi(std::string_view utf8, uint32_t codePage = AnsiCodePage());
std::string AnsiToUtf8(std::string_view ansi, uint32_t codePage = AnsiCodePage());
// The code page's bytes of `utf8`, or nothing when it cannot hold every character (or the
// text is not UTF-8): for callers that must not lose a character in silence.
std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8, uint32_t codePage);

// True when `b` starts a double-byte character in the code page (936/949/950: 0x81..0xFE;
// 932: 0x81..0x9F and 0xE0..0xFC); single-byte code pages have no lead bytes.
bool IsLeadByte(uint8_t b, uint32_t codePage);

// A copy of `count` bytes of ANSI `text` from the 1-based `index` (below 1 counts as 1) that
// never splits a double-byte character: when `index` falls on the second byte of a
// character the copy starts one byte earlier, and a lead byte left at the end is dropped.
// Character boundaries are found by walking from the start of the text, since a second
// byte can have the value of a lead byte. Empty for a count below 1 or an index past the end.
std::string CopyMbcs(std::string_view text, int64_t index, int64_t count,
                     uint32_t codePage = AnsiCodePage());

}  // namespace zor
