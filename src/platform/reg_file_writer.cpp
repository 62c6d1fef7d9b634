#include "platform/reg_file_writer.h"

#include "base/format.h"
#include "base/utf.h"
#include "platform/reg_file_format.h"

namespace zor {
namespace {

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// The text of a REG_SZ value when it can be written as a quoted string and read back to the
// very same bytes: whole UTF-16 text, one terminating zero, no line breaks or other controls.
std::optional<std::string> PlainText(const RegValue& value) {
  const auto& d = value.Data;
  if (d.size() < 2 || d.size() % 2 != 0 || d[d.size() - 1] != 0 || d[d.size() - 2] != 0)
    return std::nullopt;
  const std::optional<std::string> text = value.AsString();
  if (!text || RegValue::String(*text) != RegValue{kRegSz, d}) return std::nullopt;
  for (char c : *text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  return text;
}

void AppendHex(std::string& out, std::string_view prefix, const std::vector<uint8_t>& bytes) {
  out += prefix;
  size_t column = prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool last = i + 1 == bytes.size();
    const size_t width = last ? 2 : 3;
    // Leave room for the continuation mark at the end of a full line.
    if (i > 0 && column + width + 1 > kRegHexLineWidth - 1) {
      out += kRegContinuation;
      out += kRegLineEnd;
      out += kRegHexIndent;
      column = kRegHexIndent.size();
    }
    out += Format("%2x", {bytes[i]});
    if (!last) out += ',';
    column += width;
  }
}

void AppendValue(std::string& out, const RegNamedValue& v) {
  std::string line = v.Name.empty() ? std::string(1, kRegDefaultValueMark) : Quote(v.Name);
  line += '=';
  const RegValue& value = v.Value;
  if (value.Type == kRegSz) {
    if (auto text = PlainText(value)) {
      out += line + Quote(*text);
      out += kRegLineEnd;
      return;
    }
  }
  if (auto number = value.AsDword()) {
    out += line + std::string(kRegDwordPrefix) + Format("%8x", {*number});
    out += kRegLineEnd;
    return;
  }
  const std::string prefix =
      value.Type == kRegBinary ? line + std::string(kRegHexPrefix) + ":"
                               : line + std::string(kRegHexPrefix) + Format("(%x):", {value.Type});
  AppendHex(out, prefix, value.Data);
  out += kRegLineEnd;
}

}  // namespace

std::string WriteRegFile(const RegHive& hive, RegRoot root, std::string_view path) {
  std::string out(kRegFileHeader5);
  out += kRegLineEnd;
  out += kRegLineEnd;
  for (const RegKeyNode* key : hive.Subtree(path)) {
    // The root always exists; it is written only when it holds values of its own.
    if (key->Path.empty() && key->Values.empty()) continue;
    out += '[';
    out += RegRootLongName(root);
    if (!key->Path.empty()) {
      out += '\\';
      out += key->Path;
    }
    out += ']';
    out += kRegLineEnd;
    for (const RegNamedValue& v : key->Values) AppendValue(out, v);
    out += kRegLineEnd;
  }
  return out;
}

}  // namespace zor
