// Code-page conversions through the C library's iconv.
#include "platform/code_page.h"

#include <iconv.h>
#include <cerrno>

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {
namespace {

std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case kCodePageSimplifiedChinese:
      return "CP936";
    case kCodePageTraditionalChinese:
      return "CP950";
    case kCodePageWesternEurope:
      return "CP1252";
    case kCodePageUtf8:
      return "UTF-8";
    default:
      return "CP" + std::to_string(codePage);
  }
}

// Bytes of the character iconv refused at `i`: a whole sequence, or a malformed lead byte
// together with the continuation bytes that follow it, so that each bad character gives one '?'.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto lead = static_cast<uint8_t>(s[i]);
  size_t length;
  if ((lead & 0xE0) == 0xC0)
    length = 2;
  else if ((lead & 0xF0) == 0xE0)
    length = 3;
  else if ((lead & 0xF8) == 0xF0)
    length = 4;
  else
    return 1;
  size_t k = 1;
  while (k < length && i + k < s.size() && (static_cast<uint8_t>(s[i + k]) & 0xC0) == 0x80) ++k;
  return k;
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : Handle(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Handle != reinterpret_cast<iconv_t>(-1)) iconv_close(Handle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return Handle != reinterpret_cast<iconv_t>(-1); }
  // Characters the last runs could not convert (each became '?').
  size_t Refused = 0;

  // Converts all of `input`; `skip(pos)` tells how many bytes a refused character spans.
  template <typename Skip>
  std::string Run(std::string_view input, Skip skip) {
    std::string out;
    out.reserve(input.size() * 2 + 8);
    char buffer[1024];
    size_t pos = 0;
    while (pos < input.size()) {
      char* in = const_cast<char*>(input.data() + pos);
      size_t inLeft = input.size() - pos;
      char* outPtr = buffer;
      size_t outLeft = sizeof(buffer);
      const size_t rc = iconv(Handle, &in, &inLeft, &outPtr, &outLeft);
      const int error = errno;
      out.append(buffer, static_cast<size_t>(outPtr - buffer));
      pos = input.size() - inLeft;
      if (rc != static_cast<size_t>(-1)) continue;
      if (error == E2BIG) continue;
      // EILSEQ (cannot be represented / malformed) or EINVAL (cut off at the end).
      iconv(Handle, nullptr, nullptr, nullptr, nullptr);
      out += '?';
      ++Refused;
      pos += error == EINVAL ? inLeft : skip(pos);
    }
    return out;
  }

 private:
  iconv_t Handle;
};

// Plain ASCII reads the same in the code pages used here, so it needs no conversion (most
// names and texts on the wire are ASCII; opening a converter costs more than the rest).
bool IsAsciiIn(std::string_view text, uint32_t codePage) {
  if (codePage != kCodePageSimplifiedChinese && codePage != kCodePageTraditionalChinese &&
      codePage != kCodePageWesternEurope && codePage != kCodePageUtf8)
    return false;
  for (const char c : text)
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  return true;
}

[[noreturn]] void RaiseUnknownCodePage(uint32_t codePage) {
  throw Exception(Format("Code page %u is not supported.", {codePage}));
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8, uint32_t codePage) {
  if (utf8.empty()) return {};
  if (IsAsciiIn(utf8, codePage)) return std::string(utf8);
  Converter converter(IconvName(codePage), "UTF-8");
  if (!converter.Valid()) RaiseUnknownCodePage(codePage);
  return converter.Run(utf8, [&](size_t pos) { return Utf8SequenceLength(utf8, pos); });
}

std::optional<std::string> Utf8ToAnsiExact(std::string_view utf8, uint32_t codePage) {
  if (utf8.empty()) return std::string();
  if (IsAsciiIn(utf8, codePage)) return std::string(utf8);
  Converter converter(IconvName(codePage), "UTF-8");
  if (!converter.Valid()) RaiseUnknownCodePage(codePage);
  std::string out = converter.Run(utf8, [&](size_t pos) { return Utf8SequenceLength(utf8, pos); });
  if (converter.Refused > 0) return std::nullopt;
  return out;
}

std::string AnsiToUtf8(std::string_view ansi, uint32_t codePage) {
  if (ansi.empty()) return {};
  if (IsAsciiIn(ansi, codePage)) return std::string(ansi);
  Converter converter("UTF-8", IconvName(codePage));
  if (!converter.Valid()) RaiseUnknownCodePage(codePage);
  return converter.Run(ansi, [&](size_t pos) -> size_t {
    if (codePage == kCodePageUtf8) return Utf8SequenceLength(ansi, pos);
    // A refused double-byte pair is one character; a lone byte is one character.
    return IsLeadByte(static_cast<uint8_t>(ansi[pos]), codePage) && pos + 1 < ansi.size() ? 2 : 1;
  });
}

}  // namespace zor
