#include "reg_command.h"

#include <charconv>
#include <istream>
#include <map>
#include <optional>
#include <ostream>

#include "base/format.h"
#include "platform/file_system.h"
#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"
#include "platform/registry_names.h"
#include "platform/registry_store.h"

namespace zor {
namespace {

constexpr const char* kSuccess = "The operation completed successfully.";
constexpr const char* kCanceled = "The operation was canceled by the user.";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kAccessDenied = "ERROR: Access is denied.";
constexpr const char* kDefaultName = "(Default)";
constexpr const char* kValueNotSet = "(value not set)";
constexpr const char* kIndent = "    ";
constexpr const char* kMultiSzSeparator = "\\0";

// A failure with the text shown after "ERROR: " (or the whole text when it starts with it).
struct CommandError {
  std::string Text;
  bool WithUsage = false;
};

[[noreturn]] void Syntax(std::string detail = {}) {
  throw CommandError{detail.empty() ? "ERROR: Invalid syntax." : "ERROR: Invalid syntax. " + detail,
                     true};
}
[[noreturn]] void Fail(std::string text) {
  throw CommandError{std::move(text), false};
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

struct KeyName {
  RegRoot Root;
  std::string Path;  // from the root, no leading or trailing backslash
  std::string Display() const {
    return Path.empty() ? std::string(RegRootLongName(Root))
                        : std::string(RegRootLongName(Root)) + kRegPathSeparator + Path;
  }
};

KeyName ParseKeyName(std::string_view text) {
  while (!text.empty() && text.back() == kRegPathSeparator) text.remove_suffix(1);
  const size_t sep = text.find(kRegPathSeparator);
  const auto root = RegRootFromName(text.substr(0, sep));
  if (!root) Fail("ERROR: Invalid key name.");
  KeyName key{*root,
              sep == std::string_view::npos ? std::string() : std::string(text.substr(sep + 1))};
  if (!RegPathProblem(key.Path).empty()) Fail("ERROR: Invalid key name.");
  return key;
}

// The switches after the fixed arguments: "/x" or "-x", some followed by a value.
class Switches {
 public:
  Switches(const std::vector<std::string>& args, size_t first,
           std::initializer_list<const char*> flags, std::initializer_list<const char*> withValue) {
    for (size_t i = first; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
        Syntax(Format("Unexpected argument \"%s\".", {arg}));
      const std::string name = Upper(arg.substr(1));
      bool known = false;
      for (const char* f : flags) known |= name == f;
      bool takesValue = false;
      for (const char* f : withValue) takesValue |= name == f;
      if (!known && !takesValue) Syntax(Format("Unknown switch \"%s\".", {arg}));
      if (Values.count(name)) Syntax(Format("The switch \"%s\" is given twice.", {arg}));
      if (takesValue) {
        if (i + 1 >= args.size()) Syntax(Format("The switch \"%s\" needs a value.", {arg}));
        Values[name] = args[++i];
      } else {
        Values[name] = std::nullopt;
      }
    }
  }
  bool Has(const char* name) const { return Values.count(name) != 0; }
  std::optional<std::string> Value(const char* name) const {
    auto it = Values.find(name);
    return it == Values.end() ? std::nullopt : it->second;
  }

 private:
  std::map<std::string, std::optional<std::string>> Values;
};

std::string Hex(uint64_t value, bool upper) {
  char buffer[17];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
  std::string s(buffer, end);
  return upper ? Upper(s) : s;
}

std::string DataText(const RegValue& value) {
  switch (value.Type) {
    case kRegSz:
    case kRegExpandSz:
      return *value.AsString();
    case kRegDword:
      if (auto n = value.AsDword()) return "0x" + Hex(*n, false);
      break;
    case kRegQword:
      if (auto n = value.AsQword()) return "0x" + Hex(*n, false);
      break;
    case kRegMultiSz: {
      std::string out;
      const std::vector<std::string> strings = *value.AsMultiString();
      for (const std::string& s : strings) out += (out.empty() ? "" : kMultiSzSeparator) + s;
      return out;
    }
  }
  std::string out;
  for (uint8_t b : value.Data) out += Format("%2X", {b});
  return out;
}

void PrintValue(std::ostream& out, const RegNamedValue& v) {
  out << kIndent << (v.Name.empty() ? kDefaultName : v.Name) << kIndent << RegTypeName(v.Value.Type)
      << kIndent << DataText(v.Value) << "\n";
}

const RegKeyNode& RequireKey(const RegHive& hive, const KeyName& key) {
  const RegKeyNode* node = hive.FindKey(key.Path);
  if (!node) Fail(kNotFound);
  return *node;
}

std::string DisplayOf(RegRoot root, const RegKeyNode& node) {
  return KeyName{root, node.Path}.Display();
}

bool Confirm(std::istream& in, std::ostream& out, const std::string& question) {
  out << question << " " << std::flush;
  std::string answer;
  if (!std::getline(in, answer)) return false;
  const std::string a = Upper(answer);
  return a == "Y" || a == "YES";
}

void RequireWritable(RegRoot root) {
  if (!CanWriteHive(root)) Fail(kAccessDenied);
}

// The value name chosen by /v or /ve; nothing when neither is given.
std::optional<std::string> ValueName(const Switches& sw) {
  if (sw.Has("V") && sw.Has("VE")) Syntax("Give either /v or /ve.");
  if (sw.Has("VE")) return std::string();
  if (auto name = sw.Value("V")) {
    if (!RegValueNameProblem(*name).empty()) Syntax("The value name contains a control character.");
    return name;
  }
  return std::nullopt;
}

int Query(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() < 2) Syntax();
  const KeyName key = ParseKeyName(args[1]);
  const Switches sw(args, 2, {"VE", "S"}, {"V"});
  const std::optional<std::string> name = ValueName(sw);
  const RegHive hive = LoadHive(key.Root);
  const RegKeyNode& node = RequireKey(hive, key);

  if (name && sw.Has("S")) {
    int matches = 0;
    for (const RegKeyNode* k : hive.Subtree(node.Path)) {
      if (const RegNamedValue* v = k->FindValue(*name)) {
        out << "\n" << DisplayOf(key.Root, *k) << "\n";
        PrintValue(out, *v);
        ++matches;
      }
    }
    out << "\nEnd of search: " << matches << " match(es) found.\n";
    return 0;
  }
  if (name) {
    const RegNamedValue* v = node.FindValue(*name);
    if (!v && !name->empty()) Fail(kNotFound);
    out << "\n" << DisplayOf(key.Root, node) << "\n";
    if (v)
      PrintValue(out, *v);
    else
      out << kIndent << kDefaultName << kIndent << "REG_SZ" << kIndent << kValueNotSet << "\n";
    out << "\n";
    return 0;
  }
  if (sw.Has("S")) {
    for (const RegKeyNode* k : hive.Subtree(node.Path)) {
      out << "\n" << DisplayOf(key.Root, *k) << "\n";
      for (const RegNamedValue& v : k->Values) PrintValue(out, v);
    }
    out << "\n";
    return 0;
  }
  out << "\n" << DisplayOf(key.Root, node) << "\n";
  for (const RegNamedValue& v : node.Values) PrintValue(out, v);
  if (!node.Values.empty()) out << "\n";
  for (const std::string& sub : hive.SubKeyNames(node.Path))
    out << DisplayOf(key.Root, node) << kRegPathSeparator << sub << "\n";
  return 0;
}

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max)
    return std::nullopt;
  return value;
}

RegValue MakeValue(uint32_t type, const std::string& data, const std::string& separator) {
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      return RegValue::String(data, type);
    case kRegDword:
    case kRegQword: {
      const bool dword = type == kRegDword;
      if (data.empty()) return dword ? RegValue::Dword(0) : RegValue::Qword(0);
      const auto n = ParseNumber(data, dword ? 0xFFFFFFFFULL : UINT64_MAX);
      if (!n) Syntax(Format("Specify valid numeric value for '%s'.", {RegTypeName(type)}));
      return dword ? RegValue::Dword(static_cast<uint32_t>(*n)) : RegValue::Qword(*n);
    }
    case kRegMultiSz: {
      std::vector<std::string> parts;
      if (separator.empty()) Syntax("The separator of /s cannot be empty.");
      size_t start = 0;
      while (!data.empty()) {
        const size_t end = data.find(separator, start);
        parts.push_back(
            data.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + separator.size();
      }
      for (const std::string& p : parts)
        if (p.empty()) Syntax("REG_MULTI_SZ data cannot hold an empty string.");
      return RegValue::MultiString(parts);
    }
    default: {
      if (data.size() % 2 != 0)
        Syntax(Format("Specify valid hexadecimal data for '%s'.", {RegTypeName(type)}));
      std::vector<uint8_t> bytes;
      bytes.reserve(data.size() / 2);
      for (size_t i = 0; i < data.size(); i += 2) {
        uint8_t byte = 0;
        const auto [end, ec] = std::from_chars(data.data() + i, data.data() + i + 2, byte, 16);
        if (ec != std::errc() || end != data.data() + i + 2)
          Syntax(Format("Specify valid hexadecimal data for '%s'.", {RegTypeName(type)}));
        bytes.push_back(byte);
      }
      return RegValue{type, std::move(bytes)};
    }
  }
}

int Add(const std::vector<std::string>& args, std::istream& in, std::ostream& out) {
  if (args.size() < 2) Syntax();
  const KeyName key = ParseKeyName(args[1]);
  const Switches sw(args, 2, {"VE", "F"}, {"V", "T", "D", "S"});
  std::optional<std::string> name = ValueName(sw);
  if (!name && (sw.Has("T") || sw.Has("D")))
    name = std::string();  // data without a name: the default value
  uint32_t type = kRegSz;
  if (auto typeName = sw.Value("T")) {
    static constexpr uint32_t kAllowed[] = {kRegSz,    kRegExpandSz, kRegMultiSz, kRegBinary,
                                            kRegDword, kRegQword,    kRegNone};
    const auto t = RegTypeFromName(*typeName);
    if (!t || std::find(std::begin(kAllowed), std::end(kAllowed), *t) == std::end(kAllowed))
      Syntax(Format("Unknown value type \"%s\".", {*typeName}));
    type = *t;
  }
  if (sw.Has("S") && type != kRegMultiSz) Syntax("/s is only for REG_MULTI_SZ.");
  if (key.Path.empty()) Fail("ERROR: Invalid key name.");
  RequireWritable(key.Root);
  std::optional<RegValue> value;
  if (name)
    value = MakeValue(type, sw.Value("D").value_or(""), sw.Value("S").value_or(kMultiSzSeparator));

  if (name && !sw.Has("F")) {
    const RegHive hive = LoadHive(key.Root);
    const RegKeyNode* node = hive.FindKey(key.Path);
    if (node && node->FindValue(*name) &&
        !Confirm(in, out,
                 Format("Value %s exists, overwrite(Yes/No)?",
                        {name->empty() ? kDefaultName : *name}))) {
      out << kCanceled << "\n";
      return 1;
    }
  }
  UpdateHive(key.Root, [&](RegHive& hive) {
    if (!value) {
      if (hive.FindKey(key.Path)) return false;
      hive.CreateKey(key.Path);
      return true;
    }
    hive.SetValue(key.Path, *name, *value);
    return true;
  });
  out << kSuccess << "\n";
  return 0;
}

int Delete(const std::vector<std::string>& args, std::istream& in, std::ostream& out) {
  if (args.size() < 2) Syntax();
  const KeyName key = ParseKeyName(args[1]);
  const Switches sw(args, 2, {"VE", "VA", "F"}, {"V"});
  const std::optional<std::string> name = ValueName(sw);
  if (name && sw.Has("VA")) Syntax("Give only one of /v, /ve and /va.");
  {
    const RegHive hive = LoadHive(key.Root);
    const RegKeyNode& node = RequireKey(hive, key);
    if (name && !node.FindValue(*name)) Fail(kNotFound);
  }
  if (!name && !sw.Has("VA") && key.Path.empty()) Fail("ERROR: Invalid key name.");
  RequireWritable(key.Root);
  if (!sw.Has("F")) {
    std::string question;
    if (name)
      question =
          Format("Delete the registry value %s (Yes/No)?", {name->empty() ? kDefaultName : *name});
    else if (sw.Has("VA"))
      question = Format("Delete all values under the registry key %s (Yes/No)?", {key.Display()});
    else
      question = Format("Permanently delete the registry key %s (Yes/No)?", {key.Display()});
    if (!Confirm(in, out, question)) {
      out << kCanceled << "\n";
      return 1;
    }
  }
  bool found = true;
  UpdateHive(key.Root, [&](RegHive& hive) {
    const RegKeyNode* node = hive.FindKey(key.Path);
    if (!node) return found = false;
    if (name) return found = hive.DeleteValue(key.Path, *name);
    if (sw.Has("VA")) {
      hive.CreateKey(key.Path).Values.clear();
      return true;
    }
    return hive.DeleteKey(key.Path);
  });
  if (!found) Fail(kNotFound);  // removed by someone else meanwhile
  out << kSuccess << "\n";
  return 0;
}

int Import(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 2) Syntax();
  // The whole file is checked before anything changes.
  const std::optional<std::string> bytes = ReadRegistryFile(args[1]);
  if (!bytes) Fail(Format("ERROR: The file \"%s\" does not exist.", {args[1]}));
  const RegFile file = ParseRegFile(*bytes, args[1]);
  std::vector<RegRoot> roots;
  for (const RegFileKey& k : file.Keys)
    if (std::find(roots.begin(), roots.end(), k.Root) == roots.end()) roots.push_back(k.Root);
  for (RegRoot root : roots) RequireWritable(root);
  for (RegRoot root : roots) {
    UpdateHive(root, [&](RegHive& hive) {
      ApplyRegFile(file, root, hive);
      return true;
    });
  }
  out << kSuccess << "\n";
  return 0;
}

int Export(const std::vector<std::string>& args, std::istream& in, std::ostream& out) {
  if (args.size() < 3) Syntax();
  const KeyName key = ParseKeyName(args[1]);
  const std::string path = args[2];
  const Switches sw(args, 3, {"Y"}, {});
  const RegHive hive = LoadHive(key.Root);
  const RegKeyNode& node = RequireKey(hive, key);
  const std::string text = WriteRegFile(hive, key.Root, node.Path);
  if (!sw.Has("Y") && CurrentFileSystem().IsFile(path) &&
      !Confirm(in, out, Format("File %s already exists. Overwrite (Yes/No)?", {path}))) {
    out << kCanceled << "\n";
    return 1;
  }
  try {
    // An export is for the user to pass on: readable by others, like the machine's hives.
    CurrentFileSystem().WriteFileAtomic(path, text, {.Permissions = 0644});
  } catch (const EFileSystemError&) {
    Fail(Format("ERROR: Cannot write the file \"%s\".", {path}));
  }
  out << kSuccess << "\n";
  return 0;
}

void PrintUsage(std::ostream& out) {
  out << "ZORREG operation [parameters]\n\n"
         "  zorreg query KEY [/v NAME | /ve] [/s]\n"
         "  zorreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
         "  zorreg delete KEY [/v NAME | /ve | /va] [/f]\n"
         "  zorreg import FILE\n"
         "  zorreg export KEY FILE [/y]\n\n"
         "KEY is ROOT\\SubKey; ROOT is HKLM, HKCU, HKCR or HKEY_LOCAL_MACHINE,\n"
         "HKEY_CURRENT_USER, HKEY_CLASSES_ROOT. TYPE is REG_SZ (default), REG_EXPAND_SZ,\n"
         "REG_MULTI_SZ (strings separated by \\0), REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.\n"
         "The hive files live in $ZOR_REGISTRY_DIR when it is set.\n";
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  const std::string operation = args.empty() ? std::string() : Upper(args[0]);
  try {
    if (operation == "/?" || operation == "-?" || operation == "/H" || operation == "--HELP") {
      PrintUsage(out);
      return 0;
    }
    if (args.size() >= 2 && (args[1] == "/?" || args[1] == "-?")) {
      PrintUsage(out);
      return 0;
    }
    if (operation == "QUERY") return Query(args, out);
    if (operation == "ADD") return Add(args, in, out);
    if (operation == "DELETE") return Delete(args, in, out);
    if (operation == "IMPORT") return Import(args, out);
    if (operation == "EXPORT") return Export(args, in, out);
    Syntax(operation.empty() ? "Give an operation."
                             : Format("Unknown operation \"%s\".", {args[0]}));
  } catch (const CommandError& e) {
    err << e.Text << "\n";
    if (e.WithUsage) err << "Type \"zorreg /?\" for usage.\n";
  } catch (const Exception& e) {
    err << "ERROR: " << e.Message << "\n";
  }
  return 1;
}

}  // namespace zor
