// The conversion tables through OpenCC (Debian's libopencc-dev and its data). A build
// without the library (ZOR_HAVE_OPENCC unset) has no tables.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/script_tables.h"

#ifdef ZOR_HAVE_OPENCC
#include <opencc/opencc.h>
#endif

namespace zor {

#ifdef ZOR_HAVE_OPENCC
namespace {

constexpr const char* kDefaultTablesFolder = "/usr/share/opencc";
constexpr const char* kToTraditionalConfig = "s2t.json";
constexpr const char* kToSimplifiedConfig = "t2s.json";

// Length of the well-formed UTF-8 character at the start of `text`, 0 when it is not one
// (a stray continuation byte, an overlong form, a surrogate, a cut-off sequence).
size_t CharacterLength(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) return 1;
  size_t length;
  uint32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return length;
}

class TOpenccTables : public TScriptTables {
 public:
  TOpenccTables(opencc_t toTraditional, opencc_t toSimplified)
      : Traditional(toTraditional), Simplified(toSimplified) {}
  ~TOpenccTables() override {
    opencc_close(Traditional);
    opencc_close(Simplified);
  }
  TOpenccTables(const TOpenccTables&) = delete;
  TOpenccTables& operator=(const TOpenccTables&) = delete;

  std::string ToTraditional(std::string_view utf8) const override { return Run(Traditional, utf8); }
  std::string ToSimplified(std::string_view utf8) const override { return Run(Simplified, utf8); }

 private:
  // The library takes well-formed text without NULs: runs of such text are converted, the
  // bytes between them copied as they are.
  static std::string Run(opencc_t table, std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = pos;
      bool ascii = true;
      while (end < text.size() && text[end] != '\0') {
        const size_t n = CharacterLength(text.substr(end));
        if (n == 0) break;
        if (n > 1) ascii = false;
        end += n;
      }
      if (end > pos) {
        // Plain ASCII has nothing to convert.
        if (ascii) {
          out.append(text.substr(pos, end - pos));
        } else {
          char* converted = opencc_convert_utf8(table, text.data() + pos, end - pos);
          if (converted == nullptr) {
            out.append(text.substr(pos, end - pos));
          } else {
            out.append(converted);
            opencc_convert_utf8_free(converted);
          }
        }
        pos = end;
      }
      if (pos < text.size()) out += text[pos++];  // a NUL or a byte that is not UTF-8
    }
    return out;
  }

  opencc_t Traditional;
  opencc_t Simplified;
};

opencc_t OpenTable(const std::string& folder, const char* config) {
  const std::string path = folder + "/" + config;
  return opencc_open(path.c_str());
}

bool Opened(opencc_t table) {
  return table != reinterpret_cast<opencc_t>(-1) && table != nullptr;
}

}  // namespace

std::unique_ptr<TScriptTables> OpenScriptTables(std::string* why) {
  const char* configured = std::getenv("ZOR_SCRIPT_TABLES");
  const std::string folder = configured != nullptr ? configured : kDefaultTablesFolder;
  if (folder.empty()) {
    if (why) *why = "no folder of conversion tables is set";
    return nullptr;
  }
  opencc_t toTraditional = OpenTable(folder, kToTraditionalConfig);
  if (!Opened(toTraditional)) {
    if (why) *why = "cannot load " + folder + "/" + kToTraditionalConfig;
    return nullptr;
  }
  opencc_t toSimplified = OpenTable(folder, kToSimplifiedConfig);
  if (!Opened(toSimplified)) {
    opencc_close(toTraditional);
    if (why) *why = "cannot load " + folder + "/" + kToSimplifiedConfig;
    return nullptr;
  }
  return std::make_unique<TOpenccTables>(toTraditional, toSimplified);
}

#else

std::unique_ptr<TScriptTables> OpenScriptTables(std::string* why) {
  if (why) *why = "built without OpenCC";
  return nullptr;
}

#endif

}  // namespace zor
