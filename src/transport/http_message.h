// HTTP/1.1 messages as the cloud lookup exchanges them: requests and responses built as
// text, and readers that take the bytes of one message as they arrive. Only what the lookup
// needs is understood: a body is framed by Content-Length (or, for a response, by the end of
// the stream); transfer codings are refused. Every length is checked against the limits
// below before anything is kept, so a peer cannot make the reader grow without bound.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/exceptions.h"

namespace zor {

// A malformed or oversized HTTP message, or a failed HTTP exchange.
class EHttpError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EHttpError, Exception)
};

inline constexpr size_t kMaxHttpHeadBytes = 16 * 1024;  // start line and header fields
inline constexpr size_t kMaxHttpHeaderCount = 64;
inline constexpr size_t kMaxHttpBodyBytes = 1024 * 1024;  // a lookup answer is a few hundred bytes

struct HttpHeader {
  std::string Name;
  std::string Value;
};
using HttpHeaders = std::vector<HttpHeader>;

struct HttpRequest {
  std::string Method;
  std::string Target;  // origin form: "/path?query"
  HttpHeaders Headers;
  std::string Body;
};

struct HttpResponse {
  int Status = 0;
  std::string Reason;
  HttpHeaders Headers;
  std::string Body;
};

// The value of the first header field called `name` (letter case ignored), or nullptr.
const std::string* FindHttpHeader(const HttpHeaders& headers, std::string_view name);

// The message as sent: start line, the given fields, Content-Length when there is a body or
// the method is POST/PUT (responses: always), then the body. Responses also say
// "Connection: close".
std::string FormatHttpRequest(const HttpRequest& request);
std::string FormatHttpResponse(const HttpResponse& response);
// The standard reason phrase of a status code ("OK", "Not Found"); "Unknown" otherwise.
std::string_view HttpReasonPhrase(int status);

// Reads one message from the bytes of a stream as they come. `Feed` answers true once the
// message is complete; bytes after it are ignored. Malformed input raises `EHttpError`.
class HttpMessageReader {
 public:
  enum class Kind { Request, Response };
  explicit HttpMessageReader(Kind kind) : MessageKind(kind) {}

  bool Feed(std::string_view bytes);
  // The peer ended the stream: completes a response body that runs to the end, and raises
  // for a message that was cut short. Answers true when the message is complete.
  bool FeedEnd();
  bool Complete() const { return Done; }

  // The message read (valid once complete).
  const HttpRequest& Request() const { return RequestMessage; }
  const HttpResponse& Response() const { return ResponseMessage; }

 private:
  void ParseHead(std::string_view head);
  bool FeedBody(std::string_view bytes);

  Kind MessageKind;
  std::string Buffer;
  size_t ScanFrom = 0;
  bool HeadDone = false;
  bool UntilEnd = false;  // a response body without a length runs to the end of the stream
  size_t BodyLength = 0;
  bool Done = false;
  HttpRequest RequestMessage;
  HttpResponse ResponseMessage;
};

// Percent-encoding of a query component: unreserved characters stay, every other byte
// becomes "%XX".
std::string PercentEncode(std::string_view text);
// The reverse; "+" stands for a blank. A '%' not followed by two hexadecimal digits raises.
std::string PercentDecode(std::string_view text);

// A request target split into its path (as sent) and its decoded query parameters, in order.
struct HttpTarget {
  std::string Path;
  std::vector<std::pair<std::string, std::string>> Query;
  // The first parameter called `name` (exact case), or nullptr.
  const std::string* Parameter(std::string_view name) const;
};
HttpTarget ParseHttpTarget(std::string_view target);

}  // namespace zor
