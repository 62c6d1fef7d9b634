// The HTTP message readers: for requests and responses, the whole buffer and the same
// bytes fed one at a time must give the same message or the same error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/http_message.h"

namespace {

// "complete:<fields>", "open", or "error:<message>".
std::string Read(zor::HttpMessageReader::Kind kind, std::string_view bytes, bool byteByByte) {
  zor::HttpMessageReader reader(kind);
  try {
    bool done = false;
    if (byteByByte) {
      for (size_t i = 0; i < bytes.size() && !done; ++i) done = reader.Feed(bytes.substr(i, 1));
    } else {
      done = reader.Feed(bytes);
    }
    if (!done) done = reader.FeedEnd();
    if (kind == zor::HttpMessageReader::Kind::Request) {
      const zor::HttpRequest& r = reader.Request();
      return "complete:" + r.Method + "|" + r.Target + "|" + std::to_string(r.Headers.size()) +
             "|" + r.Body;
    }
    const zor::HttpResponse& r = reader.Response();
    return "complete:" + std::to_string(r.Status) + "|" + r.Reason + "|" +
           std::to_string(r.Headers.size()) + "|" + r.Body;
  } catch (const zor::EHttpError& error) {
    return std::string("error:") + error.what();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto kind = (data[0] & 1) ? zor::HttpMessageReader::Kind::Request
                                  : zor::HttpMessageReader::Kind::Response;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string whole = Read(kind, bytes, false);
  const std::string single = Read(kind, bytes, true);
  if (whole != single) std::abort();
  if (kind == zor::HttpMessageReader::Kind::Request && whole.starts_with("complete:")) {
    zor::HttpMessageReader reader(kind);
    reader.Feed(bytes);
    try {
      (void)zor::ParseHttpTarget(reader.Request().Target);
    } catch (const zor::EHttpError&) {
    }
  }
  return 0;
}
