// The table the HTTP lookup service answers from: which application server and database
// belong to an enterprise id. It is a JSON file:
//
//   {
//     "Enterprises": [
//       {"EnterpriseID": "80001234", "APPServerName": "app1.example.com", "APPPort": 768, "DBName":
//       "DB01"},
//       {"EnterpriseID": "80005678", "APPServerName": "10.0.0.7"}
//     ]
//   }
//
// "EnterpriseID" (text, not empty, unique after trimming) and "APPServerName" (text) are
// required; "APPPort" (1..65535) defaults to 768 and "DBName" (text) to empty. Other members
// are ignored, so an entry may carry notes of its own. A file that breaks these rules is
// refused as a whole with `ELookupTableError` naming the file and the entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace zor {

class ELookupTableError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(ELookupTableError, Exception)
};

inline constexpr size_t kMaxLookupTableBytes = 16 * 1024 * 1024;
inline constexpr int32_t kLookupDefaultAppPort = 768;

struct TLookupEntry {
  std::string EnterpriseID;
  std::string APPServerName;
  int32_t APPPort = kLookupDefaultAppPort;
  std::string DBName;
};

class TLookupTable {
 public:
  // Reads the table from JSON text; `origin` names it in error messages.
  static TLookupTable Parse(std::string_view json, std::string_view origin = "lookup table");
  // Reads the table file.
  static TLookupTable Load(const std::string& path);

  // The entry of an enterprise id (trimmed, exact letter case), or nullptr.
  const TLookupEntry* Find(std::string_view enterpriseId) const;
  size_t Size() const { return Entries.size(); }

 private:
  std::map<std::string, TLookupEntry, std::less<>> Entries;
};

// The service's JSON answer for one entry: {"ServerInfoData":[{...the four fields...}]}.
std::string ServerInfoAnswer(const TLookupEntry& entry);

}  // namespace zor
