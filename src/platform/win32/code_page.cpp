// Code-page conversions through the system's own tables (MultiByteToWideChar and
// WideCharToMultiByte), by way of UTF-16.
#include "platform/code_page.h"

#include <windows.h>

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

// `wide` in the code page; `lost` tells whether a character had to become '?'.
std::string FromUtf16(std::wstring_view wide, uint32_t codePage, bool* lost) {
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
  std::wstring wide = ToUtf16(ansi, codePage);
  for (wchar_t& c : wide)
    if (c == 0xFFFD || c == 0x30FB) c = L'?';  // what the system puts for a byte it cannot read
  return FromUtf16(wide, kCodePageUtf8, nullptr);
}

}  // namespace zor
