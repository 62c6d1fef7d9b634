// The cloud lookup of the settings dialog: asks the cloud client library for the
// application server and database of an enterprise id. The four calls go in a fixed order
// (server address, port 80, log path, call 1 with ["0", id]); a failing call raises
// `ECloudClientError` with the library's text, a non-zero result code raises the dialog's
// "no information" message, and an answer of the wrong shape raises as well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "startup/server_settings/cloud_sender_interface.h"

namespace zor {

inline constexpr int32_t kCloudLookupPort = 80;
inline constexpr int32_t kCloudLookupFunction = 1;
inline constexpr std::string_view kCloudLookupFirstArgument = "0";
inline constexpr std::string_view kMsgNoCustomerInfo = "没有查询到统编%s的信息(%s)";

// A call of the cloud client library failed; `Status` is what it answered.
class ECloudClientError : public Exception {
 public:
  ECloudClientError(std::string message, int32_t status)
      : Exception(std::move(message)), Status(status) {}
  const char* ClassName() const noexcept override { return "ECloudClientError"; }
  Exception* Clone() const override { return new ECloudClientError(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  int32_t Status = 0;
};

struct TCloudLookupAnswer {
  std::string AppServer;
  std::string DbName;
};

// Runs the lookup through `factory`; with no factory, or a factory that makes no sender,
// the lookup is skipped and the answer is empty. The sender is released in every case.
TCloudLookupAnswer LookupServerInfo(CreateM880CloudSenderFn factory, std::string_view address,
                                    std::string_view enterpriseId, std::string_view logPath);

}  // namespace zor
