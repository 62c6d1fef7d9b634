#include "server/lookup_service.h"

#include "transport/cloud_lookup_wire.h"

namespace zor {
namespace {

HttpResponse TextResponse(int status, std::string text) {
  return TextHttpResponse(status, std::move(text));
}

}  // namespace

HttpResponse AnswerLookupRequest(const TLookupTable& table, const HttpRequest& request) {
  auto parsed = ParseGetRequest(request);
  if (HttpResponse* refusal = std::get_if<HttpResponse>(&parsed)) return std::move(*refusal);
  const HttpTarget& target = std::get<HttpTarget>(parsed);
  if (target.Path != kCloudCallPath) return TextResponse(404, "no such service: " + target.Path);
  const std::string* code = target.Parameter(kCloudParamCode);
  if (!code || *code != std::to_string(kCloudFunctionServerInfo)) {
    return TextResponse(400, "unknown function code " + (code ? *code : std::string("(none)")));
  }
  const std::string* id = target.Parameter(kCloudParamSecond);
  if (!id || id->empty()) return TextResponse(400, "no enterprise id");
  const TLookupEntry* entry = table.Find(*id);
  if (!entry) return TextResponse(404, "no server is registered for enterprise id " + *id);
  HttpResponse response;
  response.Status = 200;
  response.Headers.push_back(HttpHeader{"Content-Type", "application/json; charset=utf-8"});
  response.Body = ServerInfoAnswer(*entry);
  return response;
}

TLookupService::TLookupService(TServerLog& log, TLookupTable table)
    : Table(std::make_shared<const TLookupTable>(std::move(table))),
      Http(log, THttpPortNames{"Lookup", "lookup", "lookups"},
           THttpPortLimits{kMaxLookupConnections, kMaxLookupsPerAddress, kLookupRequestTimeoutMs},
           [this](const HttpRequest& request) {
             std::shared_ptr<const TLookupTable> table;
             {
               std::lock_guard guard(TableLock);
               table = Table;
             }
             return AnswerLookupRequest(*table, request);
           }) {}

void TLookupService::SetTable(TLookupTable table) {
  auto shared = std::make_shared<const TLookupTable>(std::move(table));
  std::lock_guard guard(TableLock);
  Table = std::move(shared);
}

}  // namespace zor
