// The exchange between the cloud client library and the lookup service, described once.
//
// The library asks with one HTTP/1.1 GET:
//   GET <base path>/M880Cloud/Call?Code=<function code>&P0=<first argument>&P1=<second> HTTP/1.1
// every argument percent-encoded UTF-8. Function 1 ("server information") takes P0 = "0"
// and P1 = the enterprise id. The service answers
//   200 with the JSON answer as the body (UTF-8, application/json), which for function 1 is
//       {"ServerInfoData":[{"EnterpriseID":"..","APPServerName":"..","APPPort":768,"DBName":".."}]}
//   any other status with a short plain-text UTF-8 reason as the body.
// The library hands the status on as the call's result code (0 for 200) and the reason as
// the error text.
#pragma once

#include <cstddef>
#include <string_view>

namespace zor {

inline constexpr std::string_view kCloudCallPath = "/M880Cloud/Call";
inline constexpr std::string_view kCloudParamCode = "Code";
inline constexpr std::string_view kCloudParamFirst = "P0";
inline constexpr std::string_view kCloudParamSecond = "P1";
inline constexpr int kCloudFunctionServerInfo = 1;
inline constexpr std::string_view kServerInfoKey = "ServerInfoData";
// The error text the library passes on is cut to this many bytes (at a character boundary).
inline constexpr size_t kMaxCloudErrorTextBytes = 1024;

}  // namespace zor
