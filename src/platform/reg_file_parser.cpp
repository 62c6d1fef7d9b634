#include "platform/reg_file_parser.h"

#include "base/byte_order.h"
#include "base/format.h"
#include "base/utf.h"
#include "platform/reg_file_format.h"
#include "platform/registry_error.h"
#include "platform/registry_names.h"

namespace zor {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && RegNamesEqual(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to eight hex digits, the whole of `s`.
bool ParseHex32(std::string_view s, uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  out = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

class Parser {
 public:
  Parser(std::string_view bytes, std::string_view fileName) : FileName(fileName) { Decode(bytes); }

  RegFile Run() {
    size_t i = 0;
    // The header is the first line that is not blank.
    while (i < Lines.size() && TrimRight(TrimLeft(Lines[i])).empty()) ++i;
    const std::string_view header =
        i < Lines.size() ? TrimRight(TrimLeft(Lines[i])) : std::string_view();
    if (header == kRegFileHeader5) {
      Unicode = true;
    } else if (header == kRegFileHeader4) {
      Unicode = false;
    } else {
      Fail(static_cast<int>(std::min(i, Lines.size() - 1)) + 1,
           Format("the first line is not \"%s\" or \"%s\"", {kRegFileHeader5, kRegFileHeader4}));
    }
    for (++i; i < Lines.size(); ++i) {
      const int lineNo = static_cast<int>(i) + 1;
      const std::string_view line = TrimRight(TrimLeft(Lines[i]));
      if (line.empty() || line.front() == kRegCommentMark) continue;
      if (line.front() == '[') {
        ParseKeyLine(line, lineNo);
      } else if (line.front() == '"' || line.front() == kRegDefaultValueMark) {
        ParseValueLine(line, i);
      } else {
        Fail(lineNo, "expected a key in brackets, a value or a comment");
      }
    }
    return std::move(Result);
  }

 private:
  [[noreturn]] void Fail(int line, std::string problem) const {
    throw ERegistryFileError(std::string(FileName), line, std::move(problem));
  }

  void Decode(std::string_view bytes) {
    if (bytes.size() > kMaxRegFileBytes)
      Fail(0, Format("the file is larger than %u bytes", {kMaxRegFileBytes}));
    if (bytes.starts_with(kUtf16LeBom)) {
      bytes.remove_prefix(kUtf16LeBom.size());
      std::u16string units;
      units.reserve(bytes.size() / 2);
      for (size_t k = 0; k + 1 < bytes.size(); k += 2)
        units.push_back(static_cast<char16_t>(LoadLE16(&bytes[k])));
      Text = Utf16ToUtf8(units);
      SplitLines();
      if (bytes.size() % 2 != 0)
        Fail(static_cast<int>(Lines.size()), "the UTF-16 text ends in the middle of a character");
      return;
    }
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    Text = std::string(bytes);
    SplitLines();
  }

  void SplitLines() {
    std::string_view rest = Text;
    while (true) {
      const size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      Lines.push_back(line);
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }

  void ParseKeyLine(std::string_view line, int lineNo) {
    if (line.back() != ']') Fail(lineNo, "the key line does not end with ']'");
    std::string_view inner = line.substr(1, line.size() - 2);
    RegFileKey key;
    key.Line = lineNo;
    if (!inner.empty() && inner.front() == kRegDeleteMark) {
      key.Delete = true;
      inner.remove_prefix(1);
    }
    const size_t sep = inner.find(kRegPathSeparator);
    const std::string_view rootName = inner.substr(0, sep);
    const auto root = RegRootFromName(rootName);
    if (!root) Fail(lineNo, Format("unknown root key \"%s\"", {rootName}));
    key.Root = *root;
    if (sep != std::string_view::npos) key.Path = std::string(inner.substr(sep + 1));
    if (key.Delete && key.Path.empty()) Fail(lineNo, "a root key cannot be deleted");
    if (sep != std::string_view::npos) {
      if (std::string problem = RegPathProblem(key.Path); !problem.empty()) Fail(lineNo, problem);
    }
    Result.Keys.push_back(std::move(key));
  }

  // A quoted text with '\\' and '\"' escapes starting at `s[0]`; `s` is advanced past it.
  std::string ParseQuoted(std::string_view& s, int lineNo, const char* what) const {
    std::string out;
    size_t k = 1;
    while (true) {
      if (k >= s.size()) Fail(lineNo, Format("the %s has no closing quote", {what}));
      const char c = s[k];
      if (c == '"') break;
      if (c == '\\') {
        if (k + 1 >= s.size()) Fail(lineNo, Format("the %s has no closing quote", {what}));
        const char next = s[k + 1];
        if (next != '\\' && next != '"')
          Fail(lineNo, Format("invalid escape \"\\%s\" in the %s (only \\\\ and \\\" are allowed)",
                              {std::string(1, next), what}));
        out += next;
        k += 2;
        continue;
      }
      out += c;
      ++k;
    }
    s.remove_prefix(k + 1);
    return out;
  }

  void ParseValueLine(std::string_view line, size_t& index) {
    const int lineNo = static_cast<int>(index) + 1;
    if (Result.Keys.empty()) Fail(lineNo, "a value comes before any key");
    RegFileKey& key = Result.Keys.back();
    if (key.Delete) Fail(lineNo, "a value follows a key that is being deleted");

    RegFileValue value;
    value.Line = lineNo;
    std::string_view rest = line;
    if (rest.front() == kRegDefaultValueMark) {
      rest.remove_prefix(1);
    } else {
      value.Name = ParseQuoted(rest, lineNo, "value name");
      if (std::string problem = RegValueNameProblem(value.Name); !problem.empty())
        Fail(lineNo, problem);
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != '=') Fail(lineNo, "expected '=' after the value name");
    rest = TrimLeft(rest.substr(1));

    if (rest.size() == 1 && rest.front() == kRegDeleteMark) {
      value.Delete = true;
    } else if (!rest.empty() && rest.front() == '"') {
      std::string text = ParseQuoted(rest, lineNo, "string");
      if (!TrimLeft(rest).empty()) Fail(lineNo, "unexpected text after the closing quote");
      value.Value = RegValue::String(text);
    } else if (StartsWithNoCase(rest, kRegDwordPrefix)) {
      uint32_t number = 0;
      if (!ParseHex32(rest.substr(kRegDwordPrefix.size()), number))
        Fail(lineNo, "a dword value needs one to eight hex digits");
      value.Value = RegValue::Dword(number);
    } else if (StartsWithNoCase(rest, kRegHexPrefix)) {
      value.Value = ParseHexValue(rest, index);
    } else {
      Fail(lineNo, "unknown value data (expected \"text\", dword:, hex: or -)");
    }
    // A later line for the same value replaces the earlier one, as applying the file would.
    key.Values.push_back(std::move(value));
  }

  // hex:..., hex(N):..., with continuation lines; `index` moves to the last line used.
  RegValue ParseHexValue(std::string_view first, size_t& index) {
    const int lineNo = static_cast<int>(index) + 1;
    std::string_view rest = first.substr(kRegHexPrefix.size());
    uint32_t type = kRegBinary;
    if (!rest.empty() && rest.front() == '(') {
      const size_t close = rest.find(')');
      if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), type))
        Fail(lineNo, "hex(<type>) needs one to eight hex digits in parentheses");
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') Fail(lineNo, "expected ':' after hex");
    rest.remove_prefix(1);

    std::string data(rest);
    while (!data.empty() && data.back() == kRegContinuation) {
      data.pop_back();
      if (index + 1 >= Lines.size())
        Fail(static_cast<int>(index) + 1, "the file ends where a continuation line should follow");
      ++index;
      data += TrimRight(TrimLeft(Lines[index]));
    }

    std::vector<uint8_t> bytes;
    bytes.reserve(data.size() / 3 + 1);  // never more bytes than "xx," groups in the text
    std::string_view all = data;
    if (!TrimLeft(all).empty()) {
      while (true) {
        const size_t comma = all.find(',');
        const std::string_view token = TrimRight(TrimLeft(all.substr(0, comma)));
        uint32_t byte = 0;
        if (token.size() > 2 || !ParseHex32(token, byte))
          Fail(static_cast<int>(index) + 1,
               Format("\"%s\" is not a byte in hex (one or two hex digits)", {token}));
        bytes.push_back(static_cast<uint8_t>(byte));
        if (comma == std::string_view::npos) break;
        all.remove_prefix(comma + 1);
      }
    }
    if (!Unicode && (type == kRegExpandSz || type == kRegMultiSz)) {
      // REGEDIT4 keeps these strings as 8-bit text; the value holds them as UTF-16LE.
      RegValue v = RegValue::String(std::string(bytes.begin(), bytes.end()), type);
      v.Data.resize(v.Data.size() - 2);  // the text's own zeros are already in it
      return v;
    }
    return RegValue{type, std::move(bytes)};
  }

  std::string_view FileName;
  std::string Text;
  std::vector<std::string_view> Lines;
  bool Unicode = true;
  RegFile Result;
};

}  // namespace

RegFile ParseRegFile(std::string_view bytes, std::string_view fileName) {
  return Parser(bytes, fileName).Run();
}

void ApplyRegFile(const RegFile& file, RegRoot root, RegHive& hive) {
  for (const RegFileKey& key : file.Keys) {
    if (key.Root != root) continue;
    if (key.Delete) {
      hive.DeleteKey(key.Path);
      continue;
    }
    hive.CreateKey(key.Path);
    for (const RegFileValue& v : key.Values) {
      if (v.Delete)
        hive.DeleteValue(key.Path, v.Name);
      else
        hive.SetValue(key.Path, v.Name, v.Value);
    }
  }
}

RegHive ParseHiveFile(std::string_view bytes, std::string_view fileName, RegRoot root) {
  const RegFile file = ParseRegFile(bytes, fileName);
  for (const RegFileKey& key : file.Keys) {
    if (key.Root != root)
      throw ERegistryFileError(std::string(fileName), key.Line,
                               Format("the key belongs to %s, not to this hive (%s)",
                                      {RegRootLongName(key.Root), RegRootLongName(root)}));
  }
  RegHive hive;
  ApplyRegFile(file, root, hive);
  return hive;
}

}  // namespace zor
