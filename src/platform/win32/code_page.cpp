// Code-page conversions through the system's own tables (MultiByteToWideChar and
// WideCharToMultiByte), by way of UTF-16.
#include "platform/code_page.h"

#include <windows.h>

#include <algorithm>

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {
namespace {

// Plain ASCII reads the same in the code pages used here, so it needs no conversion.
bool IsAsciiIn(std::string_view text, uint32_t codePage) {
  if (codePage != kCodePageSimplifiedChinese && codePage != kCodePageTraditionalChinese &&
      codePage != kCodePageWesternEurope && codePage != kCodePageUtf8)
    return false;
  for (const char c : text)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

void RequireKnown(uint32_t codePage) {
  if (codePage != kCodePageUtf8 && !::IsValidCodePage(codePage))
    throw Exception(Format("Code page %u is not supported.", {codePage}));
}

std::wstring ToUtf16(std::string_view text, uint32_t codePage, DWORD flags = 0) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), out.data(),
                          n);
  return out;
}

bool IsHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

std::string FromUtf16Run(std::wstring_view wide, uint32_t codePage, bool* lost);

// `wide` in the code page; `lost` tells whether a character had to become '?'. A character
// beyond the basic plane that the code page cannot hold is one '?', not one per half.
std::string FromUtf16(std::wstring_view wide, uint32_t codePage, bool* lost) {
  if (lost) *lost = false;
  if (codePage == kCodePageUtf8) return FromUtf16Run(wide, codePage, lost);
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i + 1 < wide.size(); ++i) {
    if (!IsHighSurrogate(wide[i]) || !IsLowSurrogate(wide[i + 1])) continue;
    bool pairLost = false;
    FromUtf16Run(wide.substr(i, 2), codePage, &pairLost);
    if (!pairLost) continue;
    out += FromUtf16Run(wide.substr(start, i - start), codePage, nullptr);
    out += '?';
    if (lost) *lost = true;
    start = i + 2;
    ++i;
  }
  bool restLost = false;
  out += FromUtf16Run(wide.substr(start), codePage, &restLost);
  if (lost && restLost) *lost = true;
  return out;
}

std::string FromUtf16Run(std::wstring_view wide, uint32_t codePage, bool* lost) {
  if (wide.empty()) return {};
  const bool utf8 = codePage == kCodePageUtf8;
  // The default character and its report exist only for the code pages that are not UTF.
  const char* question = utf8 ? nullptr : "?";
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = ::WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, question, used);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0)
    ::WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out.data(),
                          n, question, used);
  if (lost) *lost = usedDefault != FALSE;
  return out;
}

// UTF-16 of UTF-8 text where each malformed sequence is one '?', as the code pages have no
// replacement character.
std::wstring Utf8ToUtf16(std::string_view utf8, bool* malformed) {
  std::wstring wide = ToUtf16(utf8, CP_UTF8);
  bool bad = false;
  for (wchar_t& c : wide) {
    if (c == 0xFFFD) {
      c = L'?';
      bad = true;
    }
  }
  if (malformed) *malformed = bad;
  return wide;
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8, uint32_t codePage) {
  if (utf8.empty()) return {};
  if (IsAsciiIn(utf8, codePage)) return std::string(utf8);
  RequireKnown(codePage);
  return FromUtf16(Utf8ToUtf16(utf8, nullptr), codePage, nullptr);
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8, uint32_t codePage) {
  if (utf8.empty()) return std::string();
  if (IsAsciiIn(utf8, codePage)) return std::string(utf8);
  RequireKnown(codePage);
  bool malformed = false, lost = false;
  std::string out = FromUtf16(Utf8ToUtf16(utf8, &malformed), codePage, &lost);
  if (malformed || lost) return std::nullopt;
  return out;
}

std::string AnsiToUtf8(std::string_view ansi, uint32_t codePage) {
  if (ansi.empty()) return {};
  if (IsAsciiIn(ansi, codePage)) return std::string(ansi);
  RequireKnown(codePage);
  // Most text converts whole. The system's tables give a byte that is no character a
  // private-use code point (0xFF in 936 is U+F8F5), so text with any of those, and text
  // the strict conversion refuses, goes one character at a time.
  std::wstring wide = ToUtf16(ansi, codePage, MB_ERR_INVALID_CHARS);
  const auto privateUse = [](wchar_t c) { return c >= 0xE000 && c <= 0xF8FF; };
  if (wide.empty() || std::any_of(wide.begin(), wide.end(), privateUse)) {
    wide.clear();
    size_t i = 0;
    while (i < ansi.size()) {
      const bool pair = IsLeadByte(static_cast<uint8_t>(ansi[i]), codePage);
      const size_t length = pair ? 2 : 1;
      const std::wstring one = i + length <= ansi.size()
                                   ? ToUtf16(ansi.substr(i, length), codePage, MB_ERR_INVALID_CHARS)
                                   : std::wstring();
      const bool read = one.size() == 1 && !(length == 1 && privateUse(one[0]) &&
                                             static_cast<uint8_t>(ansi[i]) >= 0x80);
      wide += read ? one : std::wstring(1, L'?');
      i += std::min(length, ansi.size() - i);
    }
  }
  return FromUtf16(wide, kCodePageUtf8, nullptr);
}

}  // namespace zor
