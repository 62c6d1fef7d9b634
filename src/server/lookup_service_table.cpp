#include "server/lookup_service_table.h"

#include <nlohmann/json.hpp>
#include <sstream>

#include "base/string_routines.h"
#include "platform/file_system.h"
#include "transport/cloud_lookup_wire.h"

namespace zor {
namespace {

using Json = nlohmann::ordered_json;
constexpr int kMaxTableDepth = 16;

[[noreturn]] void Refuse(std::string_view origin, const std::string& what) {
  throw ELookupTableError(std::string(origin) + ": " + what);
}

std::string TextMember(const Json& entry, const char* name, bool required, std::string_view origin,
                       const std::string& where) {
  const auto it = entry.find(name);
  if (it == entry.end() || it->is_null()) {
    if (required) Refuse(origin, where + " has no \"" + name + "\"");
    return {};
  }
  if (!it->is_string()) Refuse(origin, where + ": \"" + name + "\" must be text");
  return it->get<std::string>();
}

}  // namespace

TLookupTable TLookupTable::Parse(std::string_view json, std::string_view origin) {
  if (json.size() > kMaxLookupTableBytes) {
    Refuse(origin, "larger than " + std::to_string(kMaxLookupTableBytes) + " bytes");
  }
  Json document;
  try {
    document =
        Json::parse(json.begin(), json.end(), [origin](int depth, Json::parse_event_t, Json&) {
          if (depth > kMaxTableDepth)
            Refuse(origin, "nested deeper than " + std::to_string(kMaxTableDepth) + " levels");
          return true;
        });
  } catch (const Json::parse_error& error) {
    Refuse(origin, "not valid JSON (at byte " + std::to_string(error.byte) + ")");
  } catch (const Json::exception&) {
    // A number too large for any number type ("1E999") is refused by the parser this way.
    Refuse(origin, "not valid JSON (a number out of range)");
  }
  if (!document.is_object()) Refuse(origin, "the top level must be an object");
  const auto list = document.find("Enterprises");
  if (list == document.end() || !list->is_array()) Refuse(origin, "\"Enterprises\" must be a list");

  TLookupTable table;
  size_t number = 0;
  for (const Json& item : *list) {
    ++number;
    const std::string where = "entry " + std::to_string(number);
    if (!item.is_object()) Refuse(origin, where + " is not an object");
    TLookupEntry entry;
    entry.EnterpriseID = std::string(Trim(TextMember(item, "EnterpriseID", true, origin, where)));
    if (entry.EnterpriseID.empty()) Refuse(origin, where + " has an empty \"EnterpriseID\"");
    entry.APPServerName = TextMember(item, "APPServerName", true, origin, where);
    entry.DBName = TextMember(item, "DBName", false, origin, where);
    const auto port = item.find("APPPort");
    if (port != item.end() && !port->is_null()) {
      if (!port->is_number_integer() || port->get<int64_t>() < 1 || port->get<int64_t>() > 65535 ||
          (port->is_number_unsigned() && port->get<uint64_t>() > 65535)) {
        Refuse(origin, where + ": \"APPPort\" must be a port number 1..65535");
      }
      entry.APPPort = static_cast<int32_t>(port->get<int64_t>());
    }
    const std::string id = entry.EnterpriseID;
    if (!table.Entries.emplace(id, std::move(entry)).second) {
      Refuse(origin, where + " repeats the enterprise id \"" + id + "\"");
    }
  }
  return table;
}

TLookupTable TLookupTable::Load(const std::string& path) {
  std::optional<std::string> text;
  try {
    text = CurrentFileSystem().ReadFile(path, kMaxLookupTableBytes);
  } catch (const EFileSystemError& e) {
    if (e.Kind == FileErrorKind::TooLarge)
      Refuse(path, "larger than " + std::to_string(kMaxLookupTableBytes) + " bytes");
    text.reset();
  }
  if (!text) throw ELookupTableError(path + ": cannot be read");
  return Parse(*text, path);
}

const TLookupEntry* TLookupTable::Find(std::string_view enterpriseId) const {
  const auto it = Entries.find(Trim(enterpriseId));
  return it == Entries.end() ? nullptr : &it->second;
}

std::string ServerInfoAnswer(const TLookupEntry& entry) {
  Json record = Json::object();
  record["EnterpriseID"] = entry.EnterpriseID;
  record["APPServerName"] = entry.APPServerName;
  record["APPPort"] = entry.APPPort;
  record["DBName"] = entry.DBName;
  Json answer = Json::object();
  answer[std::string(kServerInfoKey)] = Json::array({record});
  return answer.dump();
}

}  // namespace zor
