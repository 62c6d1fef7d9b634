#include "startup/server_settings/cloud_lookup.h"

#include <memory>

#include "base/format.h"
#include "base/utf.h"
#include "startup/server_settings/lookup_record_set.h"
#include "startup/server_settings/zor_json_helper.h"
#include "transport/cloud_lookup_wire.h"

namespace zor {
namespace {

struct SenderRelease {
  void operator()(IM880CloudSender* sender) const { sender->Release(); }
};
using SenderPtr = std::unique_ptr<IM880CloudSender, SenderRelease>;

// A failing status becomes an exception carrying the library's own text.
void Check(IM880CloudSender& sender, int32_t status, std::string_view step) {
  if (status == kCloudStatusOk) return;
  const char16_t* text = sender.ErrorText();
  std::string message = text ? Utf16ToUtf8(text) : std::string();
  if (message.empty()) message = "the cloud client library failed to " + std::string(step);
  throw ECloudClientError(message, status);
}

std::string TextOf(const TCloudValue& value) {
  if (value.Kind != kCloudValueText || !value.Text || value.Length <= 0) return {};
  return Utf16ToUtf8(std::u16string_view(value.Text, static_cast<size_t>(value.Length)));
}

[[noreturn]] void BadAnswer(std::string_view what) {
  throw ECloudClientError(
      "the cloud client library gave an answer of the wrong shape: " + std::string(what),
      kCloudStatusFailed);
}

}  // namespace

TCloudLookupAnswer LookupServerInfo(CreateM880CloudSenderFn factory, std::string_view address,
                                    std::string_view enterpriseId, std::string_view logPath) {
  TCloudLookupAnswer answer;
  if (!factory) return answer;
  IM880CloudSender* raw = nullptr;
  factory(&raw);
  if (!raw) return answer;
  const SenderPtr sender(raw);

  const std::u16string wideAddress = Utf8ToUtf16(address);
  const std::u16string wideLogPath = Utf8ToUtf16(logPath);
  Check(*sender,
        sender->SetServerAddress(wideAddress.data(), static_cast<int32_t>(wideAddress.size())),
        "set the server address");
  Check(*sender, sender->SetPort(kCloudLookupPort), "set the port");
  Check(*sender, sender->SetLogPath(wideLogPath.data(), static_cast<int32_t>(wideLogPath.size())),
        "set the log path");

  const std::u16string first = Utf8ToUtf16(kCloudLookupFirstArgument);
  const std::u16string id = Utf8ToUtf16(enterpriseId);
  const TCloudValue args[2] = {
      {kCloudValueText, 0, first.data(), static_cast<int32_t>(first.size())},
      {kCloudValueText, 0, id.data(), static_cast<int32_t>(id.size())},
  };
  const TCloudValue* result = nullptr;
  int32_t count = 0;
  Check(*sender, sender->Call(kCloudLookupFunction, args, 2, &result, &count), "call the lookup");
  if (!result || count < 4) BadAnswer("fewer than four elements");
  if (result[0].Kind != kCloudValueInteger) BadAnswer("the result code is not a number");

  if (result[0].Integer != 0) {
    throw Exception(Format(kMsgNoCustomerInfo, {std::string(enterpriseId), TextOf(result[3])}));
  }
  TZORJsonHelper helper;
  TLookupRecordSet records;
  helper.ParseArray(TextOf(result[1]), records, kServerInfoKey);
  if (!records.IsEmpty()) {
    answer.AppServer = records.AsString("APPServerName");
    answer.DbName = records.AsString("DBName");
  }
  return answer;
}

}  // namespace zor
