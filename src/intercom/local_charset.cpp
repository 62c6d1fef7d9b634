#include "intercom/local_charset.h"

#include "platform/code_page.h"
#include "platform/locale.h"

namespace zor {

namespace {
uint32_t SetCodePage(bool traditional) {
  return traditional ? kCodePageTraditionalChinese : kCodePageSimplifiedChinese;
}
}  // namespace

bool IsTraditionalLcid(uint32_t lcid) {
  return lcid == kLcidChineseTaiwan || lcid == kLcidChineseHongKong;
}

TStringCharsets StringCharsetsOf(uint32_t lcid) {
  TStringCharsets charsets;
  charsets.Traditional = IsTraditionalLcid(lcid);
  charsets.CodePage = AnsiCodePageForLcid(lcid);
  return charsets;
}

TStringCharsets LocalStringCharsets() {
  return StringCharsetsOf(GetSystemDefaultLCID());
}

bool LocalSystemIsTraditional() {
  return IsTraditionalScriptSystem();
}

uint32_t ReadCodePage(const TStringCharsets& reader, std::optional<bool> streamTraditional) {
  if (!streamTraditional) return reader.PeerCodePage != 0 ? reader.PeerCodePage : reader.CodePage;
  if (*streamTraditional == reader.Traditional) return reader.CodePage;
  return SetCodePage(*streamTraditional);
}

uint32_t WriteCodePage(const TStringCharsets& writer, std::optional<bool> streamTraditional) {
  if (!streamTraditional) return writer.CodePage;
  if (writer.PeerCodePage == 0) {
    // The peer is not known yet: it is taken to run the code page of the stream's set.
    return *streamTraditional == writer.Traditional ? writer.CodePage
                                                    : SetCodePage(*streamTraditional);
  }
  const bool peerTraditional = writer.PeerCodePage == kCodePageTraditionalChinese;
  return *streamTraditional == peerTraditional ? writer.PeerCodePage
                                               : SetCodePage(*streamTraditional);
}

std::string Utf8ToWireAnsi(std::string_view utf8, uint32_t codePage) {
  return Utf8ToAnsi(utf8, codePage);
}

std::optional<std::string> Utf8ToWireAnsiExact(std::string_view utf8, uint32_t codePage) {
  return Utf8ToAnsiExact(utf8, codePage);
}

std::string WireAnsiToUtf8(std::string_view ansi, uint32_t codePage) {
  return AnsiToUtf8(ansi, codePage);
}

}  // namespace zor
